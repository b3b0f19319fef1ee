#!/usr/bin/env bash
# What --target-size costs and how close it lands: every photo of the folders goes to JPEG, WebP and PNG
# through the host, once plainly and once with a target of SHARE times the plain result, one file per run.
#
# usage: bench/target_size.sh BUILD_DIR [SHARE] [FOLDER...]
#   SHARE    the target as a share of the plain result (default 0.5)
#   FOLDER   folders of photos (default: the test photos)
# Environment:
#   ROUNDS   runs of each command; the fastest counts (default 2), as the machine may be shared
#
# Per format it prints the median and the largest time ratio target/plain (goal: median <= 4), the median
# and the largest number of encodes, the median result bytes / target and how many files came out over
# the target (each then named, as is the file of the largest ratio). For JPEG it also
# compares cJpeg alone, plain against -targetsize, which leaves out the host's start-up that both share.
set -euo pipefail

build=${1:?usage: target_size.sh BUILD_DIR [SHARE] [FOLDER...]}
share=${2:-0.5}
shift $(($# < 2 ? $# : 2))
repo=$(cd "$(dirname "$0")/.." && pwd)
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=("$repo/tests/data/photos")
rounds=${ROUNDS:-2}
host=$build/bin/nerova-compress
cjpeg=$build/bin/cJpeg
[ -x "$host" ] || { echo "target_size: no $host (build nerova-compress first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Seconds of the fastest of $rounds runs of a command (its exit status ignored: over target is 1).
fastest() {
    local best="" start end took
    for ((r = 0; r < rounds; r++)); do
        start=$(date +%s.%N)
        "$@" >"$work/stdout" 2>/dev/null || true
        end=$(date +%s.%N)
        took=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || (($(echo "$took < $best" | bc -l))); then best=$took; fi
    done
    echo "$best"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

photos=()
for folder in "${folders[@]}"; do
    while IFS= read -r -d '' file; do photos+=("$file"); done \
        < <(find "$folder" -maxdepth 1 -type f \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' \) -print0 | sort -z)
done
echo "${#photos[@]} photos, target = $share x the plain result, fastest of $rounds runs"
printf '%-18s %6s %9s %9s %8s %8s %10s %5s\n' format files "median x" "largest x" encodes "largest" bytes/target over

report() { # name, file of "ratio bytes/target over encodes name" rows
    local name=$1 rows=$2
    printf '%-18s %6s %9.2f %9.2f %8s %8s %10.3f %5s\n' "$name" "$(wc -l <"$rows")" \
        "$(cut -d' ' -f1 "$rows" | median)" "$(cut -d' ' -f1 "$rows" | sort -g | tail -1)" \
        "$(cut -d' ' -f4 "$rows" | median)" "$(cut -d' ' -f4 "$rows" | sort -g | tail -1)" \
        "$(cut -d' ' -f2 "$rows" | median)" "$(awk '$3 == 1' "$rows" | wc -l)"
    awk '$3 == 1 { print "    over the target: " $5 }' "$rows"
    sort -g "$rows" | tail -1 | awk '{ printf "    largest ratio: %s (%s encodes)\n", $5, $4 }'
}

for format in jpg webp png; do
    rows=$work/rows-$format
    : >"$rows"
    for photo in "${photos[@]}"; do
        plainTime=$(fastest "$host" --overwrite "$photo" "$work/plain.$format")
        plainBytes=$(stat -c %s "$work/plain.$format")
        target=$(echo "$plainBytes * $share / 1" | bc)
        targetTime=$(fastest "$host" --overwrite --json --target-size "$target" "$photo" "$work/target.$format")
        bytes=$(stat -c %s "$work/target.$format")
        over=$(grep -q '"targetMet":false' "$work/stdout" && echo 1 || echo 0)
        encodes=$(grep -o '"targetEncodes":[0-9]*' "$work/stdout" | cut -d: -f2)
        echo "$(echo "$targetTime / $plainTime" | bc -l) $(echo "$bytes / $target" | bc -l) $over ${encodes:-0} $(basename "$photo")" >>"$rows"
    done
    report "$format (host)" "$rows"
done

rows=$work/rows-cjpeg
: >"$rows"
for photo in "${photos[@]}"; do
    plainTime=$(fastest "$cjpeg" -outfile "$work/plain.jpg" -quality 75 -baseline "$photo")
    target=$(echo "$(stat -c %s "$work/plain.jpg") * $share / 1" | bc)
    targetTime=$(fastest "$cjpeg" -outfile "$work/target.jpg" -quality 75 -baseline -targetsize "$target" "$photo")
    over=$(grep -q 'fits=0' "$work/stdout" && echo 1 || echo 0)
    encodes=$(grep -o 'encodes=[0-9]*' "$work/stdout" | cut -d= -f2)
    echo "$(echo "$targetTime / $plainTime" | bc -l) $(echo "$(stat -c %s "$work/target.jpg") / $target" | bc -l) $over ${encodes:-0} $(basename "$photo")" >>"$rows"
done
report "jpg (cJpeg alone)" "$rows"
