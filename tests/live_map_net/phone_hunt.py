#!/usr/bin/python3
"""The shared live map seen from a phone, run by phone_test.py inside the phone's network
namespace. In the car's: mosquitto on its loopback, and two Kestrelmaps of one team under one
Xvfb, each fed by its own kestrel-sim: car A shares its map on the car's address (three
plots), car B keeps its map on loopback (one plot). From the phone: the refusals without a session,
the lock after five wrong keys, the session cookie; in chromium with a phone's touch viewport
the link, the map, a page of another site that must not leave a plot out, and a tap that does,
seen in both cars' plot logs and estimates. Saves phone_shared_map.png.

Usage: phone_hunt.py CAR_NAMESPACE KESTRELMAP KESTREL_SIM KESTREL_ESTIMATE SCREENSHOT_DIR"""

import http.client
import http.server
import json
import os
import pwd
import re
import shutil
import socket
import stat
import subprocess
import sys
import threading
import time
from functools import partial
from types import SimpleNamespace

sys.dont_write_bytecode = True  # nothing of ours left beside the sources
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
import live_map_browser as lmb  # noqa: E402  the browser test's rig, page checks, other site
from browser_support import (Failure, Processes, end_on_signals, expect, free_port,  # noqa: E402
                             wait_for)

CAR_IP, PHONE_IP, PROBE_IP = "169.254.77.1", "169.254.77.2", "169.254.77.3"
LOCK_MS = 3000
A_PLOTS, B_PLOTS_AT = 3, (1,)  # car B plots along with car A's second
SHOWN_WITHIN_S = 5.0
UPGRADE = {"Upgrade": "websocket", "Connection": "Upgrade", "Sec-WebSocket-Version": "13",
           "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ=="}
CONF = """[map]
port = {port}
online_tiles =
{share}
[team]
name = kestrel
vehicle = {vehicle}
hunt = phone-{hunt}
broker = 127.0.0.1:{broker}
"""


def read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except OSError:
        return ""


class InCar(Processes):
    """Starts every process inside the car's network namespace."""

    def __init__(self, namespace):
        super().__init__()
        self.namespace = namespace

    def start(self, args, log, **kw):
        return super().start(["ip", "netns", "exec", self.namespace, *args], log, **kw)


class Car(lmb.Rig):
    def __init__(self, vehicle, seed, namespace, tools, broker, share=""):
        super().__init__(*tools)
        self.vehicle, self.seed, self.broker = vehicle, seed, broker
        self.procs = InCar(namespace)
        with open(self.folder + "Kestrelmap.conf", "w") as f:
            f.write(CONF.format(port=self.port, share=share, vehicle=vehicle, hunt=os.getpid(),
                                broker=broker))
        lmb.make_mbtiles(self.folder + "maps/test-area.mbtiles")

    def start_sim(self):
        self.procs.start([self.sim, "--folder", self.folder, "--port", "1", "--wall-clock",
                          "--seed", str(self.seed), "--no-stops", "--speed", "60",
                          "--tx-lat", lmb.TX_LAT, "--tx-lon", lmb.TX_LON],
                         self.log("kestrel-sim.log"))
        expect(wait_for(lambda: os.path.islink(self.folder + "COM1"), 5),
               f"kestrel-sim links {self.folder}COM1: {self.log_text('kestrel-sim.log')}")

    # X stays in the car's namespace, on its abstract socket only: no socket file in
    # /tmp/.X11-unix, where an Xvfb of another namespace may have the same display number.
    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.procs.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                          "-nolisten", "tcp", "-nolisten", "unix", "-noreset"],
                         self.log("xvfb.log"), pass_fds=[write_end])
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        expect(number.isdigit(), f"Xvfb gives its display number, got {number!r}: "
               f"{self.log_text('xvfb.log')}")
        self.display = ":" + number

    def xdotool(self, *args):
        # Two programs on one display: a search finds this car's windows only.
        if args[:1] == ("search",) and self.app is not None:
            pid = () if "--pid" in args else ("--pid", str(self.app.pid))
            args = ("search", "--all", *pid, *args[1:])
        return subprocess.run(["ip", "netns", "exec", self.procs.namespace, "xdotool", *args],
                              env=dict(os.environ, DISPLAY=self.display), capture_output=True,
                              text=True, timeout=10).stdout

    def rows_of(self, vehicle):
        return [r for r in self.plot_rows() if r.get("vehicle") == vehicle]

    def row(self, vehicle, plot):
        return next((r for r in self.rows_of(vehicle) if r.get("plot") == plot), {})


