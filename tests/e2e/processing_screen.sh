#!/usr/bin/env bash
# kestrane on a real 80x25 terminal processing a sample file (all ages, all organs): the
# progress bar under the header line while the records are processed, a key typed meanwhile
# that does not dismiss the completion screen, the final bar at 100%, the completion screen
# kept through a terminal made too small and large again, and the written-files line left on
# the terminal's normal screen after the program ends.
source "$(dirname "$0")/kestrane_tmux.bash"

make_sample 10M
# The run is held after its first record until the key below has been typed, so that the bar
# is read and the key typed while the records are processed, however fast the build.
hold_processing
start_kestrane
wait_for " Press any key to continue."
keys x
wait_for " Select Data Set to Process"
keys Enter
wait_for " Select Age(s) of Interest"
keys End Enter  # ALL AGES
wait_for " Select Target Regions"
keys End Enter  # ALL ORGANS
wait_for " Press any key to process the data."
keys x

# The bar: records, [bar], the share read, the rate and the time left, at row 13, column 20.
wait_for " records ["
bar="$(row 13)"
[[ "$bar" =~ ^' '{19}[0-9]+' records ['[#.]{10}'] '[' '0-9]{3}'% '.*' MB/s '.+' left'$ ]] ||
  fail "row 13 is not the progress bar: '$bar'"
[[ "$(row 12)" =~ ^' '{19}[^' '] ]] || fail "row 12 does not hold a header line at column 20"
share="$(sed -E 's/.*\] +([0-9]+)% .*/\1/' <<<"$bar")"
((share < 100)) || fail "the held run shows $share% read"

# A key typed while the records are processed.
keys y
wait_for_typeahead
release_processing
typed_key_ended="the key typed during processing dismissed the completion screen"
wait_while_running " Press any key to exit." "$typed_key_ended"
[[ "$(row 13)" =~ '['#{10}'] 100% ' ]] || fail "the bar does not end at 100%: '$(row 13)'"
# The completion screen waits for a key of its own: the typed key is gone, and the notice of
# a too small terminal, which only that wait shows, comes and goes.
t resize-window -t kestrane -x 79 -y 25
wait_while_running "Kestrane needs a terminal of 80x25; this one is 79x25." "$typed_key_ended"
t resize-window -t kestrane -x 80 -y 25
wait_while_running " Press any key to exit." "the program ended when the terminal was enlarged"
[[ "$(row 13)" =~ '['#{10}'] 100% ' ]] || fail "the completion screen is not drawn again"
keys x
expect_exit 0

# The normal screen, where the dialogue was: the files written, named with '/' and broken
# at blanks into lines of at most 80 columns, then the notes line naming every notes file.
wait_for_row 1 'Files written: OUTPUT/DC100h.OUT OUTPUT/DC365h.OUT OUTPUT/DC1825h.OUT'
expect_row 2 'OUTPUT/DC3650h.OUT OUTPUT/DC5475h.OUT OUTPUT/DC7300h.OUT'
[[ "$(row 3)" =~ ^'Notes: '[0-9]+' negative, '[0-9]+' extended coefficients in '[0-9]+' records; see' ]] ||
  fail "row 3 is not the notes line: '$(row 3)'"
screen | sed -n '3,6p' | tr -d '\n' | grep -qF 'DC7300h-notes.csv' ||
  fail "the notes line does not name the adult notes file"
echo "e2e processing_screen: 1 passed, 0 failed"
