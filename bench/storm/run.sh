#!/usr/bin/env bash
# A fleet reconnecting at once, measured against the floor in the same run (bench/storm/storm.py).
# Usage: bench/storm/run.sh [build dir] [storm.py options...]
#   Builds nothing: needs a Release build configured with -DWAYFARER_BENCH=ON, with the targets
#   wayfarer, storm_driver and storm_floor built. The driver, the floor and the service get the
#   session's hard limit on open files.
set -euo pipefail
BUILD=${1:-build/release}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
for exe in bin/wayfarer bench/storm_driver bench/storm_floor; do
    [[ -x $BUILD/$exe ]] || { echo "build $exe first ($BUILD/$exe)"; exit 1; }
done
ulimit -n "$(ulimit -Hn)"
exec python3 "$ROOT/bench/storm/storm.py" --build "$BUILD" "${@:2}"
