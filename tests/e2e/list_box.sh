#!/usr/bin/env bash
# Drives the terminal console's list box in a real terminal (tmux at 80x25): keys, mouse,
# the title, a terminal too small, and the terminal left usable after Ctrl-C, SIGTERM, a
# fatal signal and an uncaught exception. Also the refusal without a terminal.
# Usage: list_box.sh BIN_DIR
set -euo pipefail

bin=${1:?usage: list_box.sh BIN_DIR}
driver=$bin/list_box_driver
[ -x "$driver" ] || { echo "no $driver"; exit 1; }
command -v tmux >/dev/null || { echo "tmux is needed"; exit 1; }

work=$(mktemp -d)
sock=kestrane_list_box_$$
export LC_ALL=C.UTF-8
t() { tmux -L "$sock" "$@"; }
cleanup() { t kill-server 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; echo "--- screen:"; t capture-pane -p -t k || true; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
screen() { t capture-pane -p -t k; }
# Waits up to 30 s for a text on the screen (a loaded machine can be slow to start a program).
wait_for() {
  for _ in $(seq 300); do
    if screen | grep -qF -- "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}
row() { screen | sed -n "$1p"; }
# A press and release of mouse button 1 at a screen row and column (X10 mouse reports).
click() {
  local r=$1 c=$2 cx cy
  cx=$(printf "\\$(printf %03o $((32 + c)))")
  cy=$(printf "\\$(printf %03o $((32 + r)))")
  t send-keys -t k -l $'\e[M '"$cx$cy"
  t send-keys -t k -l $'\e[M#'"$cx$cy"
}
# Runs a shell command line in the pane, after clearing it.
run() { t send-keys -t k "clear; $1" Enter; }

# Not a terminal: refused with a pointer to kestrane-batch, status 2.
set +e
message=$("$driver" 0 </dev/null 2>&1 >/dev/null)
status=$?
set -e
if [ "$status" -eq 2 ] && grep -q "kestrane-batch" <<<"$message"; then
  pass "no terminal: status 2 and the kestrane-batch hint"
else
  fail "no terminal: status $status, message: $message"
fi

t -f /dev/null start-server \; set -g default-terminal tmux-256color \; \
  new-session -d -x 80 -y 25 -s k "env PS1='$ ' bash --norc --noprofile"
t set -g window-size manual
wait_for '$' || fail "the shell did not start"
t send-keys -t k "stty -g > $work/modes.before" Enter

# Multiple choice by keys: marks in marking order, numbers beside the marks, key help.
run "$driver 3; echo STATUS=\$?"
if wait_for "Select Age(s) of Interest"; then
  # The box is centred: 7 items give a box of 15 rows from row 6; items from row 10.
  [ "$(t display -p -t k '#{pane_title}')" = "Kestrane  Ver. 3.1" ] && pass "title" ||
    fail "title is '$(t display -p -t k '#{pane_title}')'"
  screen | grep -q "Space: mark  Enter: OK  Esc: Cancel" && pass "key help shown" ||
    fail "key help"
  t send-keys -t k End Up Up Space Home Down Space
  wait_for "[2] 1 y-old" && row 14 | grep -qF "[1] 15 y-old" && pass "marking order shown" ||
    fail "marking order"
  t send-keys -t k Enter
  wait_for "Result: [5,2]" && pass "mode 3 result in marking order" || fail "mode 3 result"
  [ "$(row 1 | sed 's/ *$//')" = "                                List box check" ] &&
    pass "screen restored under the box" || fail "screen under the box"
  t send-keys -t k x
  wait_for "STATUS=0" && pass "exit 0" || fail "exit status after a key"
else
  fail "the list box did not open"
fi

# Single choice by keys: a letter jumps; Esc gives nothing.
run "$driver 0; echo STATUS=\$?"
wait_for "Select Age(s) of Interest" || fail "box 2 did not open"
t send-keys -t k a a Enter
wait_for "Result: [ALL AGES]" && pass "letter jump and mode 0 text" || fail "mode 0 result"
t send-keys -t k x
wait_for "STATUS=0" || fail "exit after mode 0"
run "$driver 3; echo STATUS=\$?"
wait_for "Select Age(s) of Interest" || fail "box 3 did not open"
t send-keys -t k Space Escape
wait_for "Result is empty." && pass "Esc closes without a choice" || fail "Esc"
t send-keys -t k x
wait_for "STATUS=0" || fail "exit after Esc"

# Mouse: presses on items mark them, a press on OK closes the box.
run "$driver 3; echo STATUS=\$?"
wait_for "Select Age(s) of Interest" || fail "box 4 did not open"
click 13 10   # item 4
click 11 10   # item 2
click 13 10   # item 4 again: unmarked
click 16 12   # item 7
wait_for "[2] ALL AGES" || fail "mouse marks"
click 19 33   # OK
wait_for "Result: [2,7]" && pass "mouse marks and OK" || fail "mouse result"
t send-keys -t k x
wait_for "STATUS=0" || fail "exit after mouse"

# Too small: a notice, then the box again once enlarged; q at the notice quits with 1.
run "$driver 0; echo STATUS=\$?"
wait_for "Select Age(s) of Interest" || fail "box 5 did not open"
t resize-window -t k -x 70 -y 20
wait_for "needs a terminal of 80x25; this one is 70x20" && pass "too-small notice" ||
  fail "too-small notice"
t resize-window -t k -x 100 -y 30
wait_for "Select Age(s) of Interest" && pass "box back after enlarging" || fail "after enlarging"
t send-keys -t k Down Enter
wait_for "Result: [1 y-old ]" && pass "works in a larger terminal" || fail "larger terminal"
t send-keys -t k x
wait_for "STATUS=0" || fail "exit in the larger terminal"
t resize-window -t k -x 60 -y 20
# The program must start in the smaller pane: wait until its terminal says so (tmux may
# apply the new size a moment later).
for _ in $(seq 50); do
  run "stty size"
  sleep 0.2
  if screen | grep -qF "20 60"; then break; fi
done
run "$driver 0; echo STATUS=\$?"
wait_for "needs a terminal of 80x25" || fail "notice at start"
t send-keys -t k q
wait_for "STATUS=1" && pass "q at the notice: status 1" || fail "q at the notice"
t resize-window -t k -x 80 -y 25

# Ways out that must leave the terminal as it was.
check_modes() {
  t send-keys -t k "stty -g > $work/modes.after; cmp -s $work/modes.before $work/modes.after && echo MODES-SAME" Enter
  wait_for "MODES-SAME" && pass "$1: terminal modes restored" || fail "$1: terminal modes"
}
# Ended by the signal itself, the driver takes the rest of the command line with it, as a
# shell does for any program that Ctrl-C ends; the status is asked for on a line of its own
# once the driver is gone (keys sent before would be dropped with its terminal modes).
gone() {
  for _ in $(seq 300); do
    kill -0 "$(cat "$work/pid")" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}
run "KESTRANE_DRIVER_PID_FILE=$work/pid $driver 3; echo STATUS=\$?"
wait_for "Select Age(s) of Interest" || fail "box 6 did not open"
t send-keys -t k C-c
gone || fail "Ctrl-C did not end the driver"
t send-keys -t k "echo STATUS=\$?" Enter
wait_for "STATUS=130" && pass "Ctrl-C: ended by SIGINT (130)" || fail "Ctrl-C status"
check_modes "Ctrl-C"

run "KESTRANE_DRIVER_PID_FILE=$work/pid $driver 0; echo STATUS=\$?"
wait_for "Select Age(s) of Interest" || fail "box 7 did not open"
kill -TERM "$(cat "$work/pid")"
wait_for "STATUS=143" && pass "SIGTERM: status 143" || fail "SIGTERM status"
check_modes "SIGTERM"

run "KESTRANE_DRIVER_PID_FILE=$work/pid ASAN_OPTIONS=handle_segv=0 $driver 0; echo STATUS=\$?"
wait_for "Select Age(s) of Interest" || fail "box 8 did not open"
kill -SEGV "$(cat "$work/pid")"
wait_for "STATUS=139" && pass "SIGSEGV: re-raised" || fail "SIGSEGV status"
check_modes "SIGSEGV"

run "$driver 0 throw; echo STATUS=\$?"
wait_for "Select Age(s) of Interest" || fail "box 9 did not open"
t send-keys -t k Enter
wait_for "STATUS=134" && screen | grep -q "thrown on purpose" &&
  pass "uncaught exception: message shown after the terminal came back" || fail "exception"
check_modes "exception"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all list-box terminal checks passed"
