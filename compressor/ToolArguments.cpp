#include "ToolArguments.h"

#include <QFileInfo>

#include <algorithm>

QStringList ToolArguments::fromParamList(const QStringList& params)
{
    QStringList arguments;
    for (const QString& param : params) {
        if (param.size() >= 2 && param.startsWith(QLatin1Char('"')) && param.endsWith(QLatin1Char('"'))) {
            arguments << param.mid(1, param.size() - 2);
            continue;
        }
        QString word;
        for (const QChar c : param) {
            if (c.isSpace()) {
                if (!word.isEmpty())
                    arguments << std::exchange(word, QString());
            } else {
                word += c;
            }
        }
        if (!word.isEmpty())
            arguments << word;
    }
    return arguments;
}

bool ToolArguments::isSafeRequestValue(const QString& value)
{
    if (value.startsWith(QLatin1Char('-')))
        return false;
    return std::none_of(value.cbegin(), value.cend(),
                        [](QChar c) { return c.isSpace() || c == QLatin1Char('"'); });
}

bool ToolArguments::areSafeRequestValues(const QStringList& values)
{
    return std::all_of(values.cbegin(), values.cend(), isSafeRequestValue);
}

QString ToolArguments::quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

QString ToolArguments::quotedFFmpegPath(const QString& path)
{
    return quoted(path.isEmpty() ? path : QFileInfo(path).absoluteFilePath());
}
