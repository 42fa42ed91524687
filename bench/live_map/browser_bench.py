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
  browser_bench.py WORK review KESTRELMAP KESTREL_SIM [TIMES]
      the real program fed by kestrel-sim, about ten plots and a fix, two pages open: a plot
      left out of the fix and used again (TIMES in all, 20) by the POST of one page's card, to
      its line and the new estimate drawn in the other page
  browser_bench.py WORK idle KESTRELMAP KESTREL_SIM on|off [SECONDS [PAGES [PHONES ADDRESS]]]
      the real program with nothing on the serial line, three pages (or PAGES) open (on) or the
      map off: CPU time, wake-ups (context switches of all its threads) and resident memory;
      with PHONES, the map shared on ADDRESS and that many pages more opened with its link

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

sys.dont_write_bytecode = True  # nothing of ours left beside the sources
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "browser"))
from browser_support import Failure, Processes, expect, free_port, wait_for  # noqa: E402

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


def percentile(values, share):
    s = sorted(values)
    return s[min(len(s) - 1, int(round(share * (len(s) - 1))))] if s else float("nan")


def figure(line):
    print("figure: " + line, flush=True)


class Rig(Processes):
    """The processes of one measurement, each in a process group of its own, ended newest
    first by stop_all; and the files under WORK."""

    def __init__(self, work):
        self.work = work
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        super().__init__()
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

    def start_program(self, program, sim, sim_args, map_port, conf=None):
        self.home = os.path.join(self.work, "home")
        self.folder = os.path.join(self.home, "Kestrelmap") + os.sep
        os.makedirs(self.folder)
        # The brisk drive turns often; the figures are the map's, so no plot is held back.
        with open(self.folder + "Kestrelmap.conf", "w") as f:
            f.write("[estimate]\nmax_turn_rate = 0\n" + (conf or ""))
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

    def start_hunt(self, program, sim):
        """The real program on a brisk simulated drive round the transmitter, both sources on
        the instruments; the map's port."""
        self.start_xvfb()
        port = free_port()
        self.start_program(program, sim, ["--wall-clock", "--seed", "7", "--no-stops",
                                          "--speed", "60", "--df-wild", "0", "--tx-lat", TX_LAT,
                                          "--tx-lon", TX_LON], port)
        self.click(36, 56)   # GPS POS
        self.click(516, 56)  # DF BRG
        return port

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


def open_pages(rig, url, pages=PAGES):
    driver = rig.browser()
    handles = []
    for i in range(pages):
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
        port = rig.start_hunt(program, sim)
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


# ---- Leaving a plot out, to the new estimate in another open page ----------------------------
# In the watched page: armed for plot N and the state its line is to reach (left out or used
# again), notes Date.now() when that line is drawn so and when the new fix is drawn: an ellipse
# of another shape (its path) than the one shown when armed, a fix marker at another place.
# The program sends both again with every position of the car, unchanged, and the page draws
# them anew, so a new element alone does not tell. "drawn" is when both the line and the ellipse are, "painted" after the next
# animation frame.
REVIEW_WATCH_JS = """
const plot = String(arguments[0]), out = arguments[1], km = window.kmLive;
const lineOf = () => {
  let found = null;
  km.map.eachLayer((l) => {
    const e = typeof l.getElement === 'function' ? l.getElement() : null;
    if (!e || !e.classList || !e.classList.contains('km-bearing')) return;
    const tip = l.getTooltip() ? l.getTooltip().getContent() : null;
    const title = tip && tip.querySelector ? tip.querySelector('.km-info-title') : null;
    if (title && title.textContent === 'Plot ' + plot) found = e;
  });
  return found;
};
const ellipse0 = document.querySelector('.km-ellipse'), estimate0 = document.querySelector('.km-estimate');
const shape0 = ellipse0 ? ellipse0.getAttribute('d') : null, place0 = estimate0 ? estimate0.style.transform : null;
const line0 = lineOf();
const st = { line: null, ellipse: null, estimate: null, drawn: null, painted: null,
             armedWith: [!!line0 && line0.classList.contains('km-excluded'), !!ellipse0, !!estimate0],
             visibility: document.visibilityState };
if (window.kmReviewObserver) window.kmReviewObserver.disconnect();
const check = () => {
  const now = Date.now();
  if (st.line === null) { const l = lineOf(); if (l && l.classList.contains('km-excluded') === out) st.line = now; }
  if (st.ellipse === null) { const e = document.querySelector('.km-ellipse'); if (e && e.getAttribute('d') !== shape0) st.ellipse = now; }
  if (st.estimate === null) { const e = document.querySelector('.km-estimate'); if (e && e.style.transform !== place0) st.estimate = now; }
  if (st.drawn === null && st.line !== null && st.ellipse !== null) {
    st.drawn = now;
    requestAnimationFrame(() => setTimeout(() => { st.painted = Date.now(); }, 0));
  }
  if (st.drawn !== null && st.estimate !== null) obs.disconnect();
};
const obs = new MutationObserver(check);
obs.observe(document.getElementById('km-map'), { subtree: true, childList: true });
window.kmReviewObserver = obs;
window.kmReviewSeen = st;
return st.armedWith;"""

