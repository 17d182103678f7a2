#!/usr/bin/env bash
# Draws the GIS export of the sample sheet with GDAL's own tools, for the README: runs tarvel on
# examples/hoja_ejemplo.bin with its codes file and --export, then rasterizes the output lines
# (blue), the direction errors (red), the near misses (orange) and the Z differences (green)
# around the first direction error into docs/exportacion.png.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target tarvel
work=build/export-picture
rm -rf "$work" && mkdir -p "$work"
cp examples/hoja_ejemplo.bin examples/sentido.CFG "$work/"
build/release/cli/tarvel -q -a -u mm -t 0.5 -c "$work/sentido.CFG" \
    --export "$work/capas.gpkg" --crs EPSG:25830 "$work/hoja_ejemplo.bin"

# 40 m by 13 m around the first direction error.
read -r x y < <(ogrinfo -q "$work/capas.gpkg" -sql \
    "SELECT ST_X(geom), ST_Y(geom) FROM errores_sentido LIMIT 1" |
    awk -F'= ' '/ST_X/ {x=$2} /ST_Y/ {y=$2} END {print x, y}')
read -r xmin ymin xmax ymax < <(awk -v x="$x" -v y="$y" \
    'BEGIN {printf "%.3f %.3f %.3f %.3f\n", x-20, y-6.667, x+20, y+6.667}')
picture="$work/capas.tif"
gdal_rasterize -q -init 255 -ot Byte -ts 1200 400 -te "$xmin" "$ymin" "$xmax" "$ymax" \
    -burn 40 -burn 90 -burn 200 -at -l lineas "$work/capas.gpkg" "$picture"
# Points are drawn as small discs, so that they show at this scale.
while read -r layer radius red green blue; do
    ogr2ogr -q -f GPKG -update -append -a_srs EPSG:25830 "$work/discos.gpkg" "$work/capas.gpkg" \
        -dialect sqlite \
        -sql "SELECT ST_Buffer(geom, $radius) AS geom FROM $layer" -nln "$layer"
    # A layer with no feature here has nothing to draw (and no coordinate system to match).
    if [ "$(ogrinfo -so "$work/discos.gpkg" "$layer" | awk '/Feature Count/ {print $3}')" != 0 ]; then
        gdal_rasterize -q -b 1 -b 2 -b 3 -burn "$red" -burn "$green" -burn "$blue" -l "$layer" \
            "$work/discos.gpkg" "$picture"
    fi
done <<'LAYERS'
errores_sentido 0.25 220 20 20
casi_uniones 0.18 240 150 0
diferencias_z 0.18 0 160 60
LAYERS
GDAL_PAM_ENABLED=NO gdal_translate -q -of PNG "$picture" docs/exportacion.png
echo docs/exportacion.png
