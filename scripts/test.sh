#!/usr/bin/env bash
# Install what is missing, build with the tests, run the whole suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build/test Debug -DWAYFARER_TESTS=ON
cd "$root/build/test"
ctest --output-on-failure --timeout 600 -j2
