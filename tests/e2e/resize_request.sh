#!/usr/bin/env bash
# kestrane on a terminal of 80x24 asks it for 80x25 (CSI 8 ; 25 ; 80 t). tmux does not follow:
# the request is seen in the pane's output (tmux pipe-pane), the notice says how to resize,
# and no earlier size is asked back on exit. A terminal that follows (a pseudo-terminal whose
# size the test sets when the request comes) gets the dialogue at once, without the notice,
# and is asked back to 80x24 when the program ends.
source "$(dirname "$0")/kestrane_tmux.bash"

copy_test_data
request=$'\e[8;25;80t'
restore=$'\e[8;24;80t'

# tmux: the program starts only once the pane's output is recorded.
PANE_SIZE=80x24 start_server \
  "while [ ! -e .go ]; do sleep 0.05; done; TERM=tmux-256color '$BIN_DIR/kestrane'; echo \$? > '$STATUS_FILE'; exec sleep 3600"
t pipe-pane -t kestrane -o "cat >> '$WORK/.pane-output'"
touch "$WORK/.go"
wait_for "Kestrane needs a terminal of 80x25; this one is 80x24."
wait_for "From a shell: resize -s 25 80"
keys q
expect_exit 1
grep -qF "$request" "$WORK/.pane-output" || fail "no request for 80x25 in the pane's output"
! grep -qF "$restore" "$WORK/.pane-output" || fail "the size was asked back though unchanged"
stop_server

# A terminal that follows the request.
cd "$WORK"
python3 - "$BIN_DIR/kestrane" <<'PY' || fail "the terminal that follows: see above"
import fcntl, os, pty, select, struct, sys, termios, time

REQUEST, RESTORE = b"\x1b[8;25;80t", b"\x1b[8;24;80t"
def set_size(fd, rows, cols):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))

pid, fd = pty.fork()
if pid == 0:
    os.environ["TERM"] = "xterm-256color"
    os.execv(sys.argv[1], [sys.argv[1]])
set_size(fd, 24, 80)
out, resized, sent, seen = b"", False, 0, 0
steps = [b"Press any key to continue.", b"Select Data Set", b"Press any key to abort."]
deadline = time.time() + float(os.environ.get("KESTRANE_E2E_WAIT", "30"))
status = None
while time.time() < deadline and status is None:
    if select.select([fd], [], [], 0.02)[0]:
        try:
            out += os.read(fd, 65536)
        except OSError:  # the program has ended and closed the terminal
            pass
    if not resized and REQUEST in out:
        set_size(fd, 25, 80)
        resized = True
    # The output is read on, so that each step looks only at what came after the last key.
    if sent < len(steps) and steps[sent] in out[seen:]:
        seen = len(out)
        os.write(fd, b"\x1b" if sent == 1 else b"x")
        sent += 1
    done, code = os.waitpid(pid, os.WNOHANG)
    if done:
        status = os.waitstatus_to_exitcode(code)
if status is None:
    os.kill(pid, 9)
# What the program wrote last (the size asked back) may still wait in the terminal when it
# has ended: read on to the end, which comes once the buffered output is read.
while time.time() < deadline:
    try:
        if not select.select([fd], [], [], max(deadline - time.time(), 0))[0]:
            break
        chunk = os.read(fd, 65536)
    except OSError:  # the end: the program's side of the terminal is closed
        break
    if not chunk:
        break
    out += chunk
def check(ok, what):
    if not ok:
        sys.stderr.write("FAIL: " + what + "\n")
        sys.exit(1)
check(REQUEST in out, "no request for 80x25")
check(b"Enlarge it" not in out, "the notice was shown though the terminal followed")
check(sent == len(steps), "the dialogue did not go on (step %d)" % sent)
check(status == 1, "exit status %s" % status)
check(out.rfind(RESTORE) > out.find(b"Press any key to abort."), "80x24 not asked back at the end")
PY
echo "e2e resize_request: 1 passed, 0 failed"
