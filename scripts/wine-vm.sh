#!/usr/bin/env bash
# Runs the Win32 tests under Wine inside a virtual machine, for machines whose kernel does not run
# 32-bit programs (booted with its 32-bit emulation off: Wine fails there with "Exec format
# error"). The machine is this very system with another kernel: QEMU boots Debian's kernel, which
# runs 32-bit programs, in software emulation (no KVM needed), and mounts this machine's root
# file system as its own, so Wine, Xvfb, CTest and the build trees are the ones installed and
# built here, at the same paths. Only the kernel and a static busybox for its first steps are
# fetched, once, from the Debian mirror apt uses.
#
#   scripts/wine-vm.sh [ctest arguments...]     e.g. scripts/wine-vm.sh -R reload_test
#   scripts/wine-vm.sh --prepare                 only the kernel and the Wine prefix, made once
#   scripts/wine-vm.sh --job SCRIPT              runs a shell script there instead of the tests
#
# The tests need the win32 build (and for the determinism check the native one) made first, and
# the packages of scripts/install-deps.sh; the two tests of the win32 tree that need no Wine run
# here, not there. The exit code is CTest's; 124 when the machine ran out of its time
# (KINETISCAN_VM_TIMEOUT seconds, 2400 by default).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
vm="$repo/build/wine-vm"
mkdir -p "$vm"

