#!/usr/bin/env bash
# Makes the Wine prefix of the tests that bring their own Windows system pieces and starts its server:
# the stand-in wlanapi.dll and netsh.exe lie in its system folder, where Windows keeps the real ones
# and the only place the module looks for them. The prefix belongs to the build, not to the user.
#   standinprefix.sh PREFIX FILE...
set -euo pipefail
prefix=$1
shift
runner=$(cd "$(dirname "$0")/../../.." && pwd)/cmake/windows/wine-run.sh
export WINEPREFIX=$prefix
"$runner" --server-start # makes the prefix on first use
system32=$prefix/drive_c/windows/system32
[ -d "$system32" ] || { echo "no system folder in $prefix" >&2; exit 1; }
cp -f "$@" "$system32/"
