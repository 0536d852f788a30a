#!/usr/bin/env bash
# Quick start: install what is missing, build Release, run the service from its application
# directory (build/release/bin: config.ini, WFS.db, WFSLog/, Web/ ... are created there).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build/release Release -DWAYFARER_TESTS=OFF
cd "$root/build/release/bin"
exec ./wayfarer
