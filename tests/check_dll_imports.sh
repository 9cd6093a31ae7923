#!/usr/bin/env bash
# Fails when the DLL imports anything but Windows system DLLs: users copy
# varek.dll alone, so no MinGW runtime DLL may be needed beside it.
set -euo pipefail
dll=$1
imports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p')
[ -n "$imports" ] || { echo "no import table read from $dll" >&2; exit 1; }
echo "$dll imports:"; echo "$imports" | sed 's/^/  /'
status=0
while read -r name; do
  case "${name,,}" in
    kernel32.dll|msvcrt.dll|ntdll.dll|advapi32.dll|setupapi.dll|user32.dll|ws2_32.dll|ucrtbase.dll|api-ms-win-*) ;;
    *) echo "not a system DLL: $name" >&2; status=1 ;;
  esac
done <<<"$imports"
exit $status
