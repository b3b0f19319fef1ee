#!/usr/bin/env bash
# nerova-compress's parallel jobs and its own memory over a long batch.
# Usage: bench/host_parallel.sh BUILD_DIR [COUNT] [BATCH] [ROUNDS]
# 1. COUNT (default 200) generated 640x480 images, half photo-like JPEGs and half PNGs, are compressed
#    with -j 2 and with -j 1, ROUNDS times each (default 2, alternating); prints the best times and the
#    speed-up (goal >= 1.7 on two processors).
# 2. A BATCH (default 2000) file run with -j 2 over small JPEGs; the host's resident memory (VmRSS) is
#    sampled from /proc while it runs; prints the first, last and peak sample and the growth per 1000
#    files between the first and the last (goal: flat).
set -euo pipefail

build=${1:?build folder}
count=${2:-200}
batch=${3:-2000}
rounds=${4:-2}
host="$build/bin/nerova-compress"
[ -x "$host" ] || { echo "no $host" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }

echo "generating $count images..."
mkdir -p "$work/images"
half=$((count / 2))
ffmpeg -nostdin -v error -f lavfi -i "mandelbrot=size=640x480:rate=25,format=yuvj420p" -frames:v "$half" -q:v 2 \
    "$work/images/photo%04d.jpg"
ffmpeg -nostdin -v error -f lavfi -i "life=size=160x120:rate=25:mold=10:ratio=0.2:death_color=#c83232:life_color=#40e0d0,scale=640x480:flags=bicubic,gblur=sigma=2" \
    -frames:v "$((count - half))" "$work/images/cells%04d.png"

run_images() { # jobs -> seconds
    local out="$work/out-j$1"
    rm -rf "$out"
    local start end
    start=$(now)
    "$host" -j "$1" "$work/images" -o "$out" > /dev/null
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

best1="" best2=""
for ((round = 0; round < rounds; ++round)); do
    t2=$(run_images 2)
    t1=$(run_images 1)
    echo "  round $((round + 1)): -j 2 ${t2} s, -j 1 ${t1} s"
    best2=$(awk -v a="$best2" -v b="$t2" 'BEGIN { print (a == "" || b < a) ? b : a }')
    best1=$(awk -v a="$best1" -v b="$t1" 'BEGIN { print (a == "" || b < a) ? b : a }')
done
cmp -s <(cd "$work/out-j1" && cat $(ls)) <(cd "$work/out-j2" && cat $(ls)) && same=yes || same=NO
printf '%d images: -j 1 %.3f s, -j 2 %.3f s, speed-up %.2fx (goal >= 1.7), same bytes: %s\n' \
    "$count" "$best1" "$best2" "$(awk -v a="$best1" -v b="$best2" 'BEGIN { print a / b }')" "$same"

echo "preparing a $batch file batch..."
mkdir -p "$work/batch"
ffmpeg -nostdin -v error -f lavfi -i "mandelbrot=size=160x120:rate=25,format=yuvj420p" -frames:v 50 -q:v 2 \
    "$work/batch/seed%02d.jpg"
for ((i = 0; i < batch; ++i)); do
    cp "$work/batch/seed$(printf '%02d' $((i % 50 + 1))).jpg" "$work/batch/file$(printf '%05d' "$i").jpg"
done
rm "$work/batch"/seed*.jpg

"$host" -j 2 --json "$work/batch" -o "$work/batch-out" > "$work/batch.json" &
pid=$!
: > "$work/rss"
while kill -0 "$pid" 2> /dev/null; do
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2> /dev/null || true)
    done_files=$(grep -c '"type":"file"' "$work/batch.json" 2> /dev/null || true)
    [ -n "$rss" ] && echo "$done_files $rss" >> "$work/rss"
    sleep 0.2
done
wait "$pid" || echo "the batch run exited with $?"
finished=$(grep -c '"result":"succeeded"' "$work/batch.json" || true)
# Samples taken once files are finishing, so start-up (loading the plug-in) is not counted as growth.
awk -v total="$batch" -v finished="$finished" '
    $1 > 0 { if (first == "") { first = $2; firstDone = $1 } last = $2; lastDone = $1; if ($2 > peak) peak = $2; n++ }
    END {
        printf "%d-file batch (%d succeeded), %d samples: host VmRSS first %d kB (after %d files), last %d kB (after %d files), peak %d kB\n", total, finished, n, first, firstDone, last, lastDone, peak
        if (lastDone > firstDone)
            printf "growth: %.1f kB per 1000 files (goal: flat)\n", (last - first) * 1000 / (lastDone - firstDone)
    }' "$work/rss"
