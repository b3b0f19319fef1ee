#include "OutputSetAside.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <base/LogCategories.h>

OutputSetAside::~OutputSetAside()
{
    restore();
}

bool OutputSetAside::setAside(const QString& path)
{
    restore();
    mPath = path;
    const QFileInfo output(path);
    if (!output.exists() && !output.isSymLink())
        return true;
    // Renamed within its own folder: nothing is copied, and the file never leaves the user's disk.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString candidate =
            output.dir().filePath(QStringLiteral(".%1.%2.aside")
                                      .arg(output.fileName())
                                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink())
            continue;
        if (!QFile::rename(path, candidate)) {
            qCDebug(lcCompressor) << "Cannot set aside" << path;
            return false;
        }
        mAsidePath = candidate;
        return true;
    }
    return false;
}

void OutputSetAside::restore()
{
    if (mAsidePath.isEmpty())
        return;
    QFile::remove(mPath);
    if (!QFile::rename(mAsidePath, mPath))
        qCWarning(lcCompressor) << "Cannot put back" << mPath << "- it is kept as" << mAsidePath;
    mAsidePath.clear();
}

void OutputSetAside::drop()
{
    if (!mAsidePath.isEmpty())
        QFile::remove(mAsidePath);
    mAsidePath.clear();
}
