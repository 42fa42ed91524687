#!/usr/bin/python3
"""The live map's figures that need a real browser or the real program (docs/PERFORMANCE.md,
"Live map"). Each mode starts what it needs (Xvfb, kestrel-sim, kestrelmap, the bench hunt
server, headless chromium under chromedriver), on loopback only, in process groups of its own,
and ends them all before it returns; every wait is bounded.

  browser_bench.py WORK page-ready HUNT_SERVER FOLDER
      the page with the big hunt: navigation start to every feature of the snapshot drawn
  browser_bench.py WORK plots KESTRELMAP KESTREL_SIM [PLOTS]
      the real program fed by kestrel-sim, three pages open: the space bar pressed (the plot
      triggered) to the new km-bearing line in the first page's DOM; then resident memory
  browser_bench.py WORK idle KESTRELMAP KESTREL_SIM on|off [SECONDS]
      the real program with nothing on the serial line, three pages open (on) or the map off:
      CPU time, wake-ups (context switches of all its threads) and resident memory

Prints lines "figure: ..."; exit 1 with the reason when a measurement could not be made."""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
TX_LAT, TX_LON = "34.4120", "-119.7320"
PLOT_GAP_S = 3.3  # the ADD PLOT button stays busy for three seconds after a plot
PAGES = 3

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError as missing:
    print(f"browser_bench: python3-selenium is missing ({missing})", file=sys.stderr)
    sys.exit(1)


class Failure(Exception):
    pass


def expect(ok, what):
    if not ok:
        raise Failure(what)


def wait_for(check, seconds, step=0.05):
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


def percentile(values, share):
    s = sorted(values)
    return s[min(len(s) - 1, int(round(share * (len(s) - 1))))] if s else float("nan")


def figure(line):
    print("figure: " + line, flush=True)


