#include "Record.h"

namespace Nerova {

Record::Record(const char* function, int line, const char* file, const void* context, int level)
    : mFunction(QString::fromUtf8(function)), mLine(line), mFile(QString::fromUtf8(file)), mContext(context),
      mLevel(level), mTime(QDateTime::currentDateTime())
{}

Record& Record::operator<<(const char* text)
{
    mMessage += QString::fromUtf8(text);
    return *this;
}

Record& Record::operator<<(const QString& text)
{
    mMessage += text;
    return *this;
}

Record& Record::operator<<(const QByteArray& text)
{
    mMessage += QString::fromUtf8(text);
    return *this;
}

Record& Record::operator<<(int value)
{
    mMessage += QString::number(value);
    return *this;
}

Record& Record::operator<<(qint64 value)
{
    mMessage += QString::number(value);
    return *this;
}

Record& Record::operator<<(double value)
{
    mMessage += QString::number(value);
    return *this;
}

QString Record::toLine() const
{
    return QStringLiteral("%1 %2:%3 %4: %5")
        .arg(mTime.toString(Qt::ISODateWithMs), mFile, QString::number(mLine), mFunction, mMessage);
}

} // namespace Nerova
