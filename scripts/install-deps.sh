#!/usr/bin/env bash
# Installs the Debian 12 packages the build and tests need, as root, only when some are missing.
# With "native" only what the Linux build, the demo and its tests (the window's under Xvfb) need;
# otherwise also the Win32 toolchain and Wine.
set -euo pipefail

packages=(
  cmake make g++ pkg-config binutils
  googletest libgtest-dev libbenchmark-dev
  libcli11-dev libgif-dev libjpeg62-turbo-dev libpng-dev libstb-dev nlohmann-json3-dev
  clang libclang-rt-14-dev llvm-14
  liblo-dev libsdl2-dev libx11-dev xvfb
)
if [ "${1:-all}" != native ]; then
  packages+=(
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    wine wine32:i386 xauth
  )
fi

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
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_missing "${packages[@]}"
# Where the kernel runs no 32-bit programs, Wine runs in an emulated machine (scripts/wine-vm.sh).
if [ "${1:-all}" != native ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  install_missing qemu-system-x86 cpio
fi
