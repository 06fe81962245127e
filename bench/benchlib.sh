# shellcheck shell=bash
# Helpers shared by the benchmark scripts that serve files from nginx and time programs with
# /usr/bin/time. Source it; it defines functions only.

# bench_port_taken PORT: whether something already accepts connections on 127.0.0.1:PORT.
bench_port_taken() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# bench_nginx_start WORK PORT ROOT [SERVER_CONF] [TLS_PORT H2_PORT]: serves ROOT on 127.0.0.1:PORT from
# an nginx whose files live in WORK, and waits until it answers. With TLS_PORT and H2_PORT it also
# serves HTTPS there with a self-signed certificate made in WORK: HTTP/1.1 only on TLS_PORT, HTTP/2
# (ALPN) on H2_PORT. Refuses ports that another server holds: the figures would be that server's.
# Sets nginx_pid; bench_nginx_stop ends it.
bench_nginx_start() {
    local work="$1" port="$2" root="$3" server_conf="${4:-}" tls_port="${5:-}" h2_port="${6:-}"
    local nginx_bin user_line="" tls_conf="" token p
    nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
    for p in "$port" $tls_port $h2_port; do
        if bench_port_taken "$p"; then
            echo "port $p on 127.0.0.1 is taken by a server this benchmark did not start; choose another with --port" >&2
            return 1
        fi
    done
    [[ $EUID -eq 0 ]] && user_line="user root;"
    mkdir -p "$work/nginx-temp"
    chmod 0777 "$work/nginx-temp"
    if [[ -n "$tls_port" ]]; then
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
            -keyout "$work/bench-key.pem" -out "$work/bench-cert.pem" 2>/dev/null
        tls_conf="listen 127.0.0.1:$tls_port ssl;
        listen 127.0.0.1:$h2_port ssl http2;
        ssl_certificate $work/bench-cert.pem;
        ssl_certificate_key $work/bench-key.pem;"
    fi
    # Only this nginx knows the token, so an answer with it comes from this nginx.
    token="$(od -An -N8 -tx8 /dev/urandom | tr -d ' ')"
    cat > "$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 64; }
http {
    access_log off;
    log_format protocol '\$server_protocol \$status \$request_method \$request_uri';
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/nginx-temp;
    proxy_temp_path $work/nginx-temp;
    fastcgi_temp_path $work/nginx-temp;
    uwsgi_temp_path $work/nginx-temp;
    scgi_temp_path $work/nginx-temp;
    server {
        listen 127.0.0.1:$port;
        $tls_conf
        root $root;
        location = /bench-token { return 200 "$token"; }
$server_conf
    }
}
CONF
    "$nginx_bin" -c "$work/nginx.conf" -p "$work" &
    nginx_pid=$!
    for _ in $(seq 50); do
        if ! kill -0 "$nginx_pid" 2>/dev/null; then
            echo "nginx did not start: $(cat "$work/error.log" 2>/dev/null)" >&2
            return 1
        fi
        if [[ "$(curl -s "http://127.0.0.1:$port/bench-token")" == "$token" ]] &&
            { [[ -z "$tls_port" ]] || [[ "$(curl -sk "https://127.0.0.1:$h2_port/bench-token")" == "$token" ]]; }; then
            return 0
        fi
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

# bench_timed LOG COMMAND...: runs COMMAND under `/usr/bin/time -v -o LOG` and samples the command's
# anonymous resident memory (RssAnon of /proc/PID/status, every 5 ms) into LOG.anon, in KiB: the
# part of the resident size that is the program's own, which a mapped or cached file is not (the
# kernel can drop those pages at any time). The sampler is a process of its own, so its CPU time is
# not the command's. Returns the command's status.
bench_timed() {
    local log="$1" status=0 sampler
    shift
    rm -f "$log.pid" "$log.anon" "$log.ready"
    # The command starts only once the sampler runs: on a loaded machine Python's start-up can take
    # longer than a short transfer.
    mkfifo "$log.ready"
    python3 -c '
import os, sys, time
pid_file, out = sys.argv[1], sys.argv[2]
open(sys.argv[3], "w").close()
deadline = time.monotonic() + 30
def alive(p):
    return os.path.exists("/proc/%d" % p)
timer = None
while timer is None and time.monotonic() < deadline:
    try:
        timer = int(open(pid_file).read())
    except (OSError, ValueError):
        time.sleep(0.001)
child, peak = None, 0
while timer is not None and child is None and alive(timer):
    try:
        children = open("/proc/%d/task/%d/children" % (timer, timer)).read().split()
        child = int(children[0]) if children else None
    except OSError:
        pass
    if child is None:
        time.sleep(0.001)
while child is not None:
    try:
        fields = dict(line.split(":", 1) for line in open("/proc/%d/status" % child))
        peak = max(peak, int(fields["RssAnon"].split()[0]))
    except (OSError, KeyError, ValueError):
        break  # gone, or a zombie that has given its memory back
    time.sleep(0.005)
open(out, "w").write(str(peak))' "$log.pid" "$log.anon" "$log.ready" </dev/null >/dev/null &
    sampler=$!
    : <"$log.ready"
    rm -f "$log.ready"
    sh -c 'echo $$ > "$0"; exec "$@"' "$log.pid" /usr/bin/time -v -o "$log" "$@" || status=$?
    wait "$sampler" || true
    return "$status"
}

# bench_anon_kib LOG: the peak anonymous memory bench_timed sampled for LOG (0 when none was seen).
bench_anon_kib() { cat "$1.anon" 2>/dev/null || echo 0; }
