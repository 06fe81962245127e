#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, headless, in the build's own Wine prefix:
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]
# CTest uses it as the cross-compiling emulator. The prefix is made on first use; Wine's .NET and
# HTML engines are left out (they would ask to be downloaded), and Wine's own messages are off.
set -euo pipefail
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
export WINEPREFIX=${WINEPREFIX:-${ORVIK_WINEPREFIX:-$HOME/.cache/orvik-wineprefix}}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot --init </dev/null >/dev/null 2>&1 || true
  "$wineserver" -w 2>/dev/null || true
fi
case "${1:-}" in
  --server-start)
    # A server that stays until stopped, and Wine's services, with none of the caller's files.
    "$wineserver" -p </dev/null >/dev/null 2>&1 || true
    "$0" cmd /c exit </dev/null >/dev/null 2>&1 || true
    exit 0
    ;;
  --server-stop)
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    exit 0
    ;;
esac
# Paths that the tests pass on in the environment are Unix paths; Wine's drive Z: is the Unix root.
case "${ORVIK_BIN_DIR:-}" in
  /*) export ORVIK_BIN_DIR="Z:$ORVIK_BIN_DIR" ;;
esac
# Wine keeps the Unix QT_* variables from Windows programs and passes WINEQT_* ones on as QT_*.
while IFS='=' read -r name _; do
  case "$name" in
    QT_*) export "WINE$name=${!name}" ;;
  esac
done < <(env)
# Qt Test under Wine writes its log only to a console, not to a pipe or file given as standard
# output: a test's log goes to a file that is shown when the test ends.
case "$(basename "$1")" in
  tst_*.exe)
    log=$(mktemp)
    trap 'rm -f "$log"' EXIT
    status=0
    "$wine" "$@" -o "$log,txt" || status=$?
    cat "$log"
    exit "$status"
    ;;
esac
exec "$wine" "$@"
