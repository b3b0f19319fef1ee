#include <base/TagMonitor.h>
#include <base/TagPoint.h>

namespace Nerova {

TagPoint::TagPoint(const char* name, const QSharedPointer<TagMonitor>& monitor) : QObject(nullptr)
{
    hookByMonitor(name, monitor);
}

TagPoint::~TagPoint()
{
    if (const QSharedPointer<TagMonitor> monitor = mMonitor.toStrongRef())
        monitor->removeTagPoint(this);
}

void TagPoint::hookByMonitor(const char* name, const QSharedPointer<TagMonitor>& monitor)
{
    if (name)
        mName = QString::fromUtf8(name);
    const QSharedPointer<TagMonitor> previous = mMonitor.toStrongRef();
    if (previous && previous != monitor)
        previous->removeTagPoint(this);
    mMonitor = monitor;
    if (monitor)
        monitor->addTagPoint(this);
}

} // namespace Nerova
