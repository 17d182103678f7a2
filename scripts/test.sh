#!/usr/bin/env bash
# Builds Tarvel and runs every test. Under CI (CI=true) warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
preset=release
if [ "${CI:-}" = "true" ]; then preset=ci; fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
