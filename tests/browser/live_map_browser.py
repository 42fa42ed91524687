#!/usr/bin/python3
"""The live map in a real browser: kestrelmap under a private Xvfb, fed by kestrel-sim through
its pseudo-terminal, its map page opened in headless chromium through chromedriver.

Checks that the offline MBTiles layer is the base map and is enlarged beyond its last zoom,
that every plot of the plot log has its marker and bearing line on the page (and the fix its
marker and ellipse), that a new plot appears without a reload, that the bearings the estimate
rejects are drawn as rejected, that a plot left out of the fix from its card is drawn left
out, written to the plot log and counted in the status line (and used again), that a note with
markup is kept and shown as text, that a page of another site open in the same browser cannot
leave a plot out (nor open /live or read the snapshot's token) while the program's own request
can, that the night panel darkens the page, and that the open page finds the program again after
a restart and shows the new hunt. Saves live-map-day.png,
live-map-night.png and live-map-phone.png and prints what it measured.

Usage: live_map_browser.py KESTRELMAP KESTREL_SIM SCREENSHOT_DIR [KESTREL_ESTIMATE]
Exit 77 when chromium, chromedriver, selenium, Xvfb or xdotool is missing."""

import csv
import http.server
import json
import os
import re
import shutil
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request
import zlib

sys.dont_write_bytecode = True  # nothing of ours left beside the sources
from browser_support import (Failure, Processes, end_on_signals, expect, free_port,  # noqa: E402
                             wait_for)

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
MAGENTA = (0xFF, 0x00, 0xFF)
# Where kestrel-sim hides the transmitter: a few hundred metres from its start, so that the
# brisk drive goes round it and a handful of plots give a fix.
TX_LAT, TX_LON = "34.4120", "-119.7320"
# Plots: the ADD PLOT button stays busy for three seconds after each one.
PLOT_GAP_S = 3.3
MAX_PLOTS = 20
SHOWN_WITHIN_S = 5.0


def skip(why):
    print(f"skipped: {why}")
    sys.exit(77)


try:
    from selenium import webdriver
    from selenium.common.exceptions import (NoAlertPresentException,
                                            UnexpectedAlertPresentException, WebDriverException)
    from selenium.webdriver.chrome.service import Service
except ImportError as missing:
    skip(f"python3-selenium is not installed ({missing})")


# ---- PNG, written and read with zlib and struct ---------------------------------------------
def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def solid_png(rgb, size=256):
    row = b"\x00" + bytes(rgb) * size
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(row * size, 9))
            + png_chunk(b"IEND", b""))


def read_png(data):
    """(width, height, channels, pixel bytes) of an 8-bit, non-interlaced RGB or RGBA PNG."""
    expect(data[:8] == b"\x89PNG\r\n\x1a\n", "the screenshot is a PNG")
    pos, idat, width = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            expect(depth == 8 and colour in (2, 6) and interlace == 0,
                   f"an 8-bit RGB(A) screenshot, got depth {depth} colour type {colour}")
        elif kind == b"IDAT":
            idat.append(body)
        pos += 12 + length
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(idat))
    stride = width * channels
    out = bytearray(stride * height)
    prev = bytearray(stride)
    for y in range(height):
        filt = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if filt == 1:
            for i in range(channels, stride):
                line[i] = (line[i] + line[i - channels]) & 0xFF
        elif filt == 2:
            line = bytearray((a + b) & 0xFF for a, b in zip(line, prev))
        elif filt == 3:
            for i in range(stride):
                left = line[i - channels] if i >= channels else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif filt == 4:
            for i in range(stride):
                a = line[i - channels] if i >= channels else 0
                b, c = prev[i], prev[i - channels] if i >= channels else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        out[y * stride:(y + 1) * stride] = line
        prev = line
    return width, height, channels, bytes(out)


def colour_share(png, rect, rgb, tolerance=24):
    """The share of the pixels inside rect (x, y, w, h) within `tolerance` of rgb."""
    try:
        from PIL import Image  # Debian's python3-pil: much faster than the decoder above
        import io
        img = Image.open(io.BytesIO(png)).convert("RGB")
        width, height, channels, pixels = img.width, img.height, 3, img.tobytes()
    except ImportError:
        width, height, channels, pixels = read_png(png)
    x0, y0 = max(0, int(rect[0])), max(0, int(rect[1]))
    x1, y1 = min(width, int(rect[0] + rect[2])), min(height, int(rect[1] + rect[3]))
    hits = total = 0
    for y in range(y0, y1, 2):
        row = pixels[(y * width + x0) * channels:(y * width + x1) * channels]
        for i in range(0, len(row), 2 * channels):
            total += 1
            if all(abs(row[i + k] - rgb[k]) <= tolerance for k in range(3)):
                hits += 1
    return hits / total if total else 0.0


def make_mbtiles(path):
    """An MBTiles 1.3 file with every tile of zooms 0 to 3 a solid magenta square."""
    tile = solid_png(MAGENTA)
    db = sqlite3.connect(path)
    db.execute("CREATE TABLE metadata (name TEXT, value TEXT)")
    db.execute("CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER,"
               " tile_data BLOB)")
    db.execute("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row)")
    db.executemany("INSERT INTO metadata VALUES (?, ?)", [
        ("name", "Test area"), ("format", "png"), ("minzoom", "0"), ("maxzoom", "3"),
        ("bounds", "-180.0,-85.0511,180.0,85.0511"), ("type", "baselayer"), ("version", "1.3")])
    rows = []
    for z in range(4):
        for x in range(2 ** z):
            for y in range(2 ** z):
                rows.append((z, x, 2 ** z - 1 - y, tile))  # TMS rows count from the south
    db.executemany("INSERT INTO tiles VALUES (?, ?, ?, ?)", rows)
    db.commit()
    db.close()


