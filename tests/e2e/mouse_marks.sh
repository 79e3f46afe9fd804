#!/usr/bin/env bash
# kestrane on a real 80x25 terminal that reports the mouse in SGR form (TERM=xterm-256color):
# in the age and region boxes a Ctrl + left click and a Ctrl + right click each mark the item
# under the pointer, in the order clicked; a right click without Ctrl marks nothing.
source "$(dirname "$0")/kestrane_tmux.bash"

copy_test_data
PANE_TERM=xterm-256color start_kestrane
wait_for " Press any key to continue."
keys x
wait_for " Select Data Set to Process"
keys Enter  # the first item, KVR13INH.DRT

wait_for " Select Age(s) of Interest"
wait_for "ALL AGES"
adult="$(row_of "Adult")"
five="$(row_of "5 y-old")"
# Each click is handled before the next is sent (settle), so no two are read in one burst.
ctrl_click 2 "$adult" 12
wait_for "[1] Adult"
settle Adult 1
keys -l $'\e'"[<2;12;${five}M"  # a plain right click
keys -l $'\e'"[<2;12;${five}m"
settle Adult 1
screen | grep -qF "[ ] 5 y-old" || fail "a right click without Ctrl marked 5 y-old"
ctrl_click 0 "$(row_of "Infant")" 12
wait_for "[2] Infant"
screen | grep -qF "[1] Adult" || fail "Ctrl + right click did not mark Adult"
keys Enter

wait_for " Select Target Regions"
wait_for "Adrenals"
wait_for "UB-Wall"  # the box may still be drawn under load: both rows must stand before a click
ctrl_click 0 "$(row_of "UB-Wall")" 12
wait_for "1] UB-Wall"  # two-digit mark numbers in a box of 31 items
settle UB-Wall 1
ctrl_click 2 "$(row_of "Adrenals")" 12
wait_for "2] Adrenals"
keys Enter

wait_for " Press any key to process the data."
expect_row 15 "Adult    Infant"
expect_row 16 "Organs to be process  2"
expect_row 17 "UB-Wall Adrenals"
keys x
wait_for " Press any key to exit."
keys x
expect_exit 0
echo "e2e mouse_marks: 1 passed, 0 failed"
