#!/usr/bin/env bash
# kestrane on a terminal that reports the mouse in the X10 form ESC [ M b x y (TERM
# tmux-256color, and screen): a Ctrl + left and a Ctrl + right click each mark the item under
# the pointer once, whether the press and the release reach the program in one read or
# apart; a plain right click marks nothing. The same for the SGR form, press and release
# together.
source "$(dirname "$0")/kestrane_tmux.bash"

# One X10 report: button code $1 (with 16 for Ctrl, 3 for a release), row $2, column $3.
x10() { printf '\e[M%b%b%b' "\\$(printf '%03o' $(($1 + 32)))" \
  "\\$(printf '%03o' $(($3 + 32)))" "\\$(printf '%03o' $(($2 + 32)))"; }

# The age box of the first data set, on a terminal of TERM $1.
open_age_box() {
  PANE_TERM=$1 start_kestrane
  wait_for " Press any key to continue."
  keys x
  wait_for " Select Data Set to Process"
  keys Enter
  wait_for " Select Age(s) of Interest"
  wait_for "ALL AGES"
}

# Each click is handled before the next is sent (settle), so that no two are read in one
# burst; a release handled as a click of its own would take the mark off again, and settle
# would not find it.
copy_test_data
for term in tmux-256color screen; do
  open_age_box "$term"
  # Together: press and release in one write.
  keys -l "$(x10 18 "$(row_of "Adult")" 12)$(x10 19 "$(row_of "Adult")" 12)"
  wait_for "[1] Adult"
  settle Adult 1
  keys -l "$(x10 2 "$(row_of "5 y-old")" 12)$(x10 3 "$(row_of "5 y-old")" 12)" # no Ctrl
  settle Adult 1
  screen | grep -qF "[ ] 5 y-old" || fail "$term: a right click without Ctrl marked 5 y-old"
  keys -l "$(x10 16 "$(row_of "Infant")" 12)$(x10 19 "$(row_of "Infant")" 12)"
  wait_for "[2] Infant"
  settle Infant 2
  # Apart: the release is sent once the press has shown its mark, so the two are read apart.
  keys -l "$(x10 16 "$(row_of "1 y-old")" 12)"
  wait_for "[3] 1 y-old"
  keys -l "$(x10 19 "$(row_of "1 y-old")" 12)"
  settle "1 y-old" 3
  keys -l "$(x10 18 "$(row_of "15 y-old")" 12)"
  wait_for "[4] 15 y-old"
  keys -l "$(x10 19 "$(row_of "15 y-old")" 12)"
  settle "15 y-old" 4
  for mark in "[1] Adult" "[2] Infant" "[3] 1 y-old" "[4] 15 y-old" "[ ] 5 y-old"; do
    screen | grep -qF "$mark" || fail "$term: '$mark' is not shown"
  done
  keys Escape
  wait_for " Press any key to exit the Kestrane program."
  keys x
  expect_exit 1
done

# The SGR form, press and release of a Ctrl + left and a Ctrl + right click in one write each.
open_age_box xterm-256color
r="$(row_of "Adult")"
keys -l $'\e'"[<18;12;${r}M"$'\e'"[<18;12;${r}m"
wait_for "[1] Adult"
settle Adult 1
r="$(row_of "Infant")"
keys -l $'\e'"[<16;12;${r}M"$'\e'"[<16;12;${r}m"
wait_for "[2] Infant"
settle Infant 2
screen | grep -qF "[1] Adult" || fail "SGR: Adult lost its mark"
keys Escape
wait_for " Press any key to exit the Kestrane program."
keys x
expect_exit 1
echo "e2e mouse_marks_x10: 1 passed, 0 failed"
