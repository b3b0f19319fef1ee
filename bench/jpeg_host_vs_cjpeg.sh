#!/usr/bin/env bash
# Compressing photos through nerova-compress against running cJpeg directly on the same files.
# Usage: bench/jpeg_host_vs_cjpeg.sh BUILD_DIR PHOTO_DIR [COUNT] [ROUNDS]
# Takes COUNT photos (default 20; the folder's JPEG and PNG files, repeated when it holds fewer) and
# times, side by side over ROUNDS rounds (default 3): one host run over all photos, one host run per
# photo, and cJpeg run directly per photo. Prints the best round of each, the ratios to the direct runs
# and the bytes out against the bytes in at quality 75.
set -euo pipefail

build=${1:?build folder}
photos=${2:?photo folder}
count=${3:-20}
rounds=${4:-3}
host="$build/bin/nerova-compress"
cjpeg="$build/bin/cJpeg"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/host" "$work/direct"

mapfile -t sources < <(find "$photos" -maxdepth 1 -type f \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' \) | sort)
if [ ${#sources[@]} -eq 0 ]; then
    echo "no photos in $photos" >&2
    exit 2
fi
inputs=()
for ((i = 0; i < count; ++i)); do
    src=${sources[$((i % ${#sources[@]}))]}
    name=$(printf 'photo%02d.%s' "$i" "${src##*.}")
    cp "$src" "$work/in/$name"
    inputs+=("$work/in/$name")
done

now() { date +%s.%N; }
best_host=""
best_single=""
best_direct=""
for ((round = 0; round < rounds; ++round)); do
    start=$(now)
    "$host" "${inputs[@]}" -o "$work/host" --to jpg --quality 75 > /dev/null
    host_time=$(echo "$(now) - $start" | bc -l)

    start=$(now)
    for input in "${inputs[@]}"; do
        base=$(basename "${input%.*}")
        "$host" "$input" "$work/host/$base.jpg" --quality 75 > /dev/null
    done
    single_time=$(echo "$(now) - $start" | bc -l)

    start=$(now)
    for input in "${inputs[@]}"; do
        base=$(basename "${input%.*}")
        "$cjpeg" -outfile "$work/direct/$base.jpg" -quality 75 -baseline "$input"
    done
    direct_time=$(echo "$(now) - $start" | bc -l)

    if [ -z "$best_host" ] || (($(echo "$host_time < $best_host" | bc -l))); then best_host=$host_time; fi
    if [ -z "$best_single" ] || (($(echo "$single_time < $best_single" | bc -l))); then best_single=$single_time; fi
    if [ -z "$best_direct" ] || (($(echo "$direct_time < $best_direct" | bc -l))); then best_direct=$direct_time; fi
done

bytes_in=$(cat "${inputs[@]}" | wc -c)
bytes_out=$(cat "$work"/host/*.jpg | wc -c)
printf 'photos: %d (from %d files), rounds: %d\n' "$count" "${#sources[@]}" "$rounds"
printf 'host, one run for all photos: %.3f s\n' "$best_host"
printf 'host, one run per photo:      %.3f s\n' "$best_single"
printf 'cJpeg directly, per photo:    %.3f s\n' "$best_direct"
printf 'ratio host (one run)/direct:  %.3f (goal <= 1.10)\n' "$(echo "$best_host / $best_direct" | bc -l)"
printf 'ratio host (per photo)/direct: %.3f\n' "$(echo "$best_single / $best_direct" | bc -l)"
printf 'bytes in: %d, bytes out: %d, out/in: %.3f\n' "$bytes_in" "$bytes_out" "$(echo "$bytes_out / $bytes_in" | bc -l)"
