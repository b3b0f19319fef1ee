#include <base/JsonHelpers.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>

namespace Nerova {

namespace {

const QString kPreviewParam = QStringLiteral("preview_param");
const QString kTimelineDir = QStringLiteral("timeline_dir");

} // namespace

QString variantMapToJson(const QMap<QString, QVariant>& map, bool indented)
{
    const QJsonDocument document(QJsonObject::fromVariantMap(map));
    return QString::fromUtf8(document.toJson(indented ? QJsonDocument::Indented : QJsonDocument::Compact));
}

QMap<QString, QVariant> jsonToVariantMap(const QString& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
    if (document.isNull())
        return {};
    return document.object().toVariantMap();
}

QList<QVariant> jsonToVariantList(const QString& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
    if (document.isNull())
        return {};
    return document.array().toVariantList();
}

QString getFileContent(const QString& path)
{
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    return stream.readAll();
}

void saveToFile(const QString& content, const QString& path)
{
    // Written beside the target and renamed over it only once complete and synced, so a full disk or a
    // crash never leaves a truncated file where a good one was.
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QByteArray bytes = content.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

QString loadTimelineJsonFromPath(const QString& path)
{
    QMap<QString, QVariant> timeline = jsonToVariantMap(getFileContent(path));
    const QString dir = timeline.value(kPreviewParam).toMap().value(kTimelineDir).toString();
    if (dir == QLatin1String(".")) {
        QMap<QString, QVariant> previewParam = timeline.value(kPreviewParam).toMap();
        previewParam.insert(kTimelineDir, QFileInfo(path).dir().absolutePath());
        timeline.insert(kPreviewParam, previewParam);
    }
    return variantMapToJson(timeline, true);
}

QString getTimelineFirstClipPath(const QMap<QString, QVariant>& timeline)
{
    const QList<QVariant> clips = timeline.value(QStringLiteral("clips")).toList();
    if (clips.isEmpty())
        return {};
    return clips.first().toMap().value(QStringLiteral("file_path")).toString();
}

} // namespace Nerova
