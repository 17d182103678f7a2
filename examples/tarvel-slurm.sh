#!/usr/bin/env bash
# One task of a Slurm job array over a list of sheets: task N processes the share parte.NNN
# of the list, writes every output and error file to the shared output folder and its own
# report there. Made ready and sent, from the folder that holds the shares:
#
#   find /datos/hojas -name '*.bin' | sort > lista.txt
#   split -n l/16 -d -a 3 lista.txt parte.
#   mkdir -p /datos/salida
#   sbatch --array=0-15 tarvel-slurm.sh /datos/sentido.CFG /datos/salida
#
# Arguments: CODES_FILE OUTPUT_FOLDER. Every task uses the cores Slurm gives it.
#SBATCH --job-name=tarvel
#SBATCH --cpus-per-task=4
set -euo pipefail
codes=$1
output=$2
task=${SLURM_ARRAY_TASK_ID:?"tarvel-slurm.sh: sin SLURM_ARRAY_TASK_ID: se envía con sbatch --array"}
share=$(printf 'parte.%03d' "$task")
exec tarvel --codes "$codes" --files-from "$share" --output-dir "$output" \
    --report "$output/informe-$task.json" --jobs "${SLURM_CPUS_PER_TASK:-1}" --no-progress
