#!/usr/bin/env bash
# WebM (VP9) against MP4 (H.264) encode time through nerova-compress, same source, same request, one run.
# Usage: bench/webm_vs_mp4.sh BUILD_DIR [SOURCE]
# Without SOURCE a 720p, 10 s clip is generated. Each container is encoded twice, alternately, and the
# faster time of each counts. Prints both wall times and the WebM/MP4 ratio (goal <= 3).
set -euo pipefail

build=${1:?build folder}
host="$build/bin/nerova-compress"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source=${2:-}
if [ -z "$source" ]; then
    source="$work/source.mp4"
    ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=10" \
        -f lavfi -i "sine=frequency=440:duration=10" -c:v libx264 -preset ultrafast -crf 18 -c:a aac "$source"
fi

now() { date +%s.%N; }
best_mp4=0
best_webm=0
for round in 1 2; do
    for suffix in mp4 webm; do
        start=$(now)
        "$host" "$source" "$work/out$round.$suffix" > "$work/host.out"
        seconds=$(echo "$(now) - $start" | bc -l)
        var="best_$suffix"
        if [ "${!var}" = 0 ] || [ "$(echo "$seconds < ${!var}" | bc -l)" = 1 ]; then
            printf -v "$var" '%s' "$seconds"
        fi
    done
done
printf 'source      %s\n' "$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height \
    -of csv=s=x:p=0 "$source") $(basename "$source")"
printf 'mp4 (H.264) %.2f s, %s bytes\n' "$best_mp4" "$(stat -c %s "$work/out1.mp4")"
printf 'webm (VP9)  %.2f s, %s bytes\n' "$best_webm" "$(stat -c %s "$work/out1.webm")"
printf 'ratio       %.2f (goal <= 3)\n' "$(echo "$best_webm / $best_mp4" | bc -l)"
