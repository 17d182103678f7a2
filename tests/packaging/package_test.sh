#!/usr/bin/env bash
# The Debian package as a user gets it: built with cpack from this build folder (or taken from
# TARVEL_DEB), unpacked with dpkg-deb into a scratch folder, its tarvel run on the sample sheet
# and compared byte for byte with the build's tarvel; its dependencies, its files, its manual
# pages (rendered without a warning) and its desktop entry checked.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR BUILD_TARVEL VERSION CPACK
set -euo pipefail
build=$(realpath "$1") source=$(realpath "$2") build_tarvel=$(realpath "$3") version=$4 cpack=$5

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
    echo "FALLO: $*" >&2
    failures=$((failures + 1))
}

deb=${TARVEL_DEB:-}
if [ -z "$deb" ]; then
    "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" >"$scratch/cpack.log" 2>&1 ||
        { cat "$scratch/cpack.log" >&2; exit 1; }
    deb="$scratch/deb/tarvel_${version}_amd64.deb"
fi
[ -f "$deb" ] || { echo "no package: $deb" >&2; exit 1; }
[ "$(basename "$deb")" = "tarvel_${version}_amd64.deb" ] || fail "package name $(basename "$deb")"

root="$scratch/raiz"
dpkg-deb -x "$deb" "$root"
for file in usr/bin/tarvel usr/bin/tarvel-gui \
    usr/share/man/man1/tarvel.1.gz usr/share/man/man1/tarvel-gui.1.gz \
    usr/share/bash-completion/completions/tarvel \
    usr/share/applications/tarvel-gui.desktop \
    usr/share/icons/hicolor/scalable/apps/tarvel.svg \
    usr/lib/tarvel/libtarvel-core.so.1 usr/lib/tarvel/libtarvel-gis.so \
    usr/share/doc/tarvel/README.md usr/share/doc/tarvel/examples/hoja_ejemplo.bin; do
    [ -f "$root/$file" ] || fail "$file is not in the package"
done

# The packaged program gives the build's output, error file and summary, byte for byte.
for who in paquete compilacion; do
    mkdir "$scratch/$who"
    cp "$source/examples/hoja_ejemplo.bin" "$source/examples/sentido.CFG" "$scratch/$who/"
done
program_of() { if [ "$1" = paquete ]; then echo "$root/usr/bin/tarvel"; else echo "$build_tarvel"; fi; }
for who in paquete compilacion; do
    (cd "$scratch/$who" && "$(program_of "$who")" -c sentido.CFG -u mm hoja_ejemplo.bin \
        >../$who.out 2>../$who.err) || fail "$who tarvel exited $?: $(cat "$scratch/$who.err")"
done
diff -r "$scratch/paquete" "$scratch/compilacion" >&2 || fail "the outputs differ"
cmp "$scratch/paquete.out" "$scratch/compilacion.out" || fail "the summary lines differ"
[ -s "$scratch/paquete/hoja_ejemplo_sal.bin" ] && [ -s "$scratch/paquete/hoja_ejemplo_err.bin" ] ||
    fail "the packaged tarvel wrote no output or error file"
[ "$("$root/usr/bin/tarvel-gui" --version)" = "tarvel-gui $version" ] || fail "tarvel-gui --version"

# The packaged GIS library, loaded from beside the packaged program, writes an export.
mkdir "$scratch/exportacion"
cp "$source/examples/hoja_ejemplo.bin" "$scratch/exportacion/"
(cd "$scratch/exportacion" && "$root/usr/bin/tarvel" -q --export hallazgos.gpkg hoja_ejemplo.bin) ||
    fail "the packaged tarvel could not export"
[ -s "$scratch/exportacion/hallazgos.gpkg" ] || fail "the packaged tarvel wrote no export"

# Dependencies: computed from the programs, and what they load by name.
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libqt6widgets6 libqt6svg6 libgdal qt6-translations-l10n qt6-qpa-plugins libc6; do
    [[ ",$depends" == *[\ ,]$dependency* ]] || fail "Depends lacks $dependency: $depends"
done

# Manual pages render without a warning, in the C locale and in Spanish.
for page in "$root"/usr/share/man/man1/*.1.gz; do
    for locale in C.UTF-8 es_ES.UTF-8; do
        warnings=$(LC_ALL=$locale MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$(basename "$page") ($locale): $warnings"
    done
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep "ESTADO DE SALIDA" >/dev/null ||
        fail "$(basename "$page") has no exit statuses"
done

desktop-file-validate "$root/usr/share/applications/tarvel-gui.desktop" >&2 ||
    fail "the desktop entry is not valid"
grep -qx 'Icon=tarvel' "$root/usr/share/applications/tarvel-gui.desktop" || fail "desktop icon"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/tarvel.svg" || fail "icon is no SVG"

if [ "$failures" -gt 0 ]; then
    echo "0 passed, $failures failed" >&2
    exit 1
fi
echo "package: $(basename "$deb") checked"
