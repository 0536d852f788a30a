#!/usr/bin/env bash
# Capacity of one service instance: ramps terminal connections up to the limit the open-file
# limit allows and prints threads, descriptors, memory, report latency and CPU at each step.
# Usage: bench/capacity/run.sh [build dir] [capacity.py options...]
#   Builds nothing: needs wayfarer in <build dir>/bin (a Release build) and python3.
#   The service gets the session's hard limit on open files (the shipped unit sets 65536).
set -euo pipefail
BUILD=${1:-build-rel}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
[[ -x $BUILD/bin/wayfarer ]] || { echo "build wayfarer first ($BUILD/bin/wayfarer)"; exit 1; }
ulimit -n "$(ulimit -Hn)"
echo "limits: open files $(ulimit -n), cores $(nproc), $(grep MemTotal /proc/meminfo)"
exec python3 "$ROOT/bench/capacity/capacity.py" --wayfarer "$BUILD/bin/wayfarer" "${@:2}"
