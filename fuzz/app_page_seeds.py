#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Write the seeds of fuzz-app-page in the input layout that app_page_fuzzer.cpp
# describes: a job's settings, then pages of header fields and numbered lines.
#
#   fuzz/app_page_seeds.py DIRECTORY
import struct
import sys

GRAY, BLACK, SGRAY = 0, 3, 18
THRESHOLD, DITHER_ORDERED, DITHER_FINE, UNKNOWN_RULE = 0, 2, 4, 9
CONTINUOUS, GAP, MARK = 1, 2, 3
PRINTED, CANCELLED_IN_BLOCK, CANCELLED_BEFORE_END = 0, 1, 2


def job(dpi=203, rule=THRESHOLD, tracking=GAP, copies=1, size=(5080, 2540), offsets=(0, 0),
        speed=0, darkness=(53, 0)):
    return struct.pack("<BBBHIIiiiBB", dpi == 300, rule, tracking, copies - 1, size[0], size[1],
                       offsets[0], offsets[1], speed, darkness[0], darkness[1] + 100)


def page(space, bits, width, height, lines, dpi=203, end=PRINTED, bytes_per_line=None):
    """A page header and its lines; lines is a list of (y, bytes)."""
    if bytes_per_line is None:
        bytes_per_line = (width * bits + 7) // 8
    data = struct.pack("<B8IH", end, space, bits, bits, dpi, dpi, width, height, bytes_per_line,
                       len(lines))
    for y, line in lines:
        data += struct.pack("<H", y) + line
    return data


def gradient(width, height, invert=False):
    rows = []
    for y in range(height):
        row = bytes((x * 255 // width + y * 40) % 256 for x in range(width))
        rows.append((y, bytes(255 - b for b in row) if invert else row))
    return rows


def stripes(bytes_per_line, height):
    return [(y, bytes((0xF0 >> (y % 4)) & 0xFF for _ in range(bytes_per_line)))
            for y in range(height)]


SEEDS = {
    "gray-16x4-two-copies": job(copies=2) + page(SGRAY, 8, 16, 4, gradient(16, 4)),
    "black8-24x3-300dpi-ordered":
        job(dpi=300, rule=DITHER_ORDERED, size=(7620, 2540), darkness=(100, -40)) +
        page(BLACK, 8, 24, 3, gradient(24, 3, invert=True), dpi=300),
    "one-bit-black-then-white-13x5":
        job(rule=DITHER_FINE, tracking=MARK, offsets=(201, 100), speed=15240) +
        page(BLACK, 1, 13, 5, stripes(2, 5)) + page(GRAY, 1, 13, 5, stripes(2, 5)),
    "short-page-and-lines-beyond":
        job(tracking=CONTINUOUS) +
        page(SGRAY, 8, 16, 8, gradient(16, 3) + [(8, bytes(16)), (9000, bytes(16))]),
    "cancelled-in-block":
        job() + page(SGRAY, 8, 16, 2, gradient(16, 2)) +
        page(SGRAY, 8, 16, 2, gradient(16, 2), end=CANCELLED_IN_BLOCK),
    "cancelled-before-end":
        job(rule=UNKNOWN_RULE) + page(SGRAY, 8, 16, 2, gradient(16, 1), end=CANCELLED_BEFORE_END),
    "refused-too-wide": job() + page(SGRAY, 8, 833, 1, []),
    "refused-resolution": job() + page(SGRAY, 8, 16, 1, [], dpi=300),
    "refused-bytes-per-line": job() + page(SGRAY, 1, 16, 1, [], bytes_per_line=16),
    "custom-size-full-width":
        job(size=(10388, 1270)) + page(SGRAY, 8, 832, 2, gradient(832, 2)),
}

for name, data in SEEDS.items():
    with open(f"{sys.argv[1]}/{name}", "wb") as out:
        out.write(data)
