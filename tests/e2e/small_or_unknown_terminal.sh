#!/usr/bin/env bash
# kestrane started on a terminal smaller than 80x25: the notice fits the terminal, wrapped
# at blanks at 40x10 with how to resize, and in its short form where even that does not fit
# (24x3); q there ends the program with status 1. Then an unknown and an unusable TERM: a message naming
# TERM and what to do, and status 2, before any screen is drawn.
source "$(dirname "$0")/kestrane_tmux.bash"

copy_test_data
PANE_SIZE=40x10 start_kestrane
wait_for "Enlarge it, or press q to quit."
expect_row 1 "Kestrane needs a terminal of 80x25; this"
expect_row 2 "one is 40x10."
expect_row 3 "Enlarge it, or press q to quit."
expect_row 4 "From a shell: resize -s 25 80"
expect_row 5 ""
t resize-window -t kestrane -x 24 -y 3
wait_for "24x3"
expect_row 1 "Needs 80x25, is 24x3."
expect_row 2 "q: quit"
keys q
expect_exit 1
[ ! -e "$WORK/OUTPUT" ] || fail "an OUTPUT folder was made"

for term in nonexistent dumb; do
  PANE_TERM=$term start_kestrane
  expect_exit 2
  wait_for "kestrane: TERM=$term "
  screen | grep -qF "kestrane-batch" || fail "TERM=$term: no pointer to kestrane-batch"
done
echo "e2e small_or_unknown_terminal: 1 passed, 0 failed"
