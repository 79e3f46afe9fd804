# Shared steps of the real-terminal tests of kestrane: private tmux servers with one 80x25
# pane, keys sent to it, and its screen read back, always by polling with a time limit for
# what only the program under test prints.
# Sourced by the tests/e2e/*.sh scripts; not a test of its own.

set -euo pipefail

E2E_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
APP_DATA="$E2E_DIR/../data/app"
WAIT_SECONDS="${KESTRANE_E2E_WAIT:-30}"
TEST_NAME="$(basename "$0" .sh)"

BIN_DIR="$(cd "${1:?usage: bash $0 <bin dir>}" && pwd)"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/kestrane-e2e.XXXXXX")"
STATUS_FILE="$WORK/.exit-status"
# While this file exists, a run of kestrane started here waits after each processed record
# (KESTRANE_TEST_HOLD_FILE, read by the processing screen for these tests only).
HOLD_FILE="$WORK/.hold"
export LC_ALL=C.UTF-8
command -v tmux >/dev/null || { echo "tmux is needed" >&2; exit 1; }

# Every tmux server of a test has a socket of its own, named after the test, its process and
# its working folder (unique in the shared socket folder, whoever else runs tests), and
# numbered: a server stopped by kill-server may still be going away when the next one starts,
# and a new server on the same socket would then meet the old one ("server exited
# unexpectedly").
SOCKET_BASE="kestrane-e2e-$TEST_NAME-$$-${WORK##*.}"
SOCKETS=()
SOCKET=""

t() { tmux -L "$SOCKET" -f "$WORK/.tmux.conf" "$@"; }

# Stops the test's current tmux server, if any.
stop_server() {
  [ -z "$SOCKET" ] || tmux -L "$SOCKET" kill-server >/dev/null 2>&1 || true
}

# Starts a new tmux server on a socket of its own, with one detached session "kestrane" of
# PANE_SIZE (default 80x25) in $WORK running the shell command $1. No status line, no escape
# delay; TMUX_OPTIONS may add lines to the server's configuration.
start_server() {
  local want="${PANE_SIZE:-80x25}" size
  stop_server
  SOCKET="$SOCKET_BASE-${#SOCKETS[@]}"
  SOCKETS+=("$SOCKET")
  printf 'set -g status off\nset -g escape-time 0\nset -g remain-on-exit off\n%s\n' \
    "${TMUX_OPTIONS:-}" >"$WORK/.tmux.conf"
  t new-session -d -s kestrane -x "${want%x*}" -y "${want#*x}" -c "$WORK" "$1"
  size="$(t display-message -p -t kestrane '#{pane_width}x#{pane_height}')"
  [ "$size" = "$want" ] || fail "pane is $size, not $want"
}

