// Test media made at run time with the real ffmpeg and exiftool, and the checks tests run on results.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

namespace MediaFixtures {

// Runs a program (never through a shell); true when it exited normally with code 0.
bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr,
         int timeoutMs = 120000);

// What one program run gave: its exit code (-1 when it crashed or outlasted its time) and its two outputs.
struct ProgramRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program (never through a shell) with no input, in workDir when one is given; a run that outlasts
// timeoutMs is killed.
ProgramRun runProgram(const QString& program, const QStringList& arguments, const QString& workDir = {},
                      int timeoutMs = 120000);

QString ffmpeg();
QString ffprobe();

// Writes one frame of ffmpeg's test pattern (or the given lavfi source) to path, format by suffix.
bool makeImage(const QString& path, const QString& source = QStringLiteral("testsrc2=size=320x240"),
               const QStringList& extraOutputArguments = {});

// A clip of ffmpeg's test pattern in H.264 at a high quality, so that re-encoding makes it smaller;
// extra arguments (metadata, a filter) go just before the output.
bool makeVideo(const QString& path, const QString& size = QStringLiteral("160x120"), int seconds = 1,
               const QStringList& extraOutputArguments = {});

// A small file of the kind its suffix names (jpg, png, webp, mp4) that compressing makes smaller.
bool makeCompressible(const QString& path,
                      const QString& pattern = QStringLiteral("mandelbrot=size=160x120"));

// Structural similarity of two images' luma as ffmpeg measures it (1.0 is identical), or -1 on failure.
double ssim(const QString& reference, const QString& distorted);

// width x height of an image or video, as ffprobe reports it; empty on failure.
QString frameSize(const QString& path);

QByteArray readAll(const QString& path);
bool writeAll(const QString& path, const QByteArray& data);

// Writes a display rotation (0, 90, 180 or 270 degrees clockwise) into the video track header of an
// MP4 file that ffmpeg wrote; this ffmpeg has no option for it.
bool setMp4Rotation(const QString& path, int degrees);

// A PNG whose header claims width x height RGB pixels but which carries only a few rows: a decoder
// that trusts the header would ask for gigabytes before noticing.
QByteArray hugePng(quint32 width, quint32 height);

// A copy of a real JPEG whose frame header claims width x height pixels; empty when it has none.
QByteArray withJpegFrameSize(const QByteArray& jpeg, quint16 width, quint16 height);

// A real photograph kept with the tests.
QString photo(const QString& fileName);

// A copy of landscape_6.jpg (EXIF orientation 6, ICC profile) given, with exiftool, a place of
// recording in EXIF GPS, XMP (exif:GPS*, photoshop:City) and IPTC (City), an XMP title, IPTC keywords
// and a JPEG comment.
bool photoWithLocation(const QString& path);

// Every tag exiftool reads from a file, keyed "Group:Tag" with the group by location ("GPS", "IFD0",
// "XMP-exif", "ICC_Profile", ...); empty when exiftool fails.
QVariantMap metadataTags(const QString& path);

// The groups of those tags that hold metadata: not exiftool's own, the file system's or the
// container's structure (File, JFIF, RIFF, PNG, Composite, ...).
QStringList metadataGroups(const QVariantMap& tags);

// Entries in dir whose names start with prefix (the working folders a task may leave behind).
QStringList entriesStartingWith(const QString& dir, const QString& prefix);

// One JPEG marker segment: its marker byte and the data after the length field.
struct JpegSegment
{
    int marker;
    QByteArray payload;
};

// The marker segments of a JPEG up to and including the first SOS.
QVector<JpegSegment> jpegSegmentsOf(const QByteArray& jpeg);

// The first APP1 payload that starts with prefix ("Exif\0\0", the XMP namespace), or empty.
QByteArray jpegApp1(const QVector<JpegSegment>& segments, const QByteArray& prefix);

// The orientation tag of IFD0 in an "Exif\0\0" APP1 payload, or -1.
int exifPayloadOrientation(const QByteArray& exif);

} // namespace MediaFixtures
