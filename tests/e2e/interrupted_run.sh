#!/usr/bin/env bash
# kestrane on a real 80x25 terminal, from a shell, ended by Ctrl-C while it processes a sample
# file: the terminal comes back to the shell's normal screen with its modes as before, and the
# program ends by SIGINT itself (the shell reports 130 and drops the rest of the line).
source "$(dirname "$0")/kestrane_tmux.bash"

# A shell drops the rest of a command line whose program was ended by SIGINT, but not of one
# that merely exited with status 130. The run is held after its first record, so Ctrl-C comes
# while it processes, however fast the build.
start_processing_in_shell '; echo "LIST""-WENT-ON"'
keys C-c

# The program is gone once the shell has no child left.
deadline=$((SECONDS + WAIT_SECONDS))
while pgrep -P "$(cat "$WORK/.shell-pid")" >/dev/null; do
  ((SECONDS < deadline)) || fail "Ctrl-C did not end the program"
  sleep 0.1
done
keys 'echo "STA""TUS=$?"; stty -g | cmp -s - .modes-before && echo "MODES""-SAME"' Enter
wait_for_line "MODES-SAME"
if screen | grep -qx "LIST-WENT-ON"; then
  fail "the program exited with a status instead of ending by SIGINT"
fi
screen | grep -qx "STATUS=130" || fail "the shell does not report 130"
if screen | grep -qF "Processing absorbed dose rate file"; then
  fail "the processing screen is still shown"
fi
echo "e2e interrupted_run: 1 passed, 0 failed"
