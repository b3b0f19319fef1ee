#include "JobPlanner.h"

#include <QDir>
#include <QFileInfo>

JobPlanner::JobPlanner(const HostOptions& options, const MediaKind& kinds) : mOptions(options), mKinds(kinds)
{}

bool JobPlanner::plan(QString* errorText)
{
    if (!mOptions.format.isEmpty() && !mKinds.isKnownOutput(mOptions.format)) {
        *errorText = QStringLiteral("Unknown format for --to: %1 (images: %2; videos: %3).")
                         .arg(mOptions.format, mKinds.imageOutputs().join(QStringLiteral(", ")),
                              mKinds.videoOutputs().join(QStringLiteral(", ")));
        return false;
    }
    for (const QString& input : mOptions.inputs) {
        if (!QFileInfo::exists(input)) {
            *errorText = QStringLiteral("No such file or folder: %1").arg(input);
            return false;
        }
    }

    if (mOptions.outputDir.isEmpty()) {
        const QFileInfo source(mOptions.inputs.first());
        if (!source.isFile()) {
            *errorText = QStringLiteral("Not a file: %1 (folders need -o OUTDIR)").arg(source.filePath());
            return false;
        }
        addFile(source.absoluteFilePath(), source.filePath(),
                QFileInfo(mOptions.outputPath).absoluteFilePath());
        return true;
    }

    const QDir outputDir(mOptions.outputDir);
    mOutputRoot = QDir::cleanPath(outputDir.absolutePath());
    for (const QString& input : mOptions.inputs) {
        const QFileInfo info(input);
        if (info.isDir()) {
            mLeftOutFiles = 0;
            mLeftOutSuffixes.clear();
            mLeftOutFolders = 0;
            scanFolder(info.absoluteFilePath(), input, mOutputRoot);
            if (mLeftOutFiles > 0)
                mNotes << QStringLiteral("%1: %2 file(s) that are neither images nor videos left out (%3)")
                              .arg(input)
                              .arg(mLeftOutFiles)
                              .arg(mLeftOutSuffixes.join(QStringLiteral(", ")));
            if (mLeftOutFolders > 0)
                mNotes << QStringLiteral("%1: %2 sub-folder(s) left out (use -r)")
                              .arg(input)
                              .arg(mLeftOutFolders);
        } else {
            addFile(info.absoluteFilePath(), input,
                    outputDir.absoluteFilePath(outputNameFor(info.fileName())));
        }
    }
    return true;
}

void JobPlanner::scanFolder(const QString& folder, const QString& displayFolder, const QString& outputFolder)
{
    // The output folder may lie inside an input folder: earlier results there are not inputs.
    if (QDir::cleanPath(folder) == mOutputRoot && outputFolder != mOutputRoot)
        return;
    const QDir dir(folder);
    // Hidden entries are skipped: they include the host's own temporary names of an in-place run.
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::DirsLast);
    for (const QFileInfo& entry : entries) {
        const QString display = displayFolder + QLatin1Char('/') + entry.fileName();
        if (entry.isDir()) {
            // Linked folders are not followed: they may loop back into the tree.
            if (!mOptions.recursive || entry.isSymLink()) {
                ++mLeftOutFolders;
                continue;
            }
            scanFolder(entry.absoluteFilePath(), display, outputFolder + QLatin1Char('/') + entry.fileName());
        } else if (mKinds.isMedia(entry.suffix())) {
            addFile(entry.absoluteFilePath(), display,
                    outputFolder + QLatin1Char('/') + outputNameFor(entry.fileName()));
        } else {
            ++mLeftOutFiles;
            const QString suffix = entry.suffix().isEmpty() ? QStringLiteral("no suffix")
                                                            : QLatin1Char('.') + entry.suffix().toLower();
            if (!mLeftOutSuffixes.contains(suffix))
                mLeftOutSuffixes << suffix;
        }
    }
}

QString JobPlanner::outputNameFor(const QString& fileName) const
{
    const QFileInfo name(fileName);
    const QString suffix = name.suffix();
    if (mOptions.format.isEmpty())
        return fileName;
    // --to converts the files of its own kind; the other kind keeps its format (a video is not turned
    // into a picture, nor a picture into a video). A file of unknown kind takes the asked format.
    const bool formatIsImage = mKinds.isImageOutput(mOptions.format);
    const bool sameKind = formatIsImage ? mKinds.isImageSource(suffix) : mKinds.isVideoSource(suffix);
    const bool unknownKind = !mKinds.isMedia(suffix);
    if (!sameKind && !unknownKind)
        return fileName;
    return name.completeBaseName() + QLatin1Char('.') + mOptions.format;
}

bool JobPlanner::isVideoOutput(const QString& outputPath) const
{
    return !mKinds.isImageOutput(QFileInfo(outputPath).suffix());
}

void JobPlanner::addFile(const QString& inputPath, const QString& displayName, const QString& outputPath)
{
    const QString canonicalInput = QFileInfo(inputPath).canonicalFilePath();
    if (mSeenInputs.contains(canonicalInput))
        return; // named twice, or both by itself and through its folder
    mSeenInputs.insert(canonicalInput);

    const QString cleanOutput = QDir::cleanPath(outputPath);
    mJobs.append({inputPath, cleanOutput, displayName, isVideoOutput(cleanOutput)});
    const auto owner = mOutputOwners.constFind(cleanOutput);
    if (owner != mOutputOwners.constEnd())
        mRefusals.insert(mJobs.size() - 1,
                         QStringLiteral("another input has the same output: %1").arg(owner.value()));
    else
        mOutputOwners.insert(cleanOutput, displayName);
}
