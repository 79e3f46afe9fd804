#!/usr/bin/env bash
# Measures the peak memory of kestrane-batch on records of long lines: B records of 150 time
# points whose every data line is padded with blanks to 65,000 characters (about 20 MB of
# text per record), for both line ends. Every run must stay under 64 MB (maximum resident set
# size from /usr/bin/time); the script exits 1 when one does not.
#
# Usage: bench/long_lines_memory.sh [DIR] [RECORDS]
#   DIR      where the working directories are made (default /tmp/kestrane-long-lines)
#   RECORDS  records in the file (default 8)
# The programs are taken from KESTRANE_BIN (default: build/bin of this checkout).
set -euo pipefail

dir=${1:-/tmp/kestrane-long-lines}
records=${2:-8}
here=$(cd "$(dirname "$0")" && pwd)
bin=${KESTRANE_BIN:-$here/../build/bin}
limit_kb=$((64 * 1024))

for prog in kestrane-sample kestrane-batch; do
  if [ ! -x "$bin/$prog" ]; then
    echo "long_lines_memory: $bin/$prog not found; build first, or set KESTRANE_BIN" >&2
    exit 2
  fi
done

# The first record of a sample file is a B record of 150 time points; its lines are padded
# and the record written RECORDS times, once for each age in turn.
"$bin/kestrane-sample" --dir "$dir/sample" --size 1M --seed 1 --data-set inhalation --force >/dev/null
status=0
for ending in crlf lf; do
  work=$dir/$ending
  mkdir -p "$work/DATA" "$work/data" "$work/OUTPUT"
  cp "$dir/sample/data/Kestrane.ini" "$work/data/"
  python3 - "$dir/sample/DATA/KVR13INH.DRT" "$work/DATA/KVR13INH.DRT" "$records" "$ending" <<'EOF'
import sys
source, target, records, ending = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
end = b"\r\n" if ending == "crlf" else b"\n"
lines = open(source, "rb").read().split(b"\r\n")
header = lines[2]
assert header.rstrip().endswith(b"150 2 B"), header
ages = [b"00100", b"00365", b"01825", b"03650", b"05475", b"07300"]
with open(target, "wb") as out:
    out.write(lines[0] + end + lines[1] + end)
    for r in range(records):
        out.write(header[:8] + ages[r % len(ages)] + header[13:] + end)
        for line in lines[3:303]:
            out.write(line.ljust(65000) + end)
EOF
  size=$(stat -c %s "$work/DATA/KVR13INH.DRT")
  for regions in all 1; do
    kb=$(/usr/bin/time -f %M "$bin/kestrane-batch" --dir "$work" --data-set inhalation \
         --ages all --regions "$regions" 2>&1 >/dev/null | tail -1)
    verdict=ok
    if [ "$kb" -ge "$limit_kb" ]; then verdict="OVER 64 MB"; status=1; fi
    printf "%-5s line ends, %4d MB file, --regions %-3s: peak %6.1f MB  %s\n" \
      "$ending" $((size / 1000000)) "$regions" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$verdict"
  done
done
exit $status
