#!/usr/bin/env bash
# Line, branch and function coverage of src/ by the native test suite plus the checked-in fuzz
# corpus, with clang's source-based coverage. Prints the totals for src/; the per-file table is
# left in build/coverage/coverage.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset coverage >/dev/null
cmake --build --preset coverage
profiles=build/coverage/profiles
rm -rf "$profiles"
mkdir -p "$profiles"
export LLVM_PROFILE_FILE="$PWD/$profiles/%p-%m.profraw"
ctest --preset coverage >build/coverage/ctest.log 2>&1 || {
  tail -40 build/coverage/ctest.log
  exit 1
}
for target in host_calls frames cast_walk; do
  build/coverage/bin/fuzz_"$target" fuzz/corpus/"$target"
done

# A profile cut short (a process killed while writing it) is reported and left out; coverage is a
# measure, and the tests that ran have already passed or failed on their own.
llvm-profdata-14 merge -sparse -failure-mode=all "$profiles"/*.profraw \
  -o build/coverage/merged.profdata 2>build/coverage/merge.log || {
  cat build/coverage/merge.log
  exit 1
}
unreadable=$(grep -c "invalid instrumentation profile" build/coverage/merge.log || true)
[ "$unreadable" -eq 0 ] || {
  echo "coverage: $unreadable profile(s) unreadable and left out:"
  grep "invalid instrumentation profile" build/coverage/merge.log
}
objects=()
for program in build/coverage/bin/*; do
  [ -x "$program" ] && [ -f "$program" ] && objects+=(-object "$program")
done
llvm-cov-14 report "${objects[@]:1}" -instr-profile=build/coverage/merged.profdata \
  "$PWD/src" >build/coverage/coverage.txt
# Columns: regions, missed, cover; functions, missed, executed; lines, missed, cover; branches,
# missed, cover.
awk '/^TOTAL/ {
  printf "coverage of src/: lines %s (%d of %d missed), branches %s (%d of %d missed),",
         $10, $9, $8, $13, $12, $11
  printf " functions %s (%d of %d missed)\n", $7, $6, $5
}' build/coverage/coverage.txt
