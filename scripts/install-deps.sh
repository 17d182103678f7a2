#!/usr/bin/env bash
# Installs the Debian 12 packages that Tarvel builds with, only those that are missing.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libcli11-dev qt6-base-dev qt6-translations-l10n
          libgdal-dev gdal-bin nlohmann-json3-dev
          qt6-svg-dev xvfb xauth clang libclang-rt-14-dev
          dpkg-dev file man-db groff-base bash-completion desktop-file-utils parallel locales)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Instalando: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The tests check that the system's own messages follow a Spanish locale.
if ! locale -a 2>/dev/null | grep -qix 'es_ES.utf-\?8'; then
    echo "Generando la configuración regional es_ES.UTF-8"
    $sudo localedef -i es_ES -f UTF-8 es_ES.UTF-8
fi