# The kernel, its modules for the shared file system, and the first process that mounts it.
make_boot_files() {
  echo "wine-vm: fetching Debian's kernel and making the machine's first stage"
  local work="$vm/boot.new" kernel_package
  rm -rf "$work"
  mkdir -p "$work"
  kernel_package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ { print $2; exit }')
  [ -n "$kernel_package" ] || {
    apt-get update -qq
    kernel_package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ { print $2; exit }')
  }
  (cd "$work" && apt-get download -q -o APT::Sandbox::User=root "$kernel_package" busybox-static >/dev/null)
  dpkg-deb -x "$work"/linux-image-*.deb "$work/kernel"
  dpkg-deb -x "$work"/busybox-static_*.deb "$work/busybox"
  local initramfs="$work/initramfs" module
  mkdir -p "$initramfs"/{bin,lib,proc,dev,newroot}
  cp "$work/busybox/bin/busybox" "$initramfs/bin/"
  for module in $modules; do
    cp "$(find "$work/kernel/lib/modules" -name "$module.ko" | head -1)" "$initramfs/lib/"
  done
  cat >"$initramfs/init" <<EOF
#!/bin/busybox sh
# Loads the virtio and 9p modules (in rounds, whatever their order of dependence), mounts the
# host's root file system and hands over to its own shell for the rest of the boot.
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t devtmpfs dev /dev
for round in 1 2 3; do
  for module in $modules; do /bin/busybox insmod /lib/\$module.ko 2>/dev/null; done
done
/bin/busybox mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose root /newroot ||
  { echo "wine-vm: the host's file system could not be mounted"; /bin/busybox poweroff -f; }
/bin/busybox umount /proc /dev
exec /bin/busybox switch_root /newroot /bin/sh "$vm/stage2.sh"
EOF
  chmod +x "$initramfs/init"
  (cd "$initramfs" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"
  mv "$work"/kernel/boot/vmlinuz-* "$vm/vmlinuz"
  mv "$work/initrd.gz" "$vm/initrd.gz"
  rm -rf "$work"
}
modules="virtio virtio_ring virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci 9pnet 9pnet_virtio netfs fscache 9p"

# The machine's own mounts over the shared root, then the job, its exit code and power off.
cat >"$vm/stage2.sh" <<EOF
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm; mount -t devpts devpts /dev/pts; mount -t tmpfs tmpfs /dev/shm
# Wine's server needs a local /tmp for its socket; the repository, which may live under /tmp,
# is carried over it at its own path.
mount --bind "$repo" /mnt
mount -t tmpfs tmpfs /tmp; mount -t tmpfs tmpfs /run
mkdir -p "$repo"
mount --bind /mnt "$repo"
# The job's output through a share of its own without a cache, so it is read here as it comes.
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 out "$vm"
(while sleep 30; do ps -eo pid,etime,time,args >"$vm/ps.log"; done) &
sh "$vm/job.sh" >"$vm/job.log" 2>&1
echo \$? >"$vm/job.rc"
sync
echo o >/proc/sysrq-trigger
sleep 60
EOF
# If the power-off loses the race with the shell's end (the shared root goes first), the kernel
# panics on the lost init; panic=-1 turns that into a reboot, which -no-reboot makes QEMU's exit.

# Runs a shell script in the machine; prints its output and returns its exit code. One machine at
# a time: they share the job's files.
run_in_machine() {
  exec 8>"$vm/machine.lock"
  flock 8
  cp "$1" "$vm/job.sh"
  rm -f "$vm/job.rc" "$vm/job.log" "$vm/ps.log"
  # Protection keys and SMAP in QEMU's emulated processor make the kernel fault on the 64-bit
  # iret Wine uses; the machine does without them.
  timeout "${KINETISCAN_VM_TIMEOUT:-2400}" qemu-system-x86_64 -accel tcg,thread=multi \
    -cpu max,pku=off,smap=off -smp "$(nproc)" -m 4G -nographic -no-reboot \
    -kernel "$vm/vmlinuz" -initrd "$vm/initrd.gz" -append "console=ttyS0 quiet panic=-1" \
    -virtfs local,path=/,mount_tag=root,security_model=none,multidevs=remap \
    -virtfs "local,path=$vm,mount_tag=out,security_model=none" -nic none \
    >"$vm/console.log" 2>&1 || true
  cat "$vm/job.log" 2>/dev/null || true
  [ -f "$vm/job.rc" ] || {
    echo "wine-vm: the machine ended without the job's exit code (out of time?); last seen running:" >&2
    grep -v ' \[' "$vm/ps.log" >&2 || true
    return 124
  }
  local status
  status=$(cat "$vm/job.rc")
  flock -u 8
  return "$status"
}

[ -f "$vm/vmlinuz" ] && [ -f "$vm/initrd.gz" ] || make_boot_files

# A 32-bit prefix, like the 32-bit hosts the library lives in, made once per build tree.
prefix="$vm/wineprefix"
if [ ! -f "$prefix/system.reg" ]; then
  echo "wine-vm: making the Wine prefix (once per build tree)"
  rm -rf "$prefix"
  cat >"$vm/prefix-job.sh" <<EOF
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i
wine reg add 'HKCU\\Software\\Wine\\X11 Driver' /v Managed /t REG_SZ /d N /f
wineserver -w
EOF
  run_in_machine "$vm/prefix-job.sh" || true
  [ -f "$prefix/system.reg" ] || {
    echo "wine-vm: the Wine prefix could not be made" >&2
    exit 1
  }
fi

[ "${1:-}" = --prepare ] && exit 0
# A script of one's own in the machine, for looking into a failure (KINETISCAN_WINEPREFIX is the
# prefix to use).
if [ "${1:-}" = --job ]; then
  { echo "export KINETISCAN_WINEPREFIX=\"$prefix\""; cat "$2"; } >"$vm/own-job.sh"
  status=0
  run_in_machine "$vm/own-job.sh" || status=$?
  rm -f "$repo"/build/*/xvfb.pid "$repo"/build/*/xvfb.display
  exit $status
fi

cat >"$vm/test-job.sh" <<EOF
cd "$repo"
export KINETISCAN_WINEPREFIX="$prefix"
ctest --test-dir build/win32 --output-on-failure \
  -E '^(plugin_exports|analysis_cannot_include_platform)\$'$(printf ' %q' "$@")
EOF
status=0
run_in_machine "$vm/test-job.sh" || status=$?
# The machine's display and its process number mean nothing here.
rm -f "$repo"/build/*/xvfb.pid "$repo"/build/*/xvfb.display
exit $status
