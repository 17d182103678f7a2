#!/usr/bin/env bash
# Takes pictures of the window for the documentation: runs tarvel-gui on a virtual X
# display (Xvfb) and saves docs/tarvel-gui.png, and docs/tarvel-gui-2x.png at double scale.
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
mkdir -p docs
# A sanitizer build would fail the picture on what the X and D-Bus libraries keep until exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"

shoot() {
    local scale="$1" file="$2"
    # A fresh display for each picture; the window saves itself and quits.
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" \
        xvfb-run --auto-servernum --server-args="-screen 0 2400x1800x24" \
        "$gui" --screenshot "$file"
    echo "$file"
}
shoot 1 docs/tarvel-gui.png
shoot 2 docs/tarvel-gui-2x.png