# Kills every server of the test and removes its socket, which tmux leaves behind.
cleanup() {
  local socket
  for socket in "${SOCKETS[@]}"; do
    tmux -L "$socket" kill-server >/dev/null 2>&1 || true
    rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$socket"
  done
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

# An inhalation sample of about $1 (a kestrane-sample size) in $WORK.
make_sample() {
  "$BIN_DIR/kestrane-sample" --dir "$WORK" --size "$1" --seed 5 --data-set inhalation \
    >/dev/null || fail "kestrane-sample failed"
}

# Starts kestrane in $WORK on a detached pane of PANE_SIZE (default 80x25), with TERM set to
# PANE_TERM when that is given (else tmux's own). Its exit status is written to $STATUS_FILE
# when it ends; the pane then stays, showing the terminal's normal screen with what the
# program left there.
start_kestrane() {
  rm -f "$STATUS_FILE"
  start_server "KESTRANE_TEST_HOLD_FILE='$HOLD_FILE' ${PANE_TERM:+TERM=$PANE_TERM }'$BIN_DIR/kestrane'; echo \$? > '$STATUS_FILE'; exec sleep 3600"
}

# Starts a shell (prompt "$ ") on the pane and waits for its prompt.
start_shell() {
  start_server "env PS1='$ ' KESTRANE_TEST_HOLD_FILE='$HOLD_FILE' bash --norc --noprofile"
  wait_for '$'
}

# Holds a run of kestrane after each record it processes from now on; lets it go on.
hold_processing() { touch "$HOLD_FILE"; }
release_processing() { rm -f "$HOLD_FILE"; }

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

# Waits until a whole screen line (trailing blanks removed) reads $1. A line the shell shows
# for a typed command starts with its prompt, so it never matches what the command prints.
wait_for_line() {
  local text="$1" deadline=$((SECONDS + WAIT_SECONDS))
  while ((SECONDS < deadline)); do
    if screen 2>/dev/null | sed 's/[[:space:]]*$//' | grep -qxF -- "$text"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for the line: $text"
}

# Waits until the screen matches the extended regular expression $1.
wait_for_match() {
  local pattern="$1" deadline=$((SECONDS + WAIT_SECONDS))
  while ((SECONDS < deadline)); do
    if screen 2>/dev/null | grep -qE -- "$pattern"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for a match of: $pattern"
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

# Waits until the pane's terminal is $1 rows by $2 columns, as a program started there now
# finds it: tmux gives the terminal the size of a resized window a moment later.
wait_for_tty_size() {
  local tty deadline=$((SECONDS + WAIT_SECONDS))
  tty="$(t display-message -p -t kestrane '#{pane_tty}')"
  until [ "$(stty -F "$tty" size)" = "$1 $2" ]; do
    ((SECONDS < deadline)) || fail "the terminal did not become $2x$1"
    sleep 0.1
  done
}

# Waits until the pane's terminal holds typed input that no program has read yet: a key sent
# while a run is held has then reached it, before the run is let go on.
wait_for_typeahead() {
  python3 - "$(t display-message -p -t kestrane '#{pane_tty}')" "$WAIT_SECONDS" <<'PY' ||
import fcntl, os, struct, sys, termios, time
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
deadline = time.monotonic() + float(sys.argv[2])
while time.monotonic() < deadline:
    if struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0] > 0:
        sys.exit(0)
    time.sleep(0.01)
sys.exit(1)
PY
    fail "the keys sent did not reach the terminal"
}

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

# Fails with the message $1 when the program started by start_kestrane has ended.
expect_running() { [ ! -s "$STATUS_FILE" ] || fail "$1"; }

# Waits until the screen shows the fixed text $1 while the program started by start_kestrane
# runs; fails with the message $2 as soon as it has ended.
wait_while_running() {
  local text="$1" deadline=$((SECONDS + WAIT_SECONDS))
  while ((SECONDS < deadline)); do
    if screen 2>/dev/null | grep -qF -- "$text"; then return 0; fi
    expect_running "$2"
    sleep 0.1
  done
  fail "timed out waiting for: $text"
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

# In an open multiple-choice box whose highlighted item $1 holds the last mark, number $2:
# Space twice, which takes the mark off and puts it back, waiting for each. Keys come to the
# program after every mouse report sent before them, so once the mark stands again every such
# report has been handled, and the next one cannot be read with them in one burst (curses
# hands back a press and a release read together as one report, or none).
settle() {
  keys Space
  wait_for_match "\\[ *\\] $1"
  keys Space
  wait_for "$2] $1"
}

# Makes an inhalation sample of $SAMPLE_SIZE (default 10M) in $WORK, opens a shell on an
# 80x25 terminal (its modes saved in .modes-before, its pid in .shell-pid), starts kestrane
# there followed on the same command line by the shell text $1, chooses the first data set
# with every age and region, and waits until the processing shows its progress bar. The run
# is held after its first record (see hold_processing) until the test lets it go on.
start_processing_in_shell() {
  make_sample "${SAMPLE_SIZE:-10M}"
  start_shell
  keys "stty -g > .modes-before; echo \$\$ > .shell-pid; clear" Enter
  hold_processing
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
