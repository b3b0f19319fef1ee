#include "SizeText.h"

#include <QLocale>

namespace SizeText {

QString bytes(qint64 size)
{
    return QLocale::c().formattedDataSize(size, 1, QLocale::DataSizeTraditionalFormat);
}

QString saving(qint64 before, qint64 after)
{
    if (before <= 0)
        return QStringLiteral("-");
    return QString::number(100.0 * double(before - after) / double(before), 'f', 1) + QLatin1Char('%');
}

} // namespace SizeText
