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

QHash<QString, QString> ImageTool::parseKeyValues(const QByteArray& output)
{
    QHash<QString, QString> values;
    for (const QByteArray& line : output.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromUtf8(line.left(equals).trimmed()),
                          QString::fromUtf8(line.mid(equals + 1)).trimmed());
    }
    return values;
}

ImageTool::Prepared ImageTool::parsePrepared(const QByteArray& output, const QString& outputFolder)
{
    const QHash<QString, QString> values = parseKeyValues(output);
    Prepared prepared;
    prepared.input = values.value(QStringLiteral("input"));
    prepared.format = values.value(QStringLiteral("format"));
    prepared.frames = values.value(QStringLiteral("frames"), QStringLiteral("1")).toInt();
    prepared.loop = values.value(QStringLiteral("loop"), QStringLiteral("1")).toInt();
    prepared.turned = values.value(QStringLiteral("turned")) == QLatin1String("1");
    prepared.resized = values.value(QStringLiteral("resized"));
    // A name may hold a line break, which the line-based answer cannot carry: trust only what lies in
    // the tool's own folder.
    const QString folder = QDir::cleanPath(outputFolder) + QLatin1Char('/');
    if (!prepared.input.startsWith(folder) || !QFileInfo(prepared.input).isFile())
        prepared.input.clear();
    return prepared;
}
