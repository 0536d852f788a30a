#!/usr/bin/env bash
# A forced upgrade's fleet on the download port, our server and nginx (sendfile) taking turns
# on the same file: CLIENTS terminals throttled to RATE bytes/s each download a SIZE_MIB
# package at once while SLOW clients trickle request heads (a byte a second, reopened when
# closed). Reports per server: downloads completed, fleet wall time and its ratio to nginx's,
# time to first byte, what became of the slow clients, resident memory at rest and at the peak
# with the increase per connection, CPU time, and the load average around the run.
#
# Usage: bench/download/fleet.sh <build dir> [extra server binary...]
#   Build first: scripts/build.sh build/rel Release -DWAYFARER_BENCH=ON -DWAYFARER_TESTS=OFF
#   Needs nginx-light: scripts/install-deps.sh --bench
#   An extra server binary takes the same arguments as download_server (port, path, file) and
#   runs the same fleet after ours, e.g. an older build for comparison.
# Environment: CLIENTS (5000), RATE (200000), SLOW (400), SIZE_MIB (20), ROUNDS (1).
set -euo pipefail

build=${1:?usage: $0 <build dir> [extra server binary...]}
shift
extra=("$@")
clients=${CLIENTS:-5000}
rate=${RATE:-200000}
slow=${SLOW:-400}
size_mib=${SIZE_MIB:-20}
rounds=${ROUNDS:-1}
server_bin=$build/bench/download_server
client_bin=$build/bench/fleet_client
url_path=/KORVA/dlPackage/app/pkg.bin

# Every download and slow client is a descriptor, in the client and in the server.
ulimit -n "$(ulimit -Hn)"
(($(ulimit -n) > clients + slow + 256)) ||
    { echo "fleet.sh: open file limit $(ulimit -n) is too low" >&2; exit 1; }

source "$(dirname "$0")/lib.sh"

mkdir -p "$work/www$(dirname $url_path)"
file=$work/www$url_path
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$file"
size=$(stat -c %s "$file")

# name port pid: the servers under test.
names=() ports=() pids=()
start_ours() {  # start_ours <name> <binary>
    local port
    port=$(free_port)
    "$2" "$port" "$url_path" "$file" >"$work/${1//\//_}.log" 2>&1 &
    server_pids+=($!)
    names+=("$1") ports+=("$port") pids+=($!)
}
start_ours wayfarer "$server_bin"
for bin in "${extra[@]}"; do start_ours "$(basename "$(dirname "$bin")")/$(basename "$bin")" "$bin"; done

nginx_port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
user root;
worker_processes auto;
worker_rlimit_nofile $(ulimit -n);
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log crit;
events { worker_connections $((clients + slow + 1024)); }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 0;
    client_header_timeout 30s;
    send_timeout 30s;
    client_body_temp_path $work/nginx/body;
    types { application/octet-stream bin; }
    server {
        listen 127.0.0.1:$nginx_port backlog=4096;
        root $work/www;
    }
}
CONF
nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
server_pids+=($!)
names+=(nginx) ports+=("$nginx_port") pids+=($!)

for port in "${ports[@]}"; do wait_ready "http://127.0.0.1:$port$url_path"; done
for port in "${ports[@]}"; do curl -s -o /dev/null "http://127.0.0.1:$port$url_path"; done

# The process and its children (nginx's workers).
tree_pids() { echo "$1" $(pgrep -P "$1" || true); }
rss_kib() {
    local total=0 pid kib
    for pid in $(tree_pids "$1"); do
        kib=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
        total=$((total + ${kib:-0}))
    done
    echo "$total"
}
cpu_ticks() {
    local total=0 pid ticks
    for pid in $(tree_pids "$1"); do
        ticks=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
        total=$((total + ticks))
    done
    echo "$total"
}
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }

echo "fleet: $clients downloads of $size bytes at $rate B/s each, $slow slow-header clients;" \
    "ideal time $(python3 -c "print(f'{$size / $rate:.1f}')") s"
declare -A fleet_time
results=()
for ((round = 0; round < rounds; ++round)); do
    # Every other round in reverse order, so that a load that grows or fades hits all alike.
    order=("${!names[@]}")
    if ((round % 2)); then mapfile -t order < <(printf '%s\n' "${order[@]}" | tac); fi
    for i in "${order[@]}"; do
        name=${names[$i]} port=${ports[$i]} pid=${pids[$i]}
        idle=$(rss_kib "$pid")
        load_before=$(cut -d' ' -f1 /proc/loadavg)
        cpu0=$(cpu_ticks "$pid")
        peak=$idle
        "$client_bin" --port "$port" --path "$url_path" --size "$size" --clients "$clients" \
            --rate "$rate" --slow "$slow" --verify "$file" >"$work/result" 2>"$work/progress" &
        client=$!
        while kill -0 "$client" 2>/dev/null; do
            now=$(rss_kib "$pid")
            ((now > peak)) && peak=$now
            sleep 0.5
        done
        wait "$client" || true
        cpu1=$(cpu_ticks "$pid")
        load_after=$(cut -d' ' -f1 /proc/loadavg)
        line=$(cat "$work/result")
        [[ -n $line ]] || { echo "fleet.sh: no result for $name: $(tail -3 "$work/progress")" >&2; exit 1; }
        fleet_time[$round:$name]=$(field fleet_s "$line")
        cpu=$(python3 -c "print(f'{($cpu1 - $cpu0) / $(getconf CLK_TCK):.1f}')")
        per_conn=$(python3 -c "print(f'{($peak - $idle) / ($clients + $slow):.1f}')")
        results+=("$round|$name|$line|$idle|$peak|$per_conn|$cpu|$load_before|$load_after")
        echo "round $((round + 1)) $name: $line" >&2
    done
done

printf '\n| Round | Server | Completed / failed | Fleet time | Ratio to nginx | Time p50 / p90 / max | First byte p50 / p99 / max | Slow clients open (max) / closed / answered, life p50 | RSS rest -> peak | RSS per connection | Server CPU | Client CPU | Load 1 min before -> after |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|---|---|\n'
for row in "${results[@]}"; do
    IFS='|' read -r round name line idle peak per_conn cpu lb la <<<"$row"
    fleet=$(field fleet_s "$line")
    ratio=$(python3 -c "n = ${fleet_time[$round:nginx]:-0}; print(f'{$fleet / n:.3f}x' if n else '-')")
    printf '| %s | %s | %s / %s | %s s | %s | %s / %s / %s s | %s / %s / %s s | %s / %s / %s, %s s | %.1f -> %.1f MiB | %s KiB | %s s | %s s | %s -> %s |\n' \
        "$((round + 1))" "$name" "$(field completed "$line")" "$(field failed "$line")" "$fleet" "$ratio" \
        "$(field time_p50_s "$line")" "$(field time_p90_s "$line")" "$(field time_max_s "$line")" \
        "$(field first_byte_p50_s "$line")" "$(field first_byte_p99_s "$line")" \
        "$(field first_byte_max_s "$line")" "$(field slow_open_max "$line")" \
        "$(field slow_closed "$line")" "$(field slow_answered "$line")" \
        "$(field slow_life_p50_s "$line")" "$(python3 -c "print($idle / 1024)")" \
        "$(python3 -c "print($peak / 1024)")" "$per_conn" "$cpu" \
        "$(field client_cpu_s "$line")" "$lb" "$la"
done
