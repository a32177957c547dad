#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when any is
# missing. Safe to run again; needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3 clang-format
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev ffmpeg
  libtag1-dev
  libjpeg62-turbo-dev libpng-dev libgif-dev libtiff-dev
  libcairo2-dev libpango1.0-dev libfontconfig-dev fonts-dejavu-core fonts-noto-cjk
  libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3-mutagen
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
