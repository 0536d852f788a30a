#!/usr/bin/env bash
# Browser tests of the operator pages: installs the locked npm dependencies, then runs every
# *.test.mjs with node's test runner in headless Chromium against the real service.
# Environment: WAYFARER_EXE (the built executable), WAYFARER_WEB_DIR (pages to serve),
# WAYFARER_UI_ARTIFACTS (where screenshots go), WAYFARER_CHROMIUM (default /usr/bin/chromium),
# WAYFARER_UI_REQUIRE_API=1 (fail instead of skipping when the management API or the device port
# is missing).
set -euo pipefail
cd "$(dirname "$0")"
chromium=${WAYFARER_CHROMIUM:-/usr/bin/chromium}
if [[ ! -x "$chromium" ]]; then
    echo "web_ui: $chromium is missing (scripts/install-deps.sh installs chromium)" >&2
    exit 1
fi
npm ci --no-audit --no-fund --loglevel=error >/dev/null
# One file at a time: each starts its own service and browser, and the machine has two cores.
exec node --test --test-concurrency=1 ./*.test.mjs
