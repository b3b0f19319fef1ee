#!/usr/bin/env bash
# Installs the build into a private prefix, builds an outside project against the installed CMake
# package, and compresses a picture with the installed host (which must find its plug-in and tools).
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
echo "install check passed"
