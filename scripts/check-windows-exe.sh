#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that does not come with Windows
# itself (a MinGW runtime DLL, for example, would have to be shipped along).
set -euo pipefail
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
status=0
for program in "$@"; do
  dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for dll in $dlls; do
    case "$dll" in
      kernel32.dll | msvcrt.dll | ws2_32.dll | advapi32.dll | user32.dll | shell32.dll | \
        api-ms-win-*.dll) ;;
      *)
        echo "$program needs $dll, which Windows does not have" >&2
        status=1
        ;;
    esac
  done
  echo "$program: imports $(echo $dlls | tr ' ' ',')"
done
exit "$status"
