// Parses arbitrary text with jsonToVariantMap and jsonToVariantList, and reads it as a timeline file
// with loadTimelineJsonFromPath, whose answer must always be an object's JSON text.
#include "FuzzWorkspace.h"

#include <base/JsonHelpers.h>

#include <QJsonDocument>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const QMap<QString, QVariant> map = Nerova::jsonToVariantMap(text);
    const QList<QVariant> list = Nerova::jsonToVariantList(text);
    // No text is both an object and an array.
    check(map.isEmpty() || list.isEmpty());
    Nerova::getTimelineFirstClipPath(map);

    // The map writes out as an object that reads back with the same keys.
    const QString written = Nerova::variantMapToJson(map, false);
    check(Nerova::jsonToVariantMap(written).keys() == map.keys());

    const QString path = FuzzWorkspace::instance().writeFile(QStringLiteral("timeline.json"), data, size);
    const QString timeline = Nerova::loadTimelineJsonFromPath(path);
    check(QJsonDocument::fromJson(timeline.toUtf8()).isObject());
    return 0;
}
