#!/usr/bin/env bash
# Measures a signed update end to end over loopback: `orvik update-check --public-key-file --download`
# (fetch and verify the signed description, stream the package to a temporary file while hashing
# it, check size and SHA-256, name it in its private folder) against `orvik get` of the same package alone.
# Prints the median wall time of each, the cost of verification as a share of the plain download,
# and the peak memory (maximum resident set size) of each.
#
#   bench/update_bench.sh [--size-mib N] [--repeat N] [--build-dir DIR] [--port N]
#
# Defaults: 512 MiB, 3 rounds (interleaved, alternating which goes first), the build in build-bench
# (configured and built when missing), port 18081. Needs nginx, /usr/bin/time and openssl.
set -euo pipefail
# shellcheck source=bench/benchlib.sh
source "$(dirname "${BASH_SOURCE[0]}")/benchlib.sh"

size_mib=512
repeat=3
port=18081
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$source_dir/build-bench"

while [[ $# -gt 0 ]]; do
    case "$1" in
        --size-mib) size_mib="$2"; shift 2 ;;
        --repeat) repeat="$2"; shift 2 ;;
        --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
        --port) port="$2"; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        *) echo "update_bench: unknown argument $1" >&2; exit 2 ;;
    esac
done

nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
for tool in "$nginx_bin" /usr/bin/time openssl curl; do
    command -v "$tool" >/dev/null || { echo "update_bench: $tool is missing (apt-get install nginx-light time openssl curl)" >&2; exit 1; }
done
if [[ ! -x "$build_dir/bin/orvik" ]]; then
    echo "building a Release tree in $build_dir"
    cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVIK_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build_dir" -j2 --target orvik ORVIKNetwork orvikupdate >/dev/null
fi
orvik="$build_dir/bin/orvik"

work="$(mktemp -d /tmp/update_bench.XXXXXX)"
nginx_pid=""
cleanup() {
    bench_nginx_stop
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www/Update/Windows" "$work/www/dl" "$work/out"
base="http://127.0.0.1:$port"

echo "creating and signing a $size_mib MiB update"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/www/dl/bench-2.0.run"
size_bytes=$(stat -c %s "$work/www/dl/bench-2.0.run")
openssl genpkey -algorithm ed25519 -out "$work/key.pem" 2>/dev/null
openssl pkey -in "$work/key.pem" -pubout -out "$work/key.pub"
printf 'name=Bench\nversion=2.0\nurl=%s/dl/bench-2.0.run\n' "$base" > "$work/www/Update/Windows/bench.txt"
"$orvik" update-sign --key "$work/key.pem" "$work/www/Update/Windows/bench.txt" "$work/www/dl/bench-2.0.run" >/dev/null

bench_nginx_start "$work" "$port" "$work/www"
# The versions that the update check verifies are the bench's own, not the user's.
export XDG_STATE_HOME="$work/state"

# measure NAME COMMAND...: runs the command under /usr/bin/time; prints "seconds cpu_seconds rss_kib".
# Exit code 0 is success, and so is 100 (update-check: update available, here downloaded).
measure() {
    local log="$work/time.log" status=0
    /usr/bin/time -v -o "$log" "${@:2}" >"$work/stdout.log" 2>"$work/stderr.log" || status=$?
    if ((status != 0 && status != 100)); then
        echo "update_bench: $1 failed:" >&2
        cat "$work/stderr.log" >&2
        exit 1
    fi
    bench_time_figures "$log"
}

declare -A times cpu rss
run_once() {
    local kind="$1" out seconds cpu_seconds kib
    rm -rf "$work/out/"*
    case "$kind" in
        get) out=$(measure get "$orvik" get "$base/dl/bench-2.0.run" -o "$work/out/bench-2.0.run") ;;
        update) out=$(measure update "$orvik" update-check --base "$base/" --name bench --current 1.0 \
                          --public-key-file "$work/key.pub" --download "$work/out") ;;
    esac
    local file="$work/out/bench-2.0.run"
    [[ $kind == update ]] && file="$work/out/orvik-updates/bench-2.0.run" # the updater's private folder
    [[ $(stat -c %s "$file") == "$size_bytes" ]] || { echo "update_bench: $kind: wrong size" >&2; exit 1; }
    read -r seconds cpu_seconds kib <<<"$out"
    times[$kind]+="$seconds "
    cpu[$kind]+="$cpu_seconds "
    if ((kib > ${rss[$kind]:-0})); then rss[$kind]=$kib; fi
}

echo "running each $repeat times ($size_mib MiB over loopback)"
for ((round = 0; round < repeat; round++)); do
    if ((round % 2 == 0)); then run_once get; run_once update; else run_once update; run_once get; fi
done
get_s=$(bench_median <<<"${times[get]}")
update_s=$(bench_median <<<"${times[update]}")
get_cpu=$(bench_median <<<"${cpu[get]}")
update_cpu=$(bench_median <<<"${cpu[update]}")
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
printf '\n%-30s %8s %10s %15s   %s\n' run "median s" "median CPU" "peak RSS (MiB)" "seconds of each round"
printf '%-30s %8s %10s %15s   %s\n' "orvik get" "$get_s" "$get_cpu" "$(mib "${rss[get]}")" "${times[get]}"
printf '%-30s %8s %10s %15s   %s\n' "orvik update-check --download" "$update_s" "$update_cpu" "$(mib "${rss[update]}")" \
    "${times[update]}"
awk -v g="$get_s" -v u="$update_s" -v gc="$get_cpu" -v uc="$update_cpu" 'BEGIN {
    printf "verification adds %.1f %% to the wall time, %.1f %% to the CPU time (user + system)\n",
           (u / g - 1) * 100, (uc / gc - 1) * 100 }'
