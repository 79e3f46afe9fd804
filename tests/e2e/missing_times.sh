#!/usr/bin/env bash
# kestrane on a real 80x25 terminal: with no data\Kestrane.ini the run stops after the
# data-set choice with the integration-times message, and exits with status 1.
source "$(dirname "$0")/kestrane_tmux.bash"

copy_test_data
rm -rf "$WORK/data"
start_kestrane
wait_for " Press any key to continue."
keys x
wait_for " Select Data Set to Process"
keys Enter
wait_for " Press any key to exit."
expect_row 14 ' Press any key to continue. Unable to locate the file data\Kestrane.ini.'
expect_row 15 " This file contains the integration times."
expect_row 16 " Press any key to exit."
keys x
expect_exit 1
[ ! -e "$WORK/OUTPUT" ] || fail "an OUTPUT folder was made"
echo "e2e missing_times: 1 passed, 0 failed"
