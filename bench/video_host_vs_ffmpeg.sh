#!/usr/bin/env bash
# A video encode through nerova-compress against the very same ffmpeg command run directly with
# ffmpeg's default threads.
# Usage: bench/video_host_vs_ffmpeg.sh BUILD_DIR [SIZE] [SECONDS] [PRESET] [ROUNDS]
# Generates a SIZE (default 1920x1080), SECONDS (default 30) long source, encodes it through the host
# (which prints the ffmpeg command it runs), then runs that command directly; ROUNDS (default 3) more
# rounds alternate the order (direct first, then host), so that neither side always runs on a warmer
# machine. Prints the best wall time of each side, their ratio (goal <= 1.03) and the host's own
# processor time as a share of ffmpeg's (goal <= 1%), default preset medium (the host's own).
set -euo pipefail

build=${1:?build folder}
size=${2:-1920x1080}
seconds=${3:-30}
preset=${4:-medium}
rounds=${5:-3}
host="$build/bin/nerova-compress"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=$size:rate=30:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:duration=$seconds" -c:v libx264 -preset ultrafast -crf 18 -c:a aac \
    "$work/source.mp4"

now() { date +%s.%N; }

run_host() {
    local start
    start=$(now)
    "$host" "$work/source.mp4" "$work/host.mp4" --preset "$preset" --quality 23 --verbose --stats --overwrite \
        > "$work/host.out" 2> "$work/host.err"
    echo "$(now) - $start" | bc -l
}
best() { if [ -z "$1" ] || (($(echo "$2 < $1" | bc -l))); then echo "$2"; else echo "$1"; fi; }

host_wall=$(run_host)
host_cpu=$(sed -n 's/^cpu: host \([0-9.]*\) s, tools \([0-9.]*\) s$/\1/p' "$work/host.err")
host_tools_cpu=$(sed -n 's/^cpu: host \([0-9.]*\) s, tools \([0-9.]*\) s$/\2/p' "$work/host.err")

command=$(grep -m1 -- ' -progress ' "$work/host.err")
mapfile -t args < <(python3 -c 'import shlex, sys; print("\n".join(shlex.split(sys.argv[1])))' "$command")
# ffmpeg run directly keeps its own choice of threads: the host's "-threads" pair is left out.
direct_args=()
for ((i = 0; i < ${#args[@]}; ++i)); do
    case ${args[$i]} in
    -threads) ((++i)) ;;
    "$work/host.mp4") direct_args+=("$work/direct.mp4") ;;
    */progress_*.txt) direct_args+=("$work/direct-progress.txt") ;;
    *) direct_args+=("${args[$i]}") ;;
    esac
done
args=("${direct_args[@]}")

run_direct() {
    local start
    start=$(now)
    /usr/bin/time -f "%U %S" -o "$work/direct.time" "${args[@]}" < /dev/null > /dev/null 2>&1
    echo "$(now) - $start" | bc -l
}
direct_wall=$(run_direct)
direct_cpu=$(awk '{print $1 + $2}' "$work/direct.time")
for ((round = 1; round < rounds; ++round)); do
    direct_wall=$(best "$direct_wall" "$(run_direct)")
    host_wall=$(best "$host_wall" "$(run_host)")
done

printf 'source: %s, %s s, preset %s, best of %d rounds\n' "$size" "$seconds" "$preset" "$rounds"
printf 'through the host: %.2f s wall; host %.3f s cpu, ffmpeg %.2f s cpu\n' "$host_wall" "$host_cpu" "$host_tools_cpu"
printf 'ffmpeg directly:  %.2f s wall; ffmpeg %.2f s cpu\n' "$direct_wall" "$direct_cpu"
printf 'wall-time ratio host/direct: %.3f (goal <= 1.03)\n' "$(echo "$host_wall / $direct_wall" | bc -l)"
printf 'host cpu as a share of ffmpeg cpu: %.3f%% (goal <= 1%%)\n' "$(echo "100 * $host_cpu / $host_tools_cpu" | bc -l)"
