#!/usr/bin/env bash
# Compares web transfers over loopback: `orvik get/put` (through the module), the same transfer
# on a bare QNetworkAccessManager (bench/rawqt) and curl, against nginx serving a file (GET) and
# accepting uploads (PUT, WebDAV module). Prints throughput (MB/s, 10^6 bytes) and peak memory
# (maximum resident set size) of each, and the ratios module / raw Qt.
#
#   bench/transfer_bench.sh [--size-mib N] [--repeat N] [--build-dir DIR] [--port N] [--slow-rate MB]
#
# Defaults: 1024 MiB, 3 rounds (the median throughput and the largest peak memory are reported),
# a Release build in build-bench (configured and built when missing), port 18080. --slow-rate adds
# a GET that nginx sends at that many MB/s: a network slower than the program's own pace.
# Needs root or sudo for apt-get when nginx, /usr/bin/time or curl are missing.
set -euo pipefail

size_mib=1024
repeat=3
port=18080
slow_rate=0
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$source_dir/build-bench"

while [[ $# -gt 0 ]]; do
    case "$1" in
        --size-mib) size_mib="$2"; shift 2 ;;
        --repeat) repeat="$2"; shift 2 ;;
        --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
        --port) port="$2"; shift 2 ;;
        --slow-rate) slow_rate="$2"; shift 2 ;;
        -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
        *) echo "transfer_bench: unknown argument $1" >&2; exit 2 ;;
    esac
done

as_root() { if [[ $EUID -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

missing=()
command -v nginx >/dev/null || [[ -x /usr/sbin/nginx ]] || missing+=(nginx-light)
[[ -x /usr/bin/time ]] || missing+=(time)
command -v curl >/dev/null || missing+=(curl)
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

if [[ ! -x "$build_dir/bin/orvik" || ! -x "$build_dir/bin/rawqt" ]]; then
    echo "building a Release tree in $build_dir"
    cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVIK_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build_dir" -j2 --target orvik ORVIKNetwork rawqt >/dev/null
fi
orvik="$build_dir/bin/orvik"
rawqt="$build_dir/bin/rawqt"

work="$(mktemp -d /tmp/transfer_bench.XXXXXX)"
nginx_pid=""
cleanup() {
    if [[ -n "$nginx_pid" ]]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www/upload" "$work/body" "$work/out"
chmod -R 0777 "$work/www" "$work/body"

echo "creating a $size_mib MiB file of random bytes"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/www/payload.bin"
size_bytes=$(stat -c %s "$work/www/payload.bin")

user_line=""
[[ $EUID -eq 0 ]] && user_line="user root;"
cat > "$work/nginx.conf" <<EOF
$user_line
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/body;
    proxy_temp_path $work/body;
    fastcgi_temp_path $work/body;
    uwsgi_temp_path $work/body;
    scgi_temp_path $work/body;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
        location /slow/ {
            alias $work/www/;
            limit_rate ${slow_rate}m;
        }
        location /upload/ {
            dav_methods PUT;
            client_max_body_size 0;
            client_body_buffer_size 1m;
        }
    }
}
EOF
"$nginx_bin" -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && break
    sleep 0.1
done
base="http://127.0.0.1:$port"

# measure NAME OP COMMAND...: runs the command under /usr/bin/time; prints "seconds rss_kib".
measure() {
    local log="$work/time.log"
    if ! /usr/bin/time -v -o "$log" "${@:3}" >"$work/stdout.log" 2>"$work/stderr.log"; then
        echo "transfer_bench: $1 $2 failed:" >&2
        cat "$work/stderr.log" >&2
        exit 1
    fi
    local wall rss
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$log")
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
    # h:mm:ss or m:ss.ss into seconds
    awk -v w="$wall" -v r="$rss" 'BEGIN { n = split(w, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s, r }'
}

check_size() {
    local actual
    actual=$(stat -c %s "$1")
    if [[ "$actual" != "$size_bytes" ]]; then
        echo "transfer_bench: $1 has $actual bytes, expected $size_bytes" >&2
        exit 1
    fi
}

# One transfer: TOOL OP; appends its MB/s to speeds[TOOL/OP] and keeps the largest peak RSS.
declare -A speeds rss
run_once() {
    local tool="$1" op="$2" out seconds kib url="$base/payload.bin"
    [[ "$op" == SLOW ]] && url="$base/slow/payload.bin"
    rm -f "$work/out/"* "$work/www/upload/"*
    case "$tool/$op" in
        orvik/GET | orvik/SLOW) out=$(measure "$tool" "$op" "$orvik" get "$url" -o "$work/out/file") ;;
        rawqt/GET | rawqt/SLOW) out=$(measure "$tool" "$op" "$rawqt" get "$url" "$work/out/file") ;;
        curl/GET | curl/SLOW) out=$(measure "$tool" "$op" curl -sS -f -o "$work/out/file" "$url") ;;
        orvik/PUT) out=$(measure "$tool" "$op" "$orvik" put "$base/upload/file" "$work/www/payload.bin") ;;
        rawqt/PUT) out=$(measure "$tool" "$op" "$rawqt" put "$base/upload/file" "$work/www/payload.bin") ;;
        curl/PUT) out=$(measure "$tool" "$op" curl -sS -f -T "$work/www/payload.bin" "$base/upload/file") ;;
    esac
    if [[ "$op" == PUT ]]; then check_size "$work/www/upload/file"; else check_size "$work/out/file"; fi
    read -r seconds kib <<<"$out"
    speeds[$tool/$op]+="$(awk -v b="$size_bytes" -v s="$seconds" 'BEGIN { printf "%.1f", (s > 0 ? b / s / 1e6 : 0) }') "
    if ((kib > ${rss[$tool/$op]:-0})); then rss[$tool/$op]=$kib; fi
}
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# What each program needs before it moves any bulk data: the same GET of a one-byte file.
printf 'x' > "$work/www/tiny.bin"
declare -A baseline
baseline[orvik]=$(measure orvik baseline "$orvik" get "$base/tiny.bin" -o "$work/out/tiny" | cut -d' ' -f2)
baseline[rawqt]=$(measure rawqt baseline "$rawqt" get "$base/tiny.bin" "$work/out/tiny" | cut -d' ' -f2)
baseline[curl]=$(measure curl baseline curl -sS -f -o "$work/out/tiny" "$base/tiny.bin" | cut -d' ' -f2)

