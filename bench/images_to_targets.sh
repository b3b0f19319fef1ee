#!/usr/bin/env bash
# Every image of a folder through nerova-compress to JPEG, PNG and WebP, checked as a user would.
# Usage: bench/images_to_targets.sh BUILD_DIR FOLDER
# Per target prints runs, failures (with the tool's reason), wrong-format results (the output's content
# is not the format its name says), metadata losses (the source carried an ICC profile, EXIF or XMP and
# the output does not; metadata is looked for by its markers) and refusals of a source that another
# target read.
set -euo pipefail

build=${1:?build folder}
folder=${2:?image folder}
host="$build/bin/nerova-compress"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mapfile -t sources < <(find "$folder" -maxdepth 1 -type f ! -name '*.md' ! -name 'SHA256SUMS' | sort)
for target in jpg png webp; do
    for source in "${sources[@]}"; do
        name=$(basename "$source")
        "$host" --json "$source" "$work/$target/${name%.*}.$target" 2> /dev/null | head -1 > "$work/$target-$name.json" || true
    done
done

python3 - "$work" "${sources[@]}" <<'PY'
import json, os, sys
work, sources = sys.argv[1], sys.argv[2:]

def kind(data):
    if data.startswith(b"\xff\xd8\xff"): return "jpg"
    if data.startswith(b"\x89PNG\r\n\x1a\n"): return "png"
    if data[:4] == b"RIFF" and data[8:12] == b"WEBP": return "webp"
    return "other"

def metadata(data):
    found = set()
    if b"ICC_PROFILE\x00" in data or b"iCCP" in data or b"ICCP" in data: found.add("icc")
    if b"Exif\x00\x00" in data or b"eXIf" in data or b"EXIF" in data: found.add("exif")
    if b"http://ns.adobe.com/xap/1.0/" in data or b"XML:com.adobe.xmp" in data: found.add("xmp")
    return found

read_somewhere = {}
rows = {}
for target in ("jpg", "png", "webp"):
    runs = failures = wrong = losses = 0
    notes = []
    for source in sources:
        name = os.path.basename(source)
        line = open(os.path.join(work, f"{target}-{name}.json")).read().strip()
        runs += 1
        result = json.loads(line) if line else {"result": "failed", "text": "no answer"}
        if result.get("result") != "succeeded":
            failures += 1
            notes.append(f"{name}: {result.get('code')} {result.get('text')} {result.get('toolMessage', '')}".rstrip())
            continue
        read_somewhere[name] = True
        out = open(result["output"], "rb").read()
        if kind(out) != target:
            wrong += 1
            notes.append(f"{name}: holds {kind(out)}")
        lost = metadata(open(source, "rb").read()) - metadata(out)
        if lost:
            losses += 1
            notes.append(f"{name}: lost {', '.join(sorted(lost))}")
    rows[target] = (runs, failures, wrong, losses, notes)

for target, (runs, failures, wrong, losses, notes) in rows.items():
    refused = [n for n in notes if ": lost" not in n and ": holds" not in n and read_somewhere.get(n.split(":")[0])]
    print(f"{target}: {runs} runs, {failures} failed, {wrong} wrong format, {losses} metadata losses, "
          f"{len(refused)} refusals of a source another target read")
    for note in notes:
        print("   ", note)
PY
