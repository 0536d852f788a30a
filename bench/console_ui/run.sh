#!/usr/bin/env bash
# The device list in headless Chromium with 100000 terminals: first view and frame times while
# live updates run. Usage: bench/console_ui/run.sh [build dir] [devices] [seconds per phase]
# (builds nothing: wayfarer must be built there, ideally Release; needs sqlite3, node, npm and
# /usr/bin/chromium). Exit code 0 when the first view's median is under 1 s and no frame took
# over 100 ms.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build/rel}
[[ -x $build/bin/wayfarer ]] || { echo "build wayfarer first ($build/bin/wayfarer)" >&2; exit 1; }
# The browser tests' locked playwright-core drives Chromium here too.
(cd "$root/tests/web_ui" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
exec node "$root/bench/console_ui/bench.mjs" "$build/bin/wayfarer" "${2:-100000}" "${3:-20}"
