#!/usr/bin/env bash
# The main command: installs what it needs, builds the plug-in and kinetiscan-play natively and
# plays the built-in scene. The pictures, logs and summary land in out/ of the current folder.
# Arguments go to kinetiscan-play (see --help), e.g. --device /dev/video0 for a webcam.
# The build reports its progress on standard error, which keeps standard output the program's
# own (--jsonl - streams records there).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

say() { echo "play.sh: $*" >&2; }

# cmake's progress cut down to a line per target that had work to do, with its percentage and
# the files compiled; on a terminal the file being compiled shows on one line that is rewritten.
# The compiler's messages pass through as they are. A build with nothing to do says so; one that
# took a while says how long since $1 (seconds since the epoch).
progress() {
  local live=0
  [ -t 2 ] && live=1
  awk -v live="$live" -v started="$1" '
    function clear() { if (shown) { printf "\r\033[K"; shown = 0 } }
    function percent() { return substr($0, 1, index($0, "]")) }
    /^\[ *[0-9]+%\] Building / {
      target = $NF; sub(/\.dir\/.*/, "", target); sub(/.*\//, "", target)
      compiled[target]++
      if (!work) print "play.sh: building the plug-in and kinetiscan-play in build/native"
      work = 1
      if (live) {
        file = $NF; sub(/.*\//, "", file); sub(/\.o$/, "", file)
        printf "\r\033[Kplay.sh: %s compiling %s", percent(), file; shown = 1; fflush()
      }
      next
    }
    /^\[ *[0-9]+%\] Linking / { linked = 1; work = 1; next }
    /^\[ *[0-9]+%\] Built target / {
      target = $NF
      if (compiled[target] || linked) {
        clear()
        n = compiled[target]
        what = n == 1 ? "1 file compiled" : n ? n " files compiled" : "linked"
        printf "play.sh: %s built %s (%s)\n", percent(), target, what; fflush()
      }
      linked = 0; next
    }
    /^\[ *[0-9]+%\] / { next }
    { clear(); print; fflush() }
    END {
      clear()
      if (!work) { print "play.sh: build/native is up to date"; exit }
      "date +%s" | getline now
      took = now - started
      if (took >= 60) printf "play.sh: built in %d min %d s\n", took / 60, took % 60
      else if (took >= 5) printf "play.sh: built in %d s\n", took
    }' >&2
}

# In the root, so cmake finds its presets; the program then runs in the caller's folder.
build() {
  cd "$root"
  local started
  started="$(date +%s)"
  if [ ! -f build/native/CMakeCache.txt ]; then
    say "configuring build/native..."
  fi
  # cmake's errors and warnings come on standard error; its chatter is not needed.
  if ! cmake --preset native >/dev/null; then
    say "configuring build/native failed"
    return 1
  fi
  if ! cmake --build --preset native --target kinetiscan-play 2>&1 | progress "$started"; then
    say "building kinetiscan-play failed"
    return 1
  fi
}

"$root/scripts/install-deps.sh" native
(build)
exec "$root/build/native/bin/kinetiscan-play" "$@"