class Rig:
    """The processes of one measurement, each in a process group of its own, ended newest
    first by stop_all; and the files under WORK."""

    def __init__(self, work):
        self.work = work
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        self.started = []
        self.drivers = []
        self.display = None
        self.master = None

    def log(self, name):
        return open(os.path.join(self.work, name), "ab")

    def log_text(self, name):
        try:
            with open(os.path.join(self.work, name), errors="replace") as f:
                return f.read()[-2000:]
        except OSError:
            return ""

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
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()

    def stop_all(self):
        for driver in reversed(self.drivers):
            try:
                driver.quit()
            except Exception:  # its group is ended below anyway
                pass
        for proc in reversed(self.started):
            self.stop(proc, 1.0)
        if self.master is not None:
            os.close(self.master)
            self.master = None

    # -- X, the simulator and the program --
    def start_xvfb(self):
        read_end, write_end = os.pipe()
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=self.log("xvfb.log"),
            start_new_session=True)
        self.started.append(proc)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        expect(number.isdigit(), f"Xvfb gives its display number: {self.log_text('xvfb.log')}")
        self.display = ":" + number

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.display),
                              capture_output=True, text=True, timeout=10).stdout

    def start_program(self, program, sim, sim_args, map_port):
        self.home = os.path.join(self.work, "home")
        self.folder = os.path.join(self.home, "Kestrelmap") + os.sep
        os.makedirs(self.folder)
        if sim_args is None:
            # A silent line: a pseudo-terminal of this script's own linked as COM1, its master
            # held open with nothing written (kestrel-sim with neither instrument ends at once).
            self.master, slave = os.openpty()
            os.symlink(os.ttyname(slave), self.folder + "COM1")
            os.close(slave)
        else:
            self.start([sim, "--folder", self.folder, "--port", "1", *sim_args],
                       self.log("sim.log"))
            expect(wait_for(lambda: os.path.islink(self.folder + "COM1"), 5),
                   f"kestrel-sim links COM1: {self.log_text('sim.log')}")
        env = dict(os.environ, HOME=self.home, DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        env.pop("WAYLAND_DISPLAY", None)
        self.app = self.start([program, "--map-port", str(map_port)], self.log("kestrelmap.log"),
                              env=env)
        win = wait_for(lambda: self.xdotool("search", "--onlyvisible", "--name",
                                            "^Kestrelmap [0-9]").split(), 15, 0.1)
        expect(win, "the Kestrelmap window appears: " + self.log_text("kestrelmap.log"))
        self.win = win[0]
        time.sleep(0.5)
        m = re.search(r"Position: (-?\d+),(-?\d+)", self.xdotool("getwindowgeometry", self.win))
        expect(m, "the window's position from xdotool")
        self.origin = int(m.group(1)), int(m.group(2))

    def click(self, x, y):
        self.xdotool("mousemove", "--sync", str(self.origin[0] + x), str(self.origin[1] + y),
                     "click", "1")
        time.sleep(0.3)

    # -- The browser --
    def browser(self):
        opts = webdriver.ChromeOptions()
        opts.binary_location = CHROMIUM
        for arg in ("--headless=new", "--disable-gpu", "--no-first-run",
                    "--no-default-browser-check", "--disable-extensions", "--disable-sync",
                    "--disable-background-networking", "--disable-component-update",
                    "--disable-default-apps", "--disable-domain-reliability",
                    "--disable-features=Translate,OptimizationHints,MediaRouter",
                    "--no-proxy-server", "--hide-scrollbars", "--mute-audio",
                    "--window-size=1280,800",
                    f"--user-data-dir={os.path.join(self.work, 'chromium')}"):
            opts.add_argument(arg)
        if os.geteuid() == 0:
            opts.add_argument("--no-sandbox")
        service = Service(CHROMEDRIVER, log_path=os.path.join(self.work, "chromedriver.log"),
                          popen_kw={"start_new_session": True})
        try:
            driver = webdriver.Chrome(service=service, options=opts)
        finally:
            if service.process is not None:
                self.started.append(service.process)
        self.drivers.append(driver)
        driver.set_page_load_timeout(20)
        driver.set_script_timeout(20)
        return driver


# ---- The page with the big hunt ---------------------------------------------------------------
SELECTORS = {"bearing": ".km-bearing", "plot": ".km-plot", "track": ".km-track",
             "vehicle": ".km-vehicle", "car": ".km-car", "estimate": ".km-estimate",
             "ellipse": ".km-ellipse", "live-bearing": ".km-live-bearing"}

READY_JS = """
(() => {
  const want = %s;
  window.kmReady = null; window.kmPainted = null;
  const check = () => {
    if (window.kmReady !== null) return;
    for (const [sel, n] of want) if (document.querySelectorAll(sel).length < n) return;
    window.kmReady = performance.now();
    requestAnimationFrame(() => setTimeout(() => { window.kmPainted = performance.now(); }, 0));
  };
  new MutationObserver(check).observe(document, { subtree: true, childList: true });
})();"""

TIMING_JS = """
const r = performance.getEntriesByType('resource').find((e) => e.name.endsWith('/hunt.geojson'));
const n = performance.getEntriesByType('navigation')[0];
return { ready: window.kmReady, painted: window.kmPainted,
         fetchStart: r ? r.startTime : null, fetchEnd: r ? r.responseEnd : null,
         size: r ? r.transferSize : null, load: n ? n.loadEventEnd : null };"""


def page_ready(work, server, folder):
    rig = Rig(work)
    try:
        proc = rig.start([server, f"--folder={folder}", "--seconds=120"], rig.log("hunt.log"))
        port = wait_for(lambda: re.search(r"listening: (\d+)", rig.log_text("hunt.log")), 60, 0.1)
        expect(port, "the hunt server listens: " + rig.log_text("hunt.log"))
        text = rig.log_text("hunt.log")
        for line in text.splitlines():
            if line.startswith("hunt:"):
                figure(line)
        want = json.loads(re.search(r"want: (\{.*\})", text).group(1))
        pairs = [[SELECTORS[k], n] for k, n in sorted(want.items()) if k in SELECTORS]
        url = f"http://127.0.0.1:{port.group(1)}/"
        driver = rig.browser()
        driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                               {"source": READY_JS % json.dumps(pairs)})
        for load in ("first load (fresh browser)", "second load (same browser)"):
            driver.get(url)
            t = wait_for(lambda: (lambda v: v if v["painted"] is not None else None)(
                driver.execute_script(TIMING_JS)), 30, 0.05)
            expect(t, f"every feature drawn within 30 s; want {want}")
            figure(f"page ready, {load}: navigation start to every feature drawn "
                   f"{t['ready']:.0f} ms, painted {t['painted']:.0f} ms (load event "
                   f"{t['load']:.0f} ms; /hunt.geojson fetched {t['fetchStart']:.0f} to "
                   f"{t['fetchEnd']:.0f} ms, {t['size']} bytes)")
        expect(proc.poll() is None, "the hunt server still runs")
    finally:
        rig.stop_all()