class SharedMap:
    """Requests to car A's shared map as the phone makes them, from one of its addresses."""

    def __init__(self, port):
        self.port, self.origin, self.cookie = port, f"http://{CAR_IP}:{port}", None

    def ask(self, path, source=PROBE_IP, method="GET", host=None, headers=None, body=None,
            cookie=True):
        head = dict(headers or {}, Host=host or f"{CAR_IP}:{self.port}")
        if cookie and (cookie is not True or self.cookie):
            head["Cookie"] = self.cookie if cookie is True else cookie
        conn = http.client.HTTPConnection(CAR_IP, self.port, timeout=5,
                                          source_address=(source, 0))
        try:
            conn.request(method, path, body, head)
            r = conn.getresponse()
            return SimpleNamespace(status=r.status, body=b"" if r.status == 101 else r.read(),
                                   headers={k.lower(): v for k, v in r.getheaders()})
        except (OSError, http.client.HTTPException) as e:
            raise Failure(f"an answer to {method} {path} from {source}, got {e!r}")
        finally:
            conn.close()


def check_table(m, row, token):
    """Each request without a session and with one: what it answers in each case."""
    name, live = socket.gethostname(), dict(UPGRADE, Origin=m.origin)
    post = {"path": f"/plots/{row}", "method": "POST", "body": b'{"excluded": true}'}
    json_head = {"Content-Type": "application/json", "Origin": m.origin}
    cases = [(f"GET {p}", {"path": p}, 401, 200) for p in (
        "/", "/map.js", "/hunt.geojson", "/hunts", "/layers", "/tiles/test-area/0/0/0")]
    cases += [
        ("GET /nope", {"path": "/nope"}, 401, 404),
        ("the /live upgrade", {"path": "/live", "headers": live}, 401, 101),
        ("POST /plots with a guessed token", dict(post, headers=dict(
            json_head, **{"X-Kestrelmap-Token": "guess"})), 401, 403),
        ("POST /plots with the token from another Origin", dict(post, headers=dict(
            json_head, Origin=f"http://rebind.test:{m.port}", **{"X-Kestrelmap-Token": token})),
         403, 403),
        ("a made-up session", {"path": "/", "cookie": "kestrelmap_session=" + "0" * 32}, 401, 401)]
    # The host name and the address asked; the loopback names are for loopback clients only.
    cases += [(f"GET / with Host {h}", {"path": "/", "host": h}, *want) for h, *want in (
        (f"{name}:{m.port}", 401, 200), (f"{name}.local:{m.port}", 401, 200),
        (f"localhost:{m.port}", 403, 403), (f"rebind.test:{m.port}", 403, 403),
        (f"{CAR_IP}:{m.port + 1}", 403, 403), (f"{PHONE_IP}:{m.port}", 403, 403))]
    wrong = []
    for what, kw, *want in cases:
        got = [m.ask(**dict(kw, cookie=kw.get("cookie", False))).status, m.ask(**kw).status]
        if got != want:
            wrong.append(f"{what}: {want[0]} without a session and {want[1]} with one expected, "
                         f"got {got[0]} and {got[1]}")
    expect(not wrong, "every request from the phone answered as expected:\n  "
           + "\n  ".join(wrong))


def lock_out(m, key):
    wrong = [m.ask(f"/?key={n:032x}", cookie=False).status for n in range(1, 6)]
    locked = time.monotonic()
    right, other = m.ask(f"/?key={key}", cookie=False), m.ask("/hunt.geojson", cookie=False)
    browser_side = m.ask("/", source=PHONE_IP, cookie=False)
    retry = right.headers.get("retry-after", "")
    expect(wrong == [401] * 5 and right.status == other.status == 429 and retry.isdigit()
           and 1 <= int(retry) <= 60 and browser_side.status == 401,
           f"5 wrong keys from {PROBE_IP} answered 401 each, then it is locked out: the right "
           f"key and /hunt.geojson 429 with Retry-After of 1 to 60 s, while / from {PHONE_IP} "
           f"still 401; got {wrong}, {right.status} (Retry-After {retry!r}), {other.status}, "
           f"{browser_side.status}")
    return locked