class Rig:
    def __init__(self, program, sim, shots, estimate_tool):
        self.program, self.sim, self.shots, self.estimate_tool = program, sim, shots, estimate_tool
        self.tmp = tempfile.mkdtemp(prefix="kestrel-browser-")
        self.home = os.path.join(self.tmp, "home")
        self.folder = os.path.join(self.home, "Kestrelmap") + os.sep
        os.makedirs(self.folder + "maps")
        # The brisk drive turns often: the turn gate would hold back many of its plots, and this
        # test is about the map, not the gate (kestrel-estimate below is told the same).
        with open(self.folder + "Kestrelmap.conf", "w") as f:
            f.write("[estimate]\nmax_turn_rate = 0\n")
        self.procs = Processes()
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}/"
        self.display = None
        self.app = None
        self.app_starts = 0
        self.drivers = []
        self.servers = []
        self.figures = []

    def log(self, name):
        return open(os.path.join(self.tmp, name), "ab")

    def log_text(self, name):
        try:
            with open(os.path.join(self.tmp, name), errors="replace") as f:
                return f.read()[-3000:]
        except OSError:
            return ""

    def figure(self, line):
        self.figures.append(line)
        print(line, flush=True)

    # -- X, the simulator and the program --
    def start_xvfb(self):
        read_end, write_end = os.pipe()
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=self.log("xvfb.log"),
            start_new_session=True)
        self.procs.started.append(proc)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        expect(number.isdigit(), f"Xvfb gives its display number, got {number!r}: "
               f"{self.log_text('xvfb.log')}")
        self.display = ":" + number

    def start_sim(self):
        self.procs.start([self.sim, "--folder", self.folder, "--port", "1", "--wall-clock",
                          "--seed", "7", "--no-stops", "--speed", "60", "--df-wild", "30",
                          "--tx-lat", TX_LAT, "--tx-lon", TX_LON], self.log("kestrel-sim.log"))
        expect(wait_for(lambda: os.path.islink(self.folder + "COM1"), 5),
               f"kestrel-sim links {self.folder}COM1; its log: {self.log_text('kestrel-sim.log')}")

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.display),
                              capture_output=True, text=True, timeout=10).stdout

    def start_app(self):
        self.app_starts += 1
        env = dict(os.environ, HOME=self.home, DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        env.pop("WAYLAND_DISPLAY", None)
        started = time.monotonic()
        self.app = self.procs.start([self.program, "--map-port", str(self.port)],
                                    self.log(f"kestrelmap-{self.app_starts}.log"), env=env)
        win = wait_for(lambda: self.xdotool("search", "--onlyvisible", "--name",
                                            "^Kestrelmap [0-9]").split(), 15, 0.1)
        expect(win, "the Kestrelmap window appears within 15 s; its log: "
               + self.log_text(f"kestrelmap-{self.app_starts}.log"))
        self.win = win[0]
        time.sleep(0.5)
        geometry = self.xdotool("getwindowgeometry", self.win)
        m = re.search(r"Position: (-?\d+),(-?\d+)", geometry)
        expect(m, f"the window's position from xdotool, got {geometry!r}")
        self.origin = int(m.group(1)), int(m.group(2))
        boxes = self.xdotool("search", "--pid", str(self.app.pid), "--onlyvisible", "--name", ".")
        if len(boxes.split()) > 1:
            print("warning: a message box is open over the panel", flush=True)
        # GPS POS and DF BRG: the buttons at the designed places of the panel.
        for x, y in ((36, 56), (516, 56)):
            self.xdotool("mousemove", "--sync", str(self.origin[0] + x), str(self.origin[1] + y),
                         "click", "1")
            time.sleep(0.3)
        return started

    def stop_app(self):
        if self.app is not None:
            Processes.stop(self.app, 2.0)
            self.app = None

    def press_plot(self):
        self.xdotool("windowfocus", "--sync", self.win)
        self.xdotool("key", "space")

    def set_night(self):
        """night = true in [display] of Kestrelmap.conf, whatever else the program wrote."""
        path = self.folder + "Kestrelmap.conf"
        try:
            with open(path) as f:
                lines = [l for l in f.read().splitlines() if not re.match(r"\s*night\s*=", l)]
        except FileNotFoundError:
            lines = []
        if "[display]" in (l.strip() for l in lines):
            at = [l.strip() for l in lines].index("[display]") + 1
            lines.insert(at, "night = true")
        else:
            lines += ["[display]", "night = true"]
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")

    # -- The hunt's files --
    def plot_rows(self):
        try:
            with open(self.folder + "Current_Plots.csv", newline="") as f:
                return list(csv.DictReader(f))
        except OSError:
            return []

    def fix_shown(self):
        try:
            with open(self.folder + "Current_Estimate.kml", errors="replace") as f:
                return "<Point>" in f.read()
        except OSError:
            return False

    def stamps(self):
        return sorted(n[:-len("_plots.csv")] for n in os.listdir(self.folder)
                      if re.fullmatch(r"\d{6}_\d{6}_plots\.csv", n))

    def estimate_now(self):
        """What kestrel-estimate makes of the plot log now, or None without the tool."""
        if not self.estimate_tool or not os.access(self.estimate_tool, os.X_OK):
            return None
        out = subprocess.run([self.estimate_tool, "--json", "--max-turn-rate", "0",
                              self.folder + "Current_Plots.csv"],
                             capture_output=True, text=True, timeout=10)
        try:
            return json.loads(out.stdout)
        except ValueError:
            return None

    # -- The browser --
    def browser(self, name, phone=False):
        opts = webdriver.ChromeOptions()
        opts.binary_location = CHROMIUM
        for arg in ("--headless=new", "--disable-gpu", "--no-first-run",
                    "--no-default-browser-check", "--disable-extensions", "--disable-sync",
                    "--disable-background-networking", "--disable-component-update",
                    "--disable-default-apps", "--disable-domain-reliability",
                    "--disable-features=Translate,OptimizationHints,MediaRouter",
                    "--no-proxy-server", "--hide-scrollbars", "--mute-audio",
                    f"--user-data-dir={os.path.join(self.tmp, 'chromium-' + name)}"):
            opts.add_argument(arg)
        if os.geteuid() == 0:
            opts.add_argument("--no-sandbox")
        opts.set_capability("goog:loggingPrefs", {"browser": "ALL"})  # the page's console
        if phone:
            opts.add_argument("--window-size=390,844")
            opts.add_experimental_option("mobileEmulation", {
                "deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 3.0, "touch": True},
                "userAgent": "Mozilla/5.0 (Linux; Android 13; Pixel 7) AppleWebKit/537.36 "
                             "(KHTML, like Gecko) Chrome/120.0 Mobile Safari/537.36"})
        else:
            opts.add_argument("--window-size=1280,800")
        service = Service(CHROMEDRIVER, log_path=os.path.join(self.tmp, f"chromedriver-{name}.log"),
                          popen_kw={"start_new_session": True})
        try:
            driver = webdriver.Chrome(service=service, options=opts)
        except WebDriverException as e:
            if service.process is not None:
                self.procs.started.append(service.process)
            raise Failure(f"chromium starts under chromedriver: {e.msg}")
        self.procs.started.append(service.process)
        self.drivers.append(driver)
        if not phone:  # the window's size less the browser's own rows: set the page's too
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": 1280, "height": 800, "deviceScaleFactor": 1, "mobile": False})
        driver.set_page_load_timeout(15)
        driver.set_script_timeout(10)
        return driver

    # -- Another site's server, and requests of the program's own page made from here --
    def serve_page(self, html):
        """An HTTP server of this test's own on another loopback port, answering GET / with
        `html` from memory; its URL. Ended by stop_servers."""

        class Page(http.server.BaseHTTPRequestHandler):
            timeout = 2

            def do_GET(self):
                body = html.encode() if self.path == "/" else b"not here"
                self.send_response(200 if self.path == "/" else 404)
                self.send_header("Content-Type", "text/html; charset=utf-8"
                                 if self.path == "/" else "text/plain")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
        server.daemon_threads = True
        thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                                  daemon=True)
        thread.start()
        self.servers.append((server, thread))
        return f"http://127.0.0.1:{server.server_address[1]}/"

    def stop_servers(self):
        for server, thread in reversed(self.servers):
            server.shutdown()
            server.server_close()
            thread.join(2)
        self.servers = []

    def request(self, path, body=None, headers=None):
        """(status, body) of a GET, or a POST of `body`, to the map server, from Python."""
        req = urllib.request.Request(self.url.rstrip("/") + path, data=body,
                                     headers=headers or {},
                                     method="GET" if body is None else "POST")
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))  # loopback only
        try:
            with opener.open(req, timeout=5) as answer:
                return answer.status, answer.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()
        except (urllib.error.URLError, OSError) as e:
            raise Failure(f"an answer to {req.get_method()} {path} from the map server, got {e}")

    def snapshot(self):
        status, body = self.request("/hunt.geojson")
        expect(status == 200, f"GET /hunt.geojson answered 200, got {status}: {body[:200]!r}")
        try:
            return json.loads(body)
        except ValueError:
            raise Failure(f"/hunt.geojson is JSON, got {body[:200]!r}")

    def quit_drivers(self):
        for driver in reversed(self.drivers):
            try:
                driver.quit()
            except Exception:  # the group is killed below anyway
                pass
        self.drivers = []


