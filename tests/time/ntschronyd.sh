#!/usr/bin/env bash
# The NTS server of the Windows tests: Debian's chronyd on loopback, started by a CTest fixture on the
# machine that runs Wine, since the Windows test cannot start a Linux program itself.
#   ntschronyd.sh start DIR   makes a certificate for 127.0.0.1 in DIR, starts chronyd on free ports and
#                             writes "KEPORT NTPPORT" to DIR/server.txt once its key exchange answers
#   ntschronyd.sh stop DIR    stops it
set -euo pipefail
command=$1
dir=$2
case "$command" in
  start)
    chronyd=$(command -v chronyd || echo /usr/sbin/chronyd)
    [ -x "$chronyd" ] || { echo "ntschronyd: chronyd is not installed (Debian package chrony)" >&2; exit 1; }
    rm -rf "$dir" && mkdir -p "$dir/dump"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=ntstest \
      -addext subjectAltName=IP:127.0.0.1 -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>"$dir/openssl.log"
    read -r ke ntp < <(python3 -c 'import socket
t = socket.socket(); t.bind(("127.0.0.1", 0))
u = socket.socket(type=socket.SOCK_DGRAM); u.bind(("127.0.0.1", 0))
print(t.getsockname()[1], u.getsockname()[1])')
    if [ "$(id -u)" -eq 0 ]; then user=-uroot; else user=-U; fi
    setsid "$chronyd" -d -x "$user" "port $ntp" "bindaddress 127.0.0.1" "allow 127.0.0.1" "local stratum 8" \
      "cmdport 0" "pidfile $dir/chronyd.pid" "ntsserverkey $dir/key.pem" "ntsservercert $dir/cert.pem" \
      "ntsport $ke" "ntsprocesses 0" "ntsdumpdir $dir/dump" </dev/null >"$dir/chronyd.log" 2>&1 &
    echo $! >"$dir/process.pid"
    for _ in $(seq 1 80); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$ke") 2>/dev/null; then
        echo "$ke $ntp" >"$dir/server.txt"
        exit 0
      fi
      kill -0 "$(cat "$dir/process.pid")" 2>/dev/null || break
      sleep 0.25
    done
    echo "ntschronyd: chronyd does not take key exchanges:" >&2
    cat "$dir/chronyd.log" >&2
    kill "$(cat "$dir/process.pid")" 2>/dev/null || true
    exit 1
    ;;
  stop)
    if [ -f "$dir/process.pid" ]; then
      kill "$(cat "$dir/process.pid")" 2>/dev/null || true
      rm -f "$dir/process.pid" "$dir/server.txt"
    fi
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
