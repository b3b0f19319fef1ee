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
};