# ---- What the page shows ---------------------------------------------------------------------
COUNTS_JS = """
const n = (sel) => document.querySelectorAll(sel).length;
const label = (sel) => Array.from(document.querySelectorAll(sel)).map(
    (e) => (e.querySelector('.km-plot-label') || e).textContent.trim());
return {
  bearing: n('.km-bearing'), rejected: n('.km-bearing.km-rejected'), plot: n('.km-plot'),
  estimate: n('.km-estimate'), ellipse: n('.km-ellipse'), car: n('.km-car'),
  track: n('.km-track'), live: n('.km-live-bearing'),
  rejectedPlots: label('.km-plot.km-verdict-rejected'),
  conn: (document.getElementById('km-conn') || {}).className || '',
  night: document.body.classList.contains('km-night'),
  marker: window.kmMarker === 1,
  status: (document.getElementById('km-status') || {}).textContent || ''
};"""

TILES_JS = """
const tiles = Array.from(document.querySelectorAll('img.leaflet-tile'));
const scale = document.querySelector('.leaflet-control-scale-line');
const r = document.getElementById('km-map').getBoundingClientRect();
return {
  srcs: tiles.map((t) => t.getAttribute('src') || ''),
  // loaded and faded in
  loaded: tiles.filter((t) => t.complete && t.naturalWidth > 0
                       && getComputedStyle(t).opacity === '1').length,
  scale: scale ? scale.textContent : '',
  rect: [r.left, r.top, r.width, r.height],
  ratio: window.devicePixelRatio
};"""


# Notes the wall-clock time at which the number of bearing lines changes.
WATCH_JS = """
window.kmSeen = [];
window.kmLastN = document.querySelectorAll('.km-bearing').length;
new MutationObserver(() => {
  const n = document.querySelectorAll('.km-bearing').length;
  if (n !== window.kmLastN) { window.kmLastN = n; window.kmSeen.push([n, Date.now()]); }
}).observe(document.getElementById('km-map'), { subtree: true, childList: true });"""


# A plot as drawn, found by its number through the map's layers: its marker (by its label) and
# its bearing line (by its tooltip's title); the classes of each, the texts of their tooltips,
# and whether the marker's centre is where a click lands on it.
PLOT_JS = """
const want = String(arguments[0]), km = window.kmLive;
let marker = null, line = null;
km.map.eachLayer((l) => {
  const e = typeof l.getElement === 'function' ? l.getElement() : null;
  if (!e || !e.classList) return;
  const tip = typeof l.getTooltip === 'function' && l.getTooltip() ? l.getTooltip().getContent() : null;
  if (e.classList.contains('km-plot')) {
    const label = e.querySelector('.km-plot-label');
    if (label && label.textContent.trim() === want) marker = { l, e, tip };
  } else if (e.classList.contains('km-bearing')) {
    const title = tip && tip.querySelector ? tip.querySelector('.km-info-title') : null;
    if (title && title.textContent === 'Plot ' + want) line = { l, e, tip };
  }
});
const note = (tip, sel) => { const n = tip && tip.querySelector ? tip.querySelector(sel) : null; return n ? n.textContent : null; };
const lineNote = (tip) => {
  if (!tip || !tip.querySelectorAll) return null;
  const row = Array.from(tip.querySelectorAll('tr')).find((tr) => (tr.querySelector('th') || {}).textContent === 'Note');
  return row ? row.querySelector('td').textContent : '';
};
let hit = false;
if (marker) {
  const r = marker.e.getBoundingClientRect();
  const at = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);
  hit = !!at && at.closest('.km-plot') === marker.e;
}
return {
  marker: marker ? Array.from(marker.e.classList) : null,
  line: line ? Array.from(line.e.classList) : null,
  markerNote: marker ? note(marker.tip, '.km-tip-note') : null,
  lineNote: line ? lineNote(line.tip) : null,
  imgsInTips: (marker && marker.tip && marker.tip.querySelectorAll ? marker.tip.querySelectorAll('img').length : 0)
              + (line && line.tip && line.tip.querySelectorAll ? line.tip.querySelectorAll('img').length : 0),
  hit
};"""

# The plot's marker in the middle of the map at zoom 17 at least, where a tap reaches it.
CENTRE_ON_PLOT_JS = """
const want = String(arguments[0]), km = window.kmLive;
km.map.eachLayer((l) => {
  const e = typeof l.getElement === 'function' ? l.getElement() : null;
  const label = e && e.classList && e.classList.contains('km-plot') ? e.querySelector('.km-plot-label') : null;
  if (label && label.textContent.trim() === want) km.map.setView(l.getLatLng(), Math.max(km.map.getZoom(), 17), { animate: false });
});"""

