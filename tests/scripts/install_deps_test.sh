#!/usr/bin/env bash
# The install script's decisions against a mirror having a bad day: which architectures it asks
# for, when it updates again, when it falls back to the main suites, and how it reports what
# remains. apt-get, dpkg, dpkg-query and id are stubs on PATH; nothing reaches the network.
set -uo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/install-deps.sh"
work="$(mktemp -d)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
passed=0
failed=0

make_stubs() {
  mkdir -p "$work/bin"
  cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB_DIR/calls"
verb=""
for arg in "$@"; do case "$arg" in update | install) verb="$arg" ;; esac; done
count() { local n; n=$(($(cat "$STUB_DIR/$1" 2>/dev/null || echo 0) + 1)); echo $n >"$STUB_DIR/$1"; echo $n; }
if [ "$verb" = update ]; then
  [ "$(count updates)" -le "${STUB_UPDATE_FAILS:-0}" ] || exit 0
  echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
  exit 100
fi
n=$(count installs)
parts=$(printf '%s\n' "$@" | sed -n 's/^Dir::Etc::sourceparts=//p')
if [ -n "$parts" ]; then cat "$parts"/* >"$STUB_DIR/main-suites-sources"; fi
if [ "$n" -le "${STUB_INSTALL_FAILS:-0}" ] && { [ -z "$parts" ] || [ -z "${STUB_MAIN_SUITES_HEAL:-}" ]; }; then
  echo "The following packages have unmet dependencies:"
  echo " libzstd1:i386 : Depends: libc6:i386 (>= 2.34) but it is not going to be installed"
  echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
  exit 100
fi
for arg in "$@"; do sed -i "/^$arg\$/d" "$STUB_DIR/missing"; done
exit 0
STUB
  cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
grep -qx "${!#}" "$STUB_DIR/missing" || printf 'install ok installed'
STUB
  cat >"$work/bin/dpkg" <<'STUB'
#!/usr/bin/env bash
case "$1" in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$STUB_DIR/arches" 2>/dev/null ;;
  --add-architecture) echo "dpkg $*" >>"$STUB_DIR/calls"; echo "$2" >>"$STUB_DIR/arches" ;;
esac
STUB
  printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
  chmod +x "$work/bin/"*
  mkdir -p "$work/etc/sources.list.d"
  cat >"$work/etc/sources.list.d/debian.sources" <<'SOURCES'
Types: deb
URIs: http://mirror/debian
Suites: bookworm bookworm-updates
Components: main

Types: deb
URIs: http://mirror/debian-security
Suites: bookworm-security
Components: main

Types: deb
URIs: http://mirror/mixed
Suites: bookworm bookworm-security
Components: main
SOURCES
  printf 'deb http://mirror/debian bookworm main\ndeb http://mirror/debian-security bookworm-security main\n' \
    >"$work/etc/sources.list.d/extra.list"
}

# One case: its name, the target, the packages missing, the stub's settings, the expected exit
# code, then pairs of (grep pattern over calls + stderr + the main suites' sources, present?).
run_case() {
  local name="$1" target="$2" missing="$3" settings="$4" want_rc="$5"
  shift 5
  local dir="$work/$name" rc
  mkdir -p "$dir"
  tr ' ' '\n' <<<"$missing" >"$dir/missing"
  [ "$target" != native-on-i386 ] || { echo i386 >"$dir/arches"; target=native; }
  env $settings STUB_DIR="$dir" KINETISCAN_APT_SOURCES="$work/etc" PATH="$work/bin:$PATH" \
    bash "$script" "$target" >"$dir/out" 2>&1
  rc=$?
  { cat "$dir/calls" "$dir/out"; sed 's/^/sources| /' "$dir/main-suites-sources"; } >"$dir/all" 2>/dev/null
  local ok=yes
  [ "$rc" = "$want_rc" ] || { echo "$name: exit $rc, expected $want_rc"; ok=no; }
  while [ $# -ge 2 ]; do
    if grep -qE -- "$1" "$dir/all"; then
      [ "$2" = yes ] || { echo "$name: unexpected: $1"; ok=no; }
    else
      [ "$2" = no ] || { echo "$name: missing: $1"; ok=no; }
    fi
    shift 2
  done
  if [ "$ok" = yes ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    sed 's/^/    /' "$dir/all"
  fi
}

make_stubs
run_case nothing_missing all "" "" 0 'apt-get' no
run_case native_partial_update native "libsdl2-dev" "STUB_UPDATE_FAILS=9" 0 \
  'add-architecture' no 'update' yes \
  'failed in part.*Mirror sync in progress' yes 'install .*libsdl2-dev' yes
run_case native_retry_heals native "liblo-dev" "STUB_INSTALL_FAILS=1" 0 \
  'updating again and retrying' yes 'main suites alone' no 'sourceparts' no
run_case native_never_falls_back_to_main_suites native "liblo-dev" "STUB_INSTALL_FAILS=9" 1 \
  'sourceparts' no '^install-deps: cannot install liblo-dev: E: Error, pkgProblemResolver' yes \
  'first unmet: libzstd1:i386 : Depends: libc6:i386' yes
run_case skew_heals_from_main_suites all "wine32:i386" \
  "STUB_UPDATE_FAILS=9 STUB_INSTALL_FAILS=9 STUB_MAIN_SUITES_HEAL=1" 0 \
  'dpkg --add-architecture i386' yes 'main suites alone' yes \
  'Dir::State::Lists=' yes 'sources\| Suites: bookworm bookworm-updates' yes \
  'sources\| Suites: bookworm *$' yes 'sources\|.*security' no \
  'sources\| deb http://mirror/debian bookworm main' yes
run_case skew_binds_amd64_packages_where_i386_is_on native-on-i386 "libsdl2-dev" \
  "STUB_INSTALL_FAILS=9 STUB_MAIN_SUITES_HEAL=1" 0 'add-architecture' no 'main suites alone' yes
run_case skew_remains all "wine32:i386" "STUB_INSTALL_FAILS=9" 1 'main suites alone' yes \
  '^install-deps: cannot install wine32:i386: E: Error, pkgProblemResolver::Resolve generated breaks.*; first unmet: libzstd1:i386' yes
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
