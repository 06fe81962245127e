#!/usr/bin/env bash
# Builds ORVIK Network and runs the demo or the tests.
#   ./build.sh demo     install what is missing, build, run `orvik demo`
#   ./build.sh test     install what is missing, build, run every test through CTest
#   ./build.sh build    install what is missing and build only
#   ./build.sh windows       cross-build for Windows x86-64 (MinGW-w64) into build-windows/
#   ./build.sh windows-test  that, then every Windows test and `orvik.exe demo` under Wine
# Environment: BUILD_DIR (default build), BUILD_TYPE (default RelWithDebInfo), CMAKE_ARGS (extra -D options).
# On a terminal the build shows its progress; otherwise it prints one summary line and keeps the full
# log in BUILD_DIR/build.log, whose end it shows when the build fails.
set -euo pipefail
cd "$(dirname "$0")"

command=${1:-build}
usage="usage: $0 demo|test|build|windows|windows-test"
case "$command" in
  demo | test | build | windows | windows-test) ;;
  -h | --help | help) echo "$usage"; exit 0 ;;
  *) echo "$usage" >&2; exit 2 ;;
esac

# Every Debian package the build and the tests use, in one list:
# - Qt 6 and the build tools;
# - chrony, the NTP peer of the network-time tests;
# - dbus-daemon and python3-dbusmock: a private bus with a NetworkManager stand-in for the WiFi tests;
# - libssl-dev: libcrypto, which verifies signed updates and their packages;
# - clang-14 with libFuzzer and its runtime archives for the fuzz targets (the build leaves those out,
#   and says so, when it cannot link one);
# - dpkg-dev and file, with which the package target works out the packages' dependencies;
# - valgrind, which sees memory errors inside Qt's own code, where the sanitizers do not look;
# - nginx-light, a loopback HTTPS server that speaks HTTP/2 to the web-request tests (and serves the benchmarks);
# - groff-base, which checks the manual page;
# - libxml2-utils: xmllint, which checks WLAN profiles against their schema.
PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev openssl libssl-dev binutils chrony
  dbus-daemon python3-dbusmock clang-14 libfuzzer-14-dev libclang-rt-14-dev dpkg-dev file
  valgrind nginx-light groff-base libxml2-utils)
# The Windows build: the MinGW-w64 compiler with POSIX threads (the one Qt for Windows was built
# with), Wine to run what it makes, xz for the Qt archive, dpkg-dev to fetch OpenSSL's source and
# wixl to build the .msi package that the update tests install.
case "$command" in
  windows*) PACKAGES+=(g++-mingw-w64-x86-64-posix wine64 xz-utils dpkg-dev wixl) ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "Missing packages. Run as root, or first run:"
    echo "  sudo apt-get install -y --no-install-recommends ${missing[*]}"
    echo "Trying to build without them: the build says what it cannot find."
  fi
fi
# chrony's package starts a system daemon; the tests run their own instance on loopback.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet chrony 2>/dev/null; then
  systemctl stop chrony || true
fi

extra_args=()
case "$command" in
  windows*)
    # Qt for Windows and a static libcrypto for MinGW, made once into a cache outside the checkout.
    prepared=$(cmake/windows/prepare.sh)
    cache=${prepared%%$'\n'*}
    openssl=${prepared#*$'\n'}
    BUILD_DIR=${BUILD_DIR:-build-windows}
    BUILD_TYPE=${BUILD_TYPE:-Release}
    extra_args=(-DCMAKE_TOOLCHAIN_FILE="$cache/qt6-mingw/lib/cmake/Qt6/qt.toolchain.cmake"
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
      -DOPENSSL_USE_STATIC_LIBS=ON -DOPENSSL_INCLUDE_DIR="$openssl/include"
      -DLIB_EAY="$openssl/lib/libcrypto.a" -DSSL_EAY="$openssl/lib/libssl.a"
      -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/cmake/windows/wine-run.sh")
    ;;
esac
BUILD_DIR=${BUILD_DIR:-build}
BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
mkdir -p "$BUILD_DIR"
log="$BUILD_DIR/build.log"
started=$SECONDS
configure=(cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" "${extra_args[@]}")
# shellcheck disable=SC2206
configure+=(${CMAKE_ARGS:-})
if [ -t 1 ]; then
  "${configure[@]}" >"$log" 2>&1 || { cat "$log"; exit 1; }
  grep -h 'left out' "$log" || true
  cmake --build "$BUILD_DIR" -j"$(nproc)"
else
  if ! { "${configure[@]}" && cmake --build "$BUILD_DIR" -j"$(nproc)"; } >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "build: FAILED after $((SECONDS - started)) s; the whole log is $log"
    exit 1
  fi
  grep -h 'left out' "$log" || true
  echo "build: $BUILD_DIR ($BUILD_TYPE) built in $((SECONDS - started)) s; log: $log"
fi

case "$command" in
  demo) exec "$BUILD_DIR/bin/orvik" demo ;;
  test) exec ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" ;;
  windows-test)
    # Wine's server and services outlive the program that started them, holding its standard files:
    # started first, on their own, they keep no pipe of CTest's open (a test would last until they end).
    cmake/windows/wine-run.sh --server-start
    status=0
    # The tests first, then the demo as a Windows user runs it, from the deployable folder.
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" || status=$?
    # orvik.exe ends cleanly after giving up a TLS handshake, fifty times in a row: a run that hangs
    # at its end fails its repetition after 60 s.
    started_loop=$SECONDS
    ORVIK_REPEAT_SILENT_TLS=50 ORVIK_BIN_DIR=$PWD/$BUILD_DIR/bin \
      cmake/windows/wine-run.sh "$BUILD_DIR/bin/tst_transfercommands.exe" transfer >"$BUILD_DIR/exit-loop.log" 2>&1 ||
      { status=1; tail -n 30 "$BUILD_DIR/exit-loop.log"; }
    echo "windows: 50 runs of orvik.exe giving up a TLS handshake: $(grep -c '^PASS   : .*silent-tls-run-' \
      "$BUILD_DIR/exit-loop.log") passed in $((SECONDS - started_loop)) s"
    # The demo as a Windows user runs it, from the deployable folder, on a Windows without the WLAN API
    # (Windows Server without its Wireless LAN feature): transfers, time and updates all work.
    WINEDLLOVERRIDES="mscoree,mshtml=;wlanapi=d" cmake/windows/wine-run.sh "$BUILD_DIR/bin/orvik.exe" demo ||
      status=$?
    cmake/windows/wine-run.sh --server-stop
    exit "$status"
    ;;
esac
