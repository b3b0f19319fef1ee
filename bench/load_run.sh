#!/usr/bin/env bash
# A load run of nerova-compress: many small images and a few short videos in one -j 4 job.
# Usage: bench/load_run.sh BUILD_DIR [IMAGES] [VIDEOS]
# IMAGES (default 1000) small generated JPEG, PNG and WebP files and VIDEOS (default 20) 1-second clips go
# through the host with `-j 4 --json`. Checks that every input got a succeeded output, that every video
# and a sample of the images decode at their source's frame size, and samples the host's open file
# descriptors (/proc/PID/fd) and resident memory (VmRSS) while it runs. Prints files per second, the
# peak memory, and descriptors and memory at the start and at the end (goal: flat).
set -euo pipefail

build=${1:?build folder}
images=${2:-1000}
videos=${3:-20}
host="$build/bin/nerova-compress"
[ -x "$host" ] || { echo "no $host" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/tmp"

now() { date +%s.%N; }

echo "generating $images images and $videos videos..."
third=$((images / 3))
ffmpeg -nostdin -v error -f lavfi -i "mandelbrot=size=160x120:rate=25,format=yuvj420p" -frames:v "$third" \
    -q:v 2 "$work/in/photo%05d.jpg"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=160x120:rate=25" -frames:v "$third" \
    "$work/in/pattern%05d.png"
ffmpeg -nostdin -v error -f lavfi -i "cellauto=size=160x120:rate=25:rule=110" -frames:v "$((images - 2 * third))" \
    -c:v libwebp -lossless 1 "$work/in/cells%05d.webp"
for ((i = 0; i < videos; ++i)); do
    ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=160x120:rate=25:duration=1" -pix_fmt yuv420p \
        -c:v libx264 -preset ultrafast -crf 10 "$work/in/clip$(printf '%03d' "$i").mp4"
done
total=$(find "$work/in" -type f | wc -l)

sample() { # pid -> "fds rss_kB anon_kB" (anon: the heap and stacks, without mapped library pages)
    local fds rss anon
    fds=$(ls "/proc/$1/fd" 2> /dev/null | wc -l)
    read -r rss anon < <(awk '/^VmRSS:/ { r = $2 } /^RssAnon:/ { a = $2 } END { print r + 0, a + 0 }' \
        "/proc/$1/status" 2> /dev/null || echo "0 0")
    echo "$fds ${rss:-0} ${anon:-0}"
}

start=$(now)
TMPDIR="$work/tmp" "$host" -j 4 --json --preset ultrafast "$work/in" -o "$work/out" > "$work/run.json" \
    2> "$work/run.err" &
pid=$!
: > "$work/samples"
while kill -0 "$pid" 2> /dev/null; do
    done_files=$(grep -c '"type":"file"' "$work/run.json" 2> /dev/null || true)
    s=$(sample "$pid")
    [ "$(echo "$s" | cut -d' ' -f2)" != 0 ] && echo "$done_files $s" >> "$work/samples"
    sleep 0.05
done
status=0
wait "$pid" || status=$?
end=$(now)

succeeded=$(grep -c '"result":"succeeded"' "$work/run.json" || true)
outputs=$(find "$work/out" -type f | wc -l)
leftovers=$(find "$work/tmp" -mindepth 1 | wc -l)
# Every video, and every 25th image, must decode at its source's size.
size() { ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$1"; }
bad=0 checked=0
for input in $(find "$work/in" -type f -name '*.mp4'; find "$work/in" -type f ! -name '*.mp4' | sort | awk 'NR % 25 == 1'); do
    checked=$((checked + 1))
    [ "$(size "$input")" = "$(size "$work/out/$(basename "$input")")" ] || { bad=$((bad + 1)); echo "bad: $input"; }
done

echo "host exit status $status; $total inputs, $succeeded succeeded, $outputs outputs, $checked decoded ($bad bad), $leftovers temporary entries left"
awk -v total="$total" -v start="$start" -v end="$end" '
    # "start" is the first sample once files finish, after the plug-in has loaded; "launch" is the first.
    { if (n == 0) { fdL = $2; rssL = $3 } if ($1 > 0 && s == 0) { fd0 = $2; rss0 = $3; done0 = $1; s = 1 }
      fd1 = $2; rss1 = $3; done1 = $1; if ($3 > peak) peak = $3; if ($2 > fdPeak) fdPeak = $2; n++ }
    END {
        printf "%.1f files per second (%d files in %.2f s)\n", total / (end - start), total, end - start
        printf "open descriptors: launch %d, start %d (after %d files), end %d (after %d files), peak %d\n", fdL, fd0, done0, fd1, done1, fdPeak
        printf "host VmRSS: launch %d kB, start %d kB, end %d kB, peak %d kB (%d samples)\n", rssL, rss0, rss1, peak, n
    }' "$work/samples"
# The course over the run: a leak grows with every quarter, a one-time start-up cost (the first video
# loads FFmpeg's codecs) shows as one step.
awk -v total="$total" '
    function keep(q) { rss[q] = $3; anon[q] = $4; fd[q] = $2; at[q] = $1 }
    { for (q = 1; q <= 3; q++) if (!(q in rss) && $1 >= total * q / 4) keep(q)
      keep(4) }
    END {
        printf "course:"
        for (q = 1; q <= 4; q++) if (q in rss) printf " after %d files %d kB (anon %d kB) %d fds%s", at[q], rss[q], anon[q], fd[q], q < 4 ? ";" : ""
        printf "\n"
    }' "$work/samples"
[ "$status" = 0 ] && [ "$succeeded" = "$total" ] && [ "$outputs" = "$total" ] && [ "$bad" = 0 ] && [ "$leftovers" = 0 ]
