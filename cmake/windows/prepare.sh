#!/usr/bin/env bash
# Makes what the Windows cross build needs, once, in a cache folder outside the checkout:
# - Qt 6.4.2 for MinGW-w64, unpacked from the archive in the shared toolchains folder;
# - OpenSSL's libcrypto (static) for MinGW-w64, built from Debian's own openssl source package, since
#   the host library verifies update signatures with it and no Windows build of it is packaged.
# Prints the cache folder, then the OpenSSL folder. Usage: prepare.sh [CACHE_DIR]
#
# OpenSSL is built with no-autoload-config: its configuration file is looked for in a folder fixed at
# build time, a Unix path here, which Windows resolves on the current drive (C:\var\cache\...), a
# folder that any user may create; a configuration planted there could switch algorithms off or
# load code. Each set of options gets a folder of its own, named by their hash: a change of options
# builds anew beside the old folder, which builds of other checkouts may still be using.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${1:-${ORVIK_WINDOWS_CACHE:-/var/cache/orvik-windows}}
toolchains=${ORVIK_TOOLCHAINS:-$here/../../../shared/toolchains}
qt_archive=$toolchains/qt6-mingw-6.4.2.tar.xz
mkdir -p "$cache"

if [ ! -f "$cache/qt6-mingw/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
  if [ ! -f "$qt_archive" ]; then
    echo "windows: the Qt for MinGW archive is missing: $qt_archive" >&2
    echo "windows: make it with build-qt6-mingw.sh beside it (about an hour on 2 cores), or set ORVIK_TOOLCHAINS" >&2
    exit 1
  fi
  rm -rf "$cache/qt6-mingw.part" && mkdir -p "$cache/qt6-mingw.part"
  tar -C "$cache/qt6-mingw.part" -xJf "$qt_archive"
  mv "$cache/qt6-mingw.part/qt6-mingw" "$cache/qt6-mingw" && rmdir "$cache/qt6-mingw.part"
fi

openssl_options=(mingw64 --cross-compile-prefix=x86_64-w64-mingw32- --libdir=lib no-shared no-tests no-engine
  no-module no-legacy no-dso no-autoload-config)
openssl_prefix=$cache/openssl-mingw-$(printf '%s\n' "${openssl_options[@]}" | sha256sum | cut -c1-12)
if [ ! -f "$openssl_prefix/lib/libcrypto.a" ]; then
  work=$openssl_prefix.build
  rm -rf "$work" && mkdir -p "$work/lists/partial"
  # Debian's source index, kept apart from the machine's apt setup.
  cat >"$work/src.sources" <<SRC
Types: deb-src
URIs: $(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  apt_src=(-o Dir::Etc::sourcelist="$work/src.sources" -o Dir::Etc::sourceparts=/dev/null
    -o Dir::State::Lists="$work/lists")
  (cd "$work" && apt-get update "${apt_src[@]}" >/dev/null &&
    apt-get source --download-only "${apt_src[@]}" openssl >/dev/null 2>"$work/fetch.log") || {
    echo "windows: cannot fetch Debian's openssl source package" >&2
    exit 1
  }
  tar -C "$work" -xzf "$work"/openssl_*.orig.tar.gz
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -1)
  # Installed into a folder of its own name that appears whole: a build that breaks off leaves none.
  (cd "$src" && ./Configure "${openssl_options[@]}" --prefix="$openssl_prefix" >"$work/configure.log" 2>&1 &&
    make -j"$(nproc)" build_libs >"$work/build.log" 2>&1 &&
    make install_dev DESTDIR="$work/staged" >"$work/install.log" 2>&1) || {
    echo "windows: building libcrypto for MinGW failed; see $work" >&2
    exit 1
  }
  rm -rf "$openssl_prefix" && mv "$work/staged$openssl_prefix" "$openssl_prefix"
  rm -rf "$work"
fi
echo "$cache"
echo "$openssl_prefix"