# The card as shown, and what the page would show of markup run as such.
CARD_JS = """
const $ = (id) => document.getElementById(id);
const rows = {};
for (const tr of $('km-card-rows').querySelectorAll('tr')) rows[tr.querySelector('th').textContent] = tr.querySelector('td').textContent;
return {
  open: !$('km-card').hidden, title: $('km-card-title').textContent, rows,
  button: $('km-card-exclude').hidden ? null : $('km-card-exclude').textContent,
  disabled: $('km-card-exclude').disabled, outcome: $('km-card-outcome').textContent,
  note: $('km-card-note').value,
  imgs: Array.from(document.querySelectorAll('img')).filter((i) => !i.classList.contains('leaflet-tile')).map((i) => i.outerHTML),
  tooltips: Array.from(document.querySelectorAll('.leaflet-tooltip')).map((t) => [t.textContent, t.querySelectorAll('img').length]),
  errors: window.kmErrors || [], csp: window.kmCsp || []
};"""

# Errors and refused content from here on, noted by the page itself.
TRAP_JS = """
window.kmErrors = []; window.kmCsp = [];
window.addEventListener('error', (e) => window.kmErrors.push(e.message || (e.target && e.target.outerHTML) || 'error'), true);
document.addEventListener('securitypolicyviolation', (e) => window.kmCsp.push(`${e.violatedDirective} ${e.blockedURI}`));"""


def page(driver):
    return driver.execute_script(COUNTS_JS)


def tiles_ready(driver):
    t = driver.execute_script(TILES_JS)
    return t if t["srcs"] and t["loaded"] == len(t["srcs"]) else None


def scale_metres(text):
    m = re.match(r"\s*([\d.]+)\s*(m|km)\b", text)
    return float(m.group(1)) * (1000 if m.group(2) == "km" else 1) if m else None


def save_shot(driver, path):
    expect(driver.save_screenshot(path), f"a screenshot saved as {path}")
    print(f"screenshot: {path}", flush=True)


