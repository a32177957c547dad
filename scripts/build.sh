#!/usr/bin/env bash
# Configures and builds one preset (default: "default"): scripts/build.sh [asan|tsan]
# The packages are installed by scripts/setup.sh, which the README's two
# commands (scripts/demo.sh, scripts/test.sh) run once before building.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
