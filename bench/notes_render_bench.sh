#!/usr/bin/env bash
# Rendering text into JPEG pictures: Quillet --Create drawing a 640 x 640
# jacket and a 40-line lyrics picture, beside ImageMagick's `convert` drawing
# the same text into a JPEG of the same size, each as one process run per
# picture. Prints the mean time per picture and the ratio to convert.
#
#   bench/notes_render_bench.sh [BUILD_BIN_DIR] [RUNS]
#
# Installs imagemagick (as root, through apt-get) when `convert` is missing.
set -euo pipefail

bin="${1:-$(dirname "$0")/../build/default/bin}"
runs="${2:-20}"
quillet="$bin/Quillet"
[ -x "$quillet" ] || { echo "no Quillet in $bin (build it first)" >&2; exit 1; }

if ! convert -version 2>/dev/null | grep -q ImageMagick; then
  echo "bench: installing imagemagick" >&2
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends imagemagick >/dev/null
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for i in $(seq 1 40); do
  printf 'Line %02d of the lyrics, words that run on for a while\r\n' "$i"
done >"$work/lyrics.txt"
font="$(fc-match -f '%{file}' 'sans-serif:lang=ja')"

# Mean seconds per run of the command given as arguments.
mean() {
  local start end
  start=$(date +%s.%N)
  for _ in $(seq 1 "$runs"); do "$@" >/dev/null 2>&1; done
  end=$(date +%s.%N)
  echo "($end - $start) / $runs" | bc -l
}

# The lyrics picture's size, so convert draws into the same canvas.
"$quillet" --Create --Text "$work/lyrics.txt" --TextJpeg "$work/lyrics.jpg" --ForceWrite >/dev/null
size="$(ffprobe -v error -show_entries stream=width,height -of csv=p=0:s=x "$work/lyrics.jpg")"

q_start=$(mean "$quillet" --Create)
q_jacket=$(mean "$quillet" --Create --JacketJpeg "$work/jacket.jpg" --Artist "Some Artist" \
  --Title "A Song Title" --ForceWrite)
c_jacket=$(mean convert -size 640x640 xc:white -font "$font" -fill black -gravity center \
  -pointsize 60 -annotate +0-80 "Some Artist" -pointsize 75 -annotate +0+80 "A Song Title" \
  -quality 75 "$work/im_jacket.jpg")
q_lyrics=$(mean "$quillet" --Create --Text "$work/lyrics.txt" --TextJpeg "$work/lyrics.jpg" --ForceWrite)
c_lyrics=$(mean convert -size "$size" xc:white -font "$font" -fill black -density 96 -pointsize 16 \
  -annotate +16+32 "@$work/lyrics.txt" -quality 75 "$work/im_lyrics.jpg")

printf '\n%-34s %12s %12s %8s\n' "picture (${runs} runs each)" "Quillet" "convert" "ratio"
printf '%-34s %9.1f ms %9.1f ms %7.2fx\n' "jacket 640x640" "$(echo "$q_jacket*1000" | bc -l)" \
  "$(echo "$c_jacket*1000" | bc -l)" "$(echo "$q_jacket/$c_jacket" | bc -l)"
printf '%-34s %9.1f ms %9.1f ms %7.2fx\n' "lyrics 40 lines ($size)" "$(echo "$q_lyrics*1000" | bc -l)" \
  "$(echo "$c_lyrics*1000" | bc -l)" "$(echo "$q_lyrics/$c_lyrics" | bc -l)"
printf '%-34s %9.1f ms\n' "Quillet start-up alone (--Create)" "$(echo "$q_start*1000" | bc -l)"
echo "ratio = Quillet time / convert time (process start to exit, same picture size)"
