#!/usr/bin/env bash
# Builds Tarvel and runs it on the sample sheet in examples/, with its codes file,
# in a scratch folder so that examples/ stays as it is; then shows what it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target tarvel
work=build/example
rm -rf "$work" && mkdir -p "$work"
cp examples/hoja_ejemplo.bin examples/sentido.CFG "$work/"
build/release/cli/tarvel --codes "$work/sentido.CFG" --units mm "$work/hoja_ejemplo.bin"
echo
echo "Ficheros en $work:"
ls -l "$work"
echo
echo "Primera marca de error (72 bytes: \"T=\", \"ERROR\", el punto y el texto \"NoSent\"):"
od -A d -c -N 72 "$work/hoja_ejemplo_err.bin"
