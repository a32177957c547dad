#!/usr/bin/env bash
# The main job on the built-in media library: builds the project, writes a small
# demo file from a generated tone, and runs Quillet on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
bash scripts/build.sh default >&2
bin=build/default/bin
demo=build/demo
mkdir -p "$demo"
if [ -x "$bin/make_demo_oma" ]; then
  "$bin/make_demo_oma" "$demo/tone.oma" >&2
  exec "$bin/Quillet" --Get "$demo/tone.oma"
fi
exec "$bin/Quillet"
