#!/usr/bin/env bash
# Builds ORVIK Network and runs the demo or the tests.
#   ./build.sh demo     install what is missing, build, run `orvik demo`
#   ./build.sh test     install what is missing, build, run every test through CTest
#   ./build.sh build    install what is missing and build only
# Environment: BUILD_DIR (default build), BUILD_TYPE (default RelWithDebInfo), CMAKE_ARGS (extra -D options).
set -euo pipefail
cd "$(dirname "$0")"

# Qt 6 and the build tools; chrony is the NTP peer of the network-time tests;
# mingw-w64 cross-compiles the Windows WLAN layer so that it cannot rot unseen;
# dbus-daemon and python3-dbusmock give the WiFi tests a private bus with a NetworkManager stand-in;
# libssl-dev gives libcrypto, which verifies signed updates and their packages.
PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev openssl libssl-dev binutils chrony mingw-w64
  dbus-daemon python3-dbusmock)
# clang-14 and libFuzzer build the fuzz targets; without them the build skips those.
OPTIONAL_PACKAGES=(clang-14 libfuzzer-14-dev)

missing=()
for p in "${PACKAGES[@]}" "${OPTIONAL_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "Missing packages. Run as root, or first run:"
    echo "  sudo apt-get install -y ${missing[*]}"
    for p in "${missing[@]}"; do
      [[ " ${OPTIONAL_PACKAGES[*]} " == *" $p "* ]] || exit 1
    done
    echo "Only optional packages are missing: building without the fuzz targets."
  fi
fi
# chrony's package starts a system daemon; the tests run their own instance on loopback.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet chrony 2>/dev/null; then
  systemctl stop chrony || true
fi

BUILD_DIR=${BUILD_DIR:-build}
BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
# shellcheck disable=SC2086
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" ${CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"

case "${1:-build}" in
  demo) exec "$BUILD_DIR/bin/orvik" demo ;;
  test) exec ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" ;;
  build) ;;
  *) echo "usage: $0 demo|test|build" >&2; exit 2 ;;
esac
