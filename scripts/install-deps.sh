#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs to build, test and run, skipping those already there.
# With the argument "fuzz" it also installs what the libFuzzer build needs, with "bench" what the
# benchmarks need (libjpeg-turbo's command-line tools and node/npm for bench/jpeg_quality.sh).
set -euo pipefail

packages=(
    build-essential cmake pkg-config binutils openssl
    time bc python3 man-db
    qtbase5-dev qtbase5-dev-tools libqt5remoteobjects5-dev
    libavformat-dev libavcodec-dev libavutil-dev ffmpeg
    pngquant butteraugli libimage-exiftool-perl
    webp libjpeg-turbo-progs
    libjpeg62-turbo-dev libpng-dev libtiff-dev libwebp-dev libgif-dev zlib1g-dev
)

case "${1:-}" in
fuzz) packages+=(clang libclang-rt-14-dev) ;;
bench)
    packages+=(libjpeg-turbo-progs)
    # A node from elsewhere (e.g. NodeSource) carries its own npm, which Debian's npm would conflict with.
    command -v node >/dev/null || packages+=(nodejs)
    command -v npm >/dev/null || packages+=(npm)
    ;;
esac

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
