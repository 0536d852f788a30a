#!/usr/bin/env bash
# scripts/fuzz.sh [seconds]: builds the libFuzzer targets in build/fuzz (clang, ASan, UBSan) and
# runs each for the given seconds (default 60) on its seed corpus. Exits non-zero on any crash,
# hang (> 10 s per input) or leak; the reproducer lands in build/fuzz/artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
dir="$root/build/fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DWAYFARER_FUZZ=ON -DWAYFARER_TESTS=OFF -DWAYFARER_WERROR="${WAYFARER_WERROR:-OFF}" >/dev/null
ninja -C "$dir" fuzzers

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$dir/artifacts"
status=0
for fuzzer in "$dir"/fuzz/*_fuzz_test; do
    name=$(basename "$fuzzer")
    seeds="$root/tests/fuzz/${name}_corpus"
    work="$dir/corpus/$name"
    mkdir -p "$work"
    echo "== $name: ${seconds}s"
    if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$dir/artifacts/$name-" "$work" "$seeds" 2>"$dir/$name.log"; then
        echo "!! $name failed; see $dir/$name.log"
        tail -n 40 "$dir/$name.log"
        status=1
    else
        grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$dir/$name.log" || true
    fi
done
exit $status
