#!/usr/bin/env bash
# scripts/build.sh <build dir> <build type> [extra cmake args...]: configure and build.
# WAYFARER_WERROR=ON in the environment turns warnings into errors (CI sets it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?build dir}
type=${2:?build type}
shift 2
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [[ -f "$root/$dir/CMakeCache.txt" ]]; then generator=(); fi
# Rebuilds of other build types and other checkouts reuse objects when ccache is there.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$root/$dir" "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE="$type" \
    -DWAYFARER_WERROR="${WAYFARER_WERROR:-OFF}" "$@" >/dev/null
cmake --build "$root/$dir" --parallel "$(nproc)"
