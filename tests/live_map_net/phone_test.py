#!/usr/bin/python3
"""The live map shared to a phone over the car's Wi-Fi, in two network namespaces of this
test's own joined by a veth pair: the car's (169.254.77.1) and the phone's (169.254.77.2 for
its browser, 169.254.77.3 for probing), with no route anywhere else and no IPv6 address on the
link. phone_hunt.py runs inside the phone's namespace and does the rest. The namespaces go
afterwards, with whatever still runs in them, and so do those of an earlier run that was killed.

Usage: phone_test.py KESTRELMAP KESTREL_SIM KESTREL_ESTIMATE SCREENSHOT_DIR
Fails (1) when this machine cannot make network namespaces; exit 77 (skipped) when chromium,
chromedriver, selenium, Xvfb, xdotool or mosquitto is missing."""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys

CAR_IP, PHONE_IP, PROBE_IP = "169.254.77.1", "169.254.77.2", "169.254.77.3"
HUNT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "phone_hunt.py")


def ip(*args, check=True):
    try:
        done = subprocess.run(["ip", *args], capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise RuntimeError(f"`ip {' '.join(args)}`: {e}")
    if check and done.returncode != 0:
        raise RuntimeError(f"`ip {' '.join(args)}` failed: {done.stderr.strip()}")
    return done.stdout


def remove_namespace(name):
    """Ends what still runs in it (only this test starts anything there), and removes it."""
    for pid in ip("netns", "pids", name, check=False).split():
        try:
            os.kill(int(pid), signal.SIGKILL)
        except (ProcessLookupError, ValueError):
            pass
    ip("netns", "delete", name, check=False)


def make_namespaces(car, phone):
    for line in ip("netns", "list").splitlines():  # ours, or of runs whose process is gone
        m = re.fullmatch(r"km-(car|phone)-(\d+)", (line.split() or [""])[0])
        if m and (m[0] in (car, phone) or not os.path.exists(f"/proc/{m[2]}")):
            remove_namespace(m[0])
    ip("netns", "add", car)
    ip("netns", "add", phone)
    ip("-n", car, "link", "add", "km0", "type", "veth", "peer", "name", "km0", "netns", phone)
    for ns, addresses in ((car, [CAR_IP]), (phone, [PHONE_IP, PROBE_IP])):
        ip("-n", ns, "link", "set", "km0", "addrgenmode", "none")  # no IPv6 link-local address
        for address in addresses:  # connections leave from the first
            ip("-n", ns, "addr", "add", f"{address}/24", "dev", "km0")
        ip("-n", ns, "link", "set", "lo", "up")
        ip("-n", ns, "link", "set", "km0", "up")
        routes = ip("-n", ns, "route", "show")
        if "default" in routes:
            raise RuntimeError(f"a default route appeared in {ns}: {routes.strip()}")


def missing_tool():
    for tool in ("Xvfb", "xdotool", "mosquitto"):
        if shutil.which(tool) is None and not os.access(f"/usr/sbin/{tool}", os.X_OK):
            return f"{tool} is not installed"
    for path in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
        if not os.access(path, os.X_OK):
            return f"{path} is missing (Debian's chromium and chromium-driver)"
    try:
        import selenium  # noqa: F401
    except ImportError as e:
        return f"python3-selenium is not installed ({e})"
    return None


def ends_with_this_process():
    """SIGTERM to the inner script if this one is killed: it still ends what it started."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def stopped_by_signal(number, _frame):
    raise SystemExit(f"stopped by signal {number}")  # the finally block removes the namespaces


def main(args):
    if len(args) != 4:
        print(__doc__)
        return 2
    car, phone = f"km-car-{os.getpid()}", f"km-phone-{os.getpid()}"
    inner = None
    try:
        try:
            make_namespaces(car, phone)
        except RuntimeError as e:
            print(f"FAIL: this machine cannot make the network namespaces the test needs "
                  f"(root with CAP_SYS_ADMIN and CAP_NET_ADMIN): {e}")
            return 1
        missing = missing_tool()
        if missing:
            print(f"skipped: {missing}")
            return 77
        inner = subprocess.Popen(["ip", "netns", "exec", phone, "/usr/bin/python3", HUNT, car,
                                  *args], preexec_fn=ends_with_this_process)
        return inner.wait()
    finally:
        if inner is not None and inner.poll() is None:
            inner.terminate()  # it ends what it started
            try:
                inner.wait(15)
            except subprocess.TimeoutExpired:
                inner.kill()
                inner.wait()
        for name in (phone, car):
            try:
                remove_namespace(name)
            except RuntimeError:
                pass


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, stopped_by_signal)
    signal.signal(signal.SIGINT, stopped_by_signal)
    sys.exit(main(sys.argv[1:]))
