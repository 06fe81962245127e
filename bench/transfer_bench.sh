#!/usr/bin/env bash
# Compares web transfers over loopback against nginx serving a file (GET) and accepting uploads (PUT,
# WebDAV module): `orvik get/put` (through the module), bench/progressreader (a host that reads the
# body on every progress signal, through the module), the same transfer on a bare QNetworkAccessManager
# (bench/rawqt) and curl. Prints for each the median throughput (MB/s, 10^6 bytes), the median CPU
# seconds (user + system) per GiB, the peak memory (maximum resident set size), the peak anonymous
# memory (RssAnon, sampled) and the ratios.
#
#   bench/transfer_bench.sh [--size-mib N] [--repeat N] [--build-dir DIR] [--port N] [--slow-rate MB]
#                           [--pipe-rate MIB] [--ops LIST]
#
# Operations: GET over HTTP (-o FILE); TLS, the same over HTTPS with HTTP/1.1; H2, over HTTPS with
# HTTP/2 (negotiated by ALPN, checked in nginx's log); PIPE, the body on standard output read at
# full speed by `wc -c`; PUT of the file; PUTPIPE, the file through a pipe to `put -`; PACED, `orvik
# get` into a reader that takes --pipe-rate MiB/s (slower than the network: memory must stay bounded;
# 0 leaves it out); SLOW with --slow-rate, a GET that nginx sends at that many MB/s. --ops runs only
# the named ones, comma-separated (--ops PUT,PUTPIPE: the uploads; --ops TLS,H2: HTTPS).
#
# Defaults: 1024 MiB, 3 rounds (median throughput and CPU, largest peak memory), a Release build in
# build-bench (configured and built when missing), ports 18080 (HTTP), 18081 (HTTPS) and 18082 (HTTP/2),
# a paced reader at 50 MiB/s. Refuses ports that a server it did not start holds. Needs root or sudo
# for apt-get when nginx, /usr/bin/time, curl, openssl or python3 (the paced reader) are missing.
set -euo pipefail
# shellcheck source=bench/benchlib.sh
source "$(dirname "${BASH_SOURCE[0]}")/benchlib.sh"

size_mib=1024
repeat=3
port=18080
slow_rate=0
pipe_rate=50
only_ops=""
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$source_dir/build-bench"

while [[ $# -gt 0 ]]; do
    case "$1" in
        --size-mib) size_mib="$2"; shift 2 ;;
        --repeat) repeat="$2"; shift 2 ;;
        --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
        --port) port="$2"; shift 2 ;;
        --slow-rate) slow_rate="$2"; shift 2 ;;
        --pipe-rate) pipe_rate="$2"; shift 2 ;;
        --ops) only_ops="$2"; shift 2 ;;
        -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
        *) echo "transfer_bench: unknown argument $1" >&2; exit 2 ;;
    esac
done