ops=(GET PUT)
[[ "$slow_rate" != 0 ]] && ops+=(SLOW)
echo "running each transfer $repeat times ($size_mib MiB over loopback, nginx $("$nginx_bin" -v 2>&1 | sed 's/.*\///'))"
# Rounds interleave the programs, and each round starts with another one, so changes in machine
# load and disk write-back hit all of them alike.
tools=(orvik rawqt curl)
for ((round = 0; round < repeat; round++)); do
    for op in "${ops[@]}"; do
        for ((t = 0; t < 3; t++)); do
            run_once "${tools[(round + t) % 3]}" "$op"
        done
    done
done
declare -A mbps
for key in "${!speeds[@]}"; do mbps[$key]=$(median <<<"${speeds[$key]}"); done

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
printf '\n%-7s %-4s %10s %16s %18s   %s\n' tool op "MB/s" "peak RSS (MiB)" "above idle (MiB)" "MB/s of each round"
for op in "${ops[@]}"; do
    for tool in orvik rawqt curl; do
        printf '%-7s %-4s %10s %16s %18s   %s\n' "$tool" "$op" "${mbps[$tool/$op]}" "$(mib "${rss[$tool/$op]}")" \
            "$(mib $((rss[$tool/$op] - baseline[$tool])))" "${speeds[$tool/$op]}"
    done
done
printf 'idle RSS (GET of one byte): orvik %s MiB, rawqt %s MiB, curl %s MiB\n\n' \
    "$(mib "${baseline[orvik]}")" "$(mib "${baseline[rawqt]}")" "$(mib "${baseline[curl]}")"
for op in "${ops[@]}"; do
    awk -v op="$op" -v mo="${mbps[orvik/$op]}" -v mr="${mbps[rawqt/$op]}" -v ro="${rss[orvik/$op]}" \
        -v rr="${rss[rawqt/$op]}" -v bo="${baseline[orvik]}" -v br="${baseline[rawqt]}" 'BEGIN {
            extra = (rr - br >= 1024) ? sprintf("%.3f", (ro - bo) / (rr - br)) : "n/a (both stay at idle)"
            printf "%s module/raw-Qt: throughput %.3f, peak memory %.3f, memory above idle %s\n",
                   op, mo / mr, ro / rr, extra }'
done
