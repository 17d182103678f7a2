#!/usr/bin/env bash
# The README's recipes for several machines, run on this one: GNU parallel handing shares of
# the list of sheets to jobs (through --sshlogin with ":", this machine, as it would to other
# machines), with names ended by line ends and by 0 bytes, and the Slurm job array's tasks one
# after another. Each must write, in its output folder, byte for byte what one plain batch
# writes, and a report per share that together name every sheet once.
# Usage: several_machines_test.sh SOURCE_DIR TARVEL TARVEL_GENERATE
set -uo pipefail
source_dir=$(realpath "$1")
tarvel=$(realpath "$2")
generate=$(realpath "$3")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
# The recipes call "tarvel" as an installed program.
mkdir bin && ln -s "$tarvel" bin/tarvel
export PATH="$scratch/bin:$PATH"

mkdir hojas
for seed in $(seq 1 23); do
    "$generate" --kind large --seed "$seed" --lines 150 --out "hojas/hoja$seed.bin" >/dev/null || exit 1
done
cp hojas/hoja5.bin "hojas/hoja con espacio.bin"
cp "$source_dir/examples/sentido.CFG" .
sheets=24

mkdir plano
tarvel -c sentido.CFG --output-dir plano -q hojas || { echo "plain batch failed" >&2; exit 1; }

passed=0
failed=0
# Output folder $1 holds the plain batch's files and a report per share that, together, name
# every sheet once.
check() {
    local folder=$1 reports=$2 named
    if diff -r -x 'informe-*.json' plano "$folder" >&2; then
        passed=$((passed + 1))
    else
        echo "FALLO: $folder differs from the plain batch" >&2
        failed=$((failed + 1))
    fi
    named=$(cat "$folder"/informe-*.json | grep -o '"entrada":' | wc -l)
    if [ "$(ls "$folder"/informe-*.json | wc -l)" -eq "$reports" ] && [ "$named" -eq "$sheets" ]; then
        passed=$((passed + 1))
    else
        echo "FALLO: $folder: $(ls "$folder"/informe-*.json | wc -l) reports naming $named sheets" >&2
        failed=$((failed + 1))
    fi
}

# GNU parallel, shares of 5 names, two jobs at a time on this machine.
mkdir repartido
find hojas -name '*.bin' | sort |
    parallel --pipe -N 5 --sshlogin 2/: \
        tarvel -c "$scratch/sentido.CFG" --files-from - --output-dir "$scratch/repartido" \
        --report "$scratch/repartido/informe-{#}.json" -q ||
    { echo "FALLO: parallel exited $?" >&2; failed=$((failed + 1)); }
check repartido 5

mkdir repartido0
find hojas -name '*.bin' -print0 |
    parallel --pipe --recend '\0' -N 5 -j 2 \
        tarvel -c sentido.CFG --null --files-from - --output-dir repartido0 \
        --report 'repartido0/informe-{#}.json' -q ||
    { echo "FALLO: parallel --recend exited $?" >&2; failed=$((failed + 1)); }
check repartido0 5

# The Slurm job array: the list split in four shares, each task run as Slurm would run it.
mkdir slurm
find hojas -name '*.bin' | sort >lista.txt
split -n l/4 -d -a 3 lista.txt parte.
for task in 0 1 2 3; do
    SLURM_ARRAY_TASK_ID=$task SLURM_CPUS_PER_TASK=2 \
        bash "$source_dir/examples/tarvel-slurm.sh" sentido.CFG slurm >/dev/null ||
        { echo "FALLO: Slurm task $task exited $?" >&2; failed=$((failed + 1)); }
done
check slurm 4

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
