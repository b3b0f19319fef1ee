#pragma once

#include <base/NerovaGlobal.h>

#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QWeakPointer>

namespace Nerova {

class TagMonitor;

// A named marker registered with a TagMonitor while it lives, so points not yet released can be listed.
class NEROVA_EXPORT TagPoint : public QObject
{
    Q_OBJECT

public:
    // A point named name (UTF-8; null gives the empty name), registered with monitor when it is not empty.
    TagPoint(const char* name, const QSharedPointer<TagMonitor>& monitor);
    // Unregisters the point from its monitor if the monitor still lives.
    ~TagPoint() override;

    // Takes name (a null name keeps the current one) and registers with monitor, leaving any earlier
    // monitor; an empty monitor leaves the point unregistered.
    void hookByMonitor(const char* name, const QSharedPointer<TagMonitor>& monitor);

    QString name() const { return mName; }

private:
    QWeakPointer<TagMonitor> mMonitor;
    QString mName;
};

} // namespace Nerova
