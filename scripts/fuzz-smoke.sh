#!/usr/bin/env bash
# CI: builds the fuzz targets with clang and runs each one briefly on its committed corpus.
# Fails when a target finds a crash or a broken property. FUZZ_SMOKE_SECONDS sets the time per
# target (default 20); FUZZ_BUILD_DIR the build folder (default build/fuzz). The committed
# corpus is only read: new inputs go to a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${FUZZ_BUILD_DIR:-build/fuzz}
seconds=${FUZZ_SMOKE_SECONDS:-20}
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVEL_BUILD_FUZZ=ON -DTARVEL_BUILD_TESTS=OFF -DTARVEL_BUILD_GUI=OFF \
    -DTARVEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_loader fuzz_codes fuzz_run -j "$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in loader codes run; do
    mkdir -p "$scratch/$target" "$scratch/$target-crashes"
    echo "fuzz_$target: ${seconds} s on tests/fuzz/corpus/$target"
    if ! "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$scratch/$target-crashes/" \
        "$scratch/$target" "tests/fuzz/corpus/$target" >"$scratch/$target.log" 2>&1; then
        status=1
        echo "fuzz_$target FAILED:" >&2
        tail -n 60 "$scratch/$target.log" >&2
        for crash in "$scratch/$target-crashes"/*; do
            [ -e "$crash" ] || continue
            echo "crasher $(basename "$crash") (base64):" >&2
            base64 "$crash" >&2
        done
    else
        grep -E '^stat::number_of_executed_units' "$scratch/$target.log" || true
    fi
done
exit "$status"
