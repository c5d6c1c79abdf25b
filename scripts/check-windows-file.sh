#!/usr/bin/env bash
# Checks a Windows program file as it ships: a GUI program for the width it
# was built for, importing only Windows' own DLLs (everything else is linked
# in). Prints one line per finding; exits with 1 when any check fails.
#   scripts/check-windows-file.sh i686|x86_64 PROGRAM.exe
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: scripts/check-windows-file.sh i686|x86_64 PROGRAM.exe" >&2; exit 2; }
arch=$1 exe=$2
case "$arch" in
  i686) expected="PE32 executable (GUI) Intel 80386" ;;
  x86_64) expected="PE32+ executable (GUI) x86-64" ;;
  *) echo "check-windows-file: unknown width $arch" >&2; exit 2 ;;
esac
name=$(basename "$exe")
[ -f "$exe" ] || { echo "check-windows-file: FAIL: $exe does not exist" >&2; exit 1; }
failures=0
kind=$(file -b "$exe")
case "$kind" in
  "$expected"*) echo "check-windows-file: ok: $name: $kind, $(stat -c %s "$exe") bytes" ;;
  *) echo "check-windows-file: FAIL: $name is $kind, not $expected" >&2; failures=1 ;;
esac
system_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll ws2_32.dll crypt32.dll bcrypt.dll msvcrt.dll winhttp.dll "
imports=$("$arch-w64-mingw32-objdump" -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
if [ -z "$imports" ]; then
  echo "check-windows-file: FAIL: $name imports nothing readable" >&2
  failures=1
fi
for dll in $imports; do
  case "$system_dlls" in
    *" $dll "*) ;;
    *) echo "check-windows-file: FAIL: $name imports $dll, which Windows does not ship" >&2; failures=1 ;;
  esac
done
echo "check-windows-file: $name imports: $imports"
exit "$failures"
