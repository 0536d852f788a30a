#!/usr/bin/env bash
# scripts/build.sh <build dir> <build type> [extra cmake args...]: configure and build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?build dir}
type=${2:?build type}
shift 2
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [[ -f "$root/$dir/CMakeCache.txt" ]]; then generator=(); fi
cmake -S "$root" -B "$root/$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
cmake --build "$root/$dir" --parallel "$(nproc)"
