#include <base/TagMonitor.h>

#include <base/LogCategories.h>

namespace Nerova {

TagMonitor::TagMonitor(QObject* parent) : QObject(parent) {}

TagMonitor::~TagMonitor() = default;

void TagMonitor::setWeakSelf(QSharedPointer<TagMonitor>& self)
{
    mWeakSelf = self;
}

std::unique_ptr<TagPoint> TagMonitor::makeTagPoint(const char* name)
{
    const QSharedPointer<TagMonitor> self = mWeakSelf.toStrongRef();
    return std::make_unique<TagPoint>(name, self);
}

void TagMonitor::addTagPoint(TagPoint* point)
{
    if (!point || mTagPoints.contains(point))
        return;
    mTagPoints.append(point);
    // A point added here may not know this monitor (it was hooked elsewhere, or never); its entry must
    // still not outlive it. The connection ends with whichever of the two goes first.
    connect(
        point, &QObject::destroyed, this, [this, point]() { mTagPoints.removeAll(point); },
        Qt::DirectConnection);
}

void TagMonitor::removeTagPoint(TagPoint* point)
{
    if (!point || !mTagPoints.removeOne(point))
        return;
    disconnect(point, &QObject::destroyed, this, nullptr);
}

void TagMonitor::assertEmpty()
{
    for (const TagPoint* point : qAsConst(mTagPoints))
        qCDebug(lcBase).noquote().nospace() << "tag monitor found: " << point->name();
}

} // namespace Nerova
