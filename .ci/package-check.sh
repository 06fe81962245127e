#!/usr/bin/env bash
# Makes the Debian packages from a configured build tree, checks them with lintian, installs them
# with their dependencies and uses them as a user and a host developer would: orvik demo from PATH,
# and the example host built once with find_package(ORVIKNetwork) and once with pkg-config. Before the
# packages, the same host is built against an install under a prefix of its own; each CMake host is
# installed and run from where it was installed.
# Run as root on a clean Debian 12 root, from anywhere: .ci/package-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
export DEBIAN_FRONTEND=noninteractive

ls /var/lib/apt/lists/*_Packages > /dev/null 2>&1 || apt-get update
# dpkg-shlibdeps (dpkg-dev) and file work out the dependencies; lintian checks the result.
apt-get install -y --no-install-recommends dpkg-dev file lintian pkg-config
rm -f "$build"/*.deb
cmake --build "$build" --target package
debs=("$build"/*.deb)
[[ ${#debs[@]} == 3 ]] || { echo "package-check: expected 3 packages, found ${#debs[@]}" >&2; exit 1; }
for deb in "${debs[@]}"; do
  dpkg-deb --field "$deb" Package Version Depends
  # Files under /usr only.
  if dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v '^\./$' | grep -v '^\./usr/'; then
    echo "package-check: $deb installs files outside /usr" >&2
    exit 1
  fi
done
lintian --fail-on error "${debs[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$PWD/examples/host

# Under a prefix, with nothing under /usr yet that the host could find instead.
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix"
cmake -S "$src" -B "$work/prefix-cmake-host" -DCMAKE_PREFIX_PATH="$prefix"
cmake --build "$work/prefix-cmake-host"
cmake --install "$work/prefix-cmake-host" --prefix "$work/prefix-cmake-host-installed"
"$work/prefix-cmake-host-installed/bin/orvikhost"
pcdir=$(dirname "$(find "$prefix" -name orviknetwork.pc)")
# shellcheck disable=SC2046 # the flags are separate words
g++ -std=c++17 -o "$work/prefix-pkgconfig-host" "$src/main.cpp" $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs orviknetwork)
"$work/prefix-pkgconfig-host"

apt-get install -y "${debs[@]}"
cd "$work"
[[ $(command -v orvik) == /usr/bin/orvik ]]
orvik --version
orvik demo
# The manual page, as a user reads it after the install.
apt-get install -y --no-install-recommends man-db
man -P cat orvik | grep -q 'orvik - web transfers, network time, update checks and WiFi'

cmake -S "$src" -B cmake-host
cmake --build cmake-host
cmake --install cmake-host --prefix "$work/cmake-host-installed"
"$work/cmake-host-installed/bin/orvikhost"
# shellcheck disable=SC2046 # the flags are separate words
g++ -std=c++17 -o pkgconfig-host "$src/main.cpp" $(pkg-config --cflags --libs orviknetwork)
./pkgconfig-host
echo "package-check: passed"
