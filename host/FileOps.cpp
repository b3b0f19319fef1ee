#include "FileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <sys/stat.h>

#include <cstdio>
#include <fcntl.h>

namespace FileOps {

bool isSameFile(const QString& first, const QString& second)
{
    struct stat a = {};
    struct stat b = {};
    if (::stat(QFile::encodeName(first).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(second).constData(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

qint64 modificationTimeNs(const QString& path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

bool setModificationTimeNs(const QString& path, qint64 nanoseconds)
{
    struct timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(nanoseconds / 1000000000);
    times[1].tv_nsec = long(nanoseconds % 1000000000);
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

bool renameOver(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

QString hiddenSibling(const QString& path)
{
    const QFileInfo info(path);
    const QDir dir = info.absoluteDir();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    for (;;) {
        const QString random = QString::number(QRandomGenerator::global()->generate() & 0xffffff, 16);
        const QString candidate =
            dir.filePath(QStringLiteral(".%1.nerova-%2%3").arg(info.completeBaseName(), random, suffix));
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
}

} // namespace FileOps
