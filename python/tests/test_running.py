# How the module runs: records() streams in bounded memory, the computation lets other Python
# threads run, Ctrl-C stops it whenever it comes, and a file cut short while it is read is
# refused. Each measured in a process of its own.
import os
import shutil
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import kestrane


def run_python(code, *args):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code), *map(str, args)],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return result.stdout.split()


def test_records_stream_in_bounded_memory(big_sample):
    path = big_sample / "DATA/KVR13INH.DRT"
    before, after, count, points = run_python("""
        import resource, sys, kestrane
        f = kestrane.DoseRateFile(sys.argv[1])
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        count = points = 0
        for r in f.records():
            count += 1
            points += r.times.shape[0]
            assert (r.low is None or r.low.shape == (r.points, 29))
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        print(before, after, count, points)
        """, path)
    assert int(count) > 1000 and int(points) > 0
    # The file is 96 MiB; reading it all holds a few MiB at most (ru_maxrss is in KiB).
    assert path.stat().st_size > 90 << 20
    assert int(after) - int(before) < 16 << 10


def test_other_threads_run_during_the_computation(big_sample):
    counts = [0]
    done = threading.Event()

    def count():
        while not done.is_set():
            counts[0] += 1

    thread = threading.Thread(target=count)
    thread.start()
    try:
        start = counts[0]
        kestrane.coefficients(big_sample, ages="infant", regions="all", threads=1)
        during = counts[0] - start
    finally:
        done.set()
        thread.join()
    assert during > 10000


def test_ctrl_c_stops_the_computation_within_a_second(big_sample):
    (elapsed,) = run_python("""
        import os, signal, sys, threading, time, kestrane
        def interrupt():
            global sent
            sent = time.monotonic()
            os.kill(os.getpid(), signal.SIGINT)
        threading.Timer(0.5, interrupt).start()
        try:
            # Several seconds of work on one thread: every record, four regions, 100 times.
            kestrane.coefficients(sys.argv[1], ages="all", regions="1,2,3,Lung", threads=1,
                                  times=list(range(1, 101)), as_arrays=True)
        except KeyboardInterrupt:
            print(time.monotonic() - sent)
        """, big_sample)
    assert float(elapsed) < 1.0


# A file made shorter while the module reads it: the programs' refusal as kestrane.InputError,
# never the SIGBUS that a page of a mapped file cut off would raise. records() is cut after its
# first record; coefficients() as soon as the file is open (a thread watches the process's
# open files), while nearly all of its 96 MiB are still to be read.
SHORTENED = {
    "records": """
        import os, sys, kestrane
        path = sys.argv[1] + "/DATA/KVR13INH.DRT"
        records = kestrane.DoseRateFile(path).records()
        next(records)
        os.truncate(path, 1 << 20)
        try:
            for record in records:
                pass
        except kestrane.InputError as error:
            print(error.file, error.line, error.record, error.reason == str(error), str(error))
        """,
    "coefficients": """
        import os, sys, threading, kestrane
        path = os.path.realpath(sys.argv[1] + "/DATA/KVR13INH.DRT")
        def cut_once_open():
            while True:
                for fd in os.listdir("/proc/self/fd"):
                    try:
                        if os.readlink(f"/proc/self/fd/{fd}") == path:
                            os.truncate(path, 1 << 20)
                            return
                    except OSError:
                        pass
        threading.Thread(target=cut_once_open, daemon=True).start()
        try:
            kestrane.coefficients(sys.argv[1], ages="all", regions="all", as_arrays=True)
        except kestrane.InputError as error:
            print(error.file, error.line, error.record, error.reason == str(error), str(error))
        """,
}


@pytest.mark.parametrize("way", sorted(SHORTENED))
def test_a_file_made_shorter_while_it_is_read_is_an_input_error(big_sample, tmp_path, way):
    workdir = tmp_path / "run"
    shutil.copytree(big_sample, workdir)
    path = os.path.realpath(workdir / "DATA/KVR13INH.DRT")
    said = run_python(SHORTENED[way], workdir)
    assert said[:4] == [path, "0", "None", "True"], said
    assert " ".join(said[4:]) == (f"{path} became shorter while it was read (changed by another "
                                  "program)")


# Ctrl-C at a moment of a call where Python code runs on the caller's thread: the argument's own
# code (os.fspath of the folder, the items of `times`) and the first import of pandas. Each
# moment sends the process SIGINT from there, in a fresh interpreter where pandas is not yet
# imported; the call raises KeyboardInterrupt, as Ctrl-C anywhere else.
INTERRUPTED_AT = {
    "path": "kestrane.coefficients(Folder(), ages='infant', regions='Liver')",
    "times": "kestrane.coefficients(sys.argv[1], ages='infant', regions='Liver', times=[Days()])",
    "pandas import": """
        sys.meta_path.insert(0, InterruptImport())
        kestrane.coefficients(sys.argv[1], ages='infant', regions='Liver')
        """,
}


# What each moment's call has at hand: SIGINT sent from the Python code it runs.
INTERRUPTING = textwrap.dedent("""
    import signal, sys, kestrane
    def ctrl_c():
        signal.raise_signal(signal.SIGINT)  # its handler runs before this returns
    class Folder:
        def __fspath__(self):
            ctrl_c()
            return sys.argv[1]
    class Days:
        def __float__(self):
            ctrl_c()
            return 1.0
    class InterruptImport:
        def find_spec(self, name, path=None, target=None):
            if name == "pandas":
                ctrl_c()
            return None
    assert "pandas" not in sys.modules
    """)


@pytest.mark.parametrize("moment", sorted(INTERRUPTED_AT))
def test_ctrl_c_at_any_moment_of_a_call_raises_keyboard_interrupt(workdir, moment):
    call = textwrap.indent(textwrap.dedent(INTERRUPTED_AT[moment]).strip() + "\n", "    ")
    (said,) = run_python(INTERRUPTING + "try:\n" + call + textwrap.dedent("""
        except KeyboardInterrupt:
            print("KeyboardInterrupt")
        except BaseException as other:
            print(type(other).__name__)
        else:
            print("returned")
        """), workdir)
    assert said == "KeyboardInterrupt"
