#!/usr/bin/env bash
# Tarvel beside a plain copy and beside the GEOS line merger, side by side in one run, on the
# project generator's sheets, with every element written (-a) and its codes file:
#   - output on tmpfs against `cp` to tmpfs, and on disk against `cp` then `sync` of the copy;
#   - the GEOS peer (bench/geos_peer.cpp) end to end on the same sheet;
#   - peak anonymous memory against the sheet's size, and a sheet processed under a memory
#     limit two thirds its size, with the same bytes as without it;
#   - a batch of many small sheets with one worker and with two;
#   - a sheet whose places were crafted against an unseeded node index, beside ordinary ones.
# Each time is the best of several runs with the sheet in the page cache, the copy and tarvel
# run in turn.
# Usage: bench/speed.sh [LINES...]   (default: 10000 100000 1000000 10000000)
# TARVEL_BENCH_SHM (default /dev/shm) and TARVEL_BENCH_DISK (default /var/tmp) hold the files;
# TARVEL_BENCH_BATCH=0 leaves the batch out.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
bin="$build/cli/tarvel"
generate="$build/tests/support/tarvel-generate"
for program in "$bin" "$generate" "$build/bench/tarvel-bench-geos-peer" \
    "$build/bench/tarvel-bench-memory" "$build/bench/tarvel-bench-batch" \
    "$build/bench/tarvel-bench-crafted"; do
    [ -x "$program" ] || { echo "build first: cmake --preset release && cmake --build --preset release" >&2; exit 2; }
done
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000 1000000 10000000)
shm=$(mktemp -d "${TARVEL_BENCH_SHM:-/dev/shm}/tarvel-speed.XXXXXX")
disk=$(mktemp -d "${TARVEL_BENCH_DISK:-/var/tmp}/tarvel-speed.XXXXXX")
trap 'rm -rf "$shm" "$disk"' EXIT

now() { date +%s.%N; }
# smaller A [B]: the smaller of two times, or A when there is no B yet.
smaller() { awk -v a="$1" -v b="${2:-}" 'BEGIN {print (b == "" || a + 0 < b + 0) ? a : b}'; }
# best_of N COMMAND...: the smallest wall time of N runs, in seconds.
best_of() {
    local runs=$1 best=''
    shift
    for _ in $(seq "$runs"); do
        local start end
        start=$(now)
        "$@" >/dev/null
        end=$(now)
        best=$(smaller "$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')" "$best")
    done
    printf '%.3f' "$best"
}
# best_of_pair N FIRST SECOND: the smallest wall times of N runs each of two functions, run in
# turn, so that both meet the same moments of a shared host. Prints "first second".
best_of_pair() {
    local runs=$1 first=$2 second=$3 best_first='' best_second=''
    for _ in $(seq "$runs"); do
        best_first=$(smaller "$(best_of 1 "$first")" "$best_first")
        best_second=$(smaller "$(best_of 1 "$second")" "$best_second")
    done
    echo "$best_first $best_second"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
cp_sync() { cp "$1" "$2" && sync "$2"; }

echo "Machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo)," \
    "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); GEOS $(geos-config --version)"
echo
printf '%-9s %8s | %7s %7s %6s | %7s %7s %6s | %7s %7s | %9s\n' lines MB cp-tmpfs tarvel ratio \
    cp+sync tarvel ratio geos tarvel/geos "anon/file"
for lines in "${sizes[@]}"; do
    sheet="$shm/hoja.bin"
    "$generate" --kind large --seed 7 --lines "$lines" --out "$sheet" --codes-out "$shm/sentido.CFG" >/dev/null
    cat "$sheet" >/dev/null
    size=$(stat -c %s "$sheet")
    runs=9
    [ "$lines" -ge 10000000 ] && runs=5
    cp_tmpfs_once() { cp "$sheet" "$shm/copia.bin"; }
    tarvel_tmpfs_once() { "$bin" -q -a -c "$shm/sentido.CFG" -o "$shm/salida.bin" "$sheet"; }
    cp_disk_once() { cp_sync "$sheet" "$disk/copia.bin"; }
    tarvel_disk_once() { "$bin" -q -a -c "$shm/sentido.CFG" -o "$disk/salida.bin" "$sheet"; }
    read -r cp_tmpfs t_tmpfs < <(best_of_pair "$runs" cp_tmpfs_once tarvel_tmpfs_once)
    read -r cp_disk t_disk < <(best_of_pair "$runs" cp_disk_once tarvel_disk_once)
    geos=$(best_of 1 "$build/bench/tarvel-bench-geos-peer" "$sheet" "$shm/geos.wkb")
    anon=$("$build/bench/tarvel-bench-memory" -- "$bin" -q -a -c "$shm/sentido.CFG" \
        -o "$shm/salida.bin" "$sheet" | awk '{print $2}')
    printf '%-9s %8.1f | %7s %7s %6s | %7s %7s %6s | %7s %7s | %9s\n' "$lines" \
        "$(awk -v s="$size" 'BEGIN {print s / 1000000}')" "$cp_tmpfs" "$t_tmpfs" "$(ratio "$t_tmpfs" "$cp_tmpfs")" \
        "$cp_disk" "$t_disk" "$(ratio "$t_disk" "$cp_disk")" "$geos" \
        "$(ratio "$geos" "$t_tmpfs")x" "$(ratio "$anon" "$size")"
    rm -f "$shm"/copia.bin "$shm"/salida.bin "$shm"/geos.wkb "$disk"/copia.bin "$disk"/salida.bin
done

echo
# A sheet under a memory limit two thirds its size: it must come out with the same bytes.
sheet="$shm/hoja.bin"
"$generate" --kind large --seed 7 --lines 1000000 --out "$sheet" --codes-out "$shm/sentido.CFG" >/dev/null
size=$(stat -c %s "$sheet")
limit=$((size * 2 / 3))
"$bin" -q -a -c "$shm/sentido.CFG" -o "$disk/libre.bin" "$sheet"
limited=$("$build/bench/tarvel-bench-memory" --limit "$limit" -- "$bin" -q -a -c "$shm/sentido.CFG" \
    -o "$disk/limitada.bin" "$sheet")
same=no
cmp -s "$disk/libre.bin" "$disk/limitada.bin" && same=yes
echo "Sheet of $((size / 1048576)) MiB under a memory limit of $((limit / 1048576)) MiB" \
    "(x$(ratio "$size" "$limit") the limit): $limited, same bytes as without the limit: $same"
rm -f "$disk"/libre.bin "$disk"/limitada.bin "$sheet"

if [ "${TARVEL_BENCH_BATCH:-1}" != 0 ]; then
    echo
    TARVEL_BENCH_DIR="$shm" "$build/bench/tarvel-bench-batch" "$bin" 1000 10000
fi

echo
TARVEL_BENCH_DIR="$shm" "$build/bench/tarvel-bench-crafted" 160000