# ---- A plot to its line in an open page ------------------------------------------------------
WATCH_JS = """
window.kmSeen = [];
window.kmLastN = document.querySelectorAll('.km-bearing').length;
new MutationObserver(() => {
  const n = document.querySelectorAll('.km-bearing').length;
  if (n > window.kmLastN) {
    window.kmLastN = n; window.kmSeen.push([n, Date.now(), performance.timeOrigin + performance.now()]);
  }
}).observe(document.getElementById('km-map'), { subtree: true, childList: true });"""

LIVE_JS = "return (document.getElementById('km-conn') || {}).className || '';"


def open_pages(rig, url):
    driver = rig.browser()
    handles = []
    for i in range(PAGES):
        if i:
            driver.switch_to.new_window("tab")
        driver.get(url)
        handles.append(driver.current_window_handle)
    for h in handles:
        driver.switch_to.window(h)
        expect(wait_for(lambda: "km-conn-live" in driver.execute_script(LIVE_JS), 10, 0.1),
               "each page connects to /live")
    driver.switch_to.window(handles[0])
    return driver


def rows(folder):
    try:
        with open(folder + "Current_Plots.csv") as f:
            return max(0, sum(1 for line in f if line.strip()) - 1)
    except OSError:
        return 0


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def plots(work, program, sim, count):
    rig = Rig(work)
    try:
        rig.start_xvfb()
        port = free_port()
        rig.start_program(program, sim, ["--wall-clock", "--seed", "7", "--no-stops", "--speed",
                                         "60", "--df-wild", "0", "--tx-lat", TX_LAT, "--tx-lon",
                                         TX_LON], port)
        rig.click(36, 56)   # GPS POS
        rig.click(516, 56)  # DF BRG
        driver = open_pages(rig, f"http://127.0.0.1:{port}/")
        time.sleep(2)  # fresh digits on both
        driver.execute_script(WATCH_JS)
        to_row, to_line, missed = [], [], 0
        last = 0.0
        for i in range(count):
            time.sleep(max(0.0, last + PLOT_GAP_S - time.monotonic()))
            before_rows = rows(rig.folder)
            before = driver.execute_script("return window.kmLastN;")
            rig.xdotool("windowfocus", "--sync", rig.win)
            last = time.monotonic()
            pressed_ms = time.time() * 1000
            rig.xdotool("key", "space")
            seen = wait_for(lambda: [s for s in driver.execute_script("return window.kmSeen;")
                                     if s[0] > before], 5, 0.02)
            if not seen:
                missed += 1
                continue
            to_line.append(seen[0][1] - pressed_ms)
            if wait_for(lambda: rows(rig.folder) > before_rows, 2, 0.02):
                to_row.append(os.stat(rig.folder + "Current_Plots.csv").st_mtime_ns / 1e6
                              - pressed_ms)
        expect(len(to_line) >= count * 0.9,
               f"a line for most plots ({len(to_line)} of {count}; {missed} missed): "
               + rig.log_text("kestrelmap.log"))
        figure(f"plot to line: {len(to_line)} plots ({missed} without a new line within 5 s), "
               f"{PAGES} pages open: space bar pressed to the new km-bearing in the page's DOM "
               f"median {percentile(to_line, 0.5):.0f} ms, p95 {percentile(to_line, 0.95):.0f} "
               f"ms, max {max(to_line):.0f} ms; to the plot log's row written median "
               f"{percentile(to_row, 0.5):.0f} ms, p95 {percentile(to_row, 0.95):.0f} ms")
        figure("plot to line, each (ms): " + " ".join(f"{v:.0f}" for v in to_line))
        figure(f"resident memory after {len(to_line)} plots with {PAGES} pages open: "
               f"{rss_kib(rig.app.pid)} KiB")
    finally:
        rig.stop_all()


