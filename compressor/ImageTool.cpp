#include "ImageTool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString ImageTool::path()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/cImage"));
}

bool ImageTool::isAvailable()
{
    return QFileInfo(path()).isExecutable();
}

QStringList ImageTool::prepareArguments(const QString& target, const QString& outputFolder,
                                        const QString& source, const QString& box)
{
    QStringList arguments{QStringLiteral("-prepare"), target, QStringLiteral("-outdir"), outputFolder};
    if (!box.isEmpty())
        arguments << QStringLiteral("-maxsize") << box;
    return arguments << QFileInfo(source).absoluteFilePath();
}

QStringList ImageTool::finishArguments(const QString& target, const QString& source, const QString& result,
                                       const QString& strip)
{
    QStringList arguments{QStringLiteral("-finish"), target, QStringLiteral("-from"),
                          QFileInfo(source).absoluteFilePath()};
    if (!strip.isEmpty())
        arguments << QStringLiteral("-strip") << strip;
    return arguments << QFileInfo(result).absoluteFilePath();
}

ImageTool::Prepared ImageTool::parsePrepared(const QByteArray& output, const QString& outputFolder)
{
    Prepared prepared;
    for (const QByteArray& line : output.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QString value = QString::fromUtf8(line.mid(equals + 1)).trimmed();
        if (key == "input")
            prepared.input = value;
        else if (key == "format")
            prepared.format = value;
        else if (key == "frames")
            prepared.frames = value.toInt();
        else if (key == "loop")
            prepared.loop = value.toInt();
        else if (key == "turned")
            prepared.turned = value == QLatin1String("1");
        else if (key == "resized")
            prepared.resized = value;
    }
    // A name may hold a line break, which the line-based answer cannot carry: trust only what lies in
    // the tool's own folder.
    const QString folder = QDir::cleanPath(outputFolder) + QLatin1Char('/');
    if (!prepared.input.startsWith(folder) || !QFileInfo(prepared.input).isFile())
        prepared.input.clear();
    return prepared;
}
