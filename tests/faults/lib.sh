# shellcheck shell=bash
# Shared helpers of the fault tests (sourced). Each test gets WAYFARER_EXE and the build's
# source directory in its environment, works in its own temporary directory and cleans up.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
pass() { echo "PASS: $*"; }

# A TCP port nobody listens on, below the ephemeral range by default, so a restart on the same
# port does not meet an outgoing connection that took it meanwhile.
free_port() {
    local from=${1:-20000} to=${2:-32000} port used
    used=$(ss -ltnH | awk '{print $4}' | sed 's/.*://')
    for _ in $(seq 200); do
        port=$((from + RANDOM % (to - from)))
        grep -qx "$port" <<<"$used" || { echo "$port"; return 0; }
    done
    return 1
}

# wait_for <seconds> <command...>: polls the command every 0.1 s until it succeeds.
wait_for() {
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

http_code() {  # http_code <url> [curl args...]: the status code, 000 when nothing answered
    local url=$1; shift
    curl -s -o /dev/null -w '%{http_code}' --max-time 5 "$@" "$url" || true
}

# make_app_dir <dir>: the executable copied into an application directory with free ports.
make_app_dir() {
    local dir=$1
    mkdir -p "$dir"
    cp "$WAYFARER_EXE" "$dir/wayfarer"
    TCP_PORT=$(free_port); HTTP_PORT=$(free_port); HTTP_PORT2=$(free_port)
    cat >"$dir/config.ini" <<INI
[LocalParam]
TcpPort=$TCP_PORT
HttpPort=$HTTP_PORT
HttpPort2=$HTTP_PORT2
NetIP=127.0.0.1
OperatorLogin=0
INI
}

# start_service <dir>: starts it in the background (PID in SERVICE_PID, output in dir/out.txt)
# and waits until the management API answers and the terminal port (opened last) accepts.
start_service() {
    local dir=$1
    (cd "$dir" && exec ./wayfarer >>"$dir/out.txt" 2>&1) &
    SERVICE_PID=$!
    wait_for 20 api_up || fail "the service did not answer on $HTTP_PORT: $(tail -5 "$dir/out.txt")"
    wait_for 20 tcp_up || fail "the terminal port $TCP_PORT did not open: $(tail -5 "$dir/out.txt")"
}

tcp_up() { (exec 3<>"/dev/tcp/127.0.0.1/$TCP_PORT") 2>/dev/null; }

api_up() { [[ $(http_code "http://127.0.0.1:$HTTP_PORT/KORVA/packageList") == 200 ]]; }

kill_service() {  # kill_service <signal>: and reap it
    if [[ -n "${SERVICE_PID:-}" ]] && kill -0 "$SERVICE_PID" 2>/dev/null; then
        kill "-$1" "$SERVICE_PID" 2>/dev/null || true
        wait "$SERVICE_PID" 2>/dev/null || true
    fi
    SERVICE_PID=""
    return 0
}

db_ok() {  # db_ok <db>: integrity_check says ok
    local result
    result=$(sqlite3 "$1" 'PRAGMA integrity_check;')
    [[ "$result" == ok ]] || fail "integrity_check of $1: $result"
}
