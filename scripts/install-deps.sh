#!/usr/bin/env bash
# Installs the Debian 12 packages the build and tests need, as root, only when some are missing.
# With "native" only what the Linux build, the demo and its tests (the window's under Xvfb) need,
# all of this machine's own architecture; otherwise also the Win32 toolchain and Wine (i386).
#
# A package mirror caught mid-sync must not stop anyone: an index that fails to download is
# reported and the install tried with the indexes that came; an install that fails is tried again
# after a fresh update, then (where the i386 architecture is on, whose versions must equal the
# amd64 ones) from the main suites alone, without the security suite that a mirror updates first.
# KINETISCAN_APT_SOURCES (default /etc/apt) is where the sources are read; tests point it
# elsewhere, with stubs of apt-get and dpkg on PATH.
set -euo pipefail

packages=(
  cmake make g++ pkg-config binutils
  googletest libgtest-dev libbenchmark-dev
  libcli11-dev libgif-dev libjpeg62-turbo-dev libpng-dev libstb-dev nlohmann-json3-dev
  clang libclang-rt-14-dev llvm-14
  liblo-dev libsdl2-dev libx11-dev libxtst-dev xvfb puredata-core
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
)
if [ "${1:-all}" != native ]; then
  packages+=(
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    wine wine32:i386 xauth
  )
fi
apt_sources="${KINETISCAN_APT_SOURCES:-/etc/apt}"
scratch=""
trap '[ -z "$scratch" ] || rm -rf "$scratch"' EXIT

say() { echo "install-deps: $*" >&2; }

# The first error line apt printed, or its last line, (the mirror's own words), for a one-line report.
first_error() {
  { grep -m1 -E '^(E|Err):' "$1" || grep -v '^[[:space:]]*$' "$1" | tail -1; } | tr -s ' \t' ' '
}

# apt-get update, limited to the architectures the packages need. A partial failure (one index
# of a mirror mid-sync) is reported, not fatal: the install that follows decides.
apt_update() {
  local log="$scratch/update.log"
  if apt-get "${apt_options[@]}" update -qq >"$log" 2>&1; then return 0; fi
  say "apt-get update failed in part; trying the install with the indexes it fetched:" \
    "$(first_error "$log")"
}

apt_install() {
  apt-get "${apt_options[@]}" install -y -q --no-install-recommends "$@" \
    >"$scratch/install.log" 2>&1
}

# The same sources without the security suite, in a scratch apt directory with lists of its own.
use_main_suites_alone() {
  local parts="$scratch/sources.list.d" file
  mkdir -p "$parts" "$scratch/lists/partial"
  chmod 755 "$scratch" "$scratch/lists" # apt's download user reads the lists there
  for file in "$apt_sources"/sources.list "$apt_sources"/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    grep -vE '^[[:space:]]*deb(-src)?[[:space:]].*[[:space:]][^[:space:]]+-security([[:space:]]|$)' \
      "$file" >"$parts/$(basename "$file").list" || true
  done
  for file in "$apt_sources"/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    # deb822 stanzas: drop the security suite's words, and a stanza left with no suite.
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
      { out = ""; keep = 1; n = split($0, lines, "\n")
        for (i = 1; i <= n; ++i) {
          line = lines[i]
          if (line ~ /^Suites:/) {
            gsub(/[^ \t:]+-security/, "", line)
            if (line ~ /^Suites:[ \t]*$/) keep = 0
          }
          out = out line "\n"
        }
        if (keep) printf "%s\n", out }' "$file" >"$parts/$(basename "$file")"
  done
  apt_options+=(-o "Dir::Etc::sourcelist=/dev/null" -o "Dir::Etc::sourceparts=$parts"
    -o "Dir::State::Lists=$scratch/lists")
}

# apt's first unmet dependency, when it printed one: the package that stopped the install.
first_unmet() {
  sed -nE 's/^ ([^ ]+ : Depends: .*)$/; first unmet: \1/p' "$scratch/install.log" |
    head -1 | tr -s ' \t' ' '
}

install_missing() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  [ -n "$scratch" ] || scratch="$(mktemp -d)"
  export DEBIAN_FRONTEND=noninteractive
  apt_options=()
  # Only an i386 package needs the i386 architecture and its indexes. (A machine that already
  # has it keeps fetching them: apt cannot keep installed i386 packages consistent without, and
  # their versions then bind the amd64 ones whatever this install asks for.)
  local foreign=no
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  dpkg --print-foreign-architectures | grep -qx i386 && foreign=yes
  apt_update
  apt_install "${missing[@]}" && return 0
  say "the install failed ($(first_error "$scratch/install.log")); updating again and retrying"
  apt_update
  apt_install "${missing[@]}" && return 0
  if [ "$foreign" = yes ]; then
    say "the install failed again ($(first_error "$scratch/install.log")); the amd64 and i386" \
      "indexes may be of different days: retrying from the main suites alone, without security"
    use_main_suites_alone
    apt_update
    apt_install "${missing[@]}" && return 0
  fi
  say "cannot install ${missing[*]}: $(first_error "$scratch/install.log")$(first_unmet)"
  exit 1
}

install_missing "${packages[@]}"
# Where the kernel runs no 32-bit programs, Wine runs in an emulated machine (scripts/wine-vm.sh).
if [ "${1:-all}" != native ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  install_missing qemu-system-x86 cpio
fi
