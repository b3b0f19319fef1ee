#pragma once

#include <base/NerovaGlobal.h>

#include <QStringList>

// Turns the tasks' parameter lists into a tool's argument list and keeps request values from
// becoming extra arguments or options.
class NEROVA_EXPORT ToolArguments
{
public:
    // An element wrapped in double quotes is one argument (a path: quotes dropped, every inner
    // character kept); any other element is split at white space, empty pieces dropped.
    static QStringList fromParamList(const QStringList& params);

    // A request value may go onto a command line only when it cannot become another argument or an
    // option: no white space, no double quote, no leading "-".
    static bool isSafeRequestValue(const QString& value);
    static bool areSafeRequestValues(const QStringList& values);

    // A path as one parameter-list element: wrapped in double quotes, kept whole.
    static QString quoted(const QString& path);
    // A file path for ffmpeg, made absolute first, so that a name starting with "-" cannot read as an
    // option and a name like "http:x" cannot read as a protocol.
    static QString quotedFFmpegPath(const QString& path);
};
