#!/usr/bin/env bash
# The main command: installs what it needs, builds the plug-in and kinetiscan-play natively and
# plays the built-in scene. The pictures, logs and summary land in out/ of the current folder.
# Arguments go to kinetiscan-play (see --help), e.g. --device /dev/video0 for a webcam.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/install-deps.sh" native
echo "building the plug-in and kinetiscan-play (build/native)..." >&2
(cd "$root" && cmake --preset native >/dev/null &&
  cmake --build --preset native --target kinetiscan-play >/dev/null)
exec "$root/build/native/bin/kinetiscan-play" "$@"
