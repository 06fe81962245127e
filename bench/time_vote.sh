#!/usr/bin/env bash
# Shows `orvik time` voting out a liar: three chronyd servers on loopback that serve this machine's
# clock (ports P, P+1, P+2) and one server an hour ahead (bench/ntp_liar.py, port P+3), all asked at once.
#
#   bench/time_vote.sh [--build-dir DIR] [--port P] [orvik time options...]
#
# Defaults: the tree in build (brought up to date), P = 11123. Other arguments go to `orvik time`
# (--json, --samples N, ...). Needs chrony and python3.
set -euo pipefail

port=11123
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$source_dir/build"
options=()
while [[ $# -gt 0 ]]; do
    case "$1" in
        --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
        --port) port="$2"; shift 2 ;;
        -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
        *) options+=("$1"); shift ;;
    esac
done

chronyd=/usr/sbin/chronyd
[[ -x $chronyd ]] || { echo "time_vote: chronyd is missing (Debian package chrony)" >&2; exit 1; }
cmake --build "$build_dir" -j2 --target orvik ORVIKNetwork >/dev/null
orvik="$build_dir/bin/orvik"
user_option=-U
[[ $EUID -eq 0 ]] && user_option=-uroot

work="$(mktemp -d /tmp/time_vote.XXXXXX)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

servers=()
for i in 0 1 2; do
    p=$((port + i))
    "$chronyd" -d -x "$user_option" "port $p" "bindaddress 127.0.0.1" "allow 127.0.0.1" "local stratum 8" \
        "cmdport 0" "pidfile $work/chronyd$i.pid" >"$work/chronyd$i.log" 2>&1 &
    pids+=($!)
    servers+=("127.0.0.1:$p")
done
python3 "$source_dir/bench/ntp_liar.py" $((port + 3)) 3600 &
pids+=($!)
servers+=("127.0.0.1:$((port + 3))")
# Each server needs a moment to bind: ask each until it answers.
for server in "${servers[@]}"; do
    for _ in $(seq 50); do
        "$orvik" time "$server" --samples 1 --timeout 0.2 >/dev/null 2>&1 && break
    done
done

echo "\$ orvik time ${servers[*]} ${options[*]}"
"$orvik" time "${servers[@]}" "${options[@]}"
