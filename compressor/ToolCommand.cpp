#include "ToolCommand.h"

#include <QFileInfo>

ToolCommand& ToolCommand::words(const QString& text)
{
    mElements.append({text.split(QLatin1Char(' '), Qt::SkipEmptyParts), text});
    return *this;
}

ToolCommand& ToolCommand::value(const QString& value)
{
    mElements.append({QStringList{value}, value});
    return *this;
}

ToolCommand& ToolCommand::path(const QString& path)
{
    mElements.append({QStringList{path}, QLatin1Char('"') + path + QLatin1Char('"')});
    return *this;
}

ToolCommand& ToolCommand::ffmpegPath(const QString& path)
{
    return this->path(path.isEmpty() ? path : QFileInfo(path).absoluteFilePath());
}

ToolCommand& ToolCommand::blankLast()
{
    if (!mElements.isEmpty())
        mElements.last() = Element{};
    return *this;
}

QStringList ToolCommand::paramList() const
{
    QStringList params;
    params.reserve(mElements.size());
    for (const Element& element : mElements)
        params << element.shown;
    return params;
}

QStringList ToolCommand::arguments() const
{
    QStringList arguments;
    for (const Element& element : mElements)
        arguments << element.arguments;
    return arguments;
}
