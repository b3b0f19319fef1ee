// In-process probing against starting ffprobe, side by side in one run: open + containerInfo() on
// generated files versus `ffprobe -show_format -show_streams` on the same files, and the probe of one ASF
// audio file with a cover picture, whose description reads the whole file.
// Usage: probe_vs_ffprobe [files] [cover seconds] (defaults 50 and 600); needs ffmpeg and ffprobe in PATH.

#include <NerovaDec/FFDemuxer.h>

extern "C" {
#include <libavutil/log.h>
}

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <functional>

namespace {

using BenchSupport::bestMs;
using BenchSupport::kRounds;
using BenchSupport::run;

bool probeInProcess(const QString& path)
{
    const QSharedPointer<Nerova::FFDemuxer> demuxer = Nerova::FFDemuxer::createDemuxer(path, false);
    return demuxer->open(path) && demuxer->containerInfo();
}

bool probeWithFfprobe(const QString& ffprobe, const QString& path)
{
    QByteArray output;
    return run(ffprobe,
               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_format"),
                QStringLiteral("-show_streams"), path},
               &output) &&
           !output.isEmpty();
}

// The kinds of file probed, each made once and copied to reach the requested count.
QList<QStringList> sourceKinds()
{
    const QStringList video{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                            QStringLiteral("testsrc2=size=640x360:rate=25")};
    const QStringList audio{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                            QStringLiteral("sine=frequency=440")};
    const QStringList x264{QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"),
                           QStringLiteral("ultrafast")};
    const QStringList seconds{QStringLiteral("-t"), QStringLiteral("5")};
    return {
        QStringList(video) << audio << seconds << x264 << QStringLiteral("-c:a") << QStringLiteral("aac")
                           << QStringLiteral("mp4"),
        QStringList(video) << audio << seconds << x264 << QStringLiteral("-c:a") << QStringLiteral("aac")
                           << QStringLiteral("mkv"),
        QStringList(video) << audio << seconds << QStringLiteral("-c:v") << QStringLiteral("mpeg2video")
                           << QStringLiteral("-c:a") << QStringLiteral("mp2") << QStringLiteral("ts"),
        QStringList(video) << seconds << QStringLiteral("-c:v") << QStringLiteral("mpeg4")
                           << QStringLiteral("avi"),
        QStringList(audio) << seconds << QStringLiteral("-c:a") << QStringLiteral("libmp3lame")
                           << QStringLiteral("mp3"),
    };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    const int fileCount = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const int coverSeconds = argc > 2 ? std::max(1, atoi(argv[2])) : 600;

    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    const QString ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    if (ffmpeg.isEmpty() || ffprobe.isEmpty()) {
        std::fprintf(stderr, "ffmpeg and ffprobe are needed in PATH\n");
        return 1;
    }
    QTemporaryDir dir;

    QStringList sources;
    const QList<QStringList> kinds = sourceKinds();
    for (int i = 0; i < kinds.size(); ++i) {
        QStringList arguments = kinds.at(i);
        const QString path = dir.filePath(QStringLiteral("source_%1.%2").arg(i).arg(arguments.takeLast()));
        if (!run(ffmpeg, QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")}
                             << arguments << path)) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(path));
            return 1;
        }
        sources << path;
    }
    QStringList files;
    for (int i = 0; i < fileCount; ++i) {
        const QString& source = sources.at(i % sources.size());
        const QString path =
            dir.filePath(QStringLiteral("file_%1.%2").arg(i).arg(QFileInfo(source).suffix()));
        QFile::copy(source, path);
        files << path;
    }

    // One warm-up pass of each, so that both read the files from the page cache.
    for (const QString& file : files) {
        probeInProcess(file);
        probeWithFfprobe(ffprobe, file);
    }
    const double inProcess = bestMs([&] {
        for (const QString& file : files) {
            if (!probeInProcess(file))
                return false;
        }
        return true;
    });
    const double external = bestMs([&] {
        for (const QString& file : files) {
            if (!probeWithFfprobe(ffprobe, file))
                return false;
        }
        return true;
    });
    std::printf("open + containerInfo() vs ffprobe on %d files (best of %d rounds)\n", fileCount, kRounds);
    std::printf("  in process   %9.1f ms  (%.2f ms per file)\n", inProcess, inProcess / fileCount);
    std::printf("  ffprobe      %9.1f ms  (%.2f ms per file)\n", external, external / fileCount);
    std::printf("  ratio        %9.3f     (goal <= 0.5)\n", inProcess / external);

    // An ASF audio file with a cover picture: the description reopens it and reads it to the end to count
    // the picture's packets.
    const QString cover = dir.filePath(QStringLiteral("cover.wma"));
    if (!run(ffmpeg, {QStringLiteral("-v"),
                      QStringLiteral("error"),
                      QStringLiteral("-y"),
                      QStringLiteral("-f"),
                      QStringLiteral("lavfi"),
                      QStringLiteral("-i"),
                      QStringLiteral("sine=frequency=440:duration=%1").arg(coverSeconds),
                      QStringLiteral("-f"),
                      QStringLiteral("lavfi"),
                      QStringLiteral("-i"),
                      QStringLiteral("testsrc2=size=320x240:rate=1:duration=1"),
                      QStringLiteral("-map"),
                      QStringLiteral("0"),
                      QStringLiteral("-map"),
                      QStringLiteral("1"),
                      QStringLiteral("-c:a"),
                      QStringLiteral("wmav2"),
                      QStringLiteral("-c:v"),
                      QStringLiteral("mjpeg"),
                      cover})) {
        std::fprintf(stderr, "ffmpeg could not make the cover file\n");
        return 1;
    }
    bool isCover = false;
    const double openOnly = bestMs([&] {
        Nerova::FFDemuxer demuxer;
        return demuxer.open(cover);
    });
    const double described = bestMs([&] {
        Nerova::FFDemuxer demuxer;
        if (!demuxer.open(cover))
            return false;
        const QSharedPointer<Nerova::ContainerInfo> info = demuxer.containerInfo();
        isCover = info && !info->videoStreams.isEmpty() && info->videoStreams.first()->isAttachedPic;
        return bool(info);
    });
    const double coverExternal = bestMs([&] { return probeWithFfprobe(ffprobe, cover); });
    std::printf("ASF audio with a cover picture (%d s, %.1f MiB), cover recognised: %s\n", coverSeconds,
                QFileInfo(cover).size() / 1048576.0, isCover ? "yes" : "NO");
    std::printf("  open only               %9.1f ms\n", openOnly);
    std::printf("  open + containerInfo()  %9.1f ms\n", described);
    std::printf("  ffprobe                 %9.1f ms\n", coverExternal);
    std::printf("  ratio (described/ffprobe) %7.3f\n", described / coverExternal);
    return 0;
}