def median(values):
    s = sorted(values)
    return s[len(s) // 2] if s else float("nan")


# ---- The run ---------------------------------------------------------------------------------
def check_base_map(rig, driver):
    """The magenta offline layer under the map, enlarged beyond zoom 3."""
    tiles = wait_for(lambda: tiles_ready(driver), 8, 0.1)
    expect(tiles, "the base map's tiles load within 8 s, "
           f"got {driver.execute_script(TILES_JS)['srcs'][:4]}")
    zooms = set()
    for src in tiles["srcs"]:
        m = re.search(r"/tiles/[^/]+/(\d+)/(\d+)/(\d+)", src)
        expect(m, f"every tile comes from an offline layer's /tiles/ URL, got {src!r}")
        zooms.add(int(m.group(1)))
    expect(max(zooms) <= 3, f"tiles of zoom 3 at most (the layer's maxzoom), got zooms {zooms}")
    metres = scale_metres(tiles["scale"])
    expect(metres is not None and metres <= 2000,
           f"the view zoomed in on the car beyond zoom 3 (a scale bar of 2 km or less), "
           f"got scale {tiles['scale']!r}")
    png = driver.get_screenshot_as_png()
    rect = [v * tiles["ratio"] for v in tiles["rect"]]
    share = colour_share(png, rect, MAGENTA)
    rig.figure(f"figure: base map magenta share {share:.2f} of the map area "
               f"(tile zooms {sorted(zooms)}, scale bar {tiles['scale'].strip()})")
    if share < 0.5:
        with open(os.path.join(rig.shots, "live-map-basemap-failed.png"), "wb") as f:
            f.write(png)
        raise Failure(f"the magenta test layer over at least half of the map area, got "
                      f"{share:.0%} (live-map-basemap-failed.png)")


def make_plot(rig, driver, latencies):
    """One press of the space bar; the new row in the plot log and its line on the page."""
    before = len(rig.plot_rows())
    shown_before = page(driver)["bearing"]
    pressed = time.monotonic()
    rig.press_plot()
    logged = None
    on_page = None
    written_ms = None
    while time.monotonic() - pressed < SHOWN_WITHIN_S + 1:
        now = time.monotonic()
        if logged is None and len(rig.plot_rows()) > before:
            logged = now
            # the log is written whole with every plot: its time is the new row's
            written_ms = os.stat(rig.folder + "Current_Plots.csv").st_mtime_ns / 1e6
        if on_page is None and page(driver)["bearing"] > shown_before:
            on_page = now
        if logged is not None and on_page is not None:
            break
        time.sleep(0.02)
    expect(logged is not None, f"the space bar makes a plot: a row in Current_Plots.csv within "
           f"{SHOWN_WITHIN_S + 1:.0f} s (still {before} rows)")
    rows = rig.plot_rows()
    expect(rows[-1].get("bearing", "") != "", f"the new plot row has a bearing: {rows[-1]}")
    expect(on_page is not None and on_page - logged <= SHOWN_WITHIN_S,
           f"plot {rows[-1].get('plot')}'s bearing line on the page within {SHOWN_WITHIN_S:.0f} s "
           f"of its row in the log, the page still has {page(driver)['bearing']} km-bearing")
    expect(page(driver)["marker"], "the page was not reloaded (window.kmMarker is still set)")
    drawn_ms = [t for n, t in driver.execute_script("return window.kmSeen || [];")
                if n > shown_before]
    expect(drawn_ms, "the page's MutationObserver saw the new bearing line")
    latencies.append((drawn_ms[0] - written_ms) / 1000)
    # the button is busy for three seconds after a plot
    time.sleep(max(0.0, pressed + PLOT_GAP_S - time.monotonic()))
    return rows


def settle(driver, want, seconds=3):
    """The page's counts once they equal `want` (a dict of some keys), or the last seen."""
    seen = {}

    def check():
        seen.update(page(driver))
        return all(seen[k] == v for k, v in want.items())

    wait_for(check, seconds, 0.1)
    return seen


def first_hunt(rig, driver, latencies):
    driver.execute_script("window.kmMarker = 1;" + WATCH_JS)
    rows = []
    while True:
        rows = make_plot(rig, driver, latencies)
        bearing_rows = [r for r in rows if r.get("bearing")]
        rejected = [r for r in bearing_rows if r.get("used") == "0"]
        if len(bearing_rows) >= 5 and rig.fix_shown() and rejected:
            break
        expect(len(rows) < MAX_PLOTS,
               f"within {MAX_PLOTS} plots a fix (Current_Estimate.kml with a point: "
               f"{rig.fix_shown()}) and a rejected bearing (rows with used 0: {len(rejected)})")
    for r in rows:
        expect(r.get("position_source") == "GPS" and r.get("bearing_source") == "DF",
               f"every plot from GPS POS and DF BRG (the clicks took), got row {r}")
    n = len(bearing_rows)
    seen = settle(driver, {"bearing": n, "plot": len(rows), "estimate": 1, "ellipse": 1, "car": 1})
    print(f"plots: {len(rows)} in the log, {n} with a bearing, {len(rejected)} with used 0; "
          f"page: {seen['bearing']} km-bearing, {seen['plot']} km-plot, "
          f"{seen['rejected']} km-rejected", flush=True)
    print(f"status line on the page: {seen['status']}", flush=True)
    expect(seen["bearing"] == n, f"{n} km-bearing (the log's rows with a bearing), "
           f"got {seen['bearing']}")
    expect(seen["plot"] == len(rows), f"{len(rows)} km-plot, got {seen['plot']}")
    expect(seen["estimate"] == 1 and seen["ellipse"] == 1,
           f"one km-estimate and one km-ellipse with the fix shown, got {seen['estimate']} "
           f"and {seen['ellipse']}")
    expect(seen["car"] == 1, f"one km-car, got {seen['car']}")
    expect(seen["track"] == 1, f"one km-track, got {seen['track']}")
    expect(not seen["night"], "no km-night on the body with the day panel")
    expect(seen["marker"], "the page was not reloaded (window.kmMarker is still set)")

    # The rejected bearings: the log's verdict is the one made with each plot; a later estimate
    # may change an earlier one, and the page always shows the latest. Both agree unless it did.
    logged = sorted(int(r["plot"]) for r in rejected)
    current = rig.estimate_now()
    latest = sorted(current["rejected"]) if current and "rejected" in current else None
    on_page = sorted(int(p) for p in seen["rejectedPlots"])
    print(f"rejected plots: log {logged}, page {on_page}, kestrel-estimate now {latest}",
          flush=True)
    expect(seen["rejected"] >= 1, "at least one km-bearing with km-rejected once the log has "
           f"a row with used 0 (plots {logged})")
    expect(seen["rejected"] == len(on_page), f"as many km-rejected lines ({seen['rejected']}) "
           f"as plot markers with km-verdict-rejected ({on_page})")
    if latest is None or latest == logged:
        expect(seen["rejected"] == len(logged) and on_page == logged,
               f"the rejected plots {logged} (used 0 in the log) drawn rejected, "
               f"the page has {seen['rejected']} km-rejected, for plots {on_page}")
    else:
        expect(on_page == latest,
               f"the plots the latest estimate rejects {latest} drawn rejected (the log's "
               f"verdicts at plotting time were {logged}), the page has {on_page}")
    return rows


HOSTILE_NOTE = '"><img src=x onerror=alert(1)>'


def console_errors(driver):
    """The page's console entries of level SEVERE since the last call."""
    return [e.get("message", "") for e in driver.get_log("browser") if e.get("level") == "SEVERE"]


def review_plot(rig, driver):
    """The hunter's taps: a plot used in the fix opened from its marker, left out of the fix, given
    a note with markup in it, and used again; each seen in the page, the plot log and the status
    line within SHOWN_WITHIN_S."""
    console_errors(driver)  # what came before this step is not its own
    driver.execute_script(TRAP_JS)
    used = driver.execute_script(
        "return Array.from(document.querySelectorAll('.km-plot.km-verdict-used:not(.km-team)'))"
        ".map((e) => e.querySelector('.km-plot-label').textContent.trim());")
    expect(used, f"a plot marker with km-verdict-used, got none of {page(driver)['plot']} km-plot")
    # Not the newest: the car is over it.
    plot = None
    for n in used[-2::-1] + used[-1:]:
        driver.execute_script(CENTRE_ON_PLOT_JS, n)
        if wait_for(lambda: driver.execute_script(PLOT_JS, n)["hit"], 1, 0.05):
            plot = n
            break
    expect(plot is not None, f"one of the used plots {used} where a tap reaches its marker "
           "(nothing drawn over it)")
    shown = driver.execute_script(PLOT_JS, plot)
    expect(shown["line"] is not None and "km-excluded" not in shown["line"],
           f"plot {plot}'s bearing line drawn and not km-excluded, got classes {shown['line']}")

    def log_row():
        return next((r for r in rig.plot_rows() if r.get("plot") == plot), None)

    def status():
        return page(driver)["status"]

    row = log_row()
    expect(row is not None and row.get("excluded") == "" and row.get("used") == "1",
           f"plot {plot} in the plot log with used 1 and excluded empty, got {row}")
    marker = driver.execute_script(
        "return Array.from(document.querySelectorAll('.km-plot')).find((e) => "
        "e.querySelector('.km-plot-label').textContent.trim() === arguments[0]);", plot)
    marker.click()
    card = wait_for(lambda: (lambda c: c if c["open"] and c["button"] else None)(
        driver.execute_script(CARD_JS)), SHOWN_WITHIN_S)
    seen = driver.execute_script(CARD_JS)
    expect(card and card["title"] == f"Plot {plot}" and card["button"] == "Leave out of the fix",
           f"a tap on plot {plot}'s marker opens its card (Plot {plot}, a button 'Leave out of the "
           f"fix'), got open {seen['open']}, title {seen['title']!r}, button {seen['button']!r}")

    def leave_out(out):
        words = "Leave out of the fix" if out else "Use again"
        button = driver.find_element("id", "km-card-exclude")
        expect(button.text == words, f"the card's button says {words!r}, got {button.text!r}")
        t = time.monotonic()
        button.click()
        got = {}

        def check():
            got["line"] = driver.execute_script(PLOT_JS, plot)["line"] or []
            got["row"] = log_row() or {}
            got["status"] = status()
            return (("km-excluded" in got["line"]) == out
                    and got["row"].get("excluded") == ("1" if out else "")
                    and ("1 left out by hand" in got["status"]) == out
                    and (out or "left out by hand" not in got["status"]))

        ok = wait_for(check, SHOWN_WITHIN_S)
        took = time.monotonic() - t
        state = "left out" if out else "used again"
        expect(ok, f"plot {plot} {state} within {SHOWN_WITHIN_S:.0f} s of the card's button: its "
               f"line {'with' if out else 'without'} km-excluded (classes {got['line']}), excluded "
               f"{'1' if out else 'empty'} in the plot log (got {got['row'].get('excluded')!r}), "
               f"the status strip {'saying' if out else 'without'} '1 left out by hand' "
               f"(got {got['status']!r})")
        marker_cls = driver.execute_script(PLOT_JS, plot)["marker"] or []
        expect(("km-excluded" in marker_cls) == out, f"plot {plot}'s marker "
               f"{'with' if out else 'without'} km-excluded, got classes {marker_cls}")
        again = "Use again" if out else "Leave out of the fix"
        label = wait_for(lambda: driver.execute_script(CARD_JS)["button"] == again, 2)
        expect(label, f"the card's button then says {again!r}, got "
               f"{driver.execute_script(CARD_JS)['button']!r}")
        return took

    took_out = leave_out(True)
    print(f"plot {plot} left out: status line on the page: {status()}", flush=True)

    # A note with markup in it: kept as typed, shown as text, nothing of it run.
    note_box = driver.find_element("id", "km-card-note")
    note_box.clear()
    note_box.send_keys(HOSTILE_NOTE)
    t = time.monotonic()
    driver.find_element("id", "km-card-save").click()
    try:
        saved = wait_for(lambda: (log_row() or {}).get("note") == HOSTILE_NOTE
                         and (driver.execute_script(PLOT_JS, plot)["markerNote"] == HOSTILE_NOTE),
                         SHOWN_WITHIN_S)
        took_note = time.monotonic() - t
        shown = driver.execute_script(PLOT_JS, plot)
        expect(saved, f"the note {HOSTILE_NOTE!r} in the plot log's note column and in plot "
               f"{plot}'s tooltip within {SHOWN_WITHIN_S:.0f} s, got {(log_row() or {}).get('note')!r}"
               f" in the log, {shown['markerNote']!r} in the tooltip")
        driver.execute_script("""
            const n = String(arguments[0]);
            window.kmLive.map.eachLayer((l) => {
              const e = typeof l.getElement === 'function' ? l.getElement() : null;
              const label = e && e.classList && e.classList.contains('km-plot') ? e.querySelector('.km-plot-label') : null;
              if (label && label.textContent.trim() === n) l.openTooltip();
            });""", plot)
        time.sleep(0.3)  # an image that failed to load would have called its handler by now
        try:
            alert = driver.switch_to.alert
            text = alert.text
            alert.dismiss()
            raise Failure(f"no alert from the note shown, got an alert saying {text!r}")
        except NoAlertPresentException:
            pass
        card = driver.execute_script(CARD_JS)
    except UnexpectedAlertPresentException as e:
        raise Failure(f"no alert from the note shown, got an alert saying {e.alert_text!r}")
    expect(shown["lineNote"] == HOSTILE_NOTE, f"the note as text in plot {plot}'s line tooltip, "
           f"got {shown['lineNote']!r}")
    expect(card["rows"].get("Note") == HOSTILE_NOTE, f"the note as text in the card's Note row, "
           f"got {card['rows'].get('Note')!r}")
    expect(card["note"] == HOSTILE_NOTE, f"the note field keeps the note, got {card['note']!r}")
    tips = [t for t in card["tooltips"] if HOSTILE_NOTE in t[0]]
    expect(tips and all(n == 0 for _, n in tips),
           f"the open tooltip shows the note as text, with no img in it, got {card['tooltips']}")
    expect(not card["imgs"] and shown["imgsInTips"] == 0,
           f"no img element in the page besides the map's tiles, got {card['imgs']}")
    errors = console_errors(driver)
    expect(not errors and not card["errors"] and not card["csp"],
           f"no console errors, error events or refused content, got console {errors}, "
           f"errors {card['errors']}, content security policy {card['csp']}")
    print(f"plot {plot}'s note: log {log_row().get('note')!r}, card {card['rows'].get('Note')!r}, "
          f"outcome {card['outcome']!r}", flush=True)

    took_in = leave_out(False)
    driver.find_element("id", "km-card-close").click()
    expect(wait_for(lambda: not driver.execute_script(CARD_JS)["open"], 2),
           "the card closes with its Close button")
    rig.figure(f"figure: the card's button to the line, plot log and status line changed: left out "
               f"{took_out * 1000:.0f} ms, used again {took_in * 1000:.0f} ms; the note saved to "
               f"the log and the tooltip {took_note * 1000:.0f} ms (polled every 50 ms)")


# A page of another site: the tries a hostile page in the same browser can make at leaving a plot
# out, each outcome noted in window.results, and window.results.done once all have settled (each
# gives up after 2.5 s).
OTHER_SITE_HTML = """<!doctype html>
<html><head><meta charset="utf-8"><title>Another site</title></head><body>
<iframe name="sink" id="sink" style="display:none"></iframe>
<form id="form" method="POST" enctype="text/plain" target="sink" action="__URL__">
<input type="hidden" name='{"excluded": true, "x": "' value='"}'>
</form>
<script>
const url = "__URL__", map = "__MAP__";
const results = window.results = { ws_opened: false, errors: {} };
const waited = ["form", "no_cors", "preflighted", "ws", "read_token"];
const note = (name, value) => {
  if (name in results) return;
  results[name] = value;
  if (waited.every((n) => n in results)) results.done = true;
};
const failed = (name) => (e) => { results.errors[name] = String(e && e.name || e); note(name, "failed"); };
const limit = () => { const c = new AbortController(); setTimeout(() => c.abort(), 2500); return c.signal; };
for (const name of waited) setTimeout(() => note(name, "not settled in 2.5 s"), 2600);

// A form posted as text/plain whose one field makes the body JSON.
let sent = false;
document.getElementById("sink").addEventListener("load", () => { if (sent) note("form", "frame loaded"); });
sent = true;
document.getElementById("form").submit();

// A simple request the page cannot read the answer of.
fetch(url, { method: "POST", mode: "no-cors", headers: { "Content-Type": "text/plain" },
             body: '{"excluded": true}', signal: limit() })
  .then((r) => note("no_cors", `opaque answer (type ${r.type}, status ${r.status})`), failed("no_cors"));

// The request the map page makes, with a guessed token: preflighted.
fetch(url, { method: "POST", headers: { "Content-Type": "application/json", "X-Kestrelmap-Token": "guess" },
             body: '{"excluded": true}', signal: limit() })
  .then((r) => note("preflighted", `answered ${r.status}`), failed("preflighted"));

// The live socket.
try {
  const ws = new WebSocket(map.replace(/^http:/, "ws:") + "/live");
  ws.onopen = () => { results.ws_opened = true; ws.close(); };
  ws.onclose = (e) => note("ws", `closed, code ${e.code}`);
} catch (e) { failed("ws")(e); }

// The token, from the snapshot.
fetch(map + "/hunt.geojson", { mode: "cors", cache: "no-store", signal: limit() })
  .then((r) => r.text().then((t) => note("read_token", `read, ${r.status}: ${t.slice(0, 120)}`)),
        failed("read_token"));
</script>
</body></html>
"""


def other_site(rig, driver):
    """A page of another site, open in a tab of the same browser, cannot leave a plot out: not by
    a text/plain form, a no-cors fetch or a preflighted fetch with a guessed token; it cannot open
    /live nor read the snapshot's token. The plot stays used in the plot log, the snapshot and
    the status line; the same request made right (own Origin, the real token, JSON) does leave
    it out, and then uses it again."""
    rows = rig.plot_rows()
    target = next((r for r in rows if r.get("used") == "1" and r.get("excluded") == ""
                   and r.get("bearing")), None)
    expect(target is not None, f"a plot in the log with used 1 and excluded empty, got {rows}")
    plot = target["plot"]

    def log_row():
        return next((r for r in rig.plot_rows() if r.get("plot") == plot), {})

    def feature(snapshot):
        return next((f for f in snapshot.get("features", []) if f.get("properties", {}).get(
            "kind") == "plot" and str(f["properties"].get("plot")) == plot
            and not f["properties"].get("vehicle")), None)

    snap = rig.snapshot()
    found = feature(snap)
    expect(found is not None and isinstance(found["properties"].get("row"), int),
           f"plot {plot} in /hunt.geojson with its row, got {found}")
    row = found["properties"]["row"]
    token = snap.get("token")
    expect(isinstance(token, str) and token, f"a token in /hunt.geojson, got {token!r}")
    map_origin = rig.url.rstrip("/")
    url = f"{map_origin}/plots/{row}"

    status_before = page(driver)["status"]
    expect("left out by hand" not in status_before,
           f"no plot left out by hand before the other site's page, got {status_before!r}")
    other = rig.serve_page(OTHER_SITE_HTML.replace("__URL__", url).replace("__MAP__", map_origin))
    expect(other.rstrip("/") != map_origin, "the other site on another port")
    map_tab = driver.current_window_handle
    t = time.monotonic()
    driver.switch_to.new_window("tab")
    try:
        driver.get(other)
        results = wait_for(lambda: driver.execute_script(
            "return window.results && window.results.done ? window.results : null;"), 3, 0.05)
        if not results:
            results = driver.execute_script("return window.results || null;")
        took = time.monotonic() - t
    finally:
        driver.close()
        driver.switch_to.window(map_tab)
    expect(results and results.get("done"), f"every try of the other site's page settled "
           f"within 3 s, got {results}")
    expect(results["ws_opened"] is False, f"the other site's WebSocket to /live never opened, "
           f"got ws_opened {results['ws_opened']} ({results.get('ws')})")
    expect(results["read_token"] == "failed", f"the other site's read of /hunt.geojson failed "
           f"(no CORS), got {results['read_token']!r}")
    expect(results["preflighted"] == "failed", f"the other site's preflighted POST failed "
           f"(no CORS), got {results['preflighted']!r}")

    # The program's side: nothing changed (given the time a change takes to be written).
    seen = {}

    def changed():
        seen["row"] = log_row()
        seen["status"] = page(driver)["status"]
        return (seen["row"].get("excluded") != "" or seen["row"].get("used") != "1"
                or "left out by hand" in seen["status"])

    expect(not wait_for(changed, 0.5), f"plot {plot} still used after the other site's page: "
           f"excluded empty and used 1 in the plot log, got excluded "
           f"{seen['row'].get('excluded')!r} used {seen['row'].get('used')!r}; the status line "
           f"without 'left out by hand', got {seen['status']!r}")
    after = feature(rig.snapshot()) or {}
    expect(after.get("properties", {}).get("excluded") is False,
           f"plot {plot} not excluded in /hunt.geojson, got {after.get('properties')}")

    # The same request made right, from here: it does leave the plot out, and uses it again.
    headers = {"Origin": map_origin, "X-Kestrelmap-Token": token,
               "Content-Type": "application/json"}
    took_own = {}
    for out in (True, False):
        body = json.dumps({"excluded": out}).encode()
        t = time.monotonic()
        status, answer = rig.request(f"/plots/{row}", body, headers)
        expect(status == 200, f"POST /plots/{row} {body.decode()} with this server's Origin, "
               f"the snapshot's token and application/json answered 200, got {status}: "
               f"{answer[:200]!r}")
        want = "1" if out else ""

        def done():
            seen["row"] = log_row()
            seen["status"] = page(driver)["status"]
            return (seen["row"].get("excluded") == want
                    and ("1 left out by hand" in seen["status"]) == out
                    and (out or "left out by hand" not in seen["status"]))

        ok = wait_for(done, SHOWN_WITHIN_S)
        took_own[out] = time.monotonic() - t
        expect(ok, f"plot {plot} {'left out' if out else 'used again'} within "
               f"{SHOWN_WITHIN_S:.0f} s of the own POST: excluded {want or 'empty'} in the plot "
               f"log (got {seen['row'].get('excluded')!r}), the status line "
               f"{'saying' if out else 'without'} '1 left out by hand' (got {seen['status']!r})")
    print(f"another site's page ({took * 1000:.0f} ms): form {results['form']!r}, no-cors "
          f"{results['no_cors']!r}, preflighted {results['preflighted']!r}, /live opened "
          f"{results['ws_opened']} ({results['ws']}), token read {results['read_token']!r} "
          f"(errors {results.get('errors')}); plot {plot} (row {row}) still used in the log "
          f"and the status line; own POST: left out {took_own[True] * 1000:.0f} ms, used again "
          f"{took_own[False] * 1000:.0f} ms", flush=True)


def main(program, sim, shots, estimate_tool=None):
    for tool in ("Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            skip(f"{tool} is not installed")
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            skip(f"{path} is missing (Debian's chromium and chromium-driver)")
    os.makedirs(shots, exist_ok=True)
    run_started = time.monotonic()
    rig = Rig(program, sim, shots, estimate_tool)
    failed = None
    try:
        make_mbtiles(rig.folder + "maps/test-area.mbtiles")
        rig.start_xvfb()
        rig.start_sim()
        rig.start_app()
        driver = rig.browser("desktop")
        t = time.monotonic()
        driver.get(rig.url)
        loaded = time.monotonic() - t
        expect(driver.title == "Kestrelmap live map",
               f"the page's title 'Kestrelmap live map', got {driver.title!r}")
        live = wait_for(lambda: "km-conn-live" in page(driver)["conn"], 5)
        expect(live, f"the page connects to /live within 5 s, got {page(driver)['conn']!r}")
        t_live = time.monotonic() - t
        expect(wait_for(lambda: page(driver)["car"] == 1, 8),
               f"the car on the page within 8 s of GPS POS, got {page(driver)}")
        tiles = wait_for(lambda: tiles_ready(driver), 8, 0.1)
        t_tiles = time.monotonic() - t
        rig.figure(f"figure: page load {loaded * 1000:.0f} ms (load event), live socket "
                   f"{t_live * 1000:.0f} ms, car and base map tiles {t_tiles * 1000:.0f} ms")
        if not tiles:
            t = driver.execute_script(TILES_JS)
            raise Failure(f"the base map's tiles loaded and shown within 8 s, got {t['loaded']} "
                          f"of {len(t['srcs'])} ({t['srcs'][:3]})")
        check_base_map(rig, driver)

        latencies = []
        rows = first_hunt(rig, driver, latencies)
        rig.figure(f"figure: plot in the log to its line on the page: median "
                   f"{median(latencies) * 1000:.0f} ms, max {max(latencies) * 1000:.0f} ms "
                   f"over {len(latencies)} plots (the log file's time to the page's MutationObserver)")
        wait_for(lambda: tiles_ready(driver), 3, 0.1)
        save_shot(driver, os.path.join(shots, "live-map-day.png"))
        review_plot(rig, driver)
        other_site(rig, driver)

        # A second start with the night panel, on the same port: the open page finds it again.
        first_stamps = rig.stamps()
        expect(len(first_stamps) == 1, f"one hunt's plot log, got {first_stamps}")
        rig.set_night()
        stopped = time.monotonic()
        rig.stop_app()
        down = wait_for(lambda: "km-conn-down" in page(driver)["conn"], 5)
        expect(down, f"the page notices the program is gone (km-conn-down), got "
               f"{page(driver)['conn']!r}")
        time.sleep(max(0.0, stopped + 1.2 - time.monotonic()))
        restarted = rig.start_app()
        back = settle(driver, {"bearing": 0, "plot": 0, "night": True}, 10)
        expect("km-conn-live" in back["conn"] and back["bearing"] == 0 and back["plot"] == 0,
               f"the page back live with the new hunt's empty map within 10 s of the restart, "
               f"got {back['conn']!r}, {back['bearing']} km-bearing, {back['plot']} km-plot")
        rig.figure(f"figure: page live again {(time.monotonic() - restarted) * 1000:.0f} ms "
                   f"after the program was started again (window up and clicks included)")
        expect(back["night"], "body.km-night with night = true in Kestrelmap.conf")
        expect(back["marker"], "the page reconnected by itself without a reload "
               "(window.kmMarker is still set)")
        stamps = rig.stamps()
        new = [s for s in stamps if s not in first_stamps]
        expect(len(new) == 1, f"a new hunt's plot log after the restart, got {stamps}")
        second = []
        for _ in range(2):
            make_plot(rig, driver, second)
        n2 = len([r for r in rig.plot_rows() if r.get("bearing")])
        seen = settle(driver, {"bearing": n2})
        expect(seen["bearing"] == n2 and n2 == 2,
               f"the new hunt's 2 plots on the page, got {seen['bearing']} km-bearing, "
               f"{n2} in the log")
        # The page names the hunt it shows in its list of hunts.
        driver.find_element("id", "km-hunts").click()
        m = re.fullmatch(r"(\d\d)(\d\d)(\d\d)_(\d\d)(\d\d)(\d\d)", new[0])
        want = f"20{m[3]}-{m[1]}-{m[2]} {m[4]}:{m[5]}:{m[6]}"
        current = wait_for(lambda: driver.execute_script(
            "const e = document.querySelector('.km-hunt.km-current .km-hunt-when');"
            "return e ? e.textContent : '';"), 3)
        expect(current == want, f"the Hunts panel marks the new hunt {want} as the live one, "
               f"got {current!r}")
        driver.find_element("id", "km-hunts-close").click()
        driver.find_element("id", "km-fit").click()
        wait_for(lambda: tiles_ready(driver), 3, 0.1)
        time.sleep(0.5)
        save_shot(driver, os.path.join(shots, "live-map-night.png"))
        latencies += second

        # The phone: a narrow, touch viewport.
        phone = rig.browser("phone", phone=True)
        phone.get(rig.url)
        view = phone.execute_script("return [window.innerWidth, window.innerHeight, "
                                    "navigator.maxTouchPoints, matchMedia('(pointer: coarse)').matches];")
        expect(view[0] == 390 and view[1] == 844 and view[2] > 0,
               f"a 390 x 844 touch viewport, got {view[0]} x {view[1]}, {view[2]} touch points")
        got = wait_for(lambda: page(phone)["bearing"] == n2 and tiles_ready(phone), 8, 0.1)
        expect(got, f"the phone's page shows the hunt's {n2} bearing lines, got {page(phone)}")
        time.sleep(0.5)
        save_shot(phone, os.path.join(shots, "live-map-phone.png"))
        rig.figure(f"figure: over all {len(latencies)} plots, log to page median "
                   f"{median(latencies) * 1000:.0f} ms, max {max(latencies) * 1000:.0f} ms")
    except Failure as f:
        failed = str(f)
    except WebDriverException as e:
        failed = f"the browser: {e.msg}"
    finally:
        rig.quit_drivers()
        rig.stop_servers()
        rig.procs.stop_all()
    print(f"figure: whole run {time.monotonic() - run_started:.1f} s", flush=True)
    if failed:
        print(f"FAIL: expected {failed}")
        for name in ("kestrelmap-1.log", "kestrelmap-2.log", "kestrel-sim.log"):
            text = rig.log_text(name)
            if text.strip():
                print(f"--- {name} (end) ---\n{text}")
        shutil.rmtree(rig.tmp, ignore_errors=True)
        return 1
    shutil.rmtree(rig.tmp, ignore_errors=True)
    print("PASS")
    return 0


if __name__ == "__main__":
    end_on_signals()
    if len(sys.argv) not in (4, 5):
        print(__doc__)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
