#!/usr/bin/env bash
# Side-by-side run against nginx (sendfile on) on loopback:
#  1. a 1 GiB file downloaded by 1, 8 and 32 parallel clients, served by HttpServer's
#     file-segment reply and by nginx;
#  2. small-request throughput of "/test" (wrk) against nginx's `return 200`.
# Usage: [ROUNDS=3] [LOOPS=10] bench/http/run.sh [build dir]
#   (build dir configured with -DWAYFARER_BENCH=ON, ideally Release; target http_bench_server)
# Needs nginx-light, wrk and curl (scripts/install-deps.sh --bench).
set -euo pipefail

BUILD=${1:-build-bench}
SERVER=$BUILD/bench/http_bench_server
[[ -x $SERVER ]] || { echo "build http_bench_server first ($SERVER)"; exit 1; }
WORK=$(mktemp -d)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_ready() {  # url
    for _ in $(seq 100); do
        curl -sf -o /dev/null "$1" && return 0
        sleep 0.1
    done
    echo "server at $1 did not come up"; exit 1
}

mkdir -p "$WORK/www"
chmod 755 "$WORK" "$WORK/www"  # nginx workers run as an unprivileged user
FILE=$WORK/www/file.bin
head -c 1G /dev/urandom >"$FILE"
chmod 644 "$FILE"
SIZE=$(stat -c %s "$FILE")
cat "$FILE" >/dev/null  # both servers read from the page cache

OUR_PORT=$(free_port)
LOOPS=${LOOPS:-10}  # event loops of HttpServer; the service runs 10
"$SERVER" "$OUR_PORT" "$FILE" "$LOOPS" >/dev/null &
PIDS+=($!)

NGINX_PORT=$(free_port)
cat >"$WORK/nginx.conf" <<CONF
worker_processes auto;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
daemon off;
events { worker_connections 4096; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    client_body_temp_path $WORK/body;
    proxy_temp_path $WORK/proxy;
    server {
        listen 127.0.0.1:$NGINX_PORT;
        root $WORK/www;
        location = /test { return 200 "This is the test buf"; }
    }
}
CONF
nginx -p "$WORK" -e "$WORK/error.log" -c "$WORK/nginx.conf" &
PIDS+=($!)

wait_ready "http://127.0.0.1:$OUR_PORT/test"
wait_ready "http://127.0.0.1:$NGINX_PORT/test"

# Aggregate MiB/s of n clients each downloading the whole file once.
download() {  # url clients
    local url=$1 n=$2 pids=() start end
    start=$(date +%s.%N)
    for _ in $(seq "$n"); do
        curl -s -o /dev/null -w '%{size_download}\n' "$url" >>"$WORK/sizes" &
        pids+=($!)
    done
    wait "${pids[@]}"
    end=$(date +%s.%N)
    local got
    got=$(awk '{s += $1} END {printf "%.0f", s}' "$WORK/sizes")
    rm -f "$WORK/sizes"
    [[ $got -eq $((SIZE * n)) ]] || { echo "short download: $got of $((SIZE * n))" >&2; exit 1; }
    awk -v b="$got" -v s="$start" -v e="$end" 'BEGIN {printf "%.0f", b / 1048576 / (e - s)}'
}

median() { tr ' ' '\n' | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

ROUNDS=${ROUNDS:-3}
echo "== 1 GiB download, aggregate MiB/s, median of $ROUNDS interleaved rounds"
echo "   (HttpServer file segment vs nginx sendfile; load average: $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-8s %12s %12s %8s   %s\n' clients HttpServer nginx ratio "rounds (ours/nginx)"
for n in 1 8 32; do
    ours_all="" theirs_all=""
    for _ in $(seq "$ROUNDS"); do
        ours_all+="$(download "http://127.0.0.1:$OUR_PORT/file.bin" "$n") "
        theirs_all+="$(download "http://127.0.0.1:$NGINX_PORT/file.bin" "$n") "
    done
    ours=$(echo $ours_all | median)
    theirs=$(echo $theirs_all | median)
    printf '%-8s %12s %12s %8s   %s/ %s\n' "$n" "$ours" "$theirs" \
        "$(awk -v a="$ours" -v b="$theirs" 'BEGIN {printf "%.2f", a / b}')" "$ours_all" "$theirs_all"
done

rps() {  # wrk arguments...
    wrk "$@" | awk '/Requests\/sec/ {printf "%.0f", $2}'
}
echo
echo "== GET /test, requests/s (wrk -t2 -c64 -d10s)"
ours=$(rps -t2 -c64 -d10s "http://127.0.0.1:$OUR_PORT/test")
keep=$(rps -t2 -c64 -d10s "http://127.0.0.1:$NGINX_PORT/test")
close=$(rps -t2 -c64 -d10s -H 'Connection: close' "http://127.0.0.1:$NGINX_PORT/test")
printf '%-34s %10s\n' "HttpServer /test (keep-alive)" "$ours" \
    "nginx keep-alive" "$keep" "nginx Connection: close" "$close"
printf 'ratio vs nginx keep-alive %.2f, vs nginx close %.2f\n' \
    "$(awk -v a="$ours" -v b="$keep" 'BEGIN {print a / b}')" \
    "$(awk -v a="$ours" -v b="$close" 'BEGIN {print a / b}')"
