#!/usr/bin/env python3
"""Applies a fixed list of small faults to the risky code, one at a time, rebuilds, runs the tests that
guard that code and reports which faults the suite caught. A fault the suite misses is a hole in the
tests (or a fault that cannot show, which the list should then lose).

    scripts/mutants.py [--dir DIR] [--only NAME,...] [--all-tests] [--list]

The tracked files are copied into DIR/src (default build-mutants) and built in DIR/build, so the working
tree is never touched and later runs rebuild only what changed. Each fault runs its area's test programs
(--all-tests: the whole suite) and stops at the first failure. Results go to DIR/results.tsv.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

TASKS = "tst_tasklifecycle|tst_imagecompressors|tst_faultmatrix"
VIDEO = "tst_videocompressor|tst_faultmatrix"
DEMUX = "tst_ffdemuxer|tst_vob|tst_streaminfo|tst_faultmatrix"
CRYPTO = "tst_aescodec|tst_stringtokens"
HOST = "tst_host"
CJPEG = "tst_cjpeg|tst_cimage|tst_imagecompressors|tst_faultmatrix"
METADATA = "tst_cjpeg|tst_cimage|fuzz_replay_metadata"

# (name, file, text to find (exactly once), replacement, tests)
MUTANTS = [
    # One run at a time, one finish, the status a slot sees.
    ("second-start-allowed", "compressor/ToolRunTask.cpp",
     "    if (mRunActive)\n        return false; // one run at a time",
     "    if (false)\n        return false; // one run at a time", TASKS),
    ("status-before-signal", "compressor/ToolRunTask.cpp",
     "    emit compressFinished(outcome.code, outcome.text);\n    // Stored after",
     "    setStatus(outcome.code == FinishCode::Success ? StatusSucceeded : StatusFailed);\n"
     "    emit compressFinished(outcome.code, outcome.text);\n    // Stored after", TASKS),
    ("failure-status-succeeded", "compressor/ToolRunTask.cpp",
     "setStatus(outcome.code == FinishCode::Success ? StatusSucceeded : StatusFailed);",
     "setStatus(StatusSucceeded);", TASKS),
    ("crash-delivers", "compressor/ToolRunTask.cpp",
     "if (mAborting || exitStatus == QProcess::CrashExit) {", "if (mAborting) {", TASKS),
    ("abort-reported-as-crash", "compressor/ToolRunTask.cpp",
     "    return {FinishCode::Aborted, FinishCode::abortedText()};",
     "    return {FinishCode::ToolCrashed, FinishCode::toolCrashedText()};", TASKS),
    ("failed-start-not-reported", "compressor/ToolRunTask.cpp",
     "        endRun({FinishCode::ToolFailedToStart, FinishCode::toolFailedToStartText()});",
     "        mRunActive = false;", TASKS),
    # Argument safety.
    ("dash-value-accepted", "compressor/ToolRunTask.cpp",
     "if (value.startsWith(QLatin1Char('-')))", "if (value.startsWith(QLatin1Char('+')))", TASKS),
    ("blank-value-accepted", "compressor/ToolRunTask.cpp",
     "[](QChar c) { return c.isSpace() || c == QLatin1Char('\"'); }",
     "[](QChar c) { return c == QLatin1Char('\"'); }", TASKS),
    ("path-split-on-blanks", "compressor/ToolCommand.cpp",
     "mElements.append({QStringList{path}, ", "mElements.append({path.split(QLatin1Char(' ')), ", TASKS),
    # Delivery and set-aside rules.
    ("larger-result-delivered", "compressor/WorkingCopyCompressTask.cpp",
     "const bool larger = exitCode == 0 && sourceSize < resultSize;", "const bool larger = false;", TASKS),
    ("failed-tool-result-delivered", "compressor/WorkingCopyCompressTask.cpp",
     "    if (exitCode != 0)\n        return {exitCode, QString()};",
     "    if (false)\n        return {exitCode, QString()};", TASKS),
    ("empty-result-delivered", "compressor/WorkingCopyCompressTask.cpp",
     "if (resultSize == 0)", "if (resultSize < 0)", TASKS),
    ("other-format-stands-in", "compressor/WorkingCopyCompressTask.cpp",
     "return output != ImageFormat::Unknown && sniffImageFormat(mTempInputPath) == output;",
     "return output != ImageFormat::Unknown;", TASKS),
    ("discard-without-owning", "compressor/DirectOutputCompressTask.cpp",
     "    if (!mOwnsOutput)\n        return;\n    mOwnsOutput = false;",
     "    mOwnsOutput = false;", TASKS),
    ("earlier-output-not-restored", "compressor/OutputSetAside.cpp",
     "    if (!QFile::rename(mAsidePath, mPath))", "    if (true)", TASKS),
    ("aside-file-left-behind", "compressor/OutputSetAside.cpp",
     "    if (!mAsidePath.isEmpty())\n        QFile::remove(mAsidePath);", "", TASKS),
    ("link-output-replaced", "compressor/OutputFile.cpp",
     "if (targetExists && !S_ISREG(targetInfo.st_mode))", "if (false)", TASKS + "|" + HOST),
    ("permissions-lost", "compressor/OutputFile.cpp",
     "        ::chmod(finished.constData(), targetInfo.st_mode & 07777);", "", TASKS + "|" + HOST),
    # Same-file refusal.
    ("same-file-never-seen", "compressor/OutputFile.cpp",
     "return a.st_dev == b.st_dev && a.st_ino == b.st_ino;", "return false;", TASKS + "|" + VIDEO),
    ("same-file-not-refused", "compressor/DirectOutputCompressTask.cpp",
     "if (OutputFile::isSameFile(mInputPath, mOutputPath)) {", "if (false) {", TASKS + "|" + VIDEO),
    # Video results.
    ("video-length-unchecked", "compressor/VideoResultCheck.cpp",
     "return std::max<qint64>(500, durationMs / 50);", "return std::max<qint64>(500, durationMs * 50);", VIDEO),
    ("video-larger-kept-across-containers", "compressor/VideoCompressor.cpp",
     "containerOf(outputFormat, mOutputPath) != mSourceFormat ||", "false ||", VIDEO),
    ("video-duration-from-cover", "compressor/SourceDuration.cpp",
     "video.at(0)->durationMs > 0 && !video.at(0)->isAttachedPic", "video.at(0)->durationMs > 0", VIDEO),
    # Timestamp and duration maths.
    ("add-saturates-wrong-way", "NerovaDec/TimestampMath.h",
     "return b > 0 ? std::numeric_limits<qint64>::max()", "return b < 0 ? std::numeric_limits<qint64>::max()",
     DEMUX),
    ("sub-saturates-wrong-way", "NerovaDec/TimestampMath.h",
     "return b < 0 ? std::numeric_limits<qint64>::max()", "return b > 0 ? std::numeric_limits<qint64>::max()",
     DEMUX),
    ("mul-sign-wrong", "NerovaDec/TimestampMath.h",
     "return (a < 0) != (b < 0) ?", "return (a < 0) == (b < 0) ?", DEMUX),
    ("wrap32-clamps", "NerovaDec/TimestampMath.h",
     "return static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(value)));",
     "return static_cast<qint32>(value > 2147483647 ? 2147483647 : value);", DEMUX),
    # A description of the file now open, not of the last one.
    ("cover-verdict-kept-across-opens", "NerovaDec/FFDemuxer.cpp",
     "        return false;\n    mCoverVerdict.store(-1);", "        return false;", DEMUX),
    # VOB re-timing.
    ("vob-pts-not-moved", "NerovaDec/FFVobDemuxer.cpp",
     "packet->pts = TimestampMath::add(TimestampMath::sub(packet->pts, chapter.firstPts), chapter.headPts);",
     "packet->pts = TimestampMath::sub(packet->pts, chapter.firstPts);", DEMUX),
    ("vob-dts-not-moved", "NerovaDec/FFVobDemuxer.cpp",
     "packet->dts = TimestampMath::add(TimestampMath::sub(packet->dts, chapter.firstDts), chapter.headDts);",
     "packet->dts = TimestampMath::sub(packet->dts, chapter.firstDts);", DEMUX),
    ("vob-missing-pts-moved", "NerovaDec/FFVobDemuxer.cpp",
     "    if (packet->pts != AV_NOPTS_VALUE)\n        packet->pts =", "    if (true)\n        packet->pts =", DEMUX),
    ("vob-audio-pts-left-missing", "NerovaDec/FFVobDemuxer.cpp",
     "if (chapter.mediaType == AVMEDIA_TYPE_AUDIO && mVobEntry->audioPtsMissing && hasDts)", "if (false)", DEMUX),
    ("vob-seek-first-chapter", "NerovaDec/FFVobDemuxer.cpp",
     "if (acc <= ms && TimestampMath::add(acc, length) >= ms) {", "if (acc <= ms) {", DEMUX),
    ("vob-dts-step-back-ignored", "NerovaDec/FFVobDemuxer.cpp",
     "if (hasDts && place->hasDts && packet->dts < place->lastDts) {", "if (false) {", DEMUX),
    # AES modes and padding.
    ("iso-marker-wrong", "base/AESCodec.cpp", "rawText.at(marker)) == 0x80)", "rawText.at(marker)) == 0x81)", CRYPTO),
    ("pkcs7-removes-one-short", "base/AESCodec.cpp",
     "return rawText.left(rawText.size() - count);", "return rawText.left(rawText.size() - count + 1);", CRYPTO),
    ("zero-padding-keeps-one", "base/AESCodec.cpp",
     "while (end > 0 && rawText.at(end - 1) == '\\0')", "while (end > 1 && rawText.at(end - 1) == '\\0')", CRYPTO),
    ("pkcs7-no-full-block", "base/AESCodec.cpp",
     "const int count = size == 0 ? alignment : size;", "const int count = size;", CRYPTO),
    ("iso-pad-without-marker", "base/AESCodec.cpp",
     "return QByteArray(1, char(0x80)) + QByteArray(size - 1, '\\0');", "return QByteArray(size, '\\0');", CRYPTO),
    ("cbc-short-block-decoded", "base/AESCodec.cpp",
     "if ((mMode == ECB || mMode == CBC) && rawText.size() % mBlockLen != 0)",
     "if (mMode == ECB && rawText.size() % mBlockLen != 0)", CRYPTO),
    ("ofb-decoded-as-cfb", "base/AESCodec.cpp",
     "    case OFB:\n        cipher.cryptOfb(in, target, size, chain);",
     "    case OFB:\n        cipher.decryptCfb(in, target, size, chain);", CRYPTO),
    ("gf-multiply-wrong", "base/AesBlockCipher.cpp", "((a & 0x80) ? 0x1b : 0x00)", "((a & 0x80) ? 0x1d : 0x00)",
     CRYPTO),
    ("short-key-accepted", "base/AESCodec.cpp",
     "    if (key.size() < mKeyLen)\n        return {};\n    QByteArray expanded",
     "    if (key.size() < 16)\n        return {};\n    QByteArray expanded", CRYPTO),
    # Token decoding.
    ("token-padding-bytes-unchecked", "base/StringEncryption.cpp",
     "        if (static_cast<unsigned char>(plain.at(i)) != count)\n            return false;", "", CRYPTO),
    ("token-utf8-unchecked", "base/StringEncryption.cpp",
     "    if (!isValidUtf8(plain))\n        return {};", "", CRYPTO),
    ("token-not-cut-at-nul", "base/StringEncryption.cpp", "    if (end >= 0)\n        plain.truncate(end);", "",
     CRYPTO),
    ("checksum-future-stamp-accepted", "base/ExportChecksum.cpp",
     "if (QDateTime::currentDateTime().secsTo(stamp) > kMaxSecondsAhead)", "if (false)", CRYPTO),
    # The host's exit statuses and interrupt handling.
    ("failed-file-exit-zero", "host/main.cpp",
     "else if (summary.failed() > 0 ||", "else if (false ||", HOST),
    ("interrupt-exit-not-130", "host/main.cpp",
     "        if (interrupted)\n            status = ExitInterrupted;",
     "        if (false)\n            status = ExitInterrupted;", HOST),
    ("usage-error-exit-1", "host/main.cpp",
     "        err() << \"nerova-compress: \" << errorText << Qt::endl;\n        return ExitUsage;",
     "        err() << \"nerova-compress: \" << errorText << Qt::endl;\n        return ExitFailure;", HOST),
    ("interrupt-does-not-abort", "host/JobScheduler.cpp",
     "    for (Job* job : running)\n        job->abort();", "", HOST),
    ("queued-jobs-start-after-interrupt", "host/JobScheduler.cpp",
     "while (!mCancelled && mRunning.size() < mParallelJobs)", "while (mRunning.size() < mParallelJobs)", HOST),
    ("existing-output-overwritten", "host/Job.cpp",
     "        if (!options.overwrite)\n", "        if (false)\n", HOST),
    ("source-overwritten-without-in-place", "host/Job.cpp",
     "return options.inPlace ? QString() : QStringLiteral(\"the output is the source (use --in-place)\");",
     "return QString();", HOST),
    # cJpeg's refusal of damaged data.
    ("jpeg-cut-short-accepted", "tools/cjpeg/JpegReader.cpp",
     "if (!hasEndOfImage(data_, headerSize))", "if (false)", CJPEG),
    ("zero-size-image-accepted", "tools/cjpeg/Image.cpp",
     "if (width <= 0 || height <= 0)", "if (width < 0 || height < 0)", CJPEG),
    ("pixel-bomb-accepted", "tools/cjpeg/Image.cpp",
     "|| width * height > maxPixels)", ")", CJPEG),
    ("pnm-truncation-unchecked", "tools/cjpeg/PnmReader.cpp",
     "if (bytesRemaining(file_.get()) < static_cast<std::uint64_t>(raw_.size()) * info_.height)", "if (false)",
     CJPEG),
    ("partial-jpeg-kept", "tools/cjpeg/OutputFile.cpp",
     "    file_.reset();\n    unlink(tempPath_.c_str());\n}",
     "    file_.reset();\n    std::rename(tempPath_.c_str(), path_.c_str());\n}", CJPEG),
    # A location property formed by a removal stays in the XMP.
    ("xmp-location-stripped-once", "tools/cjpeg/MetadataPolicy.cpp",
     "constexpr int kMaxPasses = 64;", "constexpr int kMaxPasses = 1;", METADATA),
]


def run(command, **kwargs):
    return subprocess.run(command, **kwargs).returncode


def sync_sources(repo, src):
    """Copies the tracked files, rewriting only those that differ so that a rebuild stays incremental."""
    files = subprocess.run(["git", "ls-files", "-z"], cwd=repo, check=True, capture_output=True).stdout
    for name in files.decode().split("\0"):
        if not name:
            continue
        origin = os.path.join(repo, name)
        if not os.path.isfile(origin):
            continue
        copy = os.path.join(src, name)
        with open(origin, "rb") as f:
            data = f.read()
        if os.path.isfile(copy) and not os.path.islink(copy):
            with open(copy, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        # A fresh time stamp: the copy must look newer than objects built from a faulty version.
        shutil.copyfile(origin, copy)


def build(build_dir, jobs, quiet=True):
    output = subprocess.DEVNULL if quiet else None
    return run(["cmake", "--build", build_dir, "-j", str(jobs)], stdout=output, stderr=output) == 0


def run_tests(build_dir, regex, jobs):
    command = ["ctest", "--test-dir", build_dir, "-j", str(jobs), "--stop-on-failure", "--timeout", "300",
               "-E", "install_package"]
    if regex:
        command += ["-R", regex]
    return run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dir", default="build-mutants")
    parser.add_argument("--only", default="")
    parser.add_argument("--all-tests", action="store_true")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    args = parser.parse_args()

    names = [m[0] for m in MUTANTS]
    if len(set(names)) != len(names):
        sys.exit("mutant names must be unique")
    if args.list:
        for name, path, _, _, tests in MUTANTS:
            print(f"{name:40} {path:45} {tests}")
        return 0
    chosen = [m for m in MUTANTS if not args.only or m[0] in args.only.split(",")]

    repo = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
    root = os.path.abspath(os.path.join(repo, args.dir) if not os.path.isabs(args.dir) else args.dir)
    src, build_dir = os.path.join(root, "src"), os.path.join(root, "build")
    os.makedirs(src, exist_ok=True)
    sync_sources(repo, src)
    # An interrupted run may have left objects built from a fault behind: the files that take faults are
    # compiled again.
    for path in sorted({m[1] for m in MUTANTS}):
        if os.path.isfile(os.path.join(src, path)):
            os.utime(os.path.join(src, path))
    if not os.path.isfile(os.path.join(build_dir, "CMakeCache.txt")):
        configure = ["cmake", "-S", src, "-B", build_dir, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
        if shutil.which("ccache"):  # a copy built again from scratch in the same folder takes its objects from the cache
            configure += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
        if run(configure, stdout=subprocess.DEVNULL) != 0:
            sys.exit("configure failed")
    if not build(build_dir, args.jobs, quiet=False):
        sys.exit("the unchanged sources do not build")
    every_area = "|".join(sorted({t for m in chosen for t in m[4].split("|")}))
    if not run_tests(build_dir, None if args.all_tests else every_area, args.jobs):
        sys.exit("the unchanged sources fail their tests: fix that first")

    results = []
    for name, path, find, replace, tests in chosen:
        target = os.path.join(src, path)
        with open(target, encoding="utf-8") as f:
            original = f.read()
        started = time.monotonic()
        if original.count(find) != 1:
            verdict = "stale"  # the code moved on: the fault needs rewriting
        else:
            with open(target, "w", encoding="utf-8") as f:
                f.write(original.replace(find, replace))
            try:
                if not build(build_dir, args.jobs):
                    verdict = "no-build"
                elif run_tests(build_dir, None if args.all_tests else tests, args.jobs):
                    verdict = "MISSED"
                else:
                    verdict = "caught"
            finally:
                with open(target, "w", encoding="utf-8") as f:
                    f.write(original)
        seconds = time.monotonic() - started
        results.append((name, verdict))
        print(f"{verdict:8} {name:40} {path} ({seconds:.0f} s)", flush=True)
    build(build_dir, args.jobs)

    with open(os.path.join(root, "results.tsv"), "w", encoding="utf-8") as f:
        for name, verdict in results:
            f.write(f"{name}\t{verdict}\n")
    caught = sum(1 for _, v in results if v == "caught")
    print(f"caught {caught} of {len(results)}")
    missed = [n for n, v in results if v != "caught"]
    if missed:
        print("not caught: " + ", ".join(missed))
    return 0 if not missed else 1


if __name__ == "__main__":
    sys.exit(main())
