#!/usr/bin/env bash
# nerova-compress's parallel jobs, its start-up, and its own memory over a long batch.
# Usage: bench/host_parallel.sh BUILD_DIR [COUNT] [BATCH] [ROUNDS] [PHOTO_DIR]
# 1. For each target (PNG photos to PNG, JPEG photos to JPEG and to WebP): COUNT files (default 24),
#    from PHOTO_DIR or generated, are compressed with -j 2 and with -j 1, ROUNDS times each (default 2,
#    alternating); prints the best times and the speed-up (goal >= 1.7 on two processors), and the
#    machine's ceiling: the speed-up two cJpeg (pngquant) runs side by side get over one after another.
#    Then the start-up of one small file through the host against cJpeg alone, split into its parts.
# 2. A BATCH (default 2000) file run with -j 2 over small JPEGs; the host's resident memory (VmRSS) is
#    sampled from /proc while it runs; prints the first, last and peak sample and the growth per 1000
#    files between the first and the last (goal: flat).
set -euo pipefail

build=${1:?build folder}
count=${2:-24}
batch=${3:-2000}
rounds=${4:-2}
photos=${5:-}
host="$build/bin/nerova-compress"
[ -x "$host" ] || { echo "no $host" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }

# One folder of COUNT photos per target, made from PHOTO_DIR's JPEG and PNG files (repeated as needed)
# or, without one, generated: JPEGs for the JPEG and WebP targets, PNGs for the PNG target.
fill() { # folder pattern...
    local folder=$1
    shift
    mkdir -p "$folder"
    mapfile -t found < <(find "$photos" -maxdepth 1 -type f \( "$@" \) | sort)
    for ((i = 0; i < count && ${#found[@]} > 0; ++i)); do
        local file=${found[$((i % ${#found[@]}))]}
        cp "$file" "$folder/$(printf '%04d' "$i").${file##*.}"
    done
}
if [ -n "$photos" ]; then
    echo "taking $count photos per target from $photos..."
    fill "$work/jpg" -iname '*.jpg' -o -iname '*.jpeg'
    fill "$work/png" -iname '*.png'
else
    echo "generating $count images per target..."
    mkdir -p "$work/jpg" "$work/png"
    ffmpeg -nostdin -v error -f lavfi -i "mandelbrot=size=1280x960:rate=25,format=yuvj420p" -frames:v "$count" \
        -q:v 2 "$work/jpg/photo%04d.jpg"
    ffmpeg -nostdin -v error -f lavfi -i "life=size=320x240:rate=25:mold=10:ratio=0.2:death_color=#c83232:life_color=#40e0d0,scale=1280x960:flags=bicubic,gblur=sigma=2" \
        -frames:v "$count" "$work/png/cells%04d.png"
fi

run_images() { # target jobs -> seconds
    local target=$1 jobs=$2 input=$work/$1 to=()
    [ "$target" = webp ] && input=$work/jpg to=(--to webp)
    local out="$work/out-$target-j$jobs"
    rm -rf "$out"
    local start end
    start=$(now)
    "$host" -j "$jobs" "${to[@]}" "$input" -o "$out" > /dev/null
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

for target in png jpg webp; do
    best1="" best2=""
    for ((round = 0; round < rounds; ++round)); do
        t2=$(run_images "$target" 2)
        t1=$(run_images "$target" 1)
        best2=$(awk -v a="$best2" -v b="$t2" 'BEGIN { print (a == "" || b < a) ? b : a }')
        best1=$(awk -v a="$best1" -v b="$t1" 'BEGIN { print (a == "" || b < a) ? b : a }')
    done
    printf '%-4s %d files: -j 1 %.3f s, -j 2 %.3f s, speed-up %.2fx (goal >= 1.7)\n' "$target" "$count" \
        "$best1" "$best2" "$(awk -v a="$best1" -v b="$best2" 'BEGIN { print a / b }')"
done

# The machine's own ceiling: the same tool run on the same file four times one after another against two
# chains of two side by side. No -j 2 can beat what two independent tool runs get from the processors.
ceiling() { # command... -> sequential/parallel ratio
    local start mid end
    start=$(now)
    for ((k = 0; k < 4; ++k)); do "$@" > /dev/null 2>&1; done
    mid=$(now)
    (for ((k = 0; k < 2; ++k)); do "$@" > /dev/null 2>&1; done) &
    (for ((k = 0; k < 2; ++k)); do "$@" > /dev/null 2>&1; done) &
    wait
    end=$(now)
    awk -v a="$start" -v m="$mid" -v e="$end" 'BEGIN { printf "%.2f", (m - a) / (e - m) }'
}
first_jpg=$(find "$work/jpg" -type f | sort | head -1)
first_png=$(find "$work/png" -type f | sort | head -1)
printf 'machine ceiling, two tool runs side by side against one after another: cJpeg %sx, pngquant %sx\n' \
    "$(ceiling "$build/bin/cJpeg" -outfile "$work/ceiling.jpg" -quality 75 -baseline "$first_jpg")" \
    "$(OMP_NUM_THREADS=1 ceiling "$build/bin/pngquant" --quality 0-80 --force "$first_png" -o "$work/ceiling.png")"

# Start-up: one small file through the host against cJpeg alone on it, and the parts of the host's
# start (Qt alone: --help; with the plug-in and its libraries: an output that already exists).
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48 -frames:v 1 "$work/small.jpg"
cp "$work/small.jpg" "$work/exists.jpg"
best_of() { # command... -> best wall seconds of 10 runs
    local best=""
    for ((k = 0; k < 10; ++k)); do
        local start end
        start=$(now)
        "$@" > /dev/null 2>&1 || true
        end=$(now)
        best=$(awk -v a="$best" -v s="$start" -v e="$end" 'BEGIN { t = e - s; print (a == "" || t < a) ? t : a }')
    done
    echo "$best"
}
t_tool=$(best_of "$build/bin/cJpeg" -outfile "$work/tool.jpg" -quality 75 -baseline "$work/small.jpg")
t_help=$(best_of "$host" --help)
t_plugin=$(best_of "$host" "$work/small.jpg" "$work/exists.jpg")
t_host=$(best_of "$host" --overwrite "$work/small.jpg" "$work/host.jpg")
printf 'start-up, one small JPEG: host %.1f ms, cJpeg alone %.1f ms; of the host: Qt and the program %.1f ms, loading the plug-in with FFmpeg %.1f ms, the task with its tool %.1f ms\n' \
    "$(awk -v t="$t_host" 'BEGIN { print t * 1000 }')" "$(awk -v t="$t_tool" 'BEGIN { print t * 1000 }')" \
    "$(awk -v t="$t_help" 'BEGIN { print t * 1000 }')" \
    "$(awk -v a="$t_plugin" -v b="$t_help" 'BEGIN { print (a - b) * 1000 }')" \
    "$(awk -v a="$t_host" -v b="$t_plugin" 'BEGIN { print (a - b) * 1000 }')"

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
