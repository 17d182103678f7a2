#!/usr/bin/env bash
# The bash completion of tarvel, as bash-completion runs it after a Tab: options after a dash,
# the units after --units, sheets (*.bin, any case) and folders for the inputs, codes files
# after --codes, and the report's and the export's extensions.
# Usage: completion_test.sh COMPLETION_SCRIPT
set -uo pipefail
script=$(realpath "$1")
framework=/usr/share/bash-completion/bash_completion
[ -f "$framework" ] || { echo "$framework missing: scripts/install-deps.sh installs it" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir carpeta
touch hoja.bin OTRA.BIN nota.txt sentido.CFG viejo.cfg informe.json capas.gpkg lineas.csv

# The candidates offered for the command line LINE (the cursor at its end), sorted, one line.
complete_line() {
    bash --norc --noprofile -c '
        source "$1"
        source "$2"
        COMP_LINE=$3
        COMP_POINT=${#COMP_LINE}
        read -r -a COMP_WORDS <<<"$COMP_LINE"
        [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _tarvel tarvel "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
    ' completion "$framework" "$script" "$1"
}

passed=0
failed=0
expect() {
    local line=$1 expected=$2 got
    got=$(complete_line "$line")
    if [ "$got" = "$expected" ]; then
        passed=$((passed + 1))
    else
        echo "FALLO: '$line': '$got', expected '$expected'" >&2
        failed=$((failed + 1))
    fi
}

expect "tarvel --out" "--output --output-dir "
expect "tarvel --no" "--no-progress "
expect "tarvel -u " "cm m mm "
expect "tarvel --units c" "cm "
expect "tarvel --units=m" "m mm "
expect "tarvel " "OTRA.BIN carpeta hoja.bin "
expect "tarvel -c " "carpeta sentido.CFG viejo.cfg "
expect "tarvel --report " "carpeta informe.json "
expect "tarvel --export " "capas.gpkg carpeta informe.json lineas.csv "
expect "tarvel --output-dir " "carpeta "
expect "tarvel -a -c sentido.CFG h" "hoja.bin "
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
