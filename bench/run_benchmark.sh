#!/usr/bin/env bash
# Measures kestrane-batch on a full-size inhalation dose-rate file against a plain read of the
# same file (wc -l): wall time, MB/s, ratio to the read, and peak memory, all from
# /usr/bin/time -v.
#
# Usage: bench/run_benchmark.sh [DIR] [SIZE] [REPEATS]
#   DIR      where the working directory is made (default /tmp/kestrane-bench)
#   SIZE     size of the dose-rate file, with K, M or G (default 1G)
#   REPEATS  runs of each measurement; the fastest counts (default 3)
# The programs are taken from KESTRANE_BIN (default: build/bin of this checkout, the Release
# build of the README). The file is made once and reused while its size setting is unchanged.
set -euo pipefail

dir=${1:-/tmp/kestrane-bench}
size=${2:-1G}
repeats=${3:-3}
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
trap 'rm -f "$log"' EXIT

# measure COMMAND...: runs the command REPEATS times under /usr/bin/time -v and sets
# best_seconds (fastest wall time), best_cpu (user + system time of that run) and peak_kb
# (largest maximum resident set size).
measure() {
  best_seconds=
  best_cpu=
  peak_kb=0
  for ((i = 0; i < repeats; i++)); do
    if ! /usr/bin/time -v -o "$log" "$@" >/dev/null 2>"$log.err"; then
      echo "run_benchmark: failed: $*" >&2
      cat "$log.err" >&2
      rm -f "$log.err"
      exit 1
    fi
    local seconds cpu kb
    seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ {
        n = split($2, p, ":"); s = 0; for (k = 1; k <= n; k++) s = s * 60 + p[k]; print s }' "$log")
    cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$log")
    kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$log")
    if [ -z "$best_seconds" ] || awk -v a="$seconds" -v b="$best_seconds" 'BEGIN { exit !(a < b) }'; then
      best_seconds=$seconds
      best_cpu=$cpu
    fi
    if [ "$kb" -gt "$peak_kb" ]; then peak_kb=$kb; fi
  done
  rm -f "$log.err"
}

row() {  # row LABEL SECONDS CPU_SECONDS PEAK_KB
  awk -v label="$1" -v s="$2" -v cpu="$3" -v kb="$4" -v b="$bytes" -v base="$read_seconds" 'BEGIN {
      if (s <= 0) s = 0.005;  # below the resolution of /usr/bin/time
      printf "%-30s %7.2f %7.2f %8.1f %8.1f %8.1f\n", label, s, cpu, b / 1e6 / s, s / base, kb / 1024 }'
}

batch=("$bin/kestrane-batch" --data-set inhalation --dir "$dir")

measure wc -l "$file"
read_seconds=$best_seconds
if awk -v s="$read_seconds" 'BEGIN { exit !(s <= 0) }'; then read_seconds=0.005; fi
read_cpu=$best_cpu
read_kb=$peak_kb

measure "${batch[@]}" --ages all --regions all
all_seconds=$best_seconds
all_cpu=$best_cpu
all_kb=$peak_kb

measure "${batch[@]}" --ages adult --regions Lung
one_seconds=$best_seconds
one_cpu=$best_cpu
one_kb=$peak_kb

echo
echo "File: $file ($mb MB), fastest of $repeats runs, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)"
printf "%-30s %7s %7s %8s %8s %8s\n" "" "wall s" "cpu s" "MB/s" "x wc -l" "peak MB"
row "wc -l (plain read)" "$read_seconds" "$read_cpu" "$read_kb"
row "batch, all ages, all regions" "$all_seconds" "$all_cpu" "$all_kb"
row "batch, one age (adult), Lung" "$one_seconds" "$one_cpu" "$one_kb"
echo
echo "Targets: all ages and regions within 8x the read, one age and region within 2x,"
echo "peak memory under 64 MB."
awk -v a="$all_seconds" -v o="$one_seconds" -v r="$read_seconds" \
    -v ka="$all_kb" -v ko="$one_kb" 'BEGIN {
    printf "  all/all   %5.1fx  %s\n", a / r, (a / r <= 8 ? "met" : "NOT met")
    printf "  one/one   %5.1fx  %s\n", o / r, (o / r <= 2 ? "met" : "NOT met")
    peak = (ka > ko ? ka : ko) / 1024
    printf "  peak      %5.1f MB %s\n", peak, (peak < 64 ? "met" : "NOT met") }'
