#!/usr/bin/env bash
# Measures kestrane-batch on a full-size inhalation dose-rate file against a plain read of the
# same file (wc -l), as the speed goals are stated: ROUNDS rounds, each running in turn wc -l,
# kestrane-batch with all ages and all regions, and kestrane-batch --ages 6 --regions 12; the
# ratio of each run to the wc -l of its round, and the median of those ratios over the rounds.
# Wall and CPU times are medians too; the peak memory is the largest maximum resident set size
# of any run (/usr/bin/time's %M).
#
# Usage: bench/run_benchmark.sh [DIR] [SIZE] [ROUNDS] [OPTION]...
#   DIR      where the working directory is made (default /tmp/kestrane-bench)
#   SIZE     size of the dose-rate file, with K, M or G (default 1G)
#   ROUNDS   rounds of the three runs (default 5)
#   OPTION   further options for every kestrane-batch run (--before linear --after exponential)
# The programs are taken from KESTRANE_BIN (default: build/bin of this checkout, the Release
# build of the README). The file is made once and reused while its size setting is unchanged.
# With KESTRANE_BENCH_TARGET set to AVX2, SSE4, SSSE3 or SCALAR, kestrane-batch takes that
# vector target and those below it, as on a processor without the wider ones (through the
# preloaded libkestrane_force_targets.so of the same build folder).
set -euo pipefail

dir=${1:-/tmp/kestrane-bench}
size=${2:-1G}
rounds=${3:-5}
shift $(($# < 3 ? $# : 3))
extra=("$@")
here=$(cd "$(dirname "$0")" && pwd)
bin=${KESTRANE_BIN:-$here/../build/bin}

for prog in kestrane-sample kestrane-batch; do
  if [ ! -x "$bin/$prog" ]; then
    echo "run_benchmark: $bin/$prog not found; build first, or set KESTRANE_BIN" >&2
    exit 2
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "run_benchmark: /usr/bin/time is missing (Debian package: time)" >&2
  exit 2
fi

file=$dir/DATA/KVR13INH.DRT
stamp=$dir/.benchmark-size
if [ ! -f "$file" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$size" ]; then
  echo "Making a $size inhalation file in $dir ..."
  rm -f "$stamp"
  "$bin/kestrane-sample" --dir "$dir" --size "$size" --seed 1 --data-set inhalation --force
  echo "$size" >"$stamp"
fi
bytes=$(stat -c %s "$file")
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')

# Reads the file once so that every measurement starts from the page cache alike.
cat "$file" >/dev/null

log=$(mktemp)
trap 'rm -f "$log" "$log.err"' EXIT

# run NAME COMMAND...: runs the command once under /usr/bin/time and appends its wall seconds,
# CPU seconds (user + system) and maximum resident set size in KiB to the lists of NAME.
declare -A wall cpu
peak_kb=0
run() {
  local name=$1
  shift
  if ! /usr/bin/time -f '%e %U %S %M' -o "$log" "$@" >/dev/null 2>"$log.err"; then
    echo "run_benchmark: failed: $*" >&2
    cat "$log.err" >&2
    exit 1
  fi
  local w u s kb
  read -r w u s kb <"$log"
  wall[$name]+="$w "
  cpu[$name]+="$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') "
  if [ "$kb" -gt "$peak_kb" ]; then peak_kb=$kb; fi
  if [ "$kb" -gt "${peak[$name]:-0}" ]; then peak[$name]=$kb; fi
}
declare -A peak

batch=("$bin/kestrane-batch" --data-set inhalation --dir "$dir" "${extra[@]}")
target_note=
if [ -n "${KESTRANE_BENCH_TARGET:-}" ]; then
  if [ ! -f "$bin/libkestrane_force_targets.so" ]; then
    echo "run_benchmark: $bin/libkestrane_force_targets.so not found; build with KESTRANE_BENCH=ON" >&2
    exit 2
  fi
  batch=(env LD_PRELOAD="$bin/libkestrane_force_targets.so" "${batch[@]}")
  target_note=", vector target $KESTRANE_BENCH_TARGET and below"
fi
ratio_all=
ratio_one=
for ((round = 0; round < rounds; round++)); do
  run read wc -l "$file"
  run all "${batch[@]}" --ages all --regions all
  run one "${batch[@]}" --ages 6 --regions 12
  read_s=$(echo "${wall[read]}" | awk -v r="$round" '{ s = $(r + 1); print (s > 0 ? s : 0.005) }')
  ratio_all+="$(echo "${wall[all]}" | awk -v r="$round" -v b="$read_s" '{ print $(r + 1) / b }') "
  ratio_one+="$(echo "${wall[one]}" | awk -v r="$round" -v b="$read_s" '{ print $(r + 1) / b }') "
done

median() {  # median of the numbers given as one blank-separated text
  echo "$1" | tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END {
      print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

row() {  # row LABEL NAME RATIOS
  awk -v label="$1" -v s="$(median "${wall[$2]}")" -v c="$(median "${cpu[$2]}")" \
      -v r="${3:+$(median "$3")}" -v kb="${peak[$2]}" -v b="$bytes" 'BEGIN {
      if (s <= 0) s = 0.005;  # below the resolution of /usr/bin/time
      printf "%-32s %7.2f %7.2f %8.1f %8s %8.1f\n", label, s, c, b / 1e6 / s,
             (r == "" ? "1.0" : sprintf("%.2f", r)), kb / 1024 }'
}

echo
echo "File: $file ($mb MB), medians of $rounds rounds, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)$target_note"
if [ ${#extra[@]} -gt 0 ]; then echo "kestrane-batch options: ${extra[*]}"; fi
printf "%-32s %7s %7s %8s %8s %8s\n" "" "wall s" "cpu s" "MB/s" "x wc -l" "peak MB"
row "wc -l (plain read)" read ""
row "batch, all ages, all regions" all "$ratio_all"
row "batch, --ages 6 --regions 12" one "$ratio_one"
echo
echo "Goals: all ages and regions within 5x the read, one age and one region within 1.5x,"
echo "peak memory under 64 MB (x wc -l: median of the ratios of the rounds)."
awk -v a="$(median "$ratio_all")" -v o="$(median "$ratio_one")" -v kb="$peak_kb" 'BEGIN {
    printf "  all/all   %5.2fx  %s\n", a, (a <= 5 ? "met" : "NOT met")
    printf "  one/one   %5.2fx  %s\n", o, (o <= 1.5 ? "met" : "NOT met")
    printf "  peak      %5.1f MB %s\n", kb / 1024, (kb / 1024 < 64 ? "met" : "NOT met") }'
