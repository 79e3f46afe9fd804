#!/usr/bin/env bash
# kestrane on a real 80x25 terminal, a whole run chosen with the keys: the inhalation data
# set, "Adult   " then "Infant  ", then "Lung", the first and the second region. Checks the
# echo lines, the processing and completion screens, and the coefficient files it wrote
# against the expected files of tests/data/app/golden (worked out by tests/data/app/make_data.py).
source "$(dirname "$0")/kestrane_tmux.bash"

copy_test_data
start_kestrane
wait_for " Press any key to continue."
keys x

wait_for " Select Data Set to Process"
keys Enter  # the first item, KVR13INH.DRT

wait_for " Select Age(s) of Interest"
wait_for "ALL AGES"
keys End Up Space Home Space Enter

wait_for " Select Target Regions"
wait_for "Adrenals"
keys End Up Space Home Space Down Space Enter

wait_for " Press any key to process the data."
expect_row 14 " Press any key to continue.Ages to be process  2"
expect_row 15 "Adult    Infant"
expect_row 16 "Organs to be process  3"
expect_row 17 "Lung Adrenals UB-Wall"
expect_row 19 " Press any key to process the data."
keys x

# The prompt is the completion screen's last text: once it stands, so do the lines above it.
wait_for " Press any key to exit."
expect_row 2 "$(at_column 25 "Kestrane Code (March 17, 2006)")"
expect_row 3 "$(at_column 32 "Written by the Kestrane developers")"
expect_row 10 "$(at_column 15 ' Processing absorbed dose rate file DATA\KVR13INH.DRT.')"
expect_row 12 "$(at_column 20 "S-35      100     V           1 1 l")"
expect_row 14 "$(at_column 15 " Processing of absorbed dose rate file is complete.")"
expect_row 16 "$(at_column 14 'Files written: OUTPUT\DC7300h.OUT OUTPUT\DC100h.OUT')"
expect_row 17 ' Notes: 0 negative, 15 extended coefficients in 3 records; see'
expect_row 18 ' OUTPUT\DC7300h-notes.csv OUTPUT\DC100h-notes.csv'
expect_row 19 " Press any key to exit."
keys x
expect_exit 0

for f in DC7300h.OUT DC100h.OUT; do
  cmp "$WORK/OUTPUT/$f" "$APP_DATA/golden/$f" || fail "OUTPUT/$f differs from the expected file"
done
count="$(find "$WORK/OUTPUT" -type f ! -name kestrane.lock | wc -l)"
[ "$count" = 6 ] || fail "OUTPUT holds $count files, expected 2 with their notes and provenance"
echo "e2e whole_run: 1 passed, 0 failed"
