#!/usr/bin/env bash
# Runs one fuzz target for a given time: scripts/fuzz.sh loader|codes|run SECONDS [LIBFUZZER-ARGS...]
# Builds it first (clang, build/fuzz). New inputs go to tests/fuzz/corpus-work/TARGET (not
# committed), seeded from the committed corpus tests/fuzz/corpus/TARGET; a crasher is written to
# tests/fuzz/corpus-work/TARGET-crashes/. Extra arguments go to libFuzzer (e.g. -jobs=1).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: scripts/fuzz.sh loader|codes|run SECONDS [LIBFUZZER-ARGS...]" >&2
    exit 2
}
[ $# -ge 2 ] || usage
target=$1
seconds=$2
shift 2
case "$target" in loader | codes | run) ;; *) usage ;; esac
[[ "$seconds" =~ ^[0-9]+$ ]] || usage

build=${FUZZ_BUILD_DIR:-build/fuzz}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_BUILD_FUZZ=ON -DTARVEL_BUILD_TESTS=OFF \
        -DTARVEL_BUILD_GUI=OFF -DTARVEL_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target "fuzz_$target" -j 2

work=tests/fuzz/corpus-work/$target
crashes=tests/fuzz/corpus-work/$target-crashes
mkdir -p "$work" "$crashes"
exec "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$crashes/" "$@" "$work" "tests/fuzz/corpus/$target"
