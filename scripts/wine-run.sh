#!/usr/bin/env bash
# Runs a Windows program under Wine, in the Wine prefix named by WINEPREFIX
# or else CDT_WINEPREFIX (the Windows build sets it to a directory of its
# own). The prefix is created on first use, without any dialog, and Wine's
# debugging output is off unless WINEDEBUG says otherwise.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-${CDT_WINEPREFIX:?set WINEPREFIX or CDT_WINEPREFIX}}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No offer to install Mono or Gecko: the programs need neither.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Tests start in parallel: one of them makes the prefix, the others wait.
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      wineserver -w 2>/dev/null || /usr/lib/wine/wineserver -w 2>/dev/null || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