# In the other page: the POST its card sends, with the token of the snapshot; Date.now() just
# before it is sent and when the answer is in.
REVIEW_POST_JS = """
const [row, out, token, done] = arguments;
const t0 = Date.now();
fetch(`/plots/${encodeURIComponent(String(row))}`, {
  method: 'POST',
  headers: { 'Content-Type': 'application/json', 'X-Kestrelmap-Token': token },
  credentials: 'same-origin', cache: 'no-store', body: JSON.stringify({ excluded: out }),
}).then(async (r) => done({ t0, t1: Date.now(), status: r.status, body: (await r.text()).slice(0, 200) }))
  .catch((e) => done({ t0, t1: Date.now(), status: 0, body: String(e) }));"""

# How often the fix's ellipse and marker are drawn anew in 3 s, and in how many shapes.
STEADY_JS = """
const done = arguments[0], seen = { ellipse: 0, estimate: 0, shapes: new Set(), status: new Set() };
let e = document.querySelector('.km-ellipse'), m = document.querySelector('.km-estimate');
if (e) seen.shapes.add(e.getAttribute('d'));
const obs = new MutationObserver(() => {
  const e2 = document.querySelector('.km-ellipse'), m2 = document.querySelector('.km-estimate');
  if (e2 !== e) { seen.ellipse++; e = e2; if (e) seen.shapes.add(e.getAttribute('d')); }
  if (m2 !== m) { seen.estimate++; m = m2; }
  seen.status.add(document.getElementById('km-status').textContent);
});
obs.observe(document.getElementById('km-map'), { subtree: true, childList: true });
setTimeout(() => { obs.disconnect(); done({ ellipse: seen.ellipse, estimate: seen.estimate,
  shapes: seen.shapes.size, status: Array.from(seen.status).slice(0, 4) }); }, 3000);"""

SNAPSHOT_JS = """
const done = arguments[0];
fetch('/hunt.geojson', { cache: 'no-store', credentials: 'same-origin' }).then((r) => r.json())
  .then((doc) => done({ token: doc.token, plots: doc.features.filter((f) => f.properties.kind === 'plot')
    .map((f) => [f.properties.row, String(f.properties.plot), f.properties.verdict, f.properties.excluded]) }))
  .catch((e) => done({ error: String(e) }));"""


