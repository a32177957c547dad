#!/usr/bin/env bash
# Builds (when needed) and runs one libFuzzer target for a number of seconds:
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
#   scripts/fuzz.sh all SECONDS [libFuzzer options...]   every target in turn
# Targets: open ea3_tag ea3_header omg_package mp4_boxes riff mpeg info_file
# side_tag_trailer registry_file jpeg png gif bmp tiff atrac3_encode (see fuzz/entries.h).
#
# The "fuzz" preset builds the whole tree with clang, coverage and
# AddressSanitizer/UndefinedBehaviorSanitizer into build/fuzz. Seeds are made
# once into build/fuzz/seeds/TARGET (scripts/make_fuzz_seeds.sh); the corpus
# grows in build/fuzz/corpus/TARGET; the crash corpus tests/data/crash (the
# files of the "open" target lie directly in it, the others in a folder per
# target) is read as well. A crash, leak or timeout is written to
# build/fuzz/findings/TARGET/ and makes the script fail; add a minimal form of
# it to the crash corpus with the fix.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  sed -n '2,4p' "$0" >&2
  exit 2
fi
target="$1"
seconds="$2"
shift 2
all=(open ea3_tag ea3_header omg_package mp4_boxes riff mpeg info_file side_tag_trailer registry_file
     jpeg png gif bmp tiff atrac3_encode)
build=build/fuzz
if [ ! -f "$build/build.ninja" ]; then
  bash scripts/setup.sh
  cmake --preset fuzz >/dev/null
fi
if [ "$target" = all ]; then
  cmake --build --preset fuzz -j "$(nproc)" --target fuzzers fuzz_make_seeds >&2
  for t in "${all[@]}"; do bash "$0" "$t" "$seconds" "$@"; done
  exit 0
fi
if [[ ! " ${all[*]} " =~ " $target " ]]; then
  echo "fuzz.sh: unknown target '$target' (targets: ${all[*]})" >&2
  exit 2
fi
cmake --build --preset fuzz -j "$(nproc)" --target "fuzz_$target" fuzz_make_seeds >&2

if [ ! -f "$build/seeds/.made" ]; then
  rm -rf "$build/seeds"
  bash scripts/make_fuzz_seeds.sh "$build/bin" "$build/seeds"
  touch "$build/seeds/.made"
fi
crash=tests/data/crash
if [ "$target" != open ]; then crash="$crash/$target"; fi
inputs=("$build/seeds/$target")
if [ -d "$crash" ]; then inputs+=("$crash"); fi
mkdir -p "$build/seeds/$target" "$build/corpus/$target" "$build/findings/$target"

# Leaks are findings too; the sanitizers stop at the first error. A picture
# may declare up to 256 megapixels, which the decoders allocate (and the
# sanitizer fills) before they find the data short: the timeout and memory
# limit leave room for that.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
echo "== fuzz $target for ${seconds}s" >&2
"$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -print_final_stats=1 \
  -artifact_prefix="$build/findings/$target/" "$@" "$build/corpus/$target" "${inputs[@]}"
