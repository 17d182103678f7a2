#!/usr/bin/env bash
# Builds the Debian package of Tarvel: configures and builds the release preset (or the preset
# given, e.g. ci), then runs cpack. The package, tarvel_VERSION_amd64.deb, is left in the
# preset's build folder; its path is the last line printed.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-release}
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
build="build/$preset"
rm -f "$build"/tarvel_*_amd64.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/tarvel_*_amd64.deb
