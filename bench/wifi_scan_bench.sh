#!/usr/bin/env bash
# Counts the D-Bus calls and the time of one WiFi scan on Linux: `orvik wifi --list` against
# python3-dbusmock's NetworkManager on a private dbus-daemon, recorded by dbus-monitor. Prints the
# method calls that orvik made, by member, the time from its first call to its last, and the run
# time of the whole command.
#
#   bench/wifi_scan_bench.sh [--devices N] [--access-points N] [--build-dir DIR]
#
# Defaults: 2 WiFi devices that each see the same 10 networks (one access point object each), the
# build in build (built with ./build.sh when orvik is missing). Needs dbus-daemon, dbus-monitor
# and python3-dbusmock (build.sh installs them).
set -euo pipefail

devices=2
access_points=10
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$source_dir/build"

while [[ $# -gt 0 ]]; do
    case "$1" in
        --devices) devices="$2"; shift 2 ;;
        --access-points) access_points="$2"; shift 2 ;;
        --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) echo "wifi_scan_bench: unknown argument $1" >&2; exit 2 ;;
    esac
done

[[ -x "$build_dir/bin/orvik" ]] || BUILD_DIR="$build_dir" "$source_dir/build.sh" build

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# A bus of our own: its address first, then the daemon's process id.
mapfile -t daemon < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
pids+=("${daemon[1]}")
export DBUS_SYSTEM_BUS_ADDRESS="${daemon[0]}"

/usr/bin/python3 -m dbusmock --template networkmanager --logfile "$work/mock.log" &
pids+=($!)
/usr/bin/python3 - "$devices" "$access_points" <<'EOF'
import sys, time
import dbus
devices, access_points = int(sys.argv[1]), int(sys.argv[2])
bus = dbus.SystemBus()
for _ in range(300):
    if bus.name_has_owner('org.freedesktop.NetworkManager'):
        break
    time.sleep(0.1)
mock = dbus.Interface(bus.get_object('org.freedesktop.NetworkManager', '/org/freedesktop'),
                      'org.freedesktop.DBus.Mock')
for d in range(devices):
    device = mock.AddWiFiDevice(f'wlan{d}', f'wlan{d}', 100)
    for a in range(access_points):
        mock.AddAccessPoint(device, f'ap{d}_{a}', f'Network {a}', f'00:11:22:33:{d:02x}:{a:02x}',
                            2, 2412, 54000, dbus.Byte(20 + 7 * a % 80), 0)
EOF

dbus-monitor --address "$DBUS_SYSTEM_BUS_ADDRESS" --monitor >"$work/monitor.txt" 2>/dev/null &
pids+=($!)
# dbus-monitor reports its own name once it monitors.
for _ in $(seq 100); do grep -q NameLost "$work/monitor.txt" 2>/dev/null && break; sleep 0.1; done

start=$(date +%s.%N)
QT_QPA_PLATFORM=offscreen "$build_dir/bin/orvik" wifi --list >"$work/list.txt" 2>/dev/null
end=$(date +%s.%N)
sleep 0.5 # let dbus-monitor write the last messages
kill "${pids[-1]}"

calls="$(grep '^method call' "$work/monitor.txt")"
echo "orvik wifi --list: $devices devices, $access_points access points each; $(wc -l <"$work/list.txt") networks listed"
echo "D-Bus method calls by orvik: $(wc -l <<<"$calls")"
sed 's/.*member=//' <<<"$calls" | sort | uniq -c | sort -rn | sed 's/^/  /'
times=$(sed -n 's/^method call time=\([0-9.]*\).*/\1/p' <<<"$calls")
awk -v first="$(head -1 <<<"$times")" -v last="$(tail -1 <<<"$times")" \
    'BEGIN { printf "first call to last call: %.0f ms\n", (last - first) * 1000 }'
awk -v s="$start" -v e="$end" 'BEGIN { printf "whole command: %.0f ms\n", (e - s) * 1000 }'
