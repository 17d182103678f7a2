#!/usr/bin/env bash
# Every option that `tarvel --help` prints has its entry in the manual page and in the bash
# completion, and every option of `tarvel-gui --help` in its manual page: the three cannot
# drift apart from the programs.
# Usage: documented_options_test.sh SOURCE_DIR TARVEL [TARVEL_GUI]
set -euo pipefail
source_dir=$1 tarvel=$2 gui=${3:-}

failures=0
checked=0
# The options a help text lists: "-x" and "--name" in the column before the descriptions.
options_in_help() {
    grep -E '^ +-' | sed -E 's/^ +//; s/  .*//' | grep -oE -- '--?[a-z][a-z-]*' | sort -u
}
# Whether FILE names OPTION as a whole word (troff writes a hyphen as \-).
names() {
    local file=$1 option=$2
    sed 's/\\-/-/g' "$file" | grep -E -- "(^|[^a-zA-Z0-9-])${option}([^a-zA-Z0-9-]|$)" >/dev/null
}
check() {
    local help=$1
    shift
    local option file
    for option in $(options_in_help <<<"$help"); do
        for file in "$@"; do
            checked=$((checked + 1))
            if ! names "$file" "$option"; then
                echo "FALLO: $option is not in ${file#"$source_dir"/}" >&2
                failures=$((failures + 1))
            fi
        done
    done
}

help=$("$tarvel" --help)
[ "$(options_in_help <<<"$help" | wc -l)" -ge 20 ] || { echo "too few options read" >&2; exit 1; }
check "$help" "$source_dir/packaging/tarvel.1" "$source_dir/packaging/tarvel.bash-completion"
if [ -n "$gui" ]; then
    gui_help=$("$gui" --help)
    check "$gui_help" "$source_dir/packaging/tarvel-gui.1"
fi
echo "$((checked - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
