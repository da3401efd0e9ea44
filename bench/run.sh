#!/usr/bin/env bash
# Every speed figure in one run, side by side: the analysis natively against OpenCV and the
# traffic floor (analysis_bench, in its own build tree), then the road of a frame through the
# shipped library as a host loads it (kinetiscan-roadtime): libkinetiscan.so natively over the
# stand-in's GDI, and Kinetiscan.x32 under Wine over Wine's own GDI. The "frame" lines of the two
# road runs compare the analysis in the DLL with the native one: frames come back to back on both
# targets; a shorter paced run of each (the driver's 50 ms rate) shows what idling between frames
# costs. Figures belong to the processor printed first; on a kernel without 32-bit programs the
# DLL runs in the emulated machine, whose figures are the emulator's.
#   bench/run.sh [FRAMES]     (frames per road run, default 300; the paced runs take a third)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-300}
paced=$(((frames + 2) / 3))
grep -m1 'model name' /proc/cpuinfo
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKINETISCAN_BENCH=ON >/dev/null
cmake --build build/bench -j2 --target analysis_bench kinetiscan-roadtime
echo "=== the analysis: ours, OpenCV and the floor"
build/bench/bin/analysis_bench
echo "=== the road, native: libkinetiscan.so"
build/bench/bin/kinetiscan-roadtime "$frames"
build/bench/bin/kinetiscan-roadtime --paced "$paced"
echo "=== the road, the DLL under Wine: Kinetiscan.x32"
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target kinetiscan-roadtime
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  tools/wine/run-wine build/win32/bin/kinetiscan-roadtime.exe "$frames"
  tools/wine/run-wine build/win32/bin/kinetiscan-roadtime.exe --paced "$paced"
else
  echo "(this kernel runs no 32-bit programs: the emulated machine runs it, at the emulator's speed)"
  printf 'cd %q\ntools/wine/run-wine build/win32/bin/kinetiscan-roadtime.exe %q\n' "$PWD" \
    "$frames" >build/roadtime-job.sh
  printf 'tools/wine/run-wine build/win32/bin/kinetiscan-roadtime.exe --paced %q\n' "$paced" \
    >>build/roadtime-job.sh
  scripts/wine-vm.sh --job build/roadtime-job.sh
fi
