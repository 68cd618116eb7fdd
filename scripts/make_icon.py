#!/usr/bin/env python3
"""Draws the program's icon, a database drum with a spanner across it, in the
16-colour VGA palette at 32 x 32 and 16 x 16, and writes assets/tarsolin.ico
(both sizes, 4 bits per pixel with a transparency mask) and one PNG per size.
Standard library only; the output is the same on every run."""
import struct
import zlib
from pathlib import Path

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, TEAL, SILVER, AQUA, WHITE = 0, 4, 6, 7, 14, 15
CLEAR = 13  # fuchsia never appears in the art: it marks transparent pixels


def inside_ellipse(x, y, cx, cy, rx, ry):
    return ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / ry) ** 2 <= 1.0


def draw(size):
    s = size / 32.0
    img = [[CLEAR] * size for _ in range(size)]
    # The drum: a cylinder seen from slightly above.
    left, right = 3 * s, 23 * s
    top, bottom = 7 * s, 26 * s
    cx, rx, ry = (left + right) / 2, (right - left) / 2, 3.5 * s
    for y in range(size):
        for x in range(size):
            body = left <= x + 0.5 <= right and top <= y + 0.5 <= bottom
            lid = inside_ellipse(x, y, cx, top, rx, ry)
            base = inside_ellipse(x, y, cx, bottom, rx, ry)
            if body or base:
                shade = AQUA if x + 0.5 < left + (right - left) * 0.3 else TEAL
                img[y][x] = shade
            if lid:
                img[y][x] = WHITE if inside_ellipse(x, y, cx, top, rx - 1.2 * s, ry - 1.0 * s) else NAVY
    # Bands between the stacked platters.
    for band in (13 * s, 19.5 * s):
        for x in range(size):
            if left <= x + 0.5 <= right:
                y = int(band + ry * (1 - ((x + 0.5 - cx) / rx) ** 2) ** 0.5 * 0.8)
                if 0 <= y < size:
                    img[y][x] = NAVY
    # Outline of the drum.
    for y in range(size):
        for x in range(size):
            if img[y][x] == CLEAR:
                continue
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                nx, ny = x + dx, y + dy
                if not (0 <= nx < size and 0 <= ny < size) or img[ny][nx] == CLEAR:
                    img[y][x] = BLACK
                    break
    # The spanner: a handle from the lower right up to an open jaw at the upper right.
    def on_segment(x, y, ax, ay, bx, by, half_width):
        px, py = x + 0.5, y + 0.5
        vx, vy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
        dx, dy = px - (ax + t * vx), py - (ay + t * vy)
        return dx * dx + dy * dy <= half_width * half_width

    hx0, hy0, hx1, hy1 = 13 * s, 29 * s, 24 * s, 12 * s
    jaw_cx, jaw_cy, jaw_r = 25.5 * s, 8.5 * s, 5.2 * s
    spanner = [[False] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            handle = on_segment(x, y, hx0, hy0, hx1, hy1, max(2.0 * s, 1.2))
            head = inside_ellipse(x, y, jaw_cx, jaw_cy, jaw_r, jaw_r)
            # The jaw opening: a notch cut from the head towards the upper right.
            notch = on_segment(x, y, jaw_cx, jaw_cy, jaw_cx + 6 * s, jaw_cy - 6 * s, max(1.8 * s, 1.0))
            spanner[y][x] = (handle or head) and not notch
    for y in range(size):
        for x in range(size):
            if spanner[y][x]:
                edge = any(
                    not (0 <= x + dx < size and 0 <= y + dy < size) or not spanner[y + dy][x + dx]
                    for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))
                )
                # Too small for an outline at 16 x 16: a plain silver shape reads better.
                img[y][x] = BLACK if edge and size > 16 else (SILVER if (x + y) % 7 else WHITE)
    return img


def png(img):
    size = len(img)
    raw = b""
    for row in img:
        packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2))
        raw += b"\x00" + packed

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    trns = bytes(0 if i == CLEAR else 255 for i in range(16))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0))
            + chunk(b"PLTE", b"".join(bytes(c) for c in PALETTE))
            + chunk(b"tRNS", trns)
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico_image(img):
    """A 4-bit DIB with its AND mask, rows bottom-up, each row padded to 4 bytes."""
    size = len(img)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor, mask = b"", b""
    for row in reversed(img):
        pixels = [0 if p == CLEAR else p for p in row]
        line = bytes((pixels[i] << 4) | pixels[i + 1] for i in range(0, size, 2))
        xor += line + b"\x00" * (-len(line) % 4)
        bits = 0
        line = b""
        for i, p in enumerate(row):
            bits = (bits << 1) | (1 if p == CLEAR else 0)
            if i % 8 == 7:
                line += bytes([bits])
                bits = 0
        mask += line + b"\x00" * (-len(line) % 4)
    return header + palette + xor + mask


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for img in images:
        blob = ico_image(img)
        size = len(img)
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return directory + entries + blobs


def main():
    out = Path(__file__).resolve().parent.parent / "assets"
    out.mkdir(exist_ok=True)
    large, small = draw(32), draw(16)
    (out / "tarsolin-32.png").write_bytes(png(large))
    (out / "tarsolin-16.png").write_bytes(png(small))
    (out / "tarsolin.ico").write_bytes(ico([large, small]))


if __name__ == "__main__":
    main()
