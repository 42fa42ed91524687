#!/usr/bin/python3
"""The panel as a screen reader finds it: starts kestrelmap under a private Xvfb with the
accessibility bridge on (run this inside dbus-run-session), walks the application's tree over
AT-SPI and checks that every control is named, that each digit register gives its digit and that
the position and bearing read as a whole, also after a click made through AT-SPI itself.
Prints what a screen reader announces. Exit 77 when Xvfb or pyatspi is missing."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77

try:
    import gi

    gi.require_version("Atspi", "2.0")
    import pyatspi
    from gi.repository import GLib
except (ImportError, ValueError) as missing:
    print(f"skipped: {missing}")
    sys.exit(SKIP)

if shutil.which("Xvfb") is None or "DBUS_SESSION_BUS_ADDRESS" not in os.environ:
    print("skipped: needs Xvfb and a private session bus (dbus-run-session)")
    sys.exit(SKIP)


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    return server, ":" + number


def find_app(name, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                return app
        time.sleep(0.1)
    return None


def walk(node, depth=0, out=None):
    out = [] if out is None else out
    try:
        text = node.queryText().getText(0, -1)
    except NotImplementedError:
        text = None
    out.append((depth, node.getRoleName(), node.name, node.description, text, node))
    for child in node:
        if child is not None:
            walk(child, depth + 1, out)
    return out


def wait_for(check, seconds=5):
    """Polls `check`, letting the bus's events in meanwhile."""
    end = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        if check():
            return True
        time.sleep(0.02)
    return check()


def main(program):
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    home = tempfile.mkdtemp(prefix="kestrel-a11y-")
    folder = os.path.join(home, "Kestrelmap")
    os.mkdir(folder)
    master, slave = os.openpty()  # COM1, so no port message stands over the panel
    os.symlink(os.ttyname(slave), os.path.join(folder, "COM1"))
    server, display = start_xvfb()
    env = dict(os.environ, HOME=home, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    child = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        app = find_app("kestrelmap")
        if app is None:
            print("FAIL: kestrelmap did not appear on the accessibility bus")
            return 1
        nodes = []
        wait_for(lambda: len(nodes.__setitem__(slice(None), walk(app)) or nodes) > 60, 10)

        print("What a screen reader finds on the panel (role | name | description | text):")
        for depth, role, name, description, text, _ in nodes:
            extra = (f" | {description}" if description else "") + \
                    (f" | text {text!r}" if text is not None and role != "push button" else "")
            print(f"{'  ' * depth}{role} | {name}{extra}")

        by_name = {name: (role, description, text, node)
                   for _, role, name, description, text, node in nodes}
        buttons = [n for _, role, n, _, _, _ in nodes if role == "push button"]
        steps = [n for n in buttons if n.endswith(", up") or n.endswith(", down")]
        expect(len(steps) == 32, f"32 named step buttons, found {len(steps)}")
        expect(not any(n.strip() in ("+", "-", "") for n in buttons),
               "no button called '+', '-' or nothing")
        registers = [(n, text) for _, role, n, _, text, _ in nodes
                     if role in ("static", "label") and text is not None and
                     ("degrees" in n or "minutes" in n) and "point" not in n]
        expect(len(registers) == 16, f"16 digit registers with a text, found {len(registers)}")
        expect(by_name.get("Latitude, tens of degrees", (0, 0, None))[2] == "3",
               "the latitude's tens of degrees read 3")
        expect(by_name.get("Bearing, units of degrees", (0, 0, None))[2] == "0",
               "the bearing's units read 0")
        position = by_name.get("Position", (None, None))[1]
        expect(position == "34 degrees 25.11 minutes north, 119 degrees 44.50 minutes west",
               f"the position reads as a whole, got {position!r}")
        bearing = by_name.get("Bearing", (None, None))[1]
        expect(bearing == "bearing 000 degrees", f"the bearing reads as a whole, got {bearing!r}")

        # A click through AT-SPI on the bearing's tens up button: the register's text and the
        # DF frame's description follow, and both changes are announced on the bus.
        events = []

        def heard(event):
            events.append((event.type, event.source.name if event.source else None))

        for kind in ("object:text-changed", "object:property-change:accessible-description"):
            pyatspi.Registry.registerEventListener(heard, kind)
        up = by_name.get("Bearing, tens of degrees, up")
        if up is None:
            failures.append("no 'Bearing, tens of degrees, up' button")
        else:
            up[3].queryAction().doAction(0)
            register = by_name["Bearing, tens of degrees"][3]
            frame = by_name["Bearing"][3]
            expect(wait_for(lambda: register.queryText().getText(0, -1) == "1"),
                   "the register reads 1 after the click")
            expect(wait_for(lambda: frame.description == "bearing 010 degrees"),
                   f"the bearing reads 010 after the click, got {frame.description!r}")
            expected_events = [("object:text-changed:insert", "Bearing, tens of degrees"),
                               ("object:property-change:accessible-description", "Bearing")]
            expect(wait_for(lambda: all(e in events for e in expected_events)),
                   f"the changes announced on the bus, heard {events}")

        # The options window, opened through AT-SPI: every control named as well.
        show = by_name.get("Show options")
        if show is None:
            failures.append("no 'Show options' button")
            return report(failures)
        show[3].queryAction().doAction(0)
        options = []
        expect(wait_for(lambda: any(n == "Kestrelmap options" for _, _, n, _, _, _ in
                                    options.__setitem__(slice(None), walk(app)) or options)),
               "the options window appears")
        print("The options window:")
        inside = False
        for depth, role, name, description, text, _ in options:
            inside = inside or name == "Kestrelmap options"
            if inside:
                print(f"{'  ' * depth}{role} | {name}")
        option_names = {name for _, _, name, _, _, _ in options}
        for name in ("Restore default colours", "Night panel: NIGHT PANEL", "Hide options",
                     "Choose display background colour", "Next serial port: COM PORT 1 : FREE"):
            expect(name in option_names, f"an options control named {name!r}")
    finally:
        child.terminate()
        try:
            child.wait(5)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
        server.terminate()
        server.wait()
        os.close(master)
        os.close(slave)
        shutil.rmtree(home, ignore_errors=True)

    return report(failures)


def report(failures):
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