def session_cookie(answer):
    raw = answer.headers.get("set-cookie", "")
    parts = [p.strip() for p in raw.split(";")]
    name, _, value = parts[0].partition("=")
    attrs = {p.partition("=")[0].lower(): p.partition("=")[2] for p in parts[1:]}
    expect(answer.status == 303 and answer.headers.get("location") == "/"
           and name == "kestrelmap_session" and value and attrs.get("path") == "/"
           and attrs.get("max-age", "").isdigit() and int(attrs["max-age"]) > 0
           and "httponly" in attrs and attrs.get("samesite", "").lower() == "strict"
           and "secure" not in attrs,
           f"the right key after the lock answered 303 to / with Set-Cookie kestrelmap_session "
           f"(Path=/, Max-Age, HttpOnly, SameSite=Strict, no Secure over http), got "
           f"{answer.status}, Location {answer.headers.get('location')!r}, Set-Cookie {raw!r}")
    return f"{name}={value}"


def map_link(car, namespace):
    path = car.folder + "map.key"
    expect(wait_for(lambda: os.path.exists(path), 5), f"{path} made when sharing starts")
    key, mode = read(path).strip(), stat.S_IMODE(os.stat(path).st_mode)
    expect(re.fullmatch(r"[0-9a-f]{32}", key) and mode == 0o600,
           f"{path}: 32 lowercase hex characters, mode 0600, got {key!r} mode {mode:o}")
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    out = subprocess.run(["ip", "netns", "exec", namespace, car.program, "--map-link"],
                         env=dict(env, HOME=car.home), capture_output=True, text=True, timeout=15)
    want = f"http://{CAR_IP}:{car.port}/?key={key}\n"
    expect(out.returncode == 0 and out.stdout == want, f"kestrelmap --map-link printed "
           f"{want!r} and exited 0, got {out.returncode}: {out.stdout!r} {out.stderr[-300:]!r}")
    return want.strip(), key


