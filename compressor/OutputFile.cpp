#include "OutputFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

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
