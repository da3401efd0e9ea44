#!/usr/bin/env bash
# Vector values through the stack, counted statically in each analysis unit as compiled for both
# targets: instructions with an xmm, ymm or zmm operand and a memory operand based on the stack or
# frame pointer (esp/ebp on i686, rsp/rbp on x86-64). Spills and reloads are most of them; a few
# are arguments or locals the code keeps there on purpose. i686 has 8 vector registers, x86-64 16
# (32 with AVX-512), so the i686 figure is judged against the x86-64 one: at most 1.25x it + 10.
#   bench/spills.sh            (objects of build/native and build/win32; build them first:
#                               cmake --build --preset native --target kinetiscan_analysis
#                               cmake --build --preset win32 --target kinetiscan_analysis)
set -euo pipefail
cd "$(dirname "$0")/.."
native=build/native/src/CMakeFiles/kinetiscan_analysis.dir/analysis
win32=build/win32/src/CMakeFiles/kinetiscan_analysis.dir/analysis

# count OBJDUMP OBJECT: the vector stack accesses of one object file.
count() {
  "$1" -d --no-show-raw-insn "$2" | grep -E '%[xyz]mm[0-9]' |
    grep -cE '\(%[er][sb]p[,)]' || true
}

for dir in "$native" "$win32"; do
  if ! compgen -G "$dir/*.o*" >/dev/null; then
    echo "no objects in $dir: build kinetiscan_analysis on both presets first" >&2
    exit 1
  fi
done

printf '%-28s %8s %8s %8s  %s\n' unit x86-64 i686 limit ""
over=0
for object in "$native"/*.cpp.o; do
  unit=$(basename "$object" .o)
  other="$win32/$unit.obj"
  [[ -f $other && -f src/analysis/$unit ]] || continue  # objects of removed units stay behind
  wide=$(count objdump "$object")
  narrow=$(count i686-w64-mingw32-objdump "$other")
  limit=$(((wide * 5 + 3) / 4 + 10))
  verdict=""
  if ((narrow > limit)); then
    verdict="over"
    over=$((over + 1))
  fi
  printf '%-28s %8d %8d %8d  %s\n' "$unit" "$wide" "$narrow" "$limit" "$verdict"
done
echo "units over the limit: $over"
