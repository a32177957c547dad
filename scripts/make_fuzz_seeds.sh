#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets, one folder per target:
#   scripts/make_fuzz_seeds.sh BIN_FOLDER OUTPUT_FOLDER
# BIN_FOLDER holds fuzz_make_seeds (the project's own writers: OpenMG files,
# "ea3" tags, EA3 headers, legacy packages, info files, side-tag files,
# registry files, JPEG and PNG); the ffmpeg command adds MP3, MP4, 3GP and WAV
# files and pictures of every format. Nothing third-party is used.
set -euo pipefail
bin="$1"
out="$2"
mkdir -p "$out"
"$bin/fuzz_make_seeds" "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
tone() {  # tone SECONDS CHANNELS RATE ARGS... OUTPUT
  local seconds="$1" channels="$2" rate="$3"
  shift 3
  ff -f lavfi -i "sine=frequency=440:sample_rate=$rate:duration=$seconds" -ac "$channels" "$@"
}
mkdir -p "$out"/{open,mp4_boxes,riff,mpeg,jpeg,png,gif,bmp,tiff}
tags=(-metadata title=Title -metadata artist=Artist -metadata album=Album -metadata genre=Genre
      -metadata track=3/9 -metadata date=1999)

tone 0.05 2 44100 -c:a pcm_s16le "${tags[@]}" "$out/riff/s16.wav"
tone 0.05 1 22050 -c:a pcm_u8 "$out/riff/u8.wav"
tone 0.05 2 48000 -c:a pcm_f32le "$out/riff/f32.wav"
tone 0.05 1 8000 -c:a adpcm_ima_wav "$out/riff/adpcm.wav"

tone 0.1 2 44100 -c:a libmp3lame "${tags[@]}" "$out/mpeg/tagged.mp3"
tone 0.1 1 22050 -c:a libmp3lame -write_xing 0 -id3v2_version 0 "$out/mpeg/plain.mp3"
tone 0.1 2 44100 -c:a libmp3lame -write_xing 0 -id3v2_version 0 "$out/mpeg/stereo.mp3"
cat "$out/mpeg/stereo.mp3" "$out/mpeg/plain.mp3" > "$out/mpeg/joined.mp3"
tone 0.1 2 32000 -c:a mp2 "$out/mpeg/layer2.mp2"

tone 0.05 2 44100 -c:a aac "${tags[@]}" "$out/mp4_boxes/tagged.m4a"
tone 0.05 1 8000 -c:a aac -f 3gp "${tags[@]}" "$out/mp4_boxes/assets.3gp"
tone 0.05 2 44100 -c:a aac -movflags +faststart "$out/mp4_boxes/faststart.m4a"

cp "$out"/riff/s16.wav "$out"/mpeg/tagged.mp3 "$out"/mpeg/joined.mp3 "$out"/mp4_boxes/tagged.m4a \
  "$out"/mp4_boxes/assets.3gp "$out/open/"

picture() {  # picture SIZE ARGS... OUTPUT
  local size="$1"
  shift
  ff -f lavfi -i "testsrc=size=$size:rate=1" -frames:v 1 -update 1 "$@"
}
picture 16x12 "$out/jpeg/testsrc.jpg"
picture 9x7 -pix_fmt yuvj444p "$out/jpeg/444.jpg"
picture 16x12 -pix_fmt gray "$out/jpeg/gray.jpg"
picture 16x12 "$out/png/rgb.png"
picture 9x7 -pix_fmt rgba "$out/png/rgba.png"
picture 9x7 -pix_fmt pal8 "$out/png/pal8.png"
picture 9x7 -pix_fmt gray16be "$out/png/gray16.png"
picture 16x12 "$out/gif/testsrc.gif"
ff -f lavfi -i "testsrc=size=8x6:rate=5" -frames:v 3 "$out/gif/animated.gif"
picture 16x12 -pix_fmt bgr24 "$out/bmp/bgr24.bmp"
picture 9x7 -pix_fmt bgra "$out/bmp/bgra.bmp"
picture 9x7 -pix_fmt pal8 "$out/bmp/pal8.bmp"
picture 9x7 -pix_fmt monob "$out/bmp/mono.bmp"
picture 16x12 "$out/bmp/icon.ico"
picture 16x12 "$out/tiff/raw.tiff"
picture 9x7 -compression_algo packbits "$out/tiff/packbits.tiff"
picture 9x7 -compression_algo lzw -pix_fmt rgba "$out/tiff/lzw.tiff"
picture 9x7 -compression_algo deflate -pix_fmt gray "$out/tiff/deflate.tiff"
picture 9x7 -pix_fmt monob "$out/tiff/mono.tiff"
