#include "OutputFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

bool OutputFile::replace(const QString& targetPath, const QString& finishedPath, QString* errorText)
{
    auto fail = [errorText](const QString& text) {
        if (errorText)
            *errorText = text;
        return false;
    };

    QFile source(finishedPath);
    if (!source.open(QIODevice::ReadOnly))
        return fail(source.errorString());
    // QSaveFile writes a temporary file in the target's folder and renames it on commit; it keeps the
    // permissions of a file that was already there.
    QSaveFile target(targetPath);
    if (!target.open(QIODevice::WriteOnly))
        return fail(target.errorString());

    constexpr qint64 chunkSize = 1 << 20;
    QByteArray chunk;
    while (!source.atEnd()) {
        chunk = source.read(chunkSize);
        if (chunk.isEmpty() && source.error() != QFileDevice::NoError) {
            target.cancelWriting();
            return fail(source.errorString());
        }
        if (target.write(chunk) != chunk.size()) {
            target.cancelWriting();
            return fail(target.errorString());
        }
    }
    if (!target.commit())
        return fail(target.errorString());
    return true;
}

bool OutputFile::moveInto(const QString& targetPath, const QString& finishedPath, QString* errorText)
{
    const QByteArray target = QFile::encodeName(targetPath);
    const QByteArray finished = QFile::encodeName(finishedPath);
    struct stat targetInfo
    {
    };
    const bool targetExists = ::lstat(target.constData(), &targetInfo) == 0;
    // A link is replaced through to the file it names, as QSaveFile does: only a copy can do that.
    if (targetExists && !S_ISREG(targetInfo.st_mode))
        return replace(targetPath, finishedPath, errorText);
    if (targetExists) {
        const int fd = ::open(finished.constData(), O_RDONLY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::fdatasync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!synced)
            return replace(targetPath, finishedPath, errorText);
        // The result takes the place of the user's file, permissions included.
        ::chmod(finished.constData(), targetInfo.st_mode & 07777);
    }
    if (::rename(finished.constData(), target.constData()) == 0)
        return true;
    // Another filesystem (or a rename refused): write the bytes instead.
    if (!replace(targetPath, finishedPath, errorText))
        return false;
    QFile::remove(finishedPath);
    return true;
}

bool OutputFile::isSameFile(const QString& first, const QString& second)
{
    struct stat a
    {
    };
    struct stat b
    {
    };
    if (::stat(QFile::encodeName(first).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(second).constData(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

qint64 OutputFile::sizeOf(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

bool OutputFile::copyScratch(const QString& sourcePath, const QString& copyPath)
{
    std::error_code error;
    return std::filesystem::copy_file(QFile::encodeName(sourcePath).toStdString(),
                                      QFile::encodeName(copyPath).toStdString(), error);
}
