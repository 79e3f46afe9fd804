# How the module runs: records() streams in bounded memory, the computation lets other Python
# threads run, and Ctrl-C stops it. Each measured in a process of its own.
import os
import subprocess
import sys
import textwrap
import threading
import time

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
