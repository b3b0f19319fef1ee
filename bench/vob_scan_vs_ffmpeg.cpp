// The first chapter scan of a large VOB file against ffmpeg reading the same file, side by side in one
// run: VobEntryManager::scanVobEntry (uncached) versus `ffmpeg -v error -i FILE -map 0 -c copy -f null -`,
// and the memory the cache holds per chapter.
// Usage: vob_scan_vs_ffmpeg [file.vob | size in MB] (default: a generated file of 200 MB made of
// separately encoded program streams joined byte for byte); needs ffmpeg in PATH.

#include <NerovaDec/VobEntry.h>

extern "C" {
#include <libavutil/log.h>
}

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

namespace {

using BenchSupport::bestMs;
using BenchSupport::kRounds;
using BenchSupport::run;

// Encodes short program streams of different lengths (a DVD-like picture, AC-3 sound, high quality so
// that they are large) and joins copies of them byte for byte until the file reaches megabytes.
bool makeVob(const QString& ffmpeg, const QDir& dir, const QString& path, qint64 megabytes)
{
    QList<QByteArray> segments;
    for (const int seconds : {11, 7, 5}) {
        const QString segment = dir.filePath(QStringLiteral("segment%1.vob").arg(seconds));
        const QStringList arguments{QStringLiteral("-nostdin"),
                                    QStringLiteral("-v"),
                                    QStringLiteral("error"),
                                    QStringLiteral("-y"),
                                    QStringLiteral("-f"),
                                    QStringLiteral("lavfi"),
                                    QStringLiteral("-i"),
                                    QStringLiteral("testsrc2=size=720x480:rate=25"),
                                    QStringLiteral("-f"),
                                    QStringLiteral("lavfi"),
                                    QStringLiteral("-i"),
                                    QStringLiteral("sine=frequency=440:sample_rate=48000"),
                                    QStringLiteral("-t"),
                                    QString::number(seconds),
                                    QStringLiteral("-c:v"),
                                    QStringLiteral("mpeg2video"),
                                    QStringLiteral("-q:v"),
                                    QStringLiteral("2"),
                                    QStringLiteral("-c:a"),
                                    QStringLiteral("ac3"),
                                    QStringLiteral("-f"),
                                    QStringLiteral("vob"),
                                    segment};
        if (!run(ffmpeg, arguments))
            return false;
        QFile file(segment);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        segments << file.readAll();
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    qint64 written = 0;
    for (int i = 0; written < megabytes * 1024 * 1024; ++i) {
        const QByteArray& segment = segments.at(i % segments.size());
        if (out.write(segment) != segment.size())
            return false;
        written += segment.size();
    }
    return true;
}

// Reads the file once so that both contenders find it in the page cache.
void warm(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.read(1 << 20).isEmpty()) {
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    // The scan writes a few debug lines of its own; the measurements are what this program prints.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        std::fprintf(stderr, "ffmpeg not found in PATH\n");
        return 1;
    }

    QTemporaryDir dir;
    QString path;
    const QString argument = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    bool isNumber = false;
    const qint64 megabytes = argument.toLongLong(&isNumber);
    if (!argument.isEmpty() && !isNumber) {
        path = argument;
    } else {
        path = QDir(dir.path()).filePath(QStringLiteral("joined.vob"));
        std::printf("generating a %lld MB VOB...\n", isNumber ? megabytes : 200LL);
        std::fflush(stdout);
        if (!dir.isValid() || !makeVob(ffmpeg, QDir(dir.path()), path, isNumber ? megabytes : 200)) {
            std::fprintf(stderr, "cannot generate the VOB file\n");
            return 1;
        }
    }
    warm(path);

    Nerova::VobEntryManager* manager = Nerova::VobEntryManager::sharedInstance();
    QSharedPointer<Nerova::VobEntry> entry;
    const double scanMs = bestMs([&] {
        manager->clearEntry(path);
        entry = manager->scanVobEntry(path);
        return !entry.isNull();
    });
    const double ffmpegMs = bestMs([&] {
        return run(ffmpeg, {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                            QStringLiteral("-i"), path, QStringLiteral("-map"), QStringLiteral("0"),
                            QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-f"),
                            QStringLiteral("null"), QStringLiteral("-")});
    });
    if (scanMs < 0 || ffmpegMs < 0) {
        std::fprintf(stderr, "a contender failed on %s\n", qPrintable(path));
        return 1;
    }
    // A cached scan answers without reading the file.
    const double cachedMs = bestMs([&] { return manager->scanVobEntry(path) == entry; });

    const int chapters = entry->chapterItems.size();
    const double perChapter = chapters > 0
                                  ? double(sizeof(Nerova::VobEntry) +
                                           entry->chapterItems.capacity() * sizeof(Nerova::VobChapterItem)) /
                                        chapters
                                  : 0.0;
    std::printf("file: %.1f MB, %d chapters (all streams)\n",
                double(QFileInfo(path).size()) / (1024.0 * 1024.0), chapters);
    std::printf("first scan (scanVobEntry):          %9.1f ms\n", scanMs);
    std::printf("ffmpeg -map 0 -c copy -f null:       %9.1f ms\n", ffmpegMs);
    std::printf("ratio scan / ffmpeg:                 %9.2f  (goal <= 1.0)\n", scanMs / ffmpegMs);
    std::printf("cached scan:                         %9.4f ms\n", cachedMs);
    std::printf("cache memory per chapter:            %9.1f bytes (%zu per item + entry and vector)\n",
                perChapter, sizeof(Nerova::VobChapterItem));
    return 0;
}