def review(work, program, sim, times):
    rig = Rig(work)
    try:
        port = rig.start_hunt(program, sim)
        url = f"http://127.0.0.1:{port}/"
        driver = rig.browser()
        driver.get(url)
        page_a = driver.current_window_handle
        driver.switch_to.new_window("window")
        driver.get(url)
        page_b = driver.current_window_handle
        for h in (page_a, page_b):
            driver.switch_to.window(h)
            expect(wait_for(lambda: "km-conn-live" in driver.execute_script(LIVE_JS), 10, 0.1),
                   "both pages connect to /live")
        time.sleep(2)  # fresh digits on both
        # About ten plots, and a fix on the watched page.
        last = 0.0
        for _ in range(16):
            time.sleep(max(0.0, last + PLOT_GAP_S - time.monotonic()))
            rig.xdotool("windowfocus", "--sync", rig.win)
            last = time.monotonic()
            rig.xdotool("key", "space")
            fix = wait_for(lambda: driver.execute_script(
                "return document.querySelectorAll('.km-ellipse').length === 1;"), 2, 0.05)
            if rows(rig.folder) >= 10 and fix:
                break
        count = rows(rig.folder)
        expect(count >= 10 and fix, f"about ten plots and a fix on the page, got {count} plots, "
               f"fix shown {fix}")
        time.sleep(1)
        driver.switch_to.window(page_a)
        snap = driver.execute_async_script(SNAPSHOT_JS)
        expect("token" in snap and snap["token"], f"the snapshot's token, got {snap}")
        used = [p for p in snap["plots"] if p[2] == "used" and not p[3]]
        expect(len(used) >= 3, f"used plots in the snapshot, got {snap['plots']}")
        row, plot = used[len(used) // 2][:2]
        # The ellipse keeps its shape while the car drives on and the fix stays: else a new
        # shape would not tell that the page drew the new estimate.
        driver.switch_to.window(page_b)
        kept = driver.execute_async_script(STEADY_JS)
        expect(kept["shapes"] == 1, "the km-ellipse of one shape for 3 s of driving without a "
               f"change of the fix, got {kept}")
        figure(f"review: while the car drives on, in 3 s the ellipse was drawn anew "
               f"{kept['ellipse']} times and the fix marker {kept['estimate']} times, the "
               f"ellipse of {kept['shapes']} shape")
        took, answered, painted, estimate, out_ms, in_ms, visible = [], [], [], [], [], [], set()
        for i in range(times):
            out = i % 2 == 0
            driver.switch_to.window(page_b)
            armed = driver.execute_script(REVIEW_WATCH_JS, plot, out)
            expect(armed[0] != out and armed[1],
                   f"plot {plot}'s line {'used' if out else 'left out'} and the ellipse drawn "
                   f"before measurement {i + 1}, got line excluded {armed[0]}, ellipse {armed[1]}")
            driver.switch_to.window(page_a)
            sent = driver.execute_async_script(REVIEW_POST_JS, row, out, snap["token"])
            expect(sent["status"] == 200, f"the POST of measurement {i + 1} answered 200, got "
                   f"{sent['status']} {sent['body']!r}")
            driver.switch_to.window(page_b)
            seen = wait_for(lambda: (lambda s: s if s["painted"] is not None else None)(
                driver.execute_script("return window.kmReviewSeen;")), 5, 0.02)
            last_seen = driver.execute_script("return window.kmReviewSeen;")
            expect(seen, f"measurement {i + 1} (plot {plot} {'left out' if out else 'used again'}"
                   f"): the line and an ellipse of another shape drawn in the other page within 5 s, got line "
                   f"{last_seen['line']}, ellipse {last_seen['ellipse']} (sent at {sent['t0']})")
            ms = seen["drawn"] - sent["t0"]
            took.append(ms)
            (out_ms if out else in_ms).append(ms)
            answered.append(sent["t1"] - sent["t0"])
            painted.append(seen["painted"] - sent["t0"])
            if seen["estimate"] is not None:
                estimate.append(seen["estimate"] - sent["t0"])
            visible.add(seen["visibility"])
            time.sleep(0.5)  # the push reached both pages; the next from a settled hunt
        figure(f"review: plot {plot} (row {row}) of {count} left out and used again {len(took)} "
               f"times from one page, the other watched ({', '.join(sorted(visible))}): the POST "
               f"sent to its line and the new ellipse in the other page's DOM median "
               f"{percentile(took, 0.5):.0f} ms, p95 {percentile(took, 0.95):.0f} ms, max "
               f"{max(took):.0f} ms (left out median {percentile(out_ms, 0.5):.0f} ms, used again "
               f"{percentile(in_ms, 0.5):.0f} ms); painted median {percentile(painted, 0.5):.0f} "
               f"ms; the POST answered median {percentile(answered, 0.5):.0f} ms; the fix marker "
               f"moved in {len(estimate)} of {len(took)}, median "
               f"{percentile(estimate, 0.5):.0f} ms")
        figure("review, each (ms): " + " ".join(f"{v:.0f}" for v in took))
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


def idle(work, program, sim, mode, seconds, pages=PAGES, phones=0, share_address=""):
    """Phones: pages opened with the shared link (their sessions checked at every request),
    from `share_address`, one of this machine's own addresses that is not loopback."""
    rig = Rig(work)
    try:
        rig.start_xvfb()
        port = free_port() if mode == "on" else 0
        conf = f"[map]\nshare=true\naddress={share_address}\n" if phones else None
        rig.start_program(program, sim, None, port, conf)
        if mode == "on":
            driver = open_pages(rig, f"http://127.0.0.1:{port}/", pages)
        for _ in range(phones):
            link = subprocess.run([program, "--map-link", "--map-port", str(port)],
                                  env=dict(os.environ, HOME=rig.home),
                                  capture_output=True, text=True, timeout=10).stdout.strip()
            expect(link.startswith(f"http://{share_address}:{port}/?key="),
                   f"kestrelmap --map-link gives the shared link, got {link!r}")
            driver.switch_to.new_window("tab")
            driver.get(link)
            expect(wait_for(lambda: "km-conn-live" in driver.execute_script(LIVE_JS), 10, 0.1),
                   "each phone's page connects to /live")
            expect("key=" not in driver.current_url, "the key leaves the phone's address bar")
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
        what = f"{pages} pages open" if mode == "on" else "the map off (--map-port 0)"
        if phones:
            what += f" and {phones} phones with sessions from {share_address}"
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
            idle(work, args[0], args[1], args[2], float(args[3]) if len(args) > 3 else 60,
                 int(args[4]) if len(args) > 4 else PAGES, int(args[5]) if len(args) > 5 else 0,
                 args[6] if len(args) > 6 else "")
        elif mode == "review":
            review(work, args[0], args[1], int(args[2]) if len(args) > 2 else 20)
        else:
            print(__doc__, file=sys.stderr)
            return 2
    except Failure as e:
        print(f"browser_bench: {mode}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
