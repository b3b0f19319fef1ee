#pragma once

#include <base/NerovaGlobal.h>

#include <QStringList>
#include <QVector>

// A tool's command line built element by element. Each element is zero or more whole arguments, so
// the argument vector the process receives and the parameter list the builders show (multi-word
// elements, paths in double quotes) come from the same data, and no value can ever split into two
// arguments, vanish, or shift the next option into its place.
class NEROVA_EXPORT ToolCommand
{
public:
    // Our own option words, separated by blanks ("-c:v libx264" is two arguments, one element).
    ToolCommand& words(const QString& text);
    // One argument exactly as given, blanks, quotes and all; shown as it is.
    ToolCommand& value(const QString& value);
    // One argument naming a file; shown in double quotes.
    ToolCommand& path(const QString& path);
    // A file for ffmpeg, made absolute first so that a name starting with "-" cannot read as an option
    // and a name like "http:x" cannot read as a protocol.
    ToolCommand& ffmpegPath(const QString& path);
    // Replaces the last element by one that holds no argument and shows as an empty text.
    ToolCommand& blankLast();

    // The elements as the builders return them: words joined by one blank, paths in double quotes.
    QStringList paramList() const;
    // The argument vector for the process.
    QStringList arguments() const;
    bool isEmpty() const { return mElements.isEmpty(); }

private:
    struct Element
    {
        QStringList arguments;
        QString shown;
    };
    QVector<Element> mElements;
};
