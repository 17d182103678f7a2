#!/usr/bin/env bash
# Takes pictures of the window for the documentation: runs tarvel-gui on a virtual X
# display (Xvfb) on a copy of the sample sheet (examples/hoja_ejemplo.bin with
# examples/sentido.CFG, "Uno"), presses "Proceso", chooses the first finding in the list and
# saves docs/tarvel-gui.png, and docs/tarvel-gui-2x.png at double scale.
# Set TARVEL_GUI to a built tarvel-gui to use it instead of building the release one.
set -euo pipefail
cd "$(dirname "$0")/.."

gui="${TARVEL_GUI:-}"
if [ -z "$gui" ]; then
    scripts/install-deps.sh
    cmake --preset release >/dev/null
    cmake --build --preset release -j "$(nproc)" --target tarvel-gui
    gui=build/release/ui/tarvel-gui
fi
gui="$(realpath "$gui")"
mkdir -p docs
# A sanitizer build would fail the picture on what the X and D-Bus libraries keep until exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"

# The run writes its output and error file beside the sheet: a scratch copy keeps examples/
# as it is, and its folder's name stays out of the picture's title.
root="$PWD"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/mapas"
cp examples/hoja_ejemplo.bin examples/sentido.CFG "$scratch/mapas/"

shoot() {
    local scale="$1" file="$2"
    rm -f "$scratch"/mapas/*_sal.bin "$scratch"/mapas/*_err.bin
    # A fresh display for each picture; the window saves itself and quits.
    (cd "$scratch" && QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" \
        xvfb-run --auto-servernum --server-args="-screen 0 3200x2000x24" \
        "$gui" --one --codes mapas/sentido.CFG --process --finding 1 \
        --screenshot "$root/$file" mapas/hoja_ejemplo.bin)
    echo "$file"
}
shoot 1 docs/tarvel-gui.png
shoot 2 docs/tarvel-gui-2x.png
