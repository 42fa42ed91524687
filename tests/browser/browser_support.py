"""What the live map's browser test and its benchmark (bench/live_map/browser_bench.py) share:
failures with their reason, bounded waits, a free loopback port, and the processes they start,
each in a process group of its own and ended newest first."""

import os
import signal
import socket
import subprocess
import time


class Failure(Exception):
    pass


def expect(ok, what):
    if not ok:
        raise Failure(what)


def wait_for(check, seconds, step=0.05):
    """Polls `check` until it gives something true; returns that, or the last value."""
    end = time.monotonic() + seconds
    while True:
        value = check()
        if value or time.monotonic() >= end:
            return value
        time.sleep(step)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Processes:
    """Each started in its own process group, all ended (newest first) by stop_all."""

    def __init__(self):
        self.started = []

    def start(self, args, log, **kw):
        proc = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True, **kw)
        self.started.append(proc)
        return proc

    @staticmethod
    def stop(proc, grace=2.0):
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                proc.wait(grace)
            except subprocess.TimeoutExpired:
                pass
        try:
            os.killpg(proc.pid, signal.SIGKILL)  # whatever is left of the group
        except ProcessLookupError:
            pass
        proc.wait()

    def stop_all(self):
        for proc in reversed(self.started):
            self.stop(proc, 1.0)


def end_on_signals():
    """SIGTERM and SIGINT end the script through its finally blocks, which end what it
    started."""
    def stopped(number, _frame):
        raise SystemExit(f"stopped by signal {number}")
    signal.signal(signal.SIGTERM, stopped)
    signal.signal(signal.SIGINT, stopped)
