# SPDX-License-Identifier: Apache-2.0
# Write a 4 x 6 in label at 203 dpi as an 8-bit PGM (bars, a gray ramp, a box) and
# print how many of its pixels are darker than mid gray, the dots a threshold makes black.
import sys

width, height = 812, 1218
rows = []
for y in range(height):
    row = bytearray(width)
    for x in range(width):
        if 40 <= y < 240 and (x // 7) % 3 == 0:
            value = 0
        elif 300 <= y < 700:
            value = x * 255 // (width - 1)
        elif 800 <= y < 1000 and 100 <= x < 700:
            value = 0
        else:
            value = 255
        row[x] = value
    rows.append(bytes(row))
with open(sys.argv[1], "wb") as out:
    out.write(b"P5 %d %d 255\n" % (width, height) + b"".join(rows))
print(sum(1 for row in rows for value in row if value < 129))
