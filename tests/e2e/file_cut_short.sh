#!/usr/bin/env bash
# kestrane on a real 80x25 terminal, from a shell, while another program cuts the dose-rate
# file short during the processing: the terminal comes back to the shell's normal screen with
# its modes as before, the message naming the file and the note of the interrupted run stand
# below it, and the program exits with status 1 (not by SIGBUS).
source "$(dirname "$0")/kestrane_tmux.bash"

# The status is printed with a marker that the typed command line does not hold. The sample is
# larger than what a run reads ahead of its records (16 MiB of windows and the next one), so
# the cut falls on bytes the held run has not read yet.
SAMPLE_SIZE=50M start_processing_in_shell '; echo "STA""TUS=$?"'
truncate -s 1M "$WORK/DATA/KVR13INH.DRT"
release_processing

wait_for "STATUS="
keys 'stty -g | cmp -s - .modes-before && echo "MODES""-SAME"' Enter
wait_for_line "MODES-SAME"
screen | grep -qx "STATUS=1" || fail "the shell does not report status 1"
# The message, in lines broken at blanks as the note's are.
screen | grep -qx "kestrane: DATA/KVR13INH.DRT became shorter while it was read (changed by" ||
  fail "no message names the file"
screen | grep -qx "another program); the run stopped." || fail "the message is not whole"
screen | grep -qF "The run was interrupted. The earlier files are kept" || fail "no note"
if screen | grep -qF "Processing absorbed dose rate file"; then
  fail "the processing screen is still shown"
fi
echo "e2e file_cut_short: 1 passed, 0 failed"
