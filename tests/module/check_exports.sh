#!/usr/bin/env bash
# Checks the plug-in's binary face: exactly the five entry points by name and, for the DLL, a PE32
# i386 image importing nothing but system DLLs.
set -euo pipefail
file=$1
expected="DllCanUnloadNow DllGetClassForm DllGetClassInfo DllGetClassObject DllGetInterface"
fail() { echo "FAIL: $*"; exit 1; }

case "$file" in
*.x32)
  dump=$(i686-w64-mingw32-objdump -p "$file")
  grep -q 'file format pei-i386' <<<"$dump" || fail "not a PE image for i386"
  grep -q '(PE32)' <<<"$dump" || fail "not PE32"
  grep -q -P '^\tDLL$' <<<"$dump" || fail "not a DLL"
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on&&/^[ \t]*\[/{print $NF;next} on&&/^$/{exit}' <<<"$dump" | sort | xargs)
  imports=$(awk '/DLL Name:/{print toupper($3)}' <<<"$dump" | sort -u | xargs)
  for dll in $imports; do
    case "$dll" in
    KERNEL32.DLL | USER32.DLL | GDI32.DLL | AVICAP32.DLL | MSVCRT.DLL) ;;
    *) fail "imports $dll, which is not a system DLL" ;;
    esac
  done
  echo "imports: $imports"
  ;;
*)
  exports=$(nm -D --defined-only "$file" | awk '$2 ~ /^[TW]$/ {print $3}' | sort | xargs)
  ;;
esac
echo "exports: $exports"
[ "$exports" = "$expected" ] || fail "expected exports: $expected"
echo "PASS"
