#!/usr/bin/env bash
# Runs the README's Quick start commands as a new user would: as root in a clean Debian 12 root
# (debootstrap, minbase), on a clean clone of this repository's committed HEAD, with nothing
# installed by hand. The debootstrapped root is cached as a tarball between runs on one machine;
# each run unpacks an untouched copy of it and throws it away afterwards.
#   .ci/clean-root.sh [COMMAND...]   default: ./build.sh demo && ./build.sh test
# Environment: ORVIK_ROOT_CACHE (default /var/cache/orvik-ci), ORVIK_ROOT_WORK (default /var/tmp).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
suite=bookworm
cache=${ORVIK_ROOT_CACHE:-/var/cache/orvik-ci}
tarball=$cache/$suite-minbase.tar
command=${*:-./build.sh demo && ./build.sh test}

if [ "$(id -u)" -ne 0 ]; then
  echo "clean root: needs root (debootstrap, mount, chroot)" >&2
  exit 1
fi

# The Debian archive that this machine's apt uses, so the root reaches what the machine reaches.
debian_mirror() {
  local files=() f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && files+=("$f")
  done
  [ ${#files[@]} -gt 0 ] || return 0
  {
    awk '$1 == "deb" && $3 == "'$suite'" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' \
      "${files[@]}" 2>/dev/null
    awk 'BEGIN { RS = ""; FS = "\n" }
         { deb = 0; ours = 0; uri = ""
           for (i = 1; i <= NF; i++) {
             n = split($i, f, /[ \t]+/)
             if (f[1] == "Types:") for (j = 2; j <= n; j++) if (f[j] == "deb") deb = 1
             if (f[1] == "Suites:") for (j = 2; j <= n; j++) if (f[j] == "'$suite'") ours = 1
             if (f[1] == "URIs:") uri = f[2]
           }
           if (deb && ours && uri != "") { print uri; exit } }' "${files[@]}" 2>/dev/null
  } | head -n 1
}

make_root_tarball() {
  mkdir -p "$cache"
  command -v debootstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  local mirror fresh=$cache/$suite-minbase.new
  mirror=$(debian_mirror)
  if [ -z "$mirror" ]; then
    echo "clean root: FAILED: no Debian $suite archive in this machine's apt sources" >&2
    exit 1
  fi
  rm -rf "$fresh"
  echo "clean root: making a minimal $suite root (debootstrap)"
  if ! debootstrap --variant=minbase "$suite" "$fresh" "$mirror" >"$cache/debootstrap.log" 2>&1; then
    tail -n 20 "$cache/debootstrap.log" >&2
    echo "clean root: FAILED: debootstrap could not reach Debian's package registry; log: $cache/debootstrap.log" >&2
    rm -rf "$fresh"
    exit 1
  fi
  # Package scripts in the root must not start daemons (chrony, dbus) that would outlive the run.
  printf '#!/bin/sh\nexit 101\n' >"$fresh/usr/sbin/policy-rc.d"
  chmod +x "$fresh/usr/sbin/policy-rc.d"
  tar -C "$fresh" -cf "$tarball.new" .
  mv "$tarball.new" "$tarball"
  rm -rf "$fresh"
}

[ -s "$tarball" ] || make_root_tarball

work=$(mktemp -d "${ORVIK_ROOT_WORK:-/var/tmp}/orvik-clean-root.XXXXXX")
root=$work/root

cleanup() {
  local status=$?
  # Whatever the run left behind in the root (a daemon, a test peer) ends before its mounts go.
  local pid
  for pid in /proc/[0-9]*; do
    if [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ]; then kill -KILL "${pid#/proc/}" 2>/dev/null || true; fi
  done
  local mnt
  for mnt in dev/pts dev sys proc; do
    if mountpoint -q "$root/$mnt" 2>/dev/null; then umount -R "$root/$mnt" 2>/dev/null || umount -lR "$root/$mnt" || true; fi
  done
  # Only once nothing is mounted below it is the copy removed.
  if ! grep -q " $root/" /proc/self/mounts; then
    rm -rf "$work"
  else
    echo "clean root: left $work in place: something is still mounted there" >&2
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mkdir -p "$root"
tar -C "$root" -xf "$tarball"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone --quiet --no-hardlinks "$repo" "$root/src/orvik"

echo "clean root: running '$command' in a fresh Debian $suite root"
started=$SECONDS
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 TERM=dumb bash -c "cd /src/orvik && $command"
echo "clean root: passed in $((SECONDS - started)) s"