as_root() { if [[ $EUID -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

missing=()
command -v nginx >/dev/null || [[ -x /usr/sbin/nginx ]] || missing+=(nginx-light)
[[ -x /usr/bin/time ]] || missing+=(time)
command -v curl >/dev/null || missing+=(curl)
command -v openssl >/dev/null || missing+=(openssl)
command -v python3 >/dev/null || missing+=(python3) # the paced reader and the memory sampler
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "installing ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
if ! "$nginx_bin" -V 2>&1 | grep -q -- --with-http_dav_module; then
    echo "transfer_bench: this nginx has no WebDAV module (PUT); install nginx-light or nginx-full" >&2
    exit 1
fi

if [[ ! -x "$build_dir/bin/orvik" || ! -x "$build_dir/bin/rawqt" || ! -x "$build_dir/bin/progressreader" ]]; then
    echo "building a Release tree in $build_dir"
    [[ -f "$build_dir/CMakeCache.txt" ]] ||
        cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVIK_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build_dir" -j2 --target orvik ORVIKNetwork rawqt progressreader >/dev/null
fi
orvik="$build_dir/bin/orvik"
rawqt="$build_dir/bin/rawqt"
progressreader="$build_dir/bin/progressreader"

work="$(mktemp -d /tmp/transfer_bench.XXXXXX)"
nginx_pid=""
cleanup() {
    bench_nginx_stop
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www/upload" "$work/out"
chmod -R 0777 "$work/www"

echo "creating a $size_mib MiB file of random bytes"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/www/payload.bin"
# On the disk before the first round, so that its write-back does not land on whichever program
# runs first.
sync "$work/www/payload.bin"
size_bytes=$(stat -c %s "$work/www/payload.bin")

tls_port=$((port + 1))
h2_port=$((port + 2))
bench_nginx_start "$work" "$port" "$work/www" "
        access_log $work/access.log protocol;
        location /slow/ {
            alias $work/www/;
            limit_rate ${slow_rate}m;
        }
        location /upload/ {
            dav_methods PUT;
            client_max_body_size 0;
            client_body_buffer_size 1m;
        }" "$tls_port" "$h2_port"
base="http://127.0.0.1:$port"

# figures LOG: "seconds cpu_seconds rss_kib anon_kib" of the command bench_timed ran with LOG.
figures() { echo "$(bench_time_figures "$1") $(bench_anon_kib "$1")"; }

# measure NAME OP COMMAND...: runs the command under /usr/bin/time; prints its figures.
measure() {
    local log="$work/time.log"
    if ! bench_timed "$log" "${@:3}" >"$work/stdout.log" 2>"$work/stderr.log"; then
        echo "transfer_bench: $1 $2 failed:" >&2
        cat "$work/stderr.log" >&2
        exit 1
    fi
    figures "$log"
}

# measure_fed NAME OP COMMAND...: as measure, the command reading the file from a pipe that `cat` fills.
measure_fed() {
    local log="$work/time.log"
    if ! { cat "$work/www/payload.bin" | bench_timed "$log" "${@:3}" >"$work/stdout.log" 2>"$work/stderr.log"; }; then
        echo "transfer_bench: $1 $2 failed:" >&2
        cat "$work/stderr.log" >&2
        exit 1
    fi
    figures "$log"
}

# measure_pipe NAME OP COMMAND...: the command writes the body to `wc -c`, which reads at full speed
# and writes the count into out/count; only the command itself is measured.
measure_pipe() {
    local log="$work/time.log"
    if ! { bench_timed "$log" "${@:3}" 2>"$work/stderr.log" | wc -c >"$work/out/count"; }; then
        echo "transfer_bench: $1 $2 failed:" >&2
        cat "$work/stderr.log" >&2
        exit 1
    fi
    figures "$log"
}

# measure_paced NAME OP COMMAND...: as measure_pipe, with a reader that takes pipe_rate MiB/s.
measure_paced() {
    local log="$work/time.log"
    if ! { bench_timed "$log" "${@:3}" 2>"$work/stderr.log" | python3 -c '
import sys, time
rate, got, start = float(sys.argv[1]) * 1048576, 0, time.monotonic()
while True:
    chunk = sys.stdin.buffer.read1(1 << 20)
    if not chunk:
        break
    got += len(chunk)
    ahead = got / rate - (time.monotonic() - start)
    if ahead > 0:
        time.sleep(ahead)
open(sys.argv[2], "w").write(str(got))' "$pipe_rate" "$work/out/count"; }; then
        echo "transfer_bench: $1 $2 failed:" >&2
        cat "$work/stderr.log" >&2
        exit 1
    fi
    figures "$log"
}

check_size() {
    local actual
    actual=$(stat -c %s "$1")
    if [[ "$actual" != "$size_bytes" ]]; then
        echo "transfer_bench: $1 has $actual bytes, expected $size_bytes" >&2
        exit 1
    fi
}

# One transfer: TOOL OP; appends its MB/s to speeds[TOOL/OP], its CPU seconds per GiB to cpu[TOOL/OP],
# and keeps the largest peak RSS and anonymous peak.
declare -A speeds cpu rss anon
run_once() {
    local tool="$1" op="$2" out seconds cpu_seconds kib anon_kib url="$base/payload.bin"
    case "$op" in
        SLOW) url="$base/slow/payload.bin" ;;
        TLS) url="https://127.0.0.1:$tls_port/payload.bin" ;;
        H2) url="https://127.0.0.1:$h2_port/payload.bin" ;;
    esac
    rm -f "$work/out/"* "$work/www/upload/"*
    # Nothing left to write back from earlier transfers (uploads nginx stored, say): a program that
    # syncs its file would wait for that too.
    sync
    case "$tool/$op" in
        orvik/GET | orvik/SLOW) out=$(measure "$tool" "$op" "$orvik" get "$url" -o "$work/out/file") ;;
        orvik/TLS | orvik/H2) out=$(measure "$tool" "$op" "$orvik" get "$url" -o "$work/out/file" --insecure) ;;
        module/GET | module/SLOW) out=$(measure "$tool" "$op" "$progressreader" "$url" "$work/out/file") ;;
        orvik/PIPE) out=$(measure_pipe "$tool" "$op" "$orvik" get "$url") ;;
        curl/PIPE) out=$(measure_pipe "$tool" "$op" curl -sS -f "$url") ;;
        orvik/PACED) out=$(measure_paced "$tool" "$op" "$orvik" get "$url") ;;
        rawqt/GET | rawqt/SLOW | rawqt/TLS | rawqt/H2) out=$(measure "$tool" "$op" "$rawqt" get "$url" "$work/out/file") ;;
        curl/GET | curl/SLOW) out=$(measure "$tool" "$op" curl -sS -f -o "$work/out/file" "$url") ;;
        curl/TLS) out=$(measure "$tool" "$op" curl -sS -f -k --http1.1 -o "$work/out/file" "$url") ;;
        curl/H2) out=$(measure "$tool" "$op" curl -sS -f -k --http2 -o "$work/out/file" "$url") ;;
        orvik/PUT) out=$(measure "$tool" "$op" "$orvik" put "$base/upload/file" "$work/www/payload.bin") ;;
        rawqt/PUT) out=$(measure "$tool" "$op" "$rawqt" put "$base/upload/file" "$work/www/payload.bin") ;;
        rawqt-map/PUT) out=$(measure "$tool" "$op" "$rawqt" put-mapped "$base/upload/file" "$work/www/payload.bin") ;;
        rawqt-ra/PUT) out=$(measure "$tool" "$op" "$rawqt" put-readahead "$base/upload/file" "$work/www/payload.bin") ;;
        rawqt-sync/PUT) out=$(measure "$tool" "$op" "$rawqt" put-sync "$base/upload/file" "$work/www/payload.bin") ;;
        curl/PUT) out=$(measure "$tool" "$op" curl -sS -f -T "$work/www/payload.bin" "$base/upload/file") ;;
        orvik/PUTPIPE) out=$(measure_fed "$tool" "$op" "$orvik" put "$base/upload/file" -) ;;
        curl/PUTPIPE) out=$(measure_fed "$tool" "$op" curl -sS -f -T - "$base/upload/file") ;;
    esac
    case "$op" in
        PUT | PUTPIPE) check_size "$work/www/upload/file" ;;
        PIPE | PACED) [[ "$(cat "$work/out/count")" == "$size_bytes" ]] || { echo "transfer_bench: $tool $op lost bytes" >&2; exit 1; } ;;
        *) check_size "$work/out/file" ;;
    esac
    # Each HTTPS operation went over the protocol it is named for.
    local protocol
    protocol=$(tail -n 1 "$work/access.log" | cut -d' ' -f1)
    case "$op/$protocol" in
        TLS/HTTP/1.1 | H2/HTTP/2.0 | GET/* | PUT/* | PUTPIPE/* | PIPE/* | PACED/* | SLOW/*) ;;
        *) echo "transfer_bench: $tool $op went over $protocol" >&2; exit 1 ;;
    esac
    read -r seconds cpu_seconds kib anon_kib <<<"$out"
    speeds[$tool/$op]+="$(awk -v b="$size_bytes" -v s="$seconds" 'BEGIN { printf "%.1f", (s > 0 ? b / s / 1e6 : 0) }') "
    cpu[$tool/$op]+="$(awk -v b="$size_bytes" -v c="$cpu_seconds" 'BEGIN { printf "%.2f", c / (b / 1073741824) }') "
    if ((kib > ${rss[$tool/$op]:-0})); then rss[$tool/$op]=$kib; fi
    if ((anon_kib > ${anon[$tool/$op]:-0})); then anon[$tool/$op]=$anon_kib; fi
}

# What each program needs before it moves any bulk data: the same GET of a one-byte file.
printf 'x' > "$work/www/tiny.bin"
declare -A baseline
baseline[orvik]=$(measure orvik baseline "$orvik" get "$base/tiny.bin" -o "$work/out/tiny" | cut -d' ' -f3)
baseline[rawqt]=$(measure rawqt baseline "$rawqt" get "$base/tiny.bin" "$work/out/tiny" | cut -d' ' -f3)
baseline[curl]=$(measure curl baseline curl -sS -f -o "$work/out/tiny" "$base/tiny.bin" | cut -d' ' -f3)
baseline[module]=$(measure module baseline "$progressreader" "$base/tiny.bin" "$work/out/tiny" | cut -d' ' -f3)

ops=(GET TLS H2 PIPE PUT PUTPIPE)
[[ "$slow_rate" != 0 ]] && ops+=(SLOW)
[[ "$pipe_rate" != 0 ]] && ops+=(PACED)
if [[ -n "$only_ops" ]]; then
    wanted=()
    for op in ${only_ops//,/ }; do
        if [[ " ${ops[*]} " != *" $op "* ]]; then
            echo "transfer_bench: unknown operation $op (of ${ops[*]})" >&2
            exit 2
        fi
        wanted+=("$op")
    done
    ops=("${wanted[@]}")
fi
# Which programs run each operation: the module's own host only downloads over HTTP; the paced pipe is
# orvik's alone.
# rawqt-map, rawqt-ra and rawqt-sync are rawqt's other ways to hand Qt the file: mapped, through the
# module's read-ahead device, and that device as a synchronous request.
tools_of() {
    case "$1" in
        PUT) echo orvik rawqt rawqt-map rawqt-ra rawqt-sync curl ;;
        PUTPIPE | PIPE) echo orvik curl ;;
        TLS | H2) echo orvik rawqt curl ;;
        PACED) echo orvik ;;
        *) echo orvik module rawqt curl ;;
    esac
}
echo "running each transfer $repeat times ($size_mib MiB over loopback, nginx $("$nginx_bin" -v 2>&1 | sed 's/.*\///'))"
# Rounds interleave the programs, and each round starts with another one, so changes in machine
# load and disk write-back hit all of them alike.
for ((round = 0; round < repeat; round++)); do
    for op in "${ops[@]}"; do
        read -r -a tools <<<"$(tools_of "$op")"
        for ((t = 0; t < ${#tools[@]}; t++)); do
            run_once "${tools[(round + t) % ${#tools[@]}]}" "$op"
        done
    done
done
declare -A mbps cpu_per_gib
for key in "${!speeds[@]}"; do
    mbps[$key]=$(bench_median <<<"${speeds[$key]}")
    cpu_per_gib[$key]=$(bench_median <<<"${cpu[$key]}")
done

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
# The anonymous peak is sampled: a program that ended before the sampler found it has none ("-").
anon_mib() { if [[ -n "${anon[$1]:-}" ]]; then mib "${anon[$1]}"; else echo -; fi; }
printf '\n%-9s %-7s %8s %9s %15s %17s %16s   %s\n' tool op "MB/s" "CPU s/GiB" "peak RSS (MiB)" "above idle (MiB)" \
    "peak anon (MiB)" "MB/s of each round"
for op in "${ops[@]}"; do
    for tool in $(tools_of "$op"); do
        printf '%-9s %-7s %8s %9s %15s %17s %16s   %s\n' "$tool" "$op" "${mbps[$tool/$op]}" "${cpu_per_gib[$tool/$op]}" \
            "$(mib "${rss[$tool/$op]}")" "$(mib $((rss[$tool/$op] - baseline[${tool%%-*}])))" \
            "$(anon_mib "$tool/$op")" "${speeds[$tool/$op]}"
    done
done
printf 'idle RSS (GET of one byte): orvik %s MiB, module %s MiB, rawqt %s MiB, curl %s MiB\n' \
    "$(mib "${baseline[orvik]}")" "$(mib "${baseline[module]}")" "$(mib "${baseline[rawqt]}")" "$(mib "${baseline[curl]}")"
# A mapped or cached file counts in the resident size although the kernel can drop it: the goal is on
# the anonymous part.
largest_anon=-
for key in "${!anon[@]}"; do
    [[ "$key" == orvik/* ]] && { [[ "$largest_anon" == - ]] || ((anon[$key] > largest_anon)); } && largest_anon=${anon[$key]}
done
printf 'largest anonymous peak of orvik: %s MiB (sampled every 5 ms; goal under 64 MiB)\n\n' \
    "$([[ "$largest_anon" == - ]] && echo - || mib "$largest_anon")"
for op in "${ops[@]}"; do
    [[ "$op" == PACED ]] && continue
    for tool in $(tools_of "$op"); do
        [[ "$tool" == curl ]] && continue
        awk -v op="$op" -v tool="$tool" -v m="${mbps[$tool/$op]}" -v c="${mbps[curl/$op]}" -v q="${mbps[rawqt/$op]:-}" \
            -v r="${rss[$tool/$op]}" -v a="$(anon_mib "$tool/$op")" 'BEGIN {
                printf "%s %s/curl: throughput %.3f", op, tool, m / c
                if (q != "" && tool != "rawqt") printf " (%s/raw Qt %.3f)", tool, m / q
                printf ", peak RSS %.1f MiB, anonymous %s MiB\n", r / 1024, a }'
    done
done
