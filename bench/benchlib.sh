# shellcheck shell=bash
# Helpers shared by the benchmark scripts that serve files from nginx and time programs with
# /usr/bin/time. Source it; it defines functions only.

# bench_nginx_start WORK PORT ROOT [SERVER_CONF]: serves ROOT on 127.0.0.1:PORT from an nginx whose
# files live in WORK, and waits until it answers. Sets nginx_pid; bench_nginx_stop ends it.
bench_nginx_start() {
    local work="$1" port="$2" root="$3" server_conf="${4:-}" nginx_bin user_line=""
    nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
    [[ $EUID -eq 0 ]] && user_line="user root;"
    mkdir -p "$work/nginx-temp"
    chmod 0777 "$work/nginx-temp"
    cat > "$work/nginx.conf" <<CONF
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
    client_body_temp_path $work/nginx-temp;
    proxy_temp_path $work/nginx-temp;
    fastcgi_temp_path $work/nginx-temp;
    uwsgi_temp_path $work/nginx-temp;
    scgi_temp_path $work/nginx-temp;
    server {
        listen 127.0.0.1:$port;
        root $root;
$server_conf
    }
}
CONF
    "$nginx_bin" -c "$work/nginx.conf" -p "$work" &
    nginx_pid=$!
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && return 0
        sleep 0.1
    done
    echo "nginx did not answer on port $port: $(cat "$work/error.log" 2>/dev/null)" >&2
    return 1
}

bench_nginx_stop() {
    if [[ -n "${nginx_pid:-}" ]]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
}

# bench_time_figures LOG: "wall_seconds cpu_seconds peak_rss_kib" from a /usr/bin/time -v log.
bench_time_figures() {
    awk -F': ' '/Elapsed \(wall clock\)/ {w = $2} /Maximum resident set size/ {r = $2}
        /User time \(seconds\)/ {c += $2} /System time \(seconds\)/ {c += $2}
        END { n = split(w, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s, c, r }' "$1"
}

# The median of whitespace-separated numbers on standard input (the upper one of an even count).
bench_median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
