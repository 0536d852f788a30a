#!/usr/bin/env bash
# Fails when clang-format would change any tracked C++ source or header.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 --no-run-if-empty clang-format --dry-run --Werror
echo "format: clean"