def start_cars(a, b):
    a.start_xvfb()
    b.display = a.display
    conf = os.path.join(a.tmp, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write(f"listener {a.broker} 127.0.0.1\nallow_anonymous true\npersistence false\n"
                f"user {pwd.getpwuid(os.getuid()).pw_name}\n")
    a.procs.start(["mosquitto", "-c", conf], a.log("mosquitto.log"))
    expect(wait_for(lambda: " running" in a.log_text("mosquitto.log"), 5),
           f"mosquitto runs in the car: {a.log_text('mosquitto.log')}")
    for car in (a, b):
        car.start_sim()
        car.start_app()


def make_plots(a, b):
    for i in range(A_PLOTS):
        pressed = time.monotonic()
        for car in [a] + ([b] if i in B_PLOTS_AT else []):
            before = len(car.rows_of(car.vehicle))
            # Pressed again when the button is still busy: its timer runs late on a busy machine.
            expect(any(car.press_plot() or wait_for(
                lambda: len(car.rows_of(car.vehicle)) > before, 1.5) for _ in range(3)),
                   f"{car.vehicle}'s space bar makes a plot in its log, still {before}")
        if i + 1 < A_PLOTS:
            time.sleep(max(0.0, pressed + lmb.PLOT_GAP_S - time.monotonic()))
    for car, other, n in ((a, b, len(B_PLOTS_AT)), (b, a, A_PLOTS)):
        expect(wait_for(lambda: len(car.rows_of(other.vehicle)) == n, SHOWN_WITHIN_S),
               f"{n} plots of {other.vehicle} in {car.vehicle}'s plot log through the broker, "
               f"got {len(car.rows_of(other.vehicle))}")


def open_link(a, driver, link, m, shots):
    t = time.monotonic()
    driver.get(link)
    rows = a.plot_rows()
    want = {"bearing": sum(1 for r in rows if r["bearing"]), "plot": len(rows), "car": 1}
    seen = {}
    drawn = wait_for(lambda: seen.update(lmb.page(driver)) or (
        "km-conn-live" in seen["conn"] and all(seen[k] == v for k, v in want.items())
        and lmb.tiles_ready(driver)), 10, 0.1)
    took = time.monotonic() - t
    expect(drawn, f"the phone's map live (km-conn-live) with car A's plot log drawn {want} "
           f"and its tiles within 10 s of opening the link, got {seen}")
    expect(driver.current_url == m.origin + "/", f"the link ends on {m.origin}/, without key= "
           f"in the address bar, got {driver.current_url}")
    view = driver.execute_script("return [innerWidth, innerHeight, navigator.maxTouchPoints, "
                                 "document.cookie];")
    expect(view[:2] == [390, 844] and view[2] > 0 and "kestrelmap_session" not in view[3],
           f"a 390 x 844 touch viewport whose scripts cannot read the session cookie, got {view}")
    lmb.save_shot(driver, os.path.join(shots, "phone_shared_map.png"))
    return took


def centre_on_own_plot(driver, candidates):
    for n in candidates:
        driver.execute_script(lmb.CENTRE_ON_PLOT_JS, n)
        if wait_for(lambda: driver.execute_script(lmb.PLOT_JS, n)["hit"], 1, 0.05):
            return n
    raise Failure(f"one of car A's plots {candidates} where a tap reaches its marker")


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def other_site(m, a, driver, plot, row):
    site = os.path.join(a.tmp, "other-site")
    os.makedirs(site)
    with open(os.path.join(site, "index.html"), "w") as f:
        f.write(lmb.OTHER_SITE_HTML.replace("__URL__", f"{m.origin}/plots/{row}")
                .replace("__MAP__", m.origin))
    server = http.server.ThreadingHTTPServer((PHONE_IP, 0), partial(Quiet, directory=site))
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, args=(0.1,), daemon=True).start()
    url, map_tab = f"http://{PHONE_IP}:{server.server_address[1]}/", driver.current_window_handle
    try:
        driver.switch_to.new_window("tab")
        driver.get(url)
        results = wait_for(lambda: driver.execute_script(
            "return window.results && window.results.done ? window.results : null;"), 3, 0.05)
    finally:
        if driver.current_window_handle != map_tab:
            driver.close()
            driver.switch_to.window(map_tab)
        server.shutdown()
        server.server_close()
    expect(results and results["ws_opened"] is False and results["read_token"] == "failed"
           and results["preflighted"] == "failed", f"the other site's page ({url}) could neither "
           f"open /live nor read /hunt.geojson nor make its preflighted POST, got {results}")
    seen = {}

    def touched():
        seen.update(a.row("carA", plot))
        return seen.get("excluded") != ""

    expect(not wait_for(touched, 0.5),
           f"plot {plot} still used after the other site's page: excluded empty in car A's "
           f"plot log, got {seen.get('excluded')!r}")
    print(f"the other site's page: form {results['form']!r}, no-cors {results['no_cors']!r}, "
          f"/live {results['ws']!r}", flush=True)


def leave_out_by_tap(a, driver, plot):
    centre_on_own_plot(driver, [plot])
    driver.execute_script(
        "return Array.from(document.querySelectorAll('.km-plot:not(.km-team)')).find((e) => "
        "e.querySelector('.km-plot-label').textContent.trim() === arguments[0]);", plot).click()
    card = wait_for(lambda: (lambda c: c if c["open"] and c["button"] else None)(
        driver.execute_script(lmb.CARD_JS)), SHOWN_WITHIN_S)
    expect(card and card["title"] == f"Plot {plot}" and card["button"] == "Leave out of the fix",
           f"a tap on plot {plot} opens its card with 'Leave out of the fix', got {card}")
    tapped = time.monotonic()
    driver.find_element("id", "km-card-exclude").click()
    got = {}

    def left_out():
        got.update(row=a.row("carA", plot), status=lmb.page(driver)["status"],
                   line=driver.execute_script(lmb.PLOT_JS, plot)["line"] or [])
        return (got["row"].get("excluded") == "1" and "km-excluded" in got["line"]
                and "1 left out by hand" in got["status"])

    expect(wait_for(left_out, SHOWN_WITHIN_S), f"plot {plot} left out within "
           f"{SHOWN_WITHIN_S:.0f} s of the card's button: excluded 1 in car A's log (got "
           f"{got['row'].get('excluded')!r}), its line km-excluded (got {got['line']}), the "
           f"status line saying '1 left out by hand' (got {got['status']!r})")
    return tapped


