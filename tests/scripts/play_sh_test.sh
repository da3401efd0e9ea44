#!/usr/bin/env bash
# The main command's build report: progress on standard error only, a line per target that had
# work, "up to date" when none had, and failures that stop before the program runs. cmake, the
# install script and the program are stubs in a scratch copy of the tree.
set -uo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/play.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0

mkdir -p "$work/root/scripts" "$work/root/build/native/bin" "$work/bin"
cp "$script" "$work/root/scripts/play.sh"
printf '#!/bin/sh\nexit 0\n' >"$work/root/scripts/install-deps.sh"
printf '#!/bin/sh\necho "program: $*"\n' >"$work/root/build/native/bin/kinetiscan-play"
cat >"$work/bin/cmake" <<'STUB'
#!/bin/sh
if [ "$1" = --preset ]; then
  echo "-- Configuring done"
  [ "$STUB" != configure-fails ] || { echo "CMake Error: no compiler" >&2; exit 1; }
  exit 0
fi
if [ "$STUB" = up-to-date ]; then
  echo "[ 50%] Built target kinetiscan_analysis"
  echo "[100%] Built target kinetiscan-play"
  exit 0
fi
echo "[ 10%] Building CXX object src/CMakeFiles/kinetiscan_analysis.dir/analysis/a.cpp.o"
echo "[ 20%] Building CXX object src/CMakeFiles/kinetiscan_analysis.dir/analysis/b.cpp.o"
echo "[ 30%] Linking CXX static library libkinetiscan_analysis.a"
echo "[ 50%] Built target kinetiscan_analysis"
[ "$STUB" != build-fails ] || { echo "main.cpp:1: error: broken" >&2; exit 2; }
echo "[ 90%] Linking CXX executable ../../bin/kinetiscan-play"
echo "[100%] Built target kinetiscan-play"
STUB
chmod +x "$work/root/scripts/"*.sh "$work/root/build/native/bin/kinetiscan-play" "$work/bin/cmake"
touch "$work/root/build/native/CMakeCache.txt"

# play STUB: runs the command with `--jsonl -`; its exit code, stdout and stderr in $work.
play() {
  (cd "$work" && STUB="$1" PATH="$work/bin:$PATH" bash root/scripts/play.sh --jsonl - \
    >"$work/out" 2>"$work/err")
}
check() { # description, condition...
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else
    echo "FAILED: $what"; sed 's/^/  stderr: /' "$work/err"; sed 's/^/  stdout: /' "$work/out"
    failed=1
  fi
}
has() { grep -qF -- "$2" "$work/$1"; }
lacks() { ! grep -qF -- "$2" "$work/$1"; }

play builds
check "a build: the program runs with the arguments, standard output is its own" \
  test "$(cat "$work/out")" = "program: --jsonl -"
check "a build: a line per target with its files" \
  has err "[ 50%] built kinetiscan_analysis (2 files compiled)"
check "a build: a target only linked" has err "[100%] built kinetiscan-play (linked)"
check "a build: cmake's own lines are not shown" lacks err "Building CXX"
play up-to-date
check "nothing to build: said in one line" \
  test "$(cat "$work/err")" = "play.sh: build/native is up to date"
play build-fails
status=$?
check "a failed build: a failure, the compiler's words, the program not run" \
  test $status -ne 0 -a ! -s "$work/out"
check "a failed build: named" has err "building kinetiscan-play failed"
check "a failed build: the error passes through" has err "main.cpp:1: error: broken"
rm "$work/root/build/native/CMakeCache.txt"
play configure-fails
status=$?
check "a failed configure: a failure, announced and named, the program not run" \
  test $status -ne 0 -a ! -s "$work/out"
check "a first configure is announced" has err "configuring build/native..."
check "a failed configure is named" has err "configuring build/native failed"
exit $failed
