#!/usr/bin/python3
"""Writes a deterministic corpus of GIF files made by encoders other than ours.

Usage: make_corpus.py OUTPUT_FOLDER

ImageMagick draws its built-in pictures at several sizes, gifsicle rewrites
some of them as optimised streams and animations, and Pillow saves palette
images with and without extensions. The library accepts only a global colour
table of exactly 256 entries, so most files get their global table widened to
256 entries (the packed field rewritten, the table padded with black); a few
are left as written, or made interlaced or given a local table, to check what
the converter refuses or takes from where. The files made the ordinary ways
(small tables, no global table, interlaced images of every small height and a
large one, Pillow's default saves, gifsicle's optimised output) are kept as
written: the command converts them by default.
"""
import os
import random
import shutil
import subprocess
import sys
from pathlib import Path

from PIL import Image

CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"

# (name, picture, width, height): widths not a multiple of 4 and wider than
# 2048 (ImageMagick's policy caps its width; Pillow draws the widest a GIF can
# announce).
MAGICK_PICTURES = [
    ("logo", "logo:", 0, 0),
    ("rose", "rose:", 0, 0),
    ("wizard", "wizard:", 93, 111),
    ("granite", "granite:", 128, 128),
    ("netscape", "netscape:", 0, 0),
    ("plasma-1x1", "plasma:fractal", 1, 1),
    ("plasma-3x5", "plasma:fractal", 3, 5),
    ("plasma-333x77", "plasma:fractal", 333, 77),
    ("plasma-641x13", "plasma:fractal", 641, 13),
    ("plasma-2049x5", "plasma:fractal", 2049, 5),
    ("gradient-2101x31", "gradient:red-blue", 2101, 31),
    ("gradient-4099x3", "gradient:yellow-navy", 4099, 3),
    ("gradient-9001x2", "gradient:black-white", 9001, 2),
    ("gradient-1x700", "gradient:green-white", 1, 700),
    ("pattern-257x255", "pattern:checkerboard", 257, 255),
]


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def screen_table(data):
    """(present, entries) of the global colour table."""
    packed = data[10]
    return bool(packed & 0x80), 2 << (packed & 7)


def widen_global_table(data):
    """The same GIF with its global table padded with black to 256 entries."""
    present, entries = screen_table(data)
    if not present or entries == 256:
        return bytes(data)
    head = bytearray(data[:13])
    head[10] = (head[10] & 0xF8) | 7
    table = data[13:13 + entries * 3] + bytes(768 - entries * 3)
    return bytes(head) + table + data[13 + entries * 3:]


def first_image_at(data):
    """Offset of the first image separator: past the global table, over
    extensions by their sub-block lengths and over stray bytes."""
    at = 13 + (3 * (2 << (data[10] & 7)) if data[10] & 0x80 else 0)
    while data[at] != 0x2C:
        if data[at] == 0x21:
            at += 2
            while data[at] != 0:
                at += 1 + data[at]
        at += 1
    return at


def move_table_to_image(data):
    """The global table becomes the first image's local table; the global
    table is replaced by a different one, which the image must not use."""
    at = first_image_at(data)
    table = data[13:13 + 768]
    decoy = bytes(255 - b for b in table)
    descriptor = bytearray(data[at + 1:at + 10])
    descriptor[8] |= 0x87
    return (data[:13] + decoy + data[13 + 768:at + 1] + bytes(descriptor) + table +
            data[at + 10:])


def drop_global_table(data):
    """The GIF without a global table, the first image carrying it instead."""
    moved = move_table_to_image(data)
    head = bytearray(moved[:13])
    head[10] &= 0x7F
    return bytes(head) + moved[13 + 768:]


def move_small_table_to_image(data):
    """The GIF without a global table, its first image carrying the global
    table, of whatever size, as its own."""
    entries = 2 << (data[10] & 7)
    table = data[13:13 + entries * 3]
    at = first_image_at(data)
    descriptor = bytearray(data[at + 1:at + 10])
    descriptor[8] = (descriptor[8] & 0x78) | 0x80 | (data[10] & 7)
    head = bytearray(data[:13])
    head[10] &= 0x7F
    return (bytes(head) + data[13 + entries * 3:at + 1] + bytes(descriptor) + table +
            data[at + 10:])


def write(folder, name, data):
    (folder / name).write_bytes(data)


def magick(folder, scratch):
    made = []
    for name, picture, width, height in MAGICK_PICTURES:
        raw = scratch / f"im-{name}.gif"
        size = ["-size", f"{width}x{height}"] if width else []
        run(CONVERT, "-seed", "7", *size, picture, "-colors", "256", "+dither", str(raw))
        data = raw.read_bytes()
        write(folder, f"im-{name}.gif", widen_global_table(data))
        made.append(raw)
    # Fewer colours: small code sizes in a widened table, and left as written.
    for colours in (2, 4, 16, 64):
        raw = scratch / f"im-rose-{colours}.gif"
        run(CONVERT, "rose:", "-colors", str(colours), str(raw))
        write(folder, f"im-rose-{colours}-widened.gif", widen_global_table(raw.read_bytes()))
        write(folder, f"im-rose-{colours}-as-written.gif", raw.read_bytes())
    raw = scratch / "im-interlaced.gif"
    run(CONVERT, "logo:", "-resize", "50%", "-colors", "256", "-interlace", "GIF", str(raw))
    write(folder, "im-logo-interlaced.gif", widen_global_table(raw.read_bytes()))
    return made