def run(a, b, namespace, shots):
    start_cars(a, b)
    link, key = map_link(a, namespace)
    m = SharedMap(a.port)
    locked = lock_out(m, key)
    make_plots(a, b)  # longer than the lock
    time.sleep(max(0.0, locked + LOCK_MS / 1000 + 0.3 - time.monotonic()))
    m.cookie = session_cookie(m.ask(f"/?key={key}", cookie=False))
    driver = a.browser("phone", phone=True)
    first_map = open_link(a, driver, link, m, shots)

    own = driver.execute_script(
        "return Array.from(document.querySelectorAll('.km-plot:not(.km-team):not(.km-excluded)'))"
        ".map((e) => e.querySelector('.km-plot-label').textContent.trim());")
    plot = centre_on_own_plot(driver, own[-2::-1] + own[-1:])  # the car is over the newest
    got = m.ask("/hunt.geojson")
    expect(got.status == 200, f"/hunt.geojson with the session answered 200, got {got.status}")
    snap = json.loads(got.body)
    row = next((f["properties"].get("row") for f in snap.get("features", [])
                if f["properties"].get("kind") == "plot" and str(f["properties"].get("plot"))
                == plot and not f["properties"].get("vehicle")), None)
    expect(isinstance(row, int) and snap.get("token"), f"plot {plot} with its row and the "
           f"token in /hunt.geojson with the session, got row {row!r}, {str(snap)[:200]}")
    check_table(m, row, snap["token"])
    other_site(m, a, driver, plot, row)
    before = a.estimate_now()
    tapped = leave_out_by_tap(a, driver, plot)
    a_done = time.monotonic() - tapped
    after = a.estimate_now()
    expect(before and after and after["excluded"] == before["excluded"] + 1 == 1
           and after["plots"] == before["plots"] - 1, f"kestrel-estimate on car A's log leaves "
           f"plot {plot} out (excluded 0 to 1, plots one fewer), got {before} then {after}")

    seen = {}

    def dropped_by_b():
        seen.update(row=b.row("carA", plot), kml=read(b.folder + "Current_Estimate.kml"))
        return seen["row"].get("excluded") == "1" and re.search(
            rf"left out by hand: [^<]*\bcarA {plot}\b", seen["kml"])

    expect(wait_for(dropped_by_b, SHOWN_WITHIN_S), f"car B leaves carA's plot {plot} out within "
           f"{SHOWN_WITHIN_S:.0f} s: excluded 1 in its plot log (got "
           f"{seen['row'].get('excluded')!r}), 'left out by hand: ... carA {plot}' in its "
           f"estimate map (got {re.findall(r'<description>[^<]*', seen['kml'])})")
    b_done = time.monotonic() - tapped
    b_estimate = b.estimate_now()
    expect(b_estimate and b_estimate["excluded"] == 1, f"kestrel-estimate on car B's log leaves "
           f"one plot out, got {b_estimate}")
    print(f"figure: link to the phone's map drawn {first_map * 1000:.0f} ms; the card's button "
          f"to car A's log {a_done * 1000:.0f} ms, to car B's log and estimate map "
          f"{b_done * 1000:.0f} ms (polled every 50 ms)", flush=True)


def main(namespace, program, sim, estimate, shots):
    os.makedirs(shots, exist_ok=True)
    os.environ["KESTRELMAP_MAP_LOCKOUT_MS"] = str(LOCK_MS)
    started = time.monotonic()
    broker = free_port()  # the car's namespace is new: nothing else listens there
    tools = (program, sim, shots, estimate)
    a = Car("carA", 7, namespace, tools, broker, f"share = true\naddress = {CAR_IP}")
    b = Car("carB", 11, namespace, tools, broker)
    failed = None
    try:
        run(a, b, namespace, shots)
    except Failure as f:
        failed = str(f)
    except lmb.WebDriverException as e:
        failed = f"the browser: {e.msg}"
    finally:
        a.quit_drivers()
        b.procs.stop_all()
        a.procs.stop_all()
        print(f"figure: whole run {time.monotonic() - started:.1f} s", flush=True)
        if failed:
            print(f"FAIL: expected {failed}")
            for car in (a, b):
                for name in ("kestrelmap-1.log", "kestrel-sim.log", "mosquitto.log", "xvfb.log"):
                    if car.log_text(name).strip():
                        print(f"--- {car.vehicle} {name} (end) ---\n{car.log_text(name)}")
        for car in (a, b):
            shutil.rmtree(car.tmp, ignore_errors=True)
    if failed:
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    end_on_signals()
    if len(sys.argv) != 6:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
