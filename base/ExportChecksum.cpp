#include "base/ExportChecksum.h"

#include "base/StringEncryption.h"

#include <QDateTime>
#include <QStringList>
#include <base/LogCategories.h>

namespace Nerova {
namespace {

const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
// How far a stamp may lie ahead of the checker's clock, for clocks that disagree.
constexpr qint64 kMaxSecondsAhead = 3599;

} // namespace

QString genExportChecksum(const QString& payload)
{
    const QString text = QDateTime::currentDateTime().toString(kStampFormat) + QLatin1Char(',') + payload;
    qCDebug(lcBase) << "string:" << text;
    return encryptString(text);
}

bool validateExportChecksum(const QString& token, const QString& payload)
{
    const QStringList parts = decryptString(token).split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return false;
    const QDateTime stamp = QDateTime::fromString(parts.at(0), kStampFormat);
    if (QDateTime::currentDateTime().secsTo(stamp) > kMaxSecondsAhead)
        return false;
    return parts.at(1) == payload;
}

} // namespace Nerova
