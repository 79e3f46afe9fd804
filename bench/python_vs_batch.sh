#!/usr/bin/env bash
# Compares kestrane.coefficients() of the Python module with kestrane-batch --csv on the same
# choice (all ages, all regions) of a sample inhalation file: wall time and peak memory of
# each process (fastest of REPEATS, from /usr/bin/time -v), the time of the call alone, the
# ratios of the times, and the size of the table the module returns.
#
# Usage: bench/python_vs_batch.sh [DIR] [SIZE] [REPEATS]
#   DIR      where the working directory is made (default /tmp/kestrane-bench-python)
#   SIZE     size of the dose-rate file, with K, M or G (default 64M)
#   REPEATS  runs of each measurement; the fastest counts (default 3)
# The programs come from KESTRANE_BIN (default build/bin), the module from KESTRANE_PYTHON
# (default build/python): the Release build of the README.
set -euo pipefail

dir=${1:-/tmp/kestrane-bench-python}
size=${2:-64M}
repeats=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
bin=${KESTRANE_BIN:-$here/../build/bin}
module=${KESTRANE_PYTHON:-$here/../build/python}

for prog in kestrane-sample kestrane-batch; do
  [ -x "$bin/$prog" ] || { echo "python_vs_batch: $bin/$prog not found" >&2; exit 2; }
done
ls "$module"/kestrane.*.so >/dev/null 2>&1 ||
  { echo "python_vs_batch: no module kestrane in $module" >&2; exit 2; }

stamp=$dir/.benchmark-size
if [ ! -f "$dir/DATA/KVR13INH.DRT" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$size" ]; then
  echo "Making a $size inhalation file in $dir ..."
  rm -f "$stamp"
  "$bin/kestrane-sample" --dir "$dir" --size "$size" --seed 1 --data-set inhalation >/dev/null
  echo "$size" >"$stamp"
fi

# Fastest wall time (s) and its peak memory (KiB) of REPEATS runs of a command.
measure() {
  local best="" rss="" log
  log=$(mktemp)
  for _ in $(seq "$repeats"); do
    /usr/bin/time -v "$@" >/dev/null 2>"$log"
    local wall kib
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0;
      for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$log")
    kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$log")
    if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$wall rss=$kib
    fi
  done
  rm -f "$log"
  echo "$best $rss"
}

read -r batch_s batch_kib < <(measure "$bin/kestrane-batch" --dir "$dir" --data-set inhalation \
  --ages all --regions all --csv)
read -r py_s py_kib < <(measure env PYTHONPATH="$module" /usr/bin/python3 -c "
import kestrane
kestrane.coefficients('$dir', data_set='inhalation', ages='all', regions='all')")
# The call alone, without the interpreter's start and the imports: fastest of REPEATS.
read -r call_s table_mb < <(PYTHONPATH="$module" /usr/bin/python3 -c "
import time, kestrane, pandas
best = None
for _ in range($repeats):
    start = time.perf_counter()
    t = kestrane.coefficients('$dir', data_set='inhalation', ages='all', regions='all')
    took = time.perf_counter() - start
    best = took if best is None else min(best, took)
    size = t.memory_usage(deep=False).sum() / 2**20
    del t
print(f'{best:.2f} {size:.0f}')")
base_kib=$(/usr/bin/time -f %M env PYTHONPATH="$module" /usr/bin/python3 -c \
  "import kestrane, pandas" 2>&1 >/dev/null | tail -1)

echo "file: $(stat -c %s "$dir/DATA/KVR13INH.DRT") bytes; the module's table: $table_mb MiB"
printf '%-38s %8s s %8s MiB\n' "kestrane-batch --csv (all, all)" "$batch_s" $((batch_kib / 1024))
printf '%-38s %8s s %8s MiB (python3 with pandas alone: %s MiB)\n' \
  "kestrane.coefficients (all, all)" "$py_s" $((py_kib / 1024)) $((base_kib / 1024))
printf '%-38s %8s s\n' "  the call alone (no start, no imports)" "$call_s"
awk -v p="$call_s" -v w="$py_s" -v b="$batch_s" 'BEGIN {
  printf "ratio module / batch: %.2f for the call, %.2f with the interpreter (target at most 1.5)\n",
    p / b, w / b }'
