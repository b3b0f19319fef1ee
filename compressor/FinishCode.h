#pragma once

#include <QString>

// Finish codes and texts that tasks report through compressFinished. Codes 0, 1 and 2 are shared with
// the tools' exit codes; the negative ones can never be a process exit code, so they never collide.
namespace FinishCode {

constexpr int Success = 0;
constexpr int CorruptSource = 1;
constexpr int NoOutput = 2;
constexpr int InvalidRequest = -1;
constexpr int ToolFailedToStart = -2;
constexpr int Aborted = -3;
constexpr int ToolCrashed = -4;
constexpr int NoWorkingDirectory = -5;
constexpr int OutputIsSource = -6;
constexpr int OutputNotSetAside = -7;
constexpr int ResultNotAsExpected = -8;

inline QString corruptSourceText()
{
    return QStringLiteral("The file is corrupt or not a standard file format");
}
inline QString invalidRequestText()
{
    return QStringLiteral("Invalid request value");
}
inline QString toolFailedToStartText()
{
    return QStringLiteral("The tool could not be started");
}
inline QString abortedText()
{
    return QStringLiteral("Aborted");
}
inline QString toolCrashedText()
{
    return QStringLiteral("The tool crashed");
}
inline QString noWorkingDirectoryText()
{
    return QStringLiteral("Could not create a working directory");
}

inline QString outputIsSourceText()
{
    return QStringLiteral("The output is the source file");
}
inline QString outputNotSetAsideText()
{
    return QStringLiteral("The existing output could not be set aside");
}
inline QString resultNotAsExpectedText()
{
    return QStringLiteral("The result does not hold what the source has");
}
inline QString successfulText()
{
    return QStringLiteral("successful");
}
inline QString failText()
{
    return QStringLiteral("fail");
}

} // namespace FinishCode
