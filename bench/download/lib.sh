# shellcheck shell=bash
# Shared by the download benchmarks (sourced): a work directory and the servers started in it,
# both gone when the script ends.

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

# Polls until the URL answers a one-byte range (at most 10 s).
wait_ready() {
    for _ in $(seq 100); do
        [[ $(curl -s -o /dev/null -w '%{http_code}' -r 0-0 "$1" || true) =~ ^20 ]] && return 0
        sleep 0.1
    done
    echo "$(basename "$0"): $1 never answered" >&2
    tail -n 3 "$work"/*.log "$work"/nginx/error.log >&2 2>/dev/null || true
    return 1
}

# Below the ephemeral range, and used by no socket on any address: the servers bind them all.
free_port() {
    python3 - <<'PY'
import random, socket, subprocess
used = {line.split()[3].rsplit(":", 1)[1] for line in
        subprocess.run(["ss", "-tanH"], capture_output=True, text=True).stdout.splitlines()}
while True:
    port = random.randint(20000, 32000)
    if str(port) in used:
        continue
    s = socket.socket()
    try:
        s.bind(("0.0.0.0", port))
    except OSError:
        continue
    print(port)
    break
PY
}
