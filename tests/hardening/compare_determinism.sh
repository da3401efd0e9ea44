#!/usr/bin/env bash
# Runs the recorded sequence natively and under Wine and requires identical hash lines.
# Usage: compare_determinism.sh NATIVE_PROGRAM WINE_RUNNER WIN32_PROGRAM
set -euo pipefail
native_program=$1 runner=$2 win32_program=$3
if [ ! -x "$native_program" ]; then
  echo "FAIL: $native_program is missing: build the native preset first" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$native_program" >"$work/native.txt"
"$runner" "$win32_program" >"$work/win32.txt"
frames=$(wc -l <"$work/native.txt")
if [ "$frames" -eq 0 ] || ! diff -u "$work/native.txt" "$work/win32.txt" >"$work/diff.txt"; then
  echo "FAIL: the targets disagree (frame, camera, retina, difference, globs, labels, records," \
    "blobCount; --- native, +++ win32):"
  head -40 "$work/diff.txt"
  exit 1
fi
echo "determinism: $frames frames, every plane, label map and record hash equal on both targets"
