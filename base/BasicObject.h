#pragma once

#include <base/NerovaGlobal.h>

#include <QObject>

namespace Nerova {

// Base of the suite's thread-bound objects; its assertions document which thread a caller must be on.
class NEROVA_EXPORT BasicObject : public QObject
{
    Q_OBJECT

public:
    explicit BasicObject(QObject* parent = nullptr) : QObject(parent) {}

    // Marks that the caller must be on this object's thread; checks nothing.
    void assertOwnThread() const {}
    // Marks that the caller must be on the application's main thread; checks nothing.
    void assertMainThread() const {}
};

} // namespace Nerova
