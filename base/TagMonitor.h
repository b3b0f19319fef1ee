#pragma once

#include <base/NerovaGlobal.h>
#include <base/TagPoint.h>

#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QWeakPointer>

#include <memory>

namespace Nerova {

// Keeps the named TagPoints that are still alive, so a checkpoint can log those not yet released.
// Lives in a QSharedPointer; points and monitor are used from one thread.
class NEROVA_EXPORT TagMonitor : public QObject
{
    Q_OBJECT

public:
    explicit TagMonitor(QObject* parent = nullptr);
    ~TagMonitor() override;

    // Remembers the shared pointer that owns this monitor; makeTagPoint registers points through it.
    void setWeakSelf(QSharedPointer<TagMonitor>& self);

    // A new point named name, registered with this monitor. Without a live owner (setWeakSelf not
    // called, or the monitor being destroyed) the point is made unregistered.
    std::unique_ptr<TagPoint> makeTagPoint(const char* name);

    // Registers point; null and already registered points are ignored. The entry goes away with the point.
    void addTagPoint(TagPoint* point);
    // Unregisters point; null and unregistered points are ignored.
    void removeTagPoint(TagPoint* point);

    // Writes one debug line "tag monitor found: <name>" per registered point; changes nothing.
    void assertEmpty();

private:
    QList<TagPoint*> mTagPoints;
    QWeakPointer<TagMonitor> mWeakSelf;
};

} // namespace Nerova
