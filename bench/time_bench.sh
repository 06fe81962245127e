#!/usr/bin/env bash
# Compares `orvik time` (through the module) with chrony's own client, side by side, against one
# chronyd that serves this machine's clock on loopback. Server and clients read the same clock, so the
# true offset is 0 and every offset shown is error. Each run:
#   orvik:  `orvik time 127.0.0.1 --port P` (default options unless --samples): offset ± bound, and the
#           delay of the table's one address;
#   chrony: `chronyd -Q "server 127.0.0.1 port P iburst"`, which measures without setting the clock;
#           from its measurement log, the sample with the smallest delay: its offset and delay.
# Prints every run, the medians, the ratios orvik / chrony and how many printed bounds contain 0.
#
#   bench/time_bench.sh [--runs N] [--samples N] [--build-dir DIR] [--port N]
#
# Defaults: 7 runs, orvik's own default for --samples (passed on when given), a Release build in
# build-bench (configured when missing, brought up to date), server port 11123 on 127.0.0.1.
# Needs chrony; root or sudo for apt-get when it is missing.
set -euo pipefail

runs=7
samples=()
port=11123
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$source_dir/build-bench"

while [[ $# -gt 0 ]]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --samples) samples=(--samples "$2"); shift 2 ;;
        --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
        --port) port="$2"; shift 2 ;;
        -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
        *) echo "time_bench: unknown argument $1" >&2; exit 2 ;;
    esac
done

as_root() { if [[ $EUID -eq 0 ]]; then "$@"; else sudo "$@"; fi; }
chronyd=/usr/sbin/chronyd
if [[ ! -x $chronyd ]]; then
    echo "installing chrony"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends chrony >/dev/null
fi
# As root chronyd keeps its privileges (its own user could not write the temporary folder); otherwise
# -U lets it start without them.
user_option=-U
[[ $EUID -eq 0 ]] && user_option=-uroot

if [[ ! -f "$build_dir/build.ninja" ]]; then
    echo "configuring a Release tree in $build_dir"
    cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVIK_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build_dir" -j2 --target orvik ORVIKNetwork >/dev/null
orvik="$build_dir/bin/orvik"

work="$(mktemp -d /tmp/time_bench.XXXXXX)"
server_pid=""
cleanup() {
    if [[ -n "$server_pid" ]]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# In the foreground (-d), never touching the clock (-x), configured by the directives that follow.
"$chronyd" -d -x "$user_option" "port $port" "bindaddress 127.0.0.1" "allow 127.0.0.1" "local stratum 8" \
    "cmdport 0" "pidfile $work/server.pid" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
    "$orvik" time 127.0.0.1 --port "$port" --samples 1 --timeout 0.2 >/dev/null 2>&1 && break
    kill -0 "$server_pid" 2>/dev/null || { echo "time_bench: chronyd stopped:" >&2; cat "$work/server.log" >&2; exit 1; }
done

# orvik: prints "|offset| bound delay" in microseconds.
run_orvik() {
    "$orvik" time 127.0.0.1 --port "$port" "${samples[@]}" | awk '
        /^offset:/ { offset = $2; bound = $4 }
        /  used$/ { delay = $6 }
        END { if (offset == "") exit 1; offset += 0; if (offset < 0) offset = -offset
              printf "%.0f %.0f %.0f\n", offset * 1000, bound * 1000, delay * 1000 }'
}

# chrony: prints "|offset| delay" in microseconds, of its sample with the smallest delay.
run_chrony() {
    local dir="$work/chrony$1"
    mkdir -p "$dir"
    "$chronyd" -Q "$user_option" "server 127.0.0.1 port $port iburst" "cmdport 0" "pidfile $dir/client.pid" \
        "logdir $dir" "log measurements" >"$dir/client.log" 2>&1
    awk '$3 == "127.0.0.1" && $13 ~ /e/ {
            offset = $12 + 0; if (offset < 0) offset = -offset; delay = $13 + 0
            if (best == "" || delay < best) { best = delay; bestOffset = offset } }
         END { if (best == "") exit 1; printf "%.1f %.1f\n", bestOffset * 1e6, best * 1e6 }' "$dir/measurements.log"
}

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "$runs runs against chronyd $("$chronyd" -v | awk '{print $4}') on 127.0.0.1 port $port (true offset 0)," \
    "orvik time ${samples[*]:-with default options}"
printf '\n%-4s %24s %12s   %16s %12s\n' run "orvik |offset| ± bound" "orvik delay" "chrony |offset|" "chrony delay"
: >"$work/orvik" && : >"$work/chrony"
for ((run = 1; run <= runs; run++)); do
    read -r o_offset o_bound o_delay < <(run_orvik) || { echo "time_bench: orvik time failed" >&2; exit 1; }
    read -r c_offset c_delay < <(run_chrony "$run") || { echo "time_bench: chronyd -Q measured nothing" >&2; exit 1; }
    echo "$o_offset $o_bound $o_delay" >>"$work/orvik"
    echo "$c_offset $c_delay" >>"$work/chrony"
    printf '%-4s %15s ± %3s us %9s us   %13s us %9s us\n' "$run" "$o_offset" "$o_bound" "$o_delay" "$c_offset" "$c_delay"
done

o_offset=$(cut -d' ' -f1 "$work/orvik" | median)
o_bound=$(cut -d' ' -f2 "$work/orvik" | median)
o_delay=$(cut -d' ' -f3 "$work/orvik" | median)
c_offset=$(cut -d' ' -f1 "$work/chrony" | median)
c_delay=$(cut -d' ' -f2 "$work/chrony" | median)
contained=$(awk '$1 <= $2' "$work/orvik" | wc -l)
printf '\nmedian |offset|: orvik %s us, chrony %s us, orvik/chrony %s\n' "$o_offset" "$c_offset" \
    "$(awk -v a="$o_offset" -v b="$c_offset" 'BEGIN { print (b > 0) ? sprintf("%.1f", a / b) : "n/a" }')"
printf 'median delay:    orvik %s us, chrony %s us, orvik/chrony %s\n' "$o_delay" "$c_delay" \
    "$(awk -v a="$o_delay" -v b="$c_delay" 'BEGIN { print (b > 0) ? sprintf("%.1f", a / b) : "n/a" }')"
printf 'orvik: median bound %s us; bounds containing the true offset 0: %s of %s\n' "$o_bound" "$contained" "$runs"
if awk -v o="$o_offset" -v d="$o_delay" -v c="$contained" -v r="$runs" 'BEGIN { exit !(o <= 100 && d <= 500 && c == r) }'; then
    echo "goal (median |offset| <= 100 us, median delay <= 500 us, every bound contains 0): met"
else
    echo "goal (median |offset| <= 100 us, median delay <= 500 us, every bound contains 0): NOT met"
    exit 1
fi
