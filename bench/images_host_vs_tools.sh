#!/usr/bin/env bash
# Still-image compression through nerova-compress against the tools run directly on the same files.
# Usage: bench/images_host_vs_tools.sh BUILD_DIR PHOTO_DIR [COUNT] [ROUNDS] [FORMATS]
# For each format (default "jpg png webp"): COUNT photos (default 20; JPEG and PNG files of the folder
# for jpg and webp, its PNG files for png, repeated when it holds fewer) are compressed, side by side
# over ROUNDS rounds (default 3), by one host run over all photos, by one host run per photo, and by
# the tool run directly per photo (cJpeg -quality 75, pngquant --quality 0-80, ffmpeg libwebp -quality
# 75). Prints the best round of each, the time ratios to the direct runs, and bytes out against bytes in.
set -euo pipefail

build=${1:?build folder}
photos=${2:?photo folder}
count=${3:-20}
rounds=${4:-3}
formats=${5:-jpg png webp}
host="$build/bin/nerova-compress"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
min() { if [ -z "$1" ] || (($(echo "$2 < $1" | bc -l))); then echo "$2"; else echo "$1"; fi; }

direct() { # format input output
    case $1 in
    jpg) "$build/bin/cJpeg" -outfile "$3" -quality 75 -baseline "$2" ;;
    png) "$build/bin/pngquant" --quality 0-80 --force "$2" -o "$3" ;;
    webp) "$build/bin/ffmpeg" -nostdin -v error -i "$2" -y -c:v libwebp -quality 75 "$3" ;;
    esac
}

bench() { # format
    local format=$1 pattern=(-iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png')
    [ "$format" = png ] && pattern=(-iname '*.png')
    local dir="$work/$format"
    mkdir -p "$dir/in" "$dir/host" "$dir/single" "$dir/direct"
    mapfile -t sources < <(find "$photos" -maxdepth 1 -type f \( "${pattern[@]}" \) | sort)
    if [ ${#sources[@]} -eq 0 ]; then
        echo "$format: no photos in $photos"
        return
    fi
    local inputs=() i src
    for ((i = 0; i < count; ++i)); do
        src=${sources[$((i % ${#sources[@]}))]}
        inputs+=("$dir/in/$(printf 'photo%02d.%s' "$i" "${src##*.}")")
        cp "$src" "${inputs[-1]}"
    done

    local best_host="" best_single="" best_direct="" start input base
    for ((round = 0; round < rounds; ++round)); do
        rm -f "$dir"/host/* "$dir"/single/* "$dir"/direct/*
        start=$(now)
        "$host" "${inputs[@]}" -o "$dir/host" --to "$format" -j 1 --overwrite > /dev/null
        best_host=$(min "$best_host" "$(echo "$(now) - $start" | bc -l)")

        start=$(now)
        for input in "${inputs[@]}"; do
            base=$(basename "${input%.*}")
            "$host" "$input" "$dir/single/$base.$format" > /dev/null
        done
        best_single=$(min "$best_single" "$(echo "$(now) - $start" | bc -l)")

        start=$(now)
        for input in "${inputs[@]}"; do
            base=$(basename "${input%.*}")
            direct "$format" "$input" "$dir/direct/$base.$format" || true
        done
        best_direct=$(min "$best_direct" "$(echo "$(now) - $start" | bc -l)")
    done

    local bytes_in bytes_out
    bytes_in=$(cat "${inputs[@]}" | wc -c)
    bytes_out=$(cat "$dir"/host/* | wc -c)
    printf '%s: %d photos from %d files, best of %d rounds\n' "$format" "$count" "${#sources[@]}" "$rounds"
    printf '  host, one run for all:  %7.3f s   ratio to direct %.3f (goal <= 1.10)\n' "$best_host" \
        "$(echo "$best_host / $best_direct" | bc -l)"
    printf '  host, one run per file: %7.3f s   ratio to direct %.3f\n' "$best_single" \
        "$(echo "$best_single / $best_direct" | bc -l)"
    printf '  tool directly per file: %7.3f s\n' "$best_direct"
    printf '  bytes in %d, out %d, out/in %.3f\n' "$bytes_in" "$bytes_out" "$(echo "$bytes_out / $bytes_in" | bc -l)"
}

for format in $formats; do
    bench "$format"
done
