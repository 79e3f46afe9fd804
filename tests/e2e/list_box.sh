#!/usr/bin/env bash
# Drives the terminal console's list box in a real terminal (tmux at 80x25): keys, mouse,
# the title, a terminal too small, and the terminal left usable after Ctrl-C, SIGTERM, a
# fatal signal and an uncaught exception. Also the refusal without a terminal.
# Usage: list_box.sh BIN_DIR
source "$(dirname "$0")/kestrane_tmux.bash"

driver=$BIN_DIR/list_box_driver
[ -x "$driver" ] || fail "no $driver"

pass() { echo "ok: $*"; }

# Runs the driver with the arguments $* on a cleared screen, followed on the same command line
# by its exit status as "EXIT-<n>=<status>", n counting the runs; the command line shows the
# marker split in two, so that only the status itself matches.
runs=0
run_driver() {
  runs=$((runs + 1))
  keys "clear; $*; echo \"EXIT-$runs\"\"=\$?\"" Enter
}
# Waits for the status of the last run and checks it is $1.
expect_status() {
  wait_for "EXIT-$runs="
  screen | grep -qx "EXIT-$runs=$1" ||
    fail "$2: $(screen | grep -o "EXIT-$runs=[0-9]*"), expected status $1"
}
# A report of mouse button 1 in X10 form: $1 press or release, at screen row $2, column $3.
mouse() {
  local code=' ' cx cy
  [ "$1" = press ] || code='#'
  cx=$(printf "\\$(printf %03o $((32 + $3)))")
  cy=$(printf "\\$(printf %03o $((32 + $2)))")
  keys -l $'\e[M'"$code$cx$cy"
}
# The terminal modes are as they were before the runs.
checks=0
check_modes() {
  checks=$((checks + 1))
  keys "stty -g > .modes-after; cmp -s .modes-before .modes-after && echo \"MODES-$checks\"\"-SAME\"" Enter
  wait_for_line "MODES-$checks-SAME"
  pass "$1: terminal modes restored"
}

# Not a terminal: refused with a pointer to kestrane-batch, status 2.
set +e
message=$("$driver" 0 </dev/null 2>&1 >/dev/null)
status=$?
set -e
if [ "$status" -ne 2 ] || ! grep -q "kestrane-batch" <<<"$message"; then
  fail "no terminal: status $status, message: $message"
fi
pass "no terminal: status 2 and the kestrane-batch hint"

TMUX_OPTIONS='set -g default-terminal tmux-256color' start_shell
# Set once the server runs: tmux 3.3a dies when its configuration file sets it.
t set -g window-size manual
keys "stty -g > .modes-before" Enter

# Multiple choice by keys: marks in marking order, numbers beside the marks, key help.
run_driver "$driver" 3
wait_for "Select Age(s) of Interest"
# The box is centred: 7 items give a box of 15 rows from row 6; items from row 10.
title="$(t display -p -t kestrane '#{pane_title}')"
[ "$title" = "Kestrane  Ver. 3.1" ] || fail "title is '$title'"
pass "title"
screen | grep -q "Space: mark  Enter: OK  Esc: Cancel" || fail "key help"
pass "key help shown"
keys End Up Up Space Home Down Space
wait_for "[2] 1 y-old"
row 14 | grep -qF "[1] 15 y-old" || fail "marking order"
pass "marking order shown"
keys Enter
wait_for "Result: [5,2]"
pass "mode 3 result in marking order"
[ "$(row 1)" = "                                List box check" ] || fail "screen under the box"
pass "screen restored under the box"
keys x
expect_status 0 "exit after a key"
pass "exit 0"

# Single choice by keys: a letter jumps; Esc gives nothing.
run_driver "$driver" 0
wait_for "Select Age(s) of Interest"
keys a a Enter
wait_for "Result: [ALL AGES]"
pass "letter jump and mode 0 text"
keys x
expect_status 0 "exit after mode 0"
run_driver "$driver" 3
wait_for "Select Age(s) of Interest"
keys Space Escape
wait_for "Result is empty."
pass "Esc closes without a choice"
keys x
expect_status 0 "exit after Esc"

