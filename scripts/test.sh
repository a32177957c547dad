#!/usr/bin/env bash
# The whole test suite: the optimised build and the sanitizer build
# (AddressSanitizer + UndefinedBehaviorSanitizer), each built and run by ctest.
# Real sample files are read from ../shared/samples/real when that folder exists.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("${@:-default asan}")
for preset in ${presets[@]}; do
  echo "== $preset build" >&2
  bash scripts/build.sh "$preset"
  echo "== $preset tests" >&2
  ctest --preset "$preset" -j "$(nproc)"
done
