# shellcheck shell=bash
# Shared by the download benchmarks (sourced).

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