# Mouse: presses on items mark them, a press on OK closes the box. Each release is sent once
# the press has shown its effect, as from a hand: a press and release read together are one
# report, the release, to curses.
run_driver "$driver" 3
wait_for "Select Age(s) of Interest"
mouse press 13 10 # item 4
wait_for "[1] 10 y-old"
mouse release 13 10
mouse press 11 10 # item 2
wait_for "[2] 1 y-old"
mouse release 11 10
mouse press 13 10 # item 4 again: unmarked
wait_for "[1] 1 y-old"
mouse release 13 10
mouse press 16 12 # item 7
wait_for "[2] ALL AGES"
mouse release 16 12
screen | grep -qF "[ ] 10 y-old" || fail "mouse marks: item 4 is still marked"
mouse press 19 33 # OK
wait_for "Result: [2,7]"
mouse release 19 33
pass "mouse marks and OK"
keys x
expect_status 0 "exit after mouse"

# Too small: a notice, then the box again once enlarged; q at the notice quits with 1.
run_driver "$driver" 0
wait_for "Select Age(s) of Interest"
t resize-window -t kestrane -x 70 -y 20
wait_for "needs a terminal of 80x25; this one is 70x20"
pass "too-small notice"
t resize-window -t kestrane -x 100 -y 30
wait_for "Select Age(s) of Interest"
pass "box back after enlarging"
keys Down Enter
wait_for "Result: [1 y-old ]"
pass "works in a larger terminal"
keys x
expect_status 0 "exit in the larger terminal"
# The program must start in the smaller pane.
t resize-window -t kestrane -x 60 -y 20
wait_for_tty_size 20 60
run_driver "$driver" 0
wait_for "needs a terminal of 80x25"
keys q
expect_status 1 "q at the notice"
pass "q at the notice: status 1"
t resize-window -t kestrane -x 80 -y 25
wait_for_tty_size 25 80

# Ways out that must leave the terminal as it was.
# Ended by the signal itself, the driver takes the rest of the command line with it, as a
# shell does for any program that Ctrl-C ends; the status is asked for on a line of its own
# once the driver is gone (keys sent before would be dropped with its terminal modes).
gone() {
  local deadline=$((SECONDS + WAIT_SECONDS))
  while kill -0 "$(cat "$WORK/pid")" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "$1 did not end the driver"
    sleep 0.1
  done
}
run_driver "KESTRANE_DRIVER_PID_FILE=$WORK/pid $driver" 3
wait_for "Select Age(s) of Interest"
keys C-c
gone "Ctrl-C"
keys "echo \"EXIT-$runs\"\"=\$?\"" Enter
expect_status 130 "Ctrl-C"
pass "Ctrl-C: ended by SIGINT (130)"
check_modes "Ctrl-C"

run_driver "KESTRANE_DRIVER_PID_FILE=$WORK/pid $driver" 0
wait_for "Select Age(s) of Interest"
kill -TERM "$(cat "$WORK/pid")"
expect_status 143 "SIGTERM"
pass "SIGTERM: status 143"
check_modes "SIGTERM"

run_driver "KESTRANE_DRIVER_PID_FILE=$WORK/pid ASAN_OPTIONS=handle_segv=0 $driver" 0
wait_for "Select Age(s) of Interest"
kill -SEGV "$(cat "$WORK/pid")"
expect_status 139 "SIGSEGV"
pass "SIGSEGV: re-raised"
check_modes "SIGSEGV"

run_driver "$driver" 0 throw
wait_for "Select Age(s) of Interest"
keys Enter
expect_status 134 "exception"
screen | grep -q "thrown on purpose" || fail "exception: no message after the terminal came back"
pass "uncaught exception: message shown after the terminal came back"
check_modes "exception"

echo "all list-box terminal checks passed"