# ---- Idle --------------------------------------------------------------------------------------
def threads_of(pid):
    ticks = 0
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
        ticks = int(fields[11]) + int(fields[12])  # utime, stime
    switches, on_cpu = {}, 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                text = f.read()
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                on_cpu += int(f.read().split()[0])
        except OSError:
            continue
        v = int(re.search(r"^voluntary_ctxt_switches:\s+(\d+)", text, re.M).group(1))
        n = int(re.search(r"^nonvoluntary_ctxt_switches:\s+(\d+)", text, re.M).group(1))
        name = re.search(r"^Name:\s+(.*)$", text, re.M).group(1)
        switches[tid] = (name, v + n)
    return ticks, on_cpu, switches


def idle(work, program, sim, mode, seconds):
    rig = Rig(work)
    try:
        rig.start_xvfb()
        port = free_port() if mode == "on" else 0
        rig.start_program(program, sim, None, port)
        if mode == "on":
            open_pages(rig, f"http://127.0.0.1:{port}/")
        time.sleep(5)  # start-up settles
        pid = rig.app.pid
        t0, c0, s0 = threads_of(pid)
        w0 = time.monotonic()
        time.sleep(seconds)
        t1, c1, s1 = threads_of(pid)
        wall = time.monotonic() - w0
        expect(rig.app.poll() is None, "kestrelmap still runs")
        hz = os.sysconf("SC_CLK_TCK")
        wakeups = sum(n - s0.get(tid, (name, 0))[1] for tid, (name, n) in s1.items())
        busiest = sorted(((n - s0.get(tid, (name, 0))[1], name) for tid, (name, n) in s1.items()),
                         reverse=True)[:3]
        what = f"{PAGES} pages open" if mode == "on" else "the map off (--map-port 0)"
        figure(f"idle, {what}: {wall:.1f} s: {t1 - t0} ticks of utime + stime "
               f"({100 * (t1 - t0) / hz / wall:.3f} % of a core); all threads "
               f"{(c1 - c0) / 1e6:.1f} ms on a CPU ({100 * (c1 - c0) / 1e9 / wall:.4f} %); "
               f"{wakeups} context switches ({wakeups / wall:.2f} a second; busiest threads "
               + ", ".join(f"{name} {n}" for n, name in busiest) + f"); {len(s1)} threads; "
               f"resident {rss_kib(pid)} KiB")
    finally:
        rig.stop_all()


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    work, mode, args = sys.argv[1], sys.argv[2], sys.argv[3:]
    try:
        if mode == "page-ready":
            page_ready(work, args[0], args[1])
        elif mode == "plots":
            plots(work, args[0], args[1], int(args[2]) if len(args) > 2 else 30)
        elif mode == "idle":
            idle(work, args[0], args[1], args[2], float(args[3]) if len(args) > 3 else 60)
        else:
            print(__doc__, file=sys.stderr)
            return 2
    except Failure as e:
        print(f"browser_bench: {mode}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
