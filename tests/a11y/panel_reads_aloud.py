#!/usr/bin/python3
"""The panel as a screen reader finds it: kestrelmap under a private Xvfb with the accessibility
bridge on (run inside dbus-run-session), its tree walked over AT-SPI. Checks that every control
is named, each digit register gives its digit, the position and bearing read as a whole, and
that a click made through AT-SPI is heard on the bus. Prints what a screen reader finds.
Exit 77 when Xvfb, a private session bus or pyatspi is missing."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

try:
    import gi

    gi.require_version("Atspi", "2.0")
    import pyatspi
    from gi.repository import GLib
except (ImportError, ValueError) as missing:
    print(f"skipped: {missing}")
    sys.exit(77)
if shutil.which("Xvfb") is None or "DBUS_SESSION_BUS_ADDRESS" not in os.environ:
    print("skipped: needs Xvfb and dbus-run-session")
    sys.exit(77)

POSITION = "34 degrees 25.11 minutes north, 119 degrees 44.50 minutes west"


def wait_for(check, seconds=10):
    """Polls `check`, letting the bus's events in meanwhile."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while GLib.MainContext.default().iteration(False):
            pass
        if check():
            return True
        time.sleep(0.02)
    return check()


def walk(node, depth=0, out=None):
    """(depth, role, name, description, text, node) for the node and all below it."""
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


def check_panel(app, expect):
    nodes = []
    wait_for(lambda: len(nodes.__setitem__(slice(None), walk(app)) or nodes) > 60)
    print("What a screen reader finds (role | name | description | text):")
    for depth, role, name, description, text, _ in nodes:
        print(f"{'  ' * depth}{role} | {name} | {description} | {text}")
    named = {name: (description, text, node) for _, _, name, description, text, node in nodes}
    buttons = [name for _, role, name, _, _, _ in nodes if role == "push button"]
    expect(sum(n.endswith((", up", ", down")) for n in buttons) == 32, "32 named step buttons")
    expect(not any(n.strip() in ("+", "-", "") for n in buttons), "no button called + or -")
    registers = [text for _, role, name, _, text, _ in nodes
                 if role == "label" and name.startswith(("Latitude, ", "Longitude, ", "Bearing, "))]
    expect(registers == list("3425111194450000"), f"the sixteen digits, got {registers}")
    expect(named.get("Position", [None])[0] == POSITION, "the position reads as a whole")
    expect(named.get("Bearing", [None])[0] == "bearing 000 degrees", "the bearing reads whole")
    if "Bearing, tens of degrees, up" not in named or "Show options" not in named:
        return expect(False, "the bearing's step buttons and SHOW OPTIONS are named")

    # A click through AT-SPI: the register's text and the DF frame's description follow, and
    # both changes are announced on the bus.
    heard = []
    for kind in ("object:text-changed", "object:property-change:accessible-description"):
        pyatspi.Registry.registerEventListener(
            lambda event: heard.append((event.type, event.source.name)), kind)
    named["Bearing, tens of degrees, up"][2].queryAction().doAction(0)
    register, frame = named["Bearing, tens of degrees"][2], named["Bearing"][2]
    expect(wait_for(lambda: register.queryText().getText(0, -1) == "1"), "the digit follows")
    expect(wait_for(lambda: frame.description == "bearing 010 degrees"), "the bearing follows")
    expect(wait_for(lambda: ("object:text-changed:insert", "Bearing, tens of degrees") in heard
                    and ("object:property-change:accessible-description", "Bearing") in heard),
           f"both changes heard on the bus, heard {heard}")

    # The options window, opened through AT-SPI, is named throughout as well.
    named["Show options"][2].queryAction().doAction(0)
    options = set()
    wait_for(lambda: options.update(n[2] for n in walk(app)) or "Hide options" in options)
    for name in ("Restore default colours", "Night panel: NIGHT PANEL", "Hide options",
                 "Choose display background colour", "Next serial port: COM PORT 1 : FREE"):
        expect(name in options, f"an options control named {name!r}")


def main(program):
    failures = []
    home = tempfile.mkdtemp(prefix="kestrel-a11y-")
    os.mkdir(os.path.join(home, "Kestrelmap"))
    master, slave = os.openpty()  # COM1, so no port message stands over the panel
    os.symlink(os.ttyname(slave), os.path.join(home, "Kestrelmap", "COM1"))
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp"],
                              pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        display = ":" + pipe.readline().strip()
    env = dict(os.environ, HOME=home, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    child = subprocess.Popen([program, "--map-port", "0"], env=env, stderr=subprocess.DEVNULL)
    try:
        apps = []
        wait_for(lambda: apps.extend(a for a in pyatspi.Registry.getDesktop(0)
                                     if a is not None and a.name == "kestrelmap") or apps)
        if not apps:
            failures.append("kestrelmap did not appear on the accessibility bus")
        else:
            check_panel(apps[0], lambda ok, what: ok or failures.append(what))
    finally:
        child.kill()
        child.wait()
        server.terminate()
        server.wait()
        os.close(master)
        os.close(slave)
        shutil.rmtree(home, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