def gifsicle(folder, made):
    for raw in made[:8]:
        out = folder / ("gs-" + raw.name[3:])
        run("gifsicle", "-w", "-O3", "--colors", "256", str(raw), "-o", str(out))
        out.write_bytes(widen_global_table(out.read_bytes()))
    by_name = {raw.name: raw for raw in made}
    frames = [str(by_name[n]) for n in ("im-plasma-333x77.gif", "im-rose.gif", "im-wizard.gif")]
    anim = folder / "gs-animation.gif"
    run("gifsicle", "-w", "-O3", "--colors", "256", "--loopcount=forever", "--delay", "5", *frames,
        "-o", str(anim))
    anim.write_bytes(widen_global_table(anim.read_bytes()))
    placed = folder / "gs-rose-placed.gif"
    run("gifsicle", "-w", "--colors", "256", "--logical-screen", "90x70", "--position", "11,7",
        str(by_name["im-rose.gif"]), "-o", str(placed))
    placed.write_bytes(widen_global_table(placed.read_bytes()))


def noise_image(width, height, seed, colours=256):
    rng = random.Random(seed)
    image = Image.new("P", (width, height))
    image.putdata([rng.randrange(colours) for _ in range(width * height)])
    palette = [rng.randrange(256) for _ in range(768)]
    image.putpalette(palette)
    return image


def blocky_image(width, height, seed):
    """Runs of one colour, which LZW compresses into long strings."""
    rng = random.Random(seed)
    pixels = []
    while len(pixels) < width * height:
        pixels += [rng.randrange(256)] * rng.randrange(1, 40)
    image = Image.new("P", (width, height))
    image.putdata(pixels[:width * height])
    image.putpalette([rng.randrange(256) for _ in range(768)])
    return image


def pillow(folder):
    for width, height, seed in ((1, 1, 1), (5, 3, 2), (97, 61, 3), (250, 250, 4), (2050, 9, 5)):
        path = folder / f"pil-noise-{width}x{height}.gif"
        noise_image(width, height, seed).save(path, optimize=False, interlace=False)
        path.write_bytes(widen_global_table(path.read_bytes()))
    for width, height, seed in ((401, 203, 6), (65535, 3, 12)):
        path = folder / f"pil-blocky-{width}x{height}.gif"
        blocky_image(width, height, seed).save(path, optimize=False, interlace=False)
        path.write_bytes(widen_global_table(path.read_bytes()))
    path = folder / "pil-extensions.gif"
    noise_image(123, 45, 7).save(path, optimize=False, interlace=False, comment=b"made for the oracle test",
                                 transparency=3, duration=40, loop=0)
    path.write_bytes(widen_global_table(path.read_bytes()))
    path = folder / "pil-frames.gif"
    frames = [noise_image(60, 40, 8 + i) for i in range(3)]
    frames[0].save(path, save_all=True, append_images=frames[1:], optimize=False, interlace=False, duration=30)
    path.write_bytes(widen_global_table(path.read_bytes()))
    path = folder / "pil-interlaced.gif"
    noise_image(50, 40, 13).save(path, optimize=False, interlace=True)
    path.write_bytes(widen_global_table(path.read_bytes()))
    path = folder / "pil-16-colours.gif"
    noise_image(77, 33, 11, colours=16).save(path, optimize=True, interlace=False)
    data = path.read_bytes()
    write(folder, "pil-16-colours-widened.gif", widen_global_table(data))


def ordinary(folder, scratch):
    """GIFs as the usual tools write them, none widened."""
    for colours in (2, 16, 128):
        noise_image(91, 37, 20 + colours, colours).save(folder / f"pil-default-{colours}.gif")
    noise_image(120, 80, 24).save(folder / "pil-default-256.gif")
    for height in range(1, 18):
        plain = scratch / f"plain-h{height}.gif"
        noise_image(7, height, 40 + height, 16).save(plain, interlace=False)
        run("gifsicle", "--interlace", str(plain), "-o", str(folder / f"gs-interlaced-h{height}.gif"))
    run(CONVERT, "-seed", "7", "-size", "1280x960", "plasma:fractal", "-blur", "0x2",
        "-dither", "FloydSteinberg", "-colors", "256", "-interlace", "GIF",
        str(folder / "im-photo-interlaced.gif"))
    for name in ("rose", "wizard", "logo", "plasma-333x77"):
        source = scratch / f"im-{name}.gif"
        run("gifsicle", "-O3", "--colors", "64", str(source), "-o",
            str(folder / f"gs-o3-{name}-as-written.gif"))
    run("gifsicle", "--no-interlace", str(folder / "im-photo-interlaced.gif"), "-o",
        str(folder / "gs-photo-no-interlace.gif"))
    rose = (folder / "im-rose-16-as-written.gif").read_bytes()
    write(folder, "local-only-rose-16.gif", move_small_table_to_image(rose))


def derived(folder):
    rose = (folder / "im-rose.gif").read_bytes()
    write(folder, "local-rose.gif", move_table_to_image(rose))
    write(folder, "local-only-rose.gif", drop_global_table(rose))
    noise = (folder / "pil-noise-97x61.gif").read_bytes()
    write(folder, "local-noise.gif", move_table_to_image(noise))


def main():
    folder = Path(sys.argv[1])
    if folder.exists():
        shutil.rmtree(folder)
    scratch = folder / "scratch"
    scratch.mkdir(parents=True)
    made = magick(folder, scratch)
    gifsicle(folder, made)
    pillow(folder)
    derived(folder)
    ordinary(folder, scratch)
    shutil.rmtree(scratch)
    print(f"{len(list(folder.glob('*.gif')))} GIF files in {folder}")


if __name__ == "__main__":
    main()
