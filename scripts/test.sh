#!/usr/bin/env bash
# The test command: installs what it needs, builds both targets and runs every test, natively
# and the Win32 build under Wine (with the cross-target determinism check), then the whole native
# suite under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target briefly, and
# last the coverage of src/ by all of it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# The Wine runner keeps one Xvfb and a wineserver per build tree while tests run; stop them when
# this command ends, however it ends.
stop_displays() {
  pkill -f "qemu-system-x86_64 .*$PWD/build/wine-vm/" 2>/dev/null || true
  for pid_file in build/*/xvfb.pid; do
    [ -f "$pid_file" ] && kill "$(cat "$pid_file")" 2>/dev/null || true
  done
  for prefix in build/*/wineprefix; do
    [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" wineserver -k 2>/dev/null || true
  done
}
trap stop_displays EXIT

# Each stage's heading says how long the command has run, so a slow stage shows in CI's log.
stage() { echo "=== $* (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }

# Wine runs 32-bit programs only where the kernel runs 32-bit Linux programs; some kernels are
# booted with that switched off. There the Win32 tests run under Wine in an emulated machine with
# a kernel of its own (scripts/wine-vm.sh), every one of them but the two that need no Wine.
wine_runs=yes
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_runs=emulated
  echo "!!! This machine cannot run 32-bit programs (the kernel's 32-bit emulation is off):" \
    "the Win32 tests run under Wine in an emulated machine."
fi
# The emulated machine's Wine prefix takes minutes to make; it is made while the builds run.
if [ "$wine_runs" = emulated ]; then
  mkdir -p build
  scripts/wine-vm.sh --prepare >build/wine-vm-prepare.log 2>&1 &
  prepare_pid=$!
fi
on_this_machine='^(plugin_exports|analysis_cannot_include_platform)$'

# The Win32 build's determinism test compares with the native program, so native goes first.
for preset in native win32 native-asan; do
  stage "$preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  stage "$preset: test"
  if [ "$preset" = win32 ] && [ "$wine_runs" = emulated ]; then
    ctest --preset "$preset" -R "$on_this_machine"
    wait "$prepare_pid" || {
      tail -20 build/wine-vm-prepare.log
      exit 1
    }
    scripts/wine-vm.sh -j2 --timeout 900
  else
    ctest --preset "$preset"
  fi
done

stage "fuzz: configure and build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_host_calls fuzz_frames fuzz_cast_walk fuzz_reload \
  fuzz_image_file fuzz_webcam_frames fuzz_at_options fuzz_video_file
stage "fuzz: run"
fuzz/run.sh 6

stage "coverage: the native suite and the fuzz corpus over src/"
scripts/coverage.sh >build/coverage.log 2>&1 || {
  tail -60 build/coverage.log
  exit 1
}
grep "^coverage" build/coverage.log
stage "done"
