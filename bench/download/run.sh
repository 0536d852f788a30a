#!/usr/bin/env bash
# Download throughput of the terminal download server against nginx (sendfile on), both
# serving the same file on loopback, measured side by side at 1, 8 and 32 parallel clients.
#
# Usage: bench/download/run.sh <path to the built download_server> [file size in MiB] [rounds]
#   Build the helper first: cmake -S . -B build -DWAYFARER_BENCH=ON && ninja -C build download_server
#   Needs nginx-light and curl: scripts/install-deps.sh --bench
# Each figure is the best of <rounds> runs (default 3), the servers taking turns: total bytes
# of all clients divided by the wall time from the first request to the last byte. The CPU
# time each server spent per GiB sent shows its cost apart from the load of the machine.
set -euo pipefail

server_bin=${1:?usage: $0 <download_server> [size MiB] [rounds]}
size_mib=${2:-1024}
rounds=${3:-3}
clients_list=(1 8 32)
url_path=/KORVA/dlPackage/app/pkg.bin

work=$(mktemp -d)
server_pids=()
cleanup() {
    for pid in "${server_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Polls until the URL answers 200 (at most 10 s).
wait_ready() {
    local url=$1
    for _ in $(seq 100); do
        if [[ $(curl -s -o /dev/null -w '%{http_code}' "$url" -r 0-0 || true) =~ ^20 ]]; then
            return 0
        fi
        sleep 0.1
    done
    echo "run.sh: $url never answered" >&2
    return 1
}

mkdir -p "$work/www$(dirname $url_path)"
file=$work/www$url_path
echo "Creating a ${size_mib} MiB file in $work ..."
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$file"
size=$(stat -c %s "$file")

embedded_port=$(free_port)
"$server_bin" "$embedded_port" "$url_path" "$file" >"$work/embedded.log" 2>&1 &
server_pids+=($!)

nginx_port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
user root;
worker_processes auto;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/nginx/body;
    types { application/octet-stream bin; }
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
    }
}
CONF
nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
server_pids+=($!)

embedded_url=http://127.0.0.1:$embedded_port$url_path
nginx_url=http://127.0.0.1:$nginx_port$url_path
wait_ready "$embedded_url"
wait_ready "$nginx_url"

# One whole download from each to bring the file into the page cache.
curl -s -o /dev/null "$embedded_url"
curl -s -o /dev/null "$nginx_url"

# CPU seconds (user + system) used so far by a process and its children that still run.
cpu_seconds() {
    local pid total=0 ticks
    for pid in "$1" $(pgrep -P "$1" || true); do
        ticks=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
        total=$((total + ticks))
    done
    python3 -c "print($total / $(getconf CLK_TCK))"
}

# measure <url> <clients> <server pid>: prints "MiB/s cpu-seconds-per-GiB" over all clients;
# fails on a short download.
measure() {
    local url=$1 clients=$2 server=$3 pids=() start end cpu0 cpu1 i
    cpu0=$(cpu_seconds "$server")
    start=$(date +%s.%N)
    for ((i = 0; i < clients; ++i)); do
        curl -s -o /dev/null -w '%{http_code} %{size_download}\n' "$url" >"$work/client$i" &
        pids+=($!)
    done
    wait "${pids[@]}"
    end=$(date +%s.%N)
    cpu1=$(cpu_seconds "$server")
    for ((i = 0; i < clients; ++i)); do
        if [[ $(cat "$work/client$i") != "200 $size" ]]; then
            echo "run.sh: client $i of $url got: $(cat "$work/client$i")" >&2
            return 1
        fi
    done
    python3 -c "b = $clients * $size; print(f'{b / ($end - $start) / 1048576:.0f} {($cpu1 - $cpu0) / (b / 1073741824):.2f}')"
}

embedded_pid=${server_pids[0]}
nginx_pid=${server_pids[1]}
printf '\n%-8s %16s %16s %7s %18s %14s\n' clients "download_server" nginx ratio \
    "server CPU s/GiB" "(nginx)"
for clients in "${clients_list[@]}"; do
    # Rounds alternate between the servers so that load from elsewhere hits both alike.
    best_embedded=0 best_nginx=0 cpu_embedded=0 cpu_nginx=0
    for ((r = 0; r < rounds; ++r)); do
        read -r rate cpu < <(measure "$embedded_url" "$clients" "$embedded_pid")
        ((rate > best_embedded)) && best_embedded=$rate cpu_embedded=$cpu
        read -r rate cpu < <(measure "$nginx_url" "$clients" "$nginx_pid")
        ((rate > best_nginx)) && best_nginx=$rate cpu_nginx=$cpu
    done
    ratio=$(python3 -c "print(f'{$best_embedded / $best_nginx:.2f}')")
    printf '%-8s %10s MiB/s %10s MiB/s %6sx %18s %14s\n' "$clients" "$best_embedded" \
        "$best_nginx" "$ratio" "$cpu_embedded" "$cpu_nginx"
done
