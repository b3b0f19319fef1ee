// Runs cJpeg, cImage and ffmpeg for the tool tests and compares the pictures they produce.
#pragma once

#include "MediaFixtures.h"

#include <QMap>
#include <QStandardPaths>

// Outcome of one program run; key=value lines on stdout are split out as well.
struct Run
{
    int exitCode = -1;
    QString stdErr;
    QByteArray stdOut;
    QMap<QString, QString> keys;
};

inline Run run(const QString& program, const QStringList& args, const QString& workDir = {})
{
    const MediaFixtures::ProgramRun ran = MediaFixtures::runProgram(program, args, workDir);
    Run result{ran.exitCode, QString::fromLocal8Bit(ran.err), ran.out, {}};
    for (const QByteArray& line : result.stdOut.split('\n'))
        if (const int eq = line.indexOf('='); eq > 0)
            result.keys.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    return result;
}

inline Run cJpeg(const QStringList& args)
{
    return run(QStringLiteral(CJPEG_PATH), args);
}

inline bool ffmpeg(const QStringList& args)
{
    return MediaFixtures::run(MediaFixtures::ffmpeg(), QStringList{"-v", "error", "-y"} + args);
}

// The first frame as raw samples (rgb24 unless told), decoded by ffmpeg after an optional filter.
inline QByteArray pixels(const QString& path, const QString& filter = {}, const QString& format = "rgb24")
{
    const QStringList vf = filter.isEmpty() ? QStringList() : QStringList{"-vf", filter};
    return run(MediaFixtures::ffmpeg(), QStringList{"-v", "error", "-i", path, "-frames:v", "1"} + vf +
                                            QStringList{"-f", "rawvideo", "-pix_fmt", format, "-"})
        .stdOut;
}

// Mean per-sample difference; far above any coding loss when sizes differ or channels are swapped.
inline double meanDifference(const QByteArray& a, const QByteArray& b)
{
    if (a.isEmpty() || a.size() != b.size())
        return 1e9;
    double sum = 0;
    for (int i = 0; i < a.size(); ++i)
        sum += std::abs(uchar(a[i]) - uchar(b[i]));
    return sum / a.size();
}

inline QString realImage(const QString& fileName)
{
    return QStringLiteral(TEST_DATA_DIR "/images/") + fileName;
}
