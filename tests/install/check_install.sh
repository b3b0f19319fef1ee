#!/usr/bin/env bash
# Installs the build into a private prefix, builds an outside project against the installed CMake
# package, compresses a picture with the installed host (which must find its plug-in and tools) and
# checks the installed manual page and bash completion.
set -euo pipefail
build=${1:?build folder}
source=${2:?source folder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" > /dev/null
cmake -S "$source/tests/install/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/consumer" > /dev/null
"$work/consumer/consumer"

ffmpeg -v error -f lavfi -i testsrc2=size=320x240 -frames:v 1 "$work/sample.png"
"$work/prefix/bin/nerova-compress" "$work/sample.png" "$work/sample.jpg"
test -s "$work/sample.jpg"

# The manual page renders without warnings and the bash completion loads and names the program.
page="$work/prefix/share/man/man1/nerova-compress.1"
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 > /dev/null)
if [ -n "$warnings" ]; then
    echo "the manual page has warnings: $warnings" >&2
    exit 1
fi
MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q -- "--target-size"
bash -c "source '$work/prefix/share/bash-completion/completions/nerova-compress' && complete -p nerova-compress" \
    > /dev/null
echo "install check passed"
