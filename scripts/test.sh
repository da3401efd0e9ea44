#!/usr/bin/env bash
# The test command: installs what it needs, builds both targets and runs every test, natively
# and the Win32 build under Wine (with the cross-target determinism check), then the whole native
# suite under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# The Wine runner keeps one Xvfb and a wineserver per build tree while tests run; stop them when
# this command ends, however it ends.
stop_displays() {
  for pid_file in build/*/xvfb.pid; do
    [ -f "$pid_file" ] && kill "$(cat "$pid_file")" 2>/dev/null || true
  done
  for prefix in build/*/wineprefix; do
    [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" wineserver -k 2>/dev/null || true
  done
}
trap stop_displays EXIT

# The Win32 build's determinism test compares with the native program, so native goes first.
for preset in native win32 native-asan; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: test"
  ctest --preset "$preset"
done

echo "=== fuzz: configure and build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_host_calls fuzz_frames fuzz_cast_walk fuzz_image_file \
  fuzz_webcam_frames fuzz_at_options
echo "=== fuzz: run"
fuzz/run.sh 20
