#!/usr/bin/env bash
# Replays a target's corpus natively and through Kinetiscan.x32 under Wine, and requires the same
# journal for every input: result codes, the values the plug-in wrote, the message boxes shown,
# the frames delivered, the images and region lists a script reads at the end (a ledger
# imbalance aborts the replay instead). Inputs that showed more than 100 message boxes natively
# are left out under Wine, where every box is a modal loop of its own (one input walks a cast
# that never ends and is warned 32,767 times). On a difference, the first input that differs is
# run again on both sides with its journal traced, and the traces compared.
# Usage: compare_replay.sh NATIVE_BIN WINE_RUNNER WIN32_BIN CORPUS_FOLDER PROGRAM
set -euo pipefail
native_bin=$1 runner=$2 win32_bin=$3 corpus=$4 program=$5
if [ ! -x "$native_bin/$program" ]; then
  echo "FAIL: $native_bin/$program is missing: build the native preset first" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
journals() { grep -E '^[^ ]+ [0-9a-f]{16} [0-9]+$' "$1" || true; }
"$native_bin/$program" --journal "$corpus"/* >"$work/native.out" 2>/dev/null
journals "$work/native.out" | awk '$3 <= 100' >"$work/native"
total=$(journals "$work/native.out" | wc -l)
count=$(wc -l <"$work/native")
inputs=()
while read -r name _; do inputs+=("$corpus/$name"); done <"$work/native"
# The runner gives Wine's messages and the program's stderr on its stdout.
if ! "$runner" "$win32_bin/$program.exe" --journal "${inputs[@]}" >"$work/win32.out" 2>&1; then
  echo "FAIL: $program under Wine ended early, after $(journals "$work/win32.out" | wc -l) inputs:"
  grep -vE '^[^ ]+ [0-9a-f]{16} [0-9]+$' "$work/win32.out" | tail -20
  exit 1
fi
journals "$work/win32.out" >"$work/win32"
if [ "$count" -gt 0 ] && diff -u "$work/native" "$work/win32" >"$work/diff"; then
  echo "$program: $count inputs, every journal equal natively and through Kinetiscan.x32" \
    "($((total - count)) of $total left out for their message boxes)"
  exit 0
fi
echo "FAIL: $program: the targets disagree (input, journal, boxes; --- native, +++ win32):"
head -30 "$work/diff"
first=$(diff "$work/native" "$work/win32" | sed -n 's/^< \([^ ]*\) .*/\1/p' | head -1)
if [ -n "$first" ]; then
  echo "the journal entries of $first (--- native, +++ win32):"
  KINETISCAN_JOURNAL_TRACE=1 "$native_bin/$program" --journal "$corpus/$first" 2>&1 |
    grep '^journal:' >"$work/native.trace" || true
  KINETISCAN_JOURNAL_TRACE=1 "$runner" "$win32_bin/$program.exe" --journal "$corpus/$first" \
    2>&1 | grep '^journal:' >"$work/win32.trace" || true
  diff -u "$work/native.trace" "$work/win32.trace" | head -30 || true
fi
exit 1
