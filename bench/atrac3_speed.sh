#!/usr/bin/env bash
# Encoder speed of the engine's ATRAC3 encoder at LP2, 105k and LP4, beside
# FFmpeg's own AAC encoder (`ffmpeg -i x.wav -c:a aac`) on the same file in
# the same run, as times real time on one core (user + system CPU seconds of
# the process, so other load on the machine does not count) and as ratios.
#
# Usage: bench/atrac3_speed.sh [build/default/bin] [seconds, default 60] [--long]
#   --long adds a 61-minute file (encode, decode with FFmpeg, check that every
#   frame decodes and the length is the source plus the delay).
set -euo pipefail
bin=${1:-build/default/bin}
seconds=${2:-60}
long=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 44.1 kHz stereo: a sine plus independent pink noise per channel.
make_wav() {
  ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=1000:sample_rate=44100:duration=$2" \
    -f lavfi -i "anoisesrc=color=pink:sample_rate=44100:amplitude=0.2:duration=$2:seed=1" \
    -f lavfi -i "anoisesrc=color=pink:sample_rate=44100:amplitude=0.2:duration=$2:seed=2" \
    -filter_complex "[0][1]amix=inputs=2:normalize=0[l];[0][2]amix=inputs=2:normalize=0[r];[l][r]join=inputs=2:channel_layout=stereo" \
    -c:a pcm_s16le "$1"
}
make_wav "$work/x.wav" "$seconds"

cpu_of() {  # prints the user+system CPU seconds of the command
  /usr/bin/time -f "%U %S" -o "$work/t" "$@" >/dev/null 2>&1
  awk '{ printf "%.3f", $1 + $2 }' "$work/t"
}

best_of() {  # best of three runs
  local best=""
  for _ in 1 2 3; do
    local t
    t=$(cpu_of "$@")
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$best"
}

aac=$(best_of ffmpeg -nostdin -v error -y -threads 1 -i "$work/x.wav" -c:a aac -b:a 128k "$work/x.m4a")
# ffmpeg's own start-up and WAV reading, to report the encoder alone as well.
null=$(best_of ffmpeg -nostdin -v error -y -threads 1 -i "$work/x.wav" -f null -)
printf "%-22s %10s %12s %16s\n" "encoder" "cpu s" "x real time" "ratio to AAC"
printf "%-22s %10s %12.1f %16s\n" "ffmpeg aac 128k" "$aac" "$(awk -v s="$seconds" -v t="$aac" 'BEGIN{print s/t}')" "1.00"
for mode in lp2 105 lp4; do
  t=$(best_of "$bin/atrac3_encode" --mode "$mode" "$work/x.wav" "$work/x.at3")
  printf "%-22s %10s %12.1f %16.2f\n" "atrac3 $mode" "$t" \
    "$(awk -v s="$seconds" -v t="$t" 'BEGIN{print s/t}')" "$(awk -v a="$aac" -v t="$t" 'BEGIN{print a/t}')"
done
echo "(ffmpeg reading and discarding the same WAV: $null s cpu)"

if [ "$long" = "--long" ]; then
  make_wav "$work/long.wav" 3660
  for mode in lp2 lp4; do
    t=$(cpu_of "$bin/atrac3_encode" --mode "$mode" "$work/long.wav" "$work/long.at3")
    decoded=$(ffmpeg -nostdin -v warning -guess_layout_max 0 -i "$work/long.at3" -f s16le - 2>"$work/err" | wc -c)
    frames=$(( (3660 * 44100 + 1162 + 1023) / 1024 ))
    echo "61 min $mode: ${t}s cpu; decoded bytes $decoded (expected $(( frames * 4096 ))); ffmpeg messages: $(wc -l <"$work/err")"
  done
fi
