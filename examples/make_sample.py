#!/usr/bin/env python3
"""Draws the bundled sample picture and writes it as examples/sample.gif.

A 250 x 150 image in 256 colours (a width that is not a multiple of 4), with a
graphic control extension and a comment extension before the image, encoded by
the small LZW encoder below. Only the standard library is used.
"""
import math
import struct
import sys

WIDTH, HEIGHT = 250, 150


def palette():
    """256 colours: a hue wheel of 224 entries and 32 greys."""
    colours = []
    for i in range(224):
        h = i / 224 * 6
        x = 1 - abs(h % 2 - 1)
        r, g, b = [(1, x, 0), (x, 1, 0), (0, 1, x), (0, x, 1), (x, 0, 1), (1, 0, x)][int(h) % 6]
        colours.append((int(r * 255), int(g * 255), int(b * 255)))
    colours += [(v * 255 // 31,) * 3 for v in range(32)]
    return colours


def pixel(x, y):
    """Rings of colour over a grey ground, and a sun in the corner."""
    cx, cy = WIDTH * 0.45, HEIGHT * 0.55
    d = math.hypot(x - cx, y - cy)
    if math.hypot(x - 210, y - 30) < 18:
        return 224 + 31
    if d < 70:
        return int((d * 3 + math.atan2(y - cy, x - cx) * 35.65) % 224)
    return 224 + (x + y) * 31 // (WIDTH + HEIGHT)


def lzw(pixels, code_size):
    """GIF LZW: codes packed least significant bit first, clear when full."""
    clear, end = 1 << code_size, (1 << code_size) + 1
    out, acc, nbits = bytearray(), 0, 0
    width = code_size + 1

    def emit(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    table, next_code = {}, end + 1
    emit(clear)
    current = pixels[0]
    for p in pixels[1:]:
        key = (current, p)
        if key in table:
            current = table[key]
            continue
        emit(current)
        if next_code < 4096:
            table[key] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear)
            table, next_code, width = {}, end + 1, code_size + 1
        current = p
    emit(current)
    emit(end)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for at in range(0, len(data), 255):
        chunk = data[at:at + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out) + b"\0"


def main(path):
    pixels = [pixel(x, y) for y in range(HEIGHT) for x in range(WIDTH)]
    gif = b"GIF89a" + struct.pack("<HHBBB", WIDTH, HEIGHT, 0xF7, 0, 0)
    gif += b"".join(bytes(c) for c in palette())
    gif += b"\x21\xF9\x04\x00\x00\x00\x00\x00"  # graphic control: no delay, no transparency
    gif += b"\x21\xFE" + sub_blocks(b"brevlo sample: rings and a sun, drawn by make_sample.py")
    gif += b"," + struct.pack("<HHHHB", 0, 0, WIDTH, HEIGHT, 0) + b"\x08"
    gif += sub_blocks(lzw(pixels, 8)) + b";"
    with open(path, "wb") as f:
        f.write(gif)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/sample.gif")
