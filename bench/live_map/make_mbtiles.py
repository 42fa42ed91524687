#!/usr/bin/python3
"""Writes an MBTiles 1.3 file of COUNT_X x COUNT_Y tiles at one zoom around the bench hunt's
area, each a 256 x 256 grey PNG of about 20 KiB (noise in its upper third, so that it does not
compress away): the base map the live map's tile figures are measured on.

Usage: make_mbtiles.py OUT [ZOOM] [COUNT_X] [COUNT_Y]   (default zoom 14, 50 x 50 tiles)"""

import math
import os
import sqlite3
import struct
import sys
import zlib

LAT, LON = 34.4120, -119.7320  # the bench hunt's transmitter


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def noise_png(rng_bytes):
    rows = []
    for y in range(256):
        line = rng_bytes[y * 256:(y + 1) * 256] if y < 80 else bytes(256)
        rows.append(b"\x00" + line)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 256, 256, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))


def tile_of(lat, lon, z):
    n = 2 ** z
    x = int((lon + 180) / 360 * n)
    y = int((1 - math.asinh(math.tan(math.radians(lat))) / math.pi) / 2 * n)
    return x, y


def corner(x, y, z):
    n = 2 ** z
    lon = x / n * 360 - 180
    lat = math.degrees(math.atan(math.sinh(math.pi * (1 - 2 * y / n))))
    return lon, lat


def main():
    out = sys.argv[1]
    z = int(sys.argv[2]) if len(sys.argv) > 2 else 14
    nx = int(sys.argv[3]) if len(sys.argv) > 3 else 50
    ny = int(sys.argv[4]) if len(sys.argv) > 4 else 50
    cx, cy = tile_of(LAT, LON, z)
    x0, y0 = cx - nx // 2, cy - ny // 2
    tmp = out + ".new"
    if os.path.exists(tmp):
        os.remove(tmp)
    db = sqlite3.connect(tmp)
    db.execute("CREATE TABLE metadata (name TEXT, value TEXT)")
    db.execute("CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER,"
               " tile_data BLOB)")
    db.execute("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row)")
    west, north = corner(x0, y0, z)
    east, south = corner(x0 + nx, y0 + ny, z)
    # bounds a little inside the outer edges, so that every tile they touch is held
    inset_x, inset_y = (east - west) / nx / 10, (north - south) / ny / 10
    db.executemany("INSERT INTO metadata VALUES (?, ?)", [
        ("name", "Bench area"), ("format", "png"), ("minzoom", str(z)), ("maxzoom", str(z)),
        ("bounds", f"{west + inset_x:.6f},{south + inset_y:.6f},{east - inset_x:.6f},"
                   f"{north - inset_y:.6f}"),
        ("type", "baselayer"), ("version", "1.3")])
    size = 0
    for x in range(x0, x0 + nx):
        rows = []
        for y in range(y0, y0 + ny):
            data = noise_png(os.urandom(80 * 256))
            size += len(data)
            rows.append((z, x, 2 ** z - 1 - y, data))  # TMS rows count from the south
        db.executemany("INSERT INTO tiles VALUES (?, ?, ?, ?)", rows)
    db.commit()
    db.close()
    os.replace(tmp, out)
    print(f"mbtiles: {out}: {nx * ny} tiles at zoom {z}, mean {size / (nx * ny) / 1024:.1f} KiB")


if __name__ == "__main__":
    main()
