#!/usr/bin/env bash
# The whole test suite: the layer and format checks, the optimised build and the
# sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer), each built and
# run by ctest (the crash corpus of every fuzz target is replayed there, without
# libFuzzer), then the suites that run threads under ThreadSanitizer, then a
# short run of every fuzz target in the clang fuzz build.
# Real sample files are read from ../shared/samples/real when that folder exists.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# The layer rule over the #include lines, and the committed format on every
# tracked C++ file: both fail the run before anything is built.
echo "== layers and format" >&2
python3 scripts/check_layers.py
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

for preset in default asan; do
  echo "== $preset build" >&2
  bash scripts/build.sh "$preset"
  echo "== $preset tests" >&2
  ctest --preset "$preset" -j "$(nproc)"
done

# Threads: library creation from several opening threads, per-thread apartments,
# the class table and registry under concurrent lookups, serialised side-tag saves
# (threads, and playhost processes tagging one bucket at once), settings saved by
# concurrent playhost processes, conversions on the library's worker thread, the
# filter graph's streaming thread and the decoder pipeline over it.
threaded=(platform_com_test platform_graph_test plugin_decoder_test library_identity_test plugin_input_oma_test
  plugin_tags_test tool_convert_test medialib_com_convert_test plugin_info_component_test host_settings_test
  host_playhost_test medialib_parse_cache_test plugin_playback_test medialib_com_test plugin_registration_test)
echo "== tsan build (threaded suites)" >&2
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$(nproc)" --target "${threaded[@]}"
echo "== tsan tests" >&2
pattern="^($(IFS='|'; echo "${threaded[*]}"))\\."
ctest --preset tsan -j "$(nproc)" -R "$pattern"

# Fuzzing: the clang build with every library instrumented, and a few seconds
# of each target from the seeds and the crash corpus (a fixed seed, so a
# failure here reproduces with the same command).
echo "== fuzz build and short runs" >&2
bash scripts/fuzz.sh all "${CQ_FUZZ_SECONDS:-5}" -seed=1
