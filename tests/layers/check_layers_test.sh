#!/usr/bin/env bash
# The layer check itself: it passes on the real tree and on a small tree that
# keeps the rule, and fails, naming the line, on a deliberate upward include
# (across top-level folders and inside one) and on a folder it does not know.
set -euo pipefail
source_dir="$1"
check="$source_dir/scripts/check_layers.py"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

python3 "$check" "$source_dir" || fail "the real tree breaks the layer rule"

for top in platform medialib host library plugin tool; do mkdir -p "$tree/$top"; done
mkdir -p "$tree/platform/text" "$tree/platform/com" "$tree/tool/commands" "$tree/tool/common" "$tree/medialib/com"
printf '#pragma once\n' >"$tree/platform/text/text.h"
printf '#include "platform/text/text.h"\n' >"$tree/platform/com/unknown.h"
printf '#include "platform/com/unknown.h"\n#include "tool/common/list.h"\n' >"$tree/tool/commands/run.cpp"
printf '#include <vector>\n#include "list.h"\n' >"$tree/tool/common/list.h"
printf '#include "library/media_library.h"\n' >"$tree/medialib/com/item.h"
python3 "$check" "$tree" || fail "a tree that keeps the rule was refused"

expect_refusal() {  # file, text, expected message part
  local before
  before="$(cat "$1")"
  printf '%s\n' "$2" >>"$1"
  if output="$(python3 "$check" "$tree" 2>&1)"; then fail "accepted: $2 in $1"; fi
  grep -qF "$3" <<<"$output" || fail "no '$3' in: $output"
  printf '%s\n' "$before" >"$1"
}
expect_refusal "$tree/platform/text/text.h" '#include "tool/commands/run.h"' \
  'platform/text/text.h:2: includes "tool/commands/run.h" from a layer above'
expect_refusal "$tree/platform/text/text.h" '#include "platform/com/unknown.h"' \
  'platform/text/text.h:2: includes "platform/com/unknown.h" from a layer above'
expect_refusal "$tree/tool/common/list.h" '#include "tool/commands/run.h"' \
  'tool/common/list.h:3: includes "tool/commands/run.h" from a layer above'
expect_refusal "$tree/medialib/com/item.h" '#include "host/sdk/input.h"' \
  'medialib/com/item.h:2: includes "host/sdk/input.h" from a layer above'
python3 "$check" "$tree" || fail "the tree was not restored"

mkdir -p "$tree/plugin/elsewhere"
printf '#pragma once\n' >"$tree/plugin/elsewhere/x.h"
if output="$(python3 "$check" "$tree" 2>&1)"; then fail "an unknown folder was accepted"; fi
grep -qF 'folder plugin/elsewhere has no place in the layer table' <<<"$output" || fail "$output"
echo "layer check: all cases pass"
