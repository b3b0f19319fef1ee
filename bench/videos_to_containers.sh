#!/usr/bin/env bash
# Every video file of a folder through nerova-compress to every video container the plug-in writes.
# Usage: bench/videos_to_containers.sh BUILD_DIR FOLDER [CONTAINER...] (default: every video container)
# A run is "wrong" when the host reports success but ffprobe finds no video where the source had some
# (cover pictures aside), a different number of audio tracks (FLV keeps one) or a length off by more than
# max(0.5 s, 2 %). "larger" counts successful results bigger than their source, "same" those of them in
# the source's own container (goal 0: the host delivers the source's bytes there), "kept" the runs that
# did deliver the source. Prints one row per container.
set -euo pipefail

build=${1:?build folder}
folder=${2:?folder of videos}
shift 2
containers=("$@")
[ ${#containers[@]} -gt 0 ] || containers=(mp4 mov mkv m4v avi flv f4v m2ts webm)
host="$build/bin/nerova-compress"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# video (moving pictures), audio tracks, seconds
probe() {
    local video audio seconds
    # Streams of a transport stream are listed once per program too: each index counts once.
    video=$(ffprobe -v error -select_streams v -show_entries stream=index:stream_disposition=attached_pic \
        -of compact=p=0 "$1" | grep -o '^index=[0-9]*|disposition:attached_pic=0' | sort -u | grep -c . || true)
    audio=$(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 "$1" | sort -u |
        grep -c . || true)
    seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$1")
    echo "$video $audio ${seconds:-0}"
}

# The container by content; WebM apart from the rest of Matroska by its document type.
container() {
    local name
    name=$(ffprobe -v error -show_entries format=format_name -of default=nw=1:nk=1 "$1")
    if [ "$name" = matroska,webm ] && head -c 64 "$1" | grep -aq webm; then name=webm; fi
    echo "$name"
}

printf '%-6s %5s %8s %6s %7s %5s %5s\n' container runs failures wrong larger same kept
for suffix in "${containers[@]}"; do
    runs=0 failures=0 wrong=0 larger=0 same=0 kept=0
    for source in "$folder"/*; do
        case $source in *.md | *SUMS) continue ;; esac
        runs=$((runs + 1))
        out="$work/out.$suffix"
        rm -f "$out"
        if ! "$host" --json "$source" "$out" > "$work/line.json" 2> "$work/err.txt"; then
            failures=$((failures + 1))
            echo "  failed: $(basename "$source") to $suffix: $(head -c 300 "$work/line.json")" >&2
            continue
        fi
        read -r sv sa ss <<< "$(probe "$source")"
        read -r ov oa os <<< "$(probe "$out")"
        [ "$suffix" = flv ] && [ "$sa" -gt 1 ] && sa=1
        [ "$sv" -gt 1 ] && sv=1
        tolerance=$(echo "t = $ss * 0.02; if (t < 0.5) t = 0.5; t" | bc -l)
        if [ "$ov" != "$sv" ] || [ "$oa" != "$sa" ] ||
            [ "$(echo "d = $os - $ss; if (d < 0) d = -d; d > $tolerance" | bc -l)" = 1 ]; then
            wrong=$((wrong + 1))
            echo "  wrong: $(basename "$source") to $suffix: video $ov/$sv audio $oa/$sa seconds $os/$ss" >&2
        fi
        if grep -q '"sourceKept":true' "$work/line.json"; then kept=$((kept + 1)); fi
        if [ "$(stat -c %s "$out")" -gt "$(stat -c %s "$source")" ]; then
            larger=$((larger + 1))
            if [ "$(container "$out")" = "$(container "$source")" ]; then same=$((same + 1)); fi
            echo "  larger: $(basename "$source") to $suffix" >&2
        fi
    done
    printf '%-6s %5d %8d %6d %7d %5d %5d\n' "$suffix" "$runs" "$failures" "$wrong" "$larger" "$same" "$kept"
done
