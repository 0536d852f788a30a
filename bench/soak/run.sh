#!/usr/bin/env bash
# Load and soak run: TERMINALS simulated terminals for DURATION seconds against the real service,
# with upgrades (resumed downloads), file uploads, random disconnects and wrk on deviceList.
# Usage: [TERMINALS=2000] [DURATION=600] [WRK_SECONDS=60] bench/soak/run.sh [build dir] [soak.py options]
#   e.g. --storm-every 120 --storm-share 0.3: reconnect storms of 30 % of the reporting terminals.
#   Builds nothing: needs wayfarer and wayfarer-terminal in <build dir>/bin (a Release build),
#   wrk (scripts/install-deps.sh --bench) and python3. Exit code 0 when every check passed.
#   Every upgraded terminal's completion time goes to soak-completions.csv (--completions).
set -euo pipefail
BUILD=${1:-build-rel}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
for exe in wayfarer wayfarer-terminal; do
    [[ -x $BUILD/bin/$exe ]] || { echo "build $exe first ($BUILD/bin/$exe)"; exit 1; }
done
command -v wrk >/dev/null || { echo "wrk missing: scripts/install-deps.sh --bench"; exit 1; }
# Two descriptors per connection in the service, one per terminal in the simulators.
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"
ulimit -u unlimited 2>/dev/null || true
echo "limits: open files $(ulimit -n), processes $(ulimit -u), threads-max $(cat /proc/sys/kernel/threads-max)"
exec python3 "$ROOT/bench/soak/soak.py" --wayfarer "$BUILD/bin/wayfarer" \
    --terminal "$BUILD/bin/wayfarer-terminal" --terminals "${TERMINALS:-2000}" \
    --duration "${DURATION:-600}" --wrk-seconds "${WRK_SECONDS:-60}" "${@:2}"
