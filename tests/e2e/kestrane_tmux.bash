# Shared steps of the real-terminal tests of kestrane: a private tmux server with one 80x25
# pane, keys sent to it, and its screen read back, always by polling with a time limit.
# Sourced by the tests/e2e/*.sh scripts; not a test of its own.

set -euo pipefail

E2E_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
APP_DATA="$E2E_DIR/../data/app"
WAIT_SECONDS="${KESTRANE_E2E_WAIT:-30}"

BIN_DIR="$(cd "${1:?usage: bash $0 <bin dir>}" && pwd)"
SOCKET="kestrane-e2e-$$-$RANDOM"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/kestrane-e2e.XXXXXX")"
STATUS_FILE="$WORK/.exit-status"
export LC_ALL=C.UTF-8

t() { tmux -L "$SOCKET" -f "$WORK/.tmux.conf" "$@"; }

cleanup() {
  tmux -L "$SOCKET" kill-server >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "---- screen ----" >&2
  t capture-pane -p -t kestrane >&2 2>/dev/null || echo "(no screen: the program has ended)" >&2
  echo "----------------" >&2
  exit 1
}

# The working directory of a run: the small test data set, as given, in a fresh folder.
copy_test_data() { cp -R "$APP_DATA/run/." "$WORK/"; }

# Starts kestrane in $WORK on a detached pane with no status line, of PANE_SIZE (default
# 80x25), with TERM set to PANE_TERM when that is given (else tmux's own). Its exit status
# is written to $STATUS_FILE when it ends; the pane then stays, showing the terminal's
# normal screen with what the program left there.
start_kestrane() {
  local want="${PANE_SIZE:-80x25}" size
  printf 'set -g status off\nset -g escape-time 0\nset -g remain-on-exit off\n' >"$WORK/.tmux.conf"
  t new-session -d -s kestrane -x "${want%x*}" -y "${want#*x}" -c "$WORK" \
    "${PANE_TERM:+TERM=$PANE_TERM }'$BIN_DIR/kestrane'; echo \$? > '$STATUS_FILE'; exec sleep 3600"
  size="$(t display-message -p -t kestrane '#{pane_width}x#{pane_height}')"
  [ "$size" = "$want" ] || fail "pane is $size, not $want"
}

screen() { t capture-pane -p -t kestrane; }

# Waits until the screen shows the fixed text $1.
wait_for() {
  local text="$1" deadline=$((SECONDS + WAIT_SECONDS))
  while ((SECONDS < deadline)); do
    if screen 2>/dev/null | grep -qF -- "$text"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for: $text"
}

# Row $1 (1..25) of the screen, trailing blanks removed.
row() { screen | sed -n "${1}p" | sed 's/[[:space:]]*$//'; }

expect_row() {
  local n="$1" expected="$2" actual
  actual="$(row "$n")"
  [ "$actual" = "$expected" ] || fail "row $n: expected '$expected', got '$actual'"
}

# Waits until row $1 reads exactly $2 (as `row` gives it).
wait_for_row() {
  local deadline=$((SECONDS + WAIT_SECONDS))
  while ((SECONDS < deadline)); do
    [ "$(row "$1" 2>/dev/null)" = "$2" ] && return 0
    sleep 0.1
  done
  fail "timed out waiting for row $1 to read: $2"
}

keys() { t send-keys -t kestrane "$@"; }

# Waits for the program to end and checks its exit status.
expect_exit() {
  local expected="$1" deadline=$((SECONDS + WAIT_SECONDS))
  while ((SECONDS < deadline)); do
    if [ -s "$STATUS_FILE" ]; then
      local status
      status="$(cat "$STATUS_FILE")"
      [ "$status" = "$expected" ] || fail "exit status $status, expected $expected"
      return 0
    fi
    sleep 0.1
  done
  fail "the program did not end"
}

# $1 spaces followed by $2: a text standing at column $1 + 1.
at_column() { printf '%*s%s' "$(($1 - 1))" '' "$2"; }

# The number of the first screen row that shows the fixed text $1 (0 when none does).
row_of() { screen | grep -nF -m1 -- "$1" | cut -d: -f1 || echo 0; }

# A press and release of mouse button $1 (0 left, 2 right) with Ctrl held, at row $2 and
# column $3, as an xterm reports it in SGR form (mode 1006).
ctrl_click() {
  local button=$(($1 + 16))
  keys -l $'\e'"[<$button;$3;$2M"
  keys -l $'\e'"[<$button;$3;$2m"
}

# Makes an inhalation sample of ${KESTRANE_E2E_SAMPLE_SIZE:-50M} in $WORK, opens a shell on an
# 80x25 terminal (its modes saved in .modes-before, its pid in .shell-pid), starts kestrane there
# followed on the same command line by the shell text $1, chooses the first data set with every
# age and region, and waits until the processing shows its records.
start_processing_in_shell() {
  "$BIN_DIR/kestrane-sample" --dir "$WORK" --size "${KESTRANE_E2E_SAMPLE_SIZE:-50M}" --seed 5 \
    --data-set inhalation >/dev/null || fail "kestrane-sample failed"
  printf 'set -g status off\nset -g escape-time 0\n' >"$WORK/.tmux.conf"
  t new-session -d -s kestrane -x 80 -y 25 -c "$WORK" "env PS1='$ ' bash --norc --noprofile"
  wait_for '$'
  keys "stty -g > .modes-before; echo \$\$ > .shell-pid; clear" Enter
  keys "'$BIN_DIR/kestrane'$1" Enter
  wait_for " Press any key to continue."
  keys x
  wait_for " Select Data Set to Process"
  keys Enter
  wait_for " Select Age(s) of Interest"
  keys End Enter
  wait_for " Select Target Regions"
  keys End Enter
  wait_for " Press any key to process the data."
  keys x
  wait_for " records ["
}
