#pragma once

// What the benchmark programs share: running a program and timing the best of several rounds.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <functional>

namespace BenchSupport {

constexpr int kRounds = 3;

// Runs a program (never through a shell); true when it exited normally with code 0. Its standard
// output is kept in *output when asked for, and thrown away otherwise.
inline bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    if (!output)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(600000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Best of kRounds rounds, in milliseconds; -1 when the work fails.
inline double bestMs(const std::function<bool()>& work)
{
    double best = 1e30;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!work())
            return -1;
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

} // namespace BenchSupport
