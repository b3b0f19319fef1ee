// The process-wide list of the machine's GPU models and the vendor names read from it.
#include <base/Helpers.h>

#include <mutex>
#include <shared_mutex>

namespace Nerova {

namespace {

struct GpuModels
{
    std::shared_mutex lock;
    QList<QVariant> models;
};
Q_GLOBAL_STATIC(GpuModels, gpuModels)

} // namespace

QString getCodecGpuName(const QString& name)
{
    const QString nvidia = QStringLiteral("NVIDIA");
    const QString amd = QStringLiteral("AMD");
    if (!name.isEmpty()) {
        if (name.contains(nvidia, Qt::CaseInsensitive))
            return nvidia;
        if (name.contains(amd, Qt::CaseInsensitive))
            return amd;
    }
    const QList<QVariant> models = GpuModel::gpuModelNameList();
    for (const QString& vendor : {nvidia, amd}) {
        for (const QVariant& model : models) {
            if (model.toMap().value(QStringLiteral("name")).toString().contains(vendor, Qt::CaseInsensitive))
                return vendor;
        }
    }
    return {};
}

namespace GpuModel {

QList<QVariant> gpuModelNameList()
{
    std::shared_lock locker(gpuModels->lock);
    return gpuModels->models;
}

void setGpuModelNameList(const QList<QVariant>& models)
{
    std::unique_lock locker(gpuModels->lock);
    gpuModels->models = models;
}

QList<QVariant> getSpecifiedGpuModelList(QString name)
{
    if (name.isEmpty())
        return {};
    QList<QVariant> matching;
    for (const QVariant& model : gpuModelNameList()) {
        if (model.toMap().value(QStringLiteral("name")).toString().contains(name, Qt::CaseInsensitive))
            matching.append(model);
    }
    return matching;
}

} // namespace GpuModel

} // namespace Nerova
