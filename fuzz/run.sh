#!/usr/bin/env bash
# Runs one fuzz target for a bounded time at the lowest priority, in one job, and prints its figures.
#   fuzz/run.sh TARGET SECONDS [BUILD_DIR [CHECK_DIR]]    TARGET: aes tokens utf8 json demux vob readers metadata
# The growing corpus lives in BUILD_DIR/fuzz-run/corpus/TARGET (started from the generated seeds), crash
# inputs land in BUILD_DIR/fuzz-run/artifacts/TARGET, and libFuzzer's log in BUILD_DIR/fuzz-run/logs/TARGET.log.
# Re-run one crash input:  BUILD_DIR/bin/fuzz_TARGET ARTIFACT
# With CHECK_DIR (a second fuzz build, normally the AddressSanitizer one) every corpus input is replayed
# there once after the run: a fast build without ASan explores, and what it found is still checked for
# memory errors. A failing replay counts as a finding.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 TARGET SECONDS [BUILD_DIR [CHECK_DIR]]" >&2
    exit 2
fi
target=$1
seconds=$2
build=$(cd "${3:-build-fuzz}" && pwd)
check_build=${4:+$(cd "$4" && pwd)}
source_dir=$(cd "$(dirname "$0")" && pwd)
program=$build/bin/fuzz_$target
if [ ! -x "$program" ]; then
    echo "$program is missing: build it with 'make fuzz'" >&2
    exit 2
fi

work=$build/fuzz-run
corpus=$work/corpus/$target
artifacts=$work/artifacts/$target
mkdir -p "$corpus" "$artifacts" "$work/logs"
log=$work/logs/$target.log

options=(-max_total_time="$seconds" -jobs=1 -workers=1 -timeout=30 -rss_limit_mb=3072
    -artifact_prefix="$artifacts/" -print_final_stats=1 -close_fd_mask=2)
if [ "$target" = json ]; then
    options+=(-dict="$source_dir/json.dict")
fi
target_options=()
case $target in
demux | vob) target_options=(-max_len=262144) ;;
# The target caps images at 1,048,576 pixels, which never takes more than about 30 MB; a larger single
# allocation is a reader sizing memory from a header field before checking it, and is reported.
readers) target_options=(-max_len=32768 -malloc_limit_mb=512) ;;
esac
options+=("${target_options[@]}")

export NEROVA_CONFIG_FILE=$work/settings.json
asan_options=detect_leaks=1:allocator_may_return_null=1
if [ "$target" = json ]; then
    # Qt's JSON parser has one known leak; its suppression matches by stack, which needs the slow unwinder.
    asan_options+=:fast_unwind_on_malloc=0
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$source_dir/lsan.supp}
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-$asan_options}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Every target runs in a folder of its own: libFuzzer's job writes fuzz-0.log into the working folder.
jobdir=$work/job-$target
mkdir -p "$jobdir"
cd "$jobdir"
# libFuzzer ends a timed run without running destructors: the targets' private folders go in here and are
# removed below.
export TMPDIR=$jobdir/tmp
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
start=$(date +%s)
# Findings are the crash inputs of this run; older ones stay until they are removed after the fix.
touch started
status=0
nice -n 19 "$program" "${options[@]}" "$corpus" "$build/fuzz/seeds/$target" >"$log" 2>&1 || status=$?
# With -jobs the job's own output goes to fuzz-0.log in the working folder.
if [ -f fuzz-0.log ]; then
    cat fuzz-0.log >>"$log"
    rm -f fuzz-0.log
fi
elapsed=$(($(date +%s) - start))
rm -rf "$TMPDIR"

executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
# Crashes, leaks, time-outs and memory blow-ups are findings; a unit over libFuzzer's 10 s report line is
# kept for a look (at nice 19 on a busy machine that is often the machine), but is not one.
findings=$(find "$artifacts" -type f -newer started ! -name 'slow-unit-*' | wc -l)
slow=$(find "$artifacts" -type f -newer started -name 'slow-unit-*' | wc -l)
replayed=
if [ -n "$check_build" ]; then
    # One process over the whole corpus; its own crash input lands beside the run's.
    replay_log=$work/logs/$target.check.log
    if TMPDIR=$jobdir nice -n 19 "$check_build/bin/fuzz_$target" -runs=0 -rss_limit_mb=3072 -timeout=30 \
        "${target_options[@]}" -artifact_prefix="$artifacts/check-" "$corpus" >"$replay_log" 2>&1; then
        replayed=" checked=$(find "$corpus" -type f | wc -l)"
    else
        findings=$((findings + 1))
        replayed=" checked=failed($replay_log)"
    fi
fi
echo "target=$target seconds=$elapsed executions=${executions:-?} corpus=$(find "$corpus" -type f | wc -l)" \
    "findings=$findings slow_units=$slow$replayed log=$log"
[ "$status" -eq 0 ] && [ "$findings" -eq 0 ]
