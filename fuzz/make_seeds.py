#!/usr/bin/env python3
"""Writes the small seed corpus of the fuzz targets into fuzz/corpus/. Run it again after a
change of the input format of a target; the files are kept in the repository.

Serial-line seeds are instrument logs as receivers of several makes send them, with the
target's two-byte commands (0xFF, command) between the lines: 0 delivers the gathered bytes at
line rate, 1 also raises an empty event straight at the receive handler, 2 ticks the time-out
timer, 3 the hold-off timer, 4 the plot timer, 5 lets eleven seconds pass, 6 presses the space
bar, 7 ADD PLOT, 8 RANGE, 9 TIMER, 10 and 11 the source switches, 12 makes the disk fail or
recover, 13 steps the port, 14 n presses entry button n, 15 activates the window; 0xE0 and
0xE1 answer an open message box with OK or Cancel, 0xD0 and 0xD1 ask to close the window (the
operator, the session). While a message box is open, the commands that follow run inside its
event loop."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def cmd(c, arg=None):
    return bytes([0xFF, c]) + (bytes([arg]) if arg is not None else b"")


def nmea(body):
    s = 0
    for ch in body.encode():
        s ^= ch
    return ("$%s*%02X\r\n" % (body, s)).encode()


def rmc(talker, t, status, lat, ns, lon, ew, speed, course, date="070326", tail=",,,A"):
    return nmea("%sRMC,%s,%s,%s,%s,%s,%s,%s,%s,%s%s" %
                (talker, t, status, lat, ns, lon, ew, speed, course, date, tail))


def second(parts):
    """One second of the line: the sentences, delivered at line rate, then a tick."""
    return b"".join(parts) + cmd(0) + cmd(2)


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def serial_seeds():
    # A hunt with a receiver that sends $GPRMC with checksums, bearings four times a second.
    hunt = b""
    for i in range(12):
        t = "0905%02d.00" % i
        lat = "3425.%04d" % (1100 + 37 * i)
        hunt += second([rmc("GP", t, "A", lat, "N", "11944.5012", "W", "22.4", "84.4"),
                        b"%123\r\n", b"%124\r\n", b"%131\r\n"])
        if i == 5:
            hunt += b"@PLOT\r\n" + cmd(0) + cmd(3)
    hunt += cmd(4) * 6
    write("serial_line", "gp_hunt_with_plots", hunt)

    # A multi-constellation receiver ($GNRMC, NMEA 4.1 with the nav status field), partial
    # deliveries split inside sentences, no checksum on one sentence.
    s = rmc("GN", "123519.00", "A", "4807.038", "N", "01131.000", "E", "022.4", "084.4",
            "230394", ",003.1,W,A,V")
    multi = s[:20] + cmd(0) + s[20:] + cmd(0) + b"%300\r" + cmd(1)
    multi += b"$GPRMC,123520,A,4807.125,N,01131.135,E,2.9,359.9,230394,,\r\n" + cmd(0)
    multi += b"%359\r\n" + cmd(0) + cmd(5) + b"%045\r\n" + cmd(0)
    write("serial_line", "gn_split_and_low_speed", multi)

    # Void fixes, an empty N/S field, longitude 180, minutes that round up, five-digit bearing.
    odd = rmc("GP", "000001", "V", "", "", "", "", "", "") + cmd(0) + cmd(2)
    odd += rmc("GP", "000002", "A", "4859.996", "", "01131.000", "E", "10", "10") + cmd(0)
    odd += rmc("GL", "000003", "a", "9000.000", "n", "18000.000", "e", "40000", "-5") + cmd(0)
    odd += b"%12345/\r\n%12\r" + cmd(0) + b"%-20\r%1e3\r%99999999999\r" + cmd(1) + cmd(1)
    odd += b"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n" + cmd(0)
    write("serial_line", "odd_fields", odd)

    # Noise of a car's ignition between good lines, with the operator at the buttons.
    noise = bytes(range(1, 0xFF)) + cmd(0xFF) + cmd(0)
    noise += rmc("GP", "101010", "A", "3425.1100", "N", "11944.5000", "W", "30.0", "270.0")
    noise += b"\x00\x13%2\x8a0\r\n" + cmd(0) + cmd(6) + cmd(8) + cmd(9) + cmd(14, 28)
    noise += cmd(10) + cmd(14, 3) + cmd(14, 32) + cmd(7) + cmd(3) + cmd(11) + cmd(14, 27)
    noise += cmd(13) + cmd(15) + cmd(13) + cmd(10) + cmd(0xE0) + cmd(1)
    write("serial_line", "noise_and_buttons", noise)

    # The disk fails under a plot: while its message box is open, the line and the timers go
    # on (another plot by "@PLOT" and by the plot timer); then a close is cancelled while data
    # flows, and a second close is answered with OK.
    fix = rmc("GP", "111111", "A", "3425.1100", "N", "11944.5000", "W", "30.0", "270.0")
    modal = fix + cmd(0) + cmd(12) + b"@PLOT\r\n" + cmd(0)
    modal += fix + b"%010\r\n@PLOT\r\n" + cmd(0) + cmd(3) + cmd(4) * 6 + cmd(2) + cmd(0xE0)
    modal += cmd(12) + cmd(0xD0) + fix + b"@PLOT\r\n" + cmd(0) + cmd(3) + cmd(0xE1)
    modal += cmd(0xD1) + cmd(4) * 6 + cmd(0xE0) + fix + cmd(0)
    write("serial_line", "modal_boxes_and_close", modal)

    # The inputs beside the COM line (0xC0 GPS port, 0xC1 direction finder port, 0xC2 gpsd,
    # 0xC3 gpsd hangs up, 0xC4 a second passes, 0xC5 switches through the input router),
    # with heading sentences.
    gps = rmc("GP", "120000", "A", "4807.038", "N", "01131.000", "E", "1.0", "084.4")
    own = (cmd(0xC5) + cmd(10) + cmd(11) + gps[:30] + cmd(0xC0) + b"%045/7\r\n" + cmd(0xC1) +
           gps[30:] + nmea("HEHDT,123.4,T") + cmd(0xC0) + b"@PLOT\r\n" + cmd(0xC1) +
           b'{"class":"VERSION"}\r\n' + gps + nmea("HCHDG,100.0,,,5.0,W") + b"$GPRMC,12" +
           cmd(0xC2) + cmd(0xC3) + cmd(0xC4) + cmd(0xC4) + cmd(0xC4) + b"%010\r\n" + cmd(0xC1) +
           cmd(0xC5) + nmea("GPHDT,1,T") + cmd(0) + cmd(2))
    write("serial_line", "own_inputs_and_heading", own)


def settings_seeds():
    default = ["3", "4", "2", "5", "1", "1", "1", "1", "9", "4", "4", "5", "0", "N", "W",
               "33410", "44718", "49344", "255", "1"]
    bare = "".join(x + "\r\n" for x in default)
    write("settings_file", "defaults", bare.encode())
    saved = ["5", "1", "2", "8", "4", "0", "0", "0", "0", "0", "7", "6", "0", "S", "E",
             " 0 ", " 16777215 ", " 12345 ", " 65280 ", " 3 "]
    write("settings_file", "saved_by_program", "".join(x + "\r\n" for x in saved).encode())
    odd = ["9", "07", " x", "", "1.5", "-0", "1", "9", "9", "6", "5e1", "0", "00", "s", "w",
           "33410.5", "1e3", "  49344", "255  ", "2.5", "extra line", "another"]
    write("settings_file", "odd_values", "".join(x + "\n" for x in odd).encode())
    write("settings_file", "nineteen_lines", "".join(x + "\r\n" for x in default[:19]).encode())
    bad_port = default[:19] + ["COM1"]
    write("settings_file", "bad_port", "".join(x + "\r\n" for x in bad_port).encode())


def team_seeds():
    """Team messages: one byte choosing the topic (even: .../car2/plot, odd: .../position),
    then the payload."""
    plot = ('{"v": 1, "vehicle": "car2", "hunt": "2026-12-08", "seq": 7, "plot": 3, '
            '"utc": "2026-12-08T14:21:07Z", "lat": 39.741667, "lon": -104.987500, '
            '"bearing": 42, "quality": 7, "position_source": "GPS", "bearing_source": "DF"}')
    write("team_message", "plot", b"\x00" + plot.encode())
    bare = plot.replace('"bearing": 42, "quality": 7', '"bearing": null, "quality": null')
    write("team_message", "plot_without_bearing", b"\x00" + bare.encode())
    escaped = plot.replace('"DF"', '"\\u0044\\u0046"').replace(", ", ",\r\n\t")
    write("team_message", "plot_escapes_and_spaces", b"\x00" + escaped.encode())
    position = ('{"v": 1, "vehicle": "car2", "hunt": "2026-12-08", '
                '"utc": "2026-12-08T14:21:17Z", "lat": -33.5, "lon": 151.25e0}')
    write("team_message", "position", b"\x01" + position.encode())


def plot_log_seeds():
    """Plot logs: one even byte, then the CSV text; or one odd byte, then raw bearings (two
    doubles of base position, then per bearing a byte choosing raw doubles or small offsets)."""
    header = ("plot,utc,lat,lon,bearing,relative,course,speed_kn,quality,position_source,"
              "bearing_source,used,heading_from,vehicle")
    rows = [
        "1,2026-12-08T14:21:07Z,34.395000,-119.760000,47,312,95,31,7,GPS,DF,1,COG,",
        "2,2026-12-08T14:21:37Z,34.400000,-119.700000,301,,,,,MAN,MAN,1,,",
        "3,2026-12-08T14:22:07Z,34.430000,-119.710000,205,110,95,28,0,GPS,DF,0,HDT,car2",
        "4,2026-12-08T14:22:37Z,34.425000,-119.760000,128,,,,,GPS,MAN,1,,",
        "5,2026-12-08T14:23:07Z,34.398000,-119.735000,5,,,,7,GPS,DF,1,COG,",
        "6,2026-12-08T14:23:37Z,34.412500,-119.752000,88,,,,,GPS,DF,,,",
    ]
    write("plot_log", "full_log", b"\x00" + "".join(x + "\r\n" for x in [header] + rows).encode())
    bare = ["lat,lon,bearing", "34.395,-119.76,47", "34.40,-119.70,301", "34.43,-119.71,205",
            "34.425,-119.76,128", "34.398,-119.735,5"]
    write("plot_log", "three_columns", b"\x00" + "".join(x + "\n" for x in bare).encode())
    write("plot_log", "malformed", b"\x00" + b"lat,lon,bearing\n91.5,0,10\n")
    raw = struct.pack("<dd", 34.41, -119.73)
    # Twelve bearings near the base point (selector bit 0 clear), two in three with a quality
    # digit (bits 1-2 set, the digit k from bit 3 on), then one given in raw doubles.
    for k in range(12):
        selector = k * 8 + (2 if k % 3 else 0)
        raw += bytes([selector, (k * 37) % 256, (k * 91) % 256, (k * 29) % 256])
    raw += b"\x01" + struct.pack("<ddd", 34.45, -119.70, 200.0)
    write("plot_log", "raw_bearings", b"\x01" + raw)


def map_request_seeds():
    """Map server requests: the bytes a connection sent, a request head and maybe more."""
    host = "Host: 127.0.0.1:8421\r\n"
    write("map_request", "page", ("GET / HTTP/1.1\r\n" + host + "User-Agent: Mozilla/5.0\r\n"
                                  "Accept: text/html\r\n\r\n").encode())
    write("map_request", "leaflet_head_lf", b"HEAD /leaflet/images/marker-icon-2x.png HTTP/1.0\n"
          b"host: LOCALHOST:8421\nOrigin: http://localhost:8421\n\n")
    write("map_request", "tile_and_next", ("GET /tiles/osm-local/12/2047/1361?v=2 HTTP/1.1\r\n" +
                                           host + "Connection: keep-alive\r\n\r\n"
                                           "GET /hunts/120826_142107.gpx HTTP/1.1\r\n" + host +
                                           "\r\n").encode())
    write("map_request", "live_upgrade", ("GET /live HTTP/1.1\r\nHost: [::1]:8421\r\n"
                                          "Upgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
                                          "Sec-WebSocket-Version: 13\r\n"
                                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                          "Origin: http://[::1]:8421\r\n\r\n").encode())
    write("map_request", "traversal_and_rebinding",
          b"GET /leaflet/%2e%2e/../etc/passwd%00 HTTP/1.1\r\nHost: evil.example:8421\r\n"
          b"Origin: null\r\nContent-Length: 5\r\n\r\nhello")
    write("map_request", "post_with_template", b"POST /hunts HTTP/1.1\r\n"
          b"Host: 127.0.0.1:8421\r\nTransfer-Encoding: chunked\r\n\r\n")
    write("map_request", "template_target", b"GET https://{s}.tile.example.org:8443/{z}/{x}/{y}.png"
          b" HTTP/1.1\r\nHost: 127.0.0.1:8421\r\n\r\n")
    write("map_request", "obs_fold", b"GET /layers HTTP/1.1\r\nHost: 127.0.0.1:8421\r\n"
          b" folded\r\nX-Bad\x00: 1\r\n\r\n")
    write("map_request", "long_target", b"GET /tiles/" + b"a" * 2100 + b"/0/0/0 HTTP/1.1\r\n"
          b"Host: 127.0.0.1:8421\r\n\r\n")
    note = '{"note": "barn, \\"metal\\" <script>"}'.encode()
    write("map_request", "plot_review", b"POST /plots/12 HTTP/1.1\r\n" + host.encode() +
          b"Origin: http://127.0.0.1:8421\r\nX-Kestrelmap-Token: 0123456789abcdef\r\n"
          b"Content-Type: application/json\r\nContent-Length: " + str(len(note)).encode() +
          b"\r\n\r\n" + note)


if __name__ == "__main__":
    serial_seeds()
    settings_seeds()
    team_seeds()
    plot_log_seeds()
    map_request_seeds()
