#!/usr/bin/env bash
# kestrane on a real 80x25 terminal, from a shell with a file-size limit (ulimit -f 1) that its
# run writes past: the program ignores the signal the limit raises, so the write fails with
# EFBIG and the run stops as on a full disk, with "File too large" on the screen and in the
# outcome, status 1 (not killed by SIGXFSZ), and the earlier file as it was.
source "$(dirname "$0")/kestrane_tmux.bash"

copy_test_data
mkdir -p "$WORK/OUTPUT"
printf 'an earlier run\r\n' >"$WORK/OUTPUT/DC7300h.OUT"
start_shell
# The status is printed split on the command line, so that only the shell's echo shows it whole.
keys "clear; ulimit -f 1; '$BIN_DIR/kestrane'; echo \"STA\"\"TUS=\$?\"" Enter
wait_for " Press any key to continue."
keys x
wait_for " Select Data Set to Process"
keys Enter  # the first item, KVR13INH.DRT
wait_for " Select Age(s) of Interest"
wait_for "ALL AGES"
keys End Up Space Home Space Enter  # "Adult   " then "Infant  "
wait_for " Select Target Regions"
wait_for "Adrenals"
keys End Enter  # ALL ORGANS: rows wider than the limit
wait_for " Press any key to process the data."
keys x

wait_for "File too large"
wait_for " Press any key to exit."
keys x
wait_for_line "STATUS=1"
screen | grep -q "^Unable to write the file OUTPUT/DC.*: File too large$" ||
  fail "the outcome does not say File too large"
[ "$(cat "$WORK/OUTPUT/DC7300h.OUT")" = $'an earlier run\r' ] ||
  fail "the earlier OUTPUT/DC7300h.OUT was changed"
echo "e2e file_size_limit: 1 passed, 0 failed"
