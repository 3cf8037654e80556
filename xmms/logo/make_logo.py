#!/usr/bin/env python3
"""make_logo.py -- draws the preview window's logo: the hallway seen from
its start, lamps glowing along both walls and the ceiling, on a dark
gradient. Writes a 275 x 116, 17-colour XPM as a C++ array to stdout:

    python3 xmms/logo/make_logo.py > xmms/src/xmms_logo.xpm
"""
import math

W, H = 275, 116
# 8 background shades, 1 outline, 8 lamp shades: 17 colours.
background = ["#%02x%02x%02x" % (4 + 3 * i, 6 + 4 * i, 20 + 10 * i) for i in range(8)]
outline = "#8090b0"
lamps = ["#%02x%02x%02x" % (255, 80 + 22 * i, 20 + 18 * i) for i in range(8)]
colours = background + [outline] + lamps
symbols = "abcdefgh" + "#" + "12345678"
assert len(colours) == 17

pix = [[0] * W for _ in range(H)]
cx, cy = W // 2, H // 2
for y in range(H):
    for x in range(W):
        r = math.hypot((x - cx) / W, (y - cy) / H)
        pix[y][x] = min(7, int(r * 14))


def frame_rect(depth):
    """The hallway's cross-section at a depth 0 (near) .. 1 (far)."""
    s = 1.0 - 0.85 * depth
    return cx - s * 125, cy - s * 52, cx + s * 125, cy + s * 52


# Lamps: ten boxes going away, patches on walls and ceiling.
for box in range(10):
    d0, d1 = box / 10.0, (box + 0.6) / 10.0
    a, b = frame_rect(d0), frame_rect(d1)
    shade = 8 + 1 + min(7, box * 8 // 10)
    for y in range(H):
        for x in range(W):
            # left and right wall strips and a ceiling strip between the
            # two depths
            inside_a = a[0] <= x <= a[2] and a[1] <= y <= a[3]
            inside_b = b[0] <= x <= b[2] and b[1] <= y <= b[3]
            if inside_a and not inside_b:
                on_wall = x < b[0] or x > b[2]
                on_ceiling = y < b[1] and b[0] <= x <= b[2]
                if on_wall or on_ceiling:
                    pix[y][x] = shade

# Outline of the far end and the four edges of the hallway.
far = frame_rect(1.0)
near = frame_rect(0.0)
for t in range(400):
    f = t / 399.0
    for (x0, y0), (x1, y1) in [((near[0], near[1]), (far[0], far[1])),
                               ((near[2], near[1]), (far[2], far[1])),
                               ((near[0], near[3]), (far[0], far[3])),
                               ((near[2], near[3]), (far[2], far[3])),
                               ((far[0], far[1]), (far[2], far[1])),
                               ((far[0], far[3]), (far[2], far[3])),
                               ((far[0], far[1]), (far[0], far[3])),
                               ((far[2], far[1]), (far[2], far[3]))]:
        x = int(round(x0 + (x1 - x0) * f))
        y = int(round(y0 + (y1 - y0) * f))
        if 0 <= x < W and 0 <= y < H:
            pix[y][x] = 8

print("/* xmms_logo.xpm -- the preview window's logo, made by")
print(" * xmms/logo/make_logo.py; 275 x 116, 17 colours. */")
print("static const char *const xmms_logo[] = {")
print('"%d %d %d 1",' % (W, H, len(colours)))
for s, c in zip(symbols, colours):
    print('"%s c %s",' % (s, c))
for y in range(H):
    end = "," if y < H - 1 else ""
    print('"%s"%s' % ("".join(symbols[v] for v in pix[y]), end))
print("};")
