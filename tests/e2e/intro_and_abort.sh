#!/usr/bin/env bash
# kestrane on a real 80x25 terminal: the title and introduction screen read back, the data-set
# list box opened and closed with Esc, then the abort message and exit status 1, and the
# message left on the normal screen.
source "$(dirname "$0")/kestrane_tmux.bash"

copy_test_data
start_kestrane
wait_for " Press any key to continue."

expect_row 1 "$(at_column 25 "Kestrane Code (March 17, 2006)")"
expect_row 2 "$(at_column 23 "Written by the Kestrane developers")"
expect_row 3 ""
expect_row 4 "Kestrane computes absorbed dose coefficients for user specified times."
expect_row 5 'The upper limits for the integrals are read from \DATA\Kestrane.INI.'
expect_row 6 "The absorbed dose rate files were archived on the KVR-13 CD."
expect_row 7 ""
expect_row 8 "    The user selects (1) either the ingestion or inhalation data set,"
expect_row 9 "    (2) the age(s) of interest and (3) the organ(s) to be processed."
expect_row 10 "    To select multiple ages or organs mark the desired items by holding"
expect_row 11 "    down <Ctrl> and clicking the left mouse button. Click OK to process"
expect_row 12 "    the selections."
expect_row 13 ""
expect_row 14 " Press any key to continue."

keys x
wait_for " Select Data Set to Process"
wait_for "KVR13INH.DRT"
wait_for "KVR13ING.DRT"
keys Escape
wait_for " Press any key to abort."
expect_row 15 " No absorbed dose rate file was selected, calculations are aborted."
expect_row 16 " Press any key to abort."
keys x
expect_exit 1
[ ! -e "$WORK/OUTPUT" ] || fail "an OUTPUT folder was made"
# The terminal's normal screen keeps the stop's message, as a plain line.
wait_for_row 1 "No absorbed dose rate file was selected, calculations are aborted."
expect_row 2 ""

# Without a terminal the dialogue does not start: a pointer to kestrane-batch, status 2.
set +e
message="$(cd "$WORK" && "$BIN_DIR/kestrane" </dev/null 2>&1 >/dev/null)"
status=$?
set -e
[ "$status" = 2 ] || fail "without a terminal: exit status $status, expected 2"
grep -qF kestrane-batch <<<"$message" || fail "without a terminal: no kestrane-batch hint: $message"
"$BIN_DIR/kestrane" --version </dev/null | grep -q '^kestrane ' || fail "--version"
echo "e2e intro_and_abort: 1 passed, 0 failed"
