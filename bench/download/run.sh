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
# EXTRA=<binary> adds a third server with download_server's arguments (an older build, say).
set -euo pipefail

server_bin=${1:?usage: $0 <download_server> [size MiB] [rounds]}
size_mib=${2:-1024}
rounds=${3:-3}
clients_list=(1 8 32)
url_path=/KORVA/dlPackage/app/pkg.bin

source "$(dirname "$0")/lib.sh"

mkdir -p "$work/www$(dirname $url_path)"
file=$work/www$url_path
echo "Creating a ${size_mib} MiB file in $work ..."
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$file"
size=$(stat -c %s "$file")

embedded_port=$(free_port)
"$server_bin" "$embedded_port" "$url_path" "$file" >"$work/embedded.log" 2>&1 &
server_pids+=($!)
if [[ -n ${EXTRA:-} ]]; then
    extra_port=$(free_port)
    "$EXTRA" "$extra_port" "$url_path" "$file" >"$work/extra.log" 2>&1 &
    server_pids+=($!)
fi

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

names=(download_server) urls=("http://127.0.0.1:$embedded_port$url_path") pids=("${server_pids[0]}")
if [[ -n ${EXTRA:-} ]]; then
    names+=(extra) urls+=("http://127.0.0.1:$extra_port$url_path") pids+=("${server_pids[1]}")
fi
names+=(nginx) urls+=("http://127.0.0.1:$nginx_port$url_path") pids+=("${server_pids[-1]}")
for url in "${urls[@]}"; do wait_ready "$url"; done

# One whole download from each to bring the file into the page cache.
for url in "${urls[@]}"; do curl -s -o /dev/null "$url"; done

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

last=$((${#names[@]} - 1))
printf '\n%-8s' clients
for name in "${names[@]}"; do printf ' %16s' "$name"; done
for ((i = 0; i < last; ++i)); do printf ' %8s' "ratio"; done
printf '   server CPU s/GiB (%s)\n' "${names[*]}"
for clients in "${clients_list[@]}"; do
    # Rounds alternate between the servers so that load from elsewhere hits all alike.
    best=() cpus=()
    for i in "${!names[@]}"; do best[$i]=0 cpus[$i]=0; done
    for ((r = 0; r < rounds; ++r)); do
        for i in "${!names[@]}"; do
            read -r rate cpu < <(measure "${urls[$i]}" "$clients" "${pids[$i]}")
            ((rate > best[i])) && best[$i]=$rate cpus[$i]=$cpu
        done
    done
    printf '%-8s' "$clients"
    for i in "${!names[@]}"; do printf ' %10s MiB/s' "${best[$i]}"; done
    for ((i = 0; i < last; ++i)); do
        printf ' %7sx' "$(python3 -c "print(f'{${best[$i]} / ${best[$last]}:.2f}')")"
    done
    printf '   %s\n' "${cpus[*]}"
done
