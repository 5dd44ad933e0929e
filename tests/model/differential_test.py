"""Differential test: the built library against the plain conversion model.

usage: differential_test.py LIBBREVLO [--save-dir DIR] [--mutations N] [--seed S]

Every case is a GIF file. The library converts it twice: through BREVLO32, and
through brevlo_convert with flags 0, the broad conversion of the brevlo
command. The model (gif_model.convert, strict or broad) predicts the result
code and the output bytes (or that no output is left) of each. Any difference
is printed with the case's name, seed and the bytes around the first
divergence, and the GIF is saved for replay.
"""

import argparse
import ctypes
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gif_bytes as gb  # noqa: E402
import gif_model  # noqa: E402


# ---------------------------------------------------------------- handcrafted


def handcrafted_cases():
    """Yields (name, gif bytes) for hand-built code streams and block layouts."""
    rng = random.Random(2026)
    gct = gb.colour_table(256, 1)

    def base(sig=b"GIF89a", packed=0xF7):
        return gb.header(sig, packed) + gct

    px = gb.random_pixels(rng, 7 * 5, 256)
    good = gb.simple_gif(7, 5, px)
    yield "plain 7x5", good

    # signatures
    for sig in (b"GIF87a", b"GIF89a", b"GIF8xa", b"GIF8\x00a", b"GIF89b", b"gif89a", b"GIF79a",
                b"GIF8", b"GIF89", b"", b"GIF89aX"[:6]):
        yield "signature %r" % sig, sig + good[6:] if len(sig) == 6 else sig

    # header and table sizes, flags
    for packed in (0xF7, 0x77, 0xF6, 0xF0, 0x80, 0x07, 0x87, 0xFF, 0x8F):
        yield "screen packed %02x" % packed, gb.header(b"GIF89a", packed) + good[13:]
    for n in (6, 7, 10, 12, 13, 14, 100, 780, 781, 782):
        yield "prefix %d" % n, good[:n]
    yield "bad flags, short table", gb.header(b"GIF89a", 0x76) + gct[:10]

    # block loop
    yield "trailer only", base() + b"\x3b"
    yield "nothing after table", base()
    yield "zero introducer", base() + b"\x00" + good[781:]
    yield "stray bytes", base() + b"\x01\x02\xfe\x80\x2b" + good[781:]
    yield "stray bytes after image", good[:-1] + b"\x55\xaa\x3b"
    yield "zero after image", good[:-1] + b"\x00\x3b"
    data = gb.encode(px, 8)
    img = gb.image(7, 5, data)
    for label in (0xF9, 0xFE, 0x01, 0xFF, 0x00, 0x21, 0x2C, 0x3B):
        ext = gb.extension(label, [b"abc", bytes(255), b"\x3b\x2c"])
        yield "extension %02x" % label, base() + ext + img + b"\x3b"
        yield "extension %02x after" % label, base() + img + ext + b"\x3b"
        yield "extension %02x unterminated" % label, base() + gb.extension(label, [b"xy"], False) + img + b"\x3b"
    long_ext = gb.extension(0xFE, [bytes([i % 256] * 200) for i in range(12)])
    yield "long comment across chunks", base() + long_ext + img + b"\x3b"
    for cut in range(1, 14):
        ext = gb.graphic_control(5, 3) + gb.extension(0xFF, [b"NETSCAPE2.0", b"\x01\x00\x00"])
        yield "extension cut %d" % cut, base() + ext[:cut]
    yield "extension length past end", base() + b"\x21\xfe\x40abc"

    # descriptors, local tables, several images
    for w, h in ((0, 5), (7, 0), (0, 0)):
        yield "empty %dx%d" % (w, h), base() + gb.image(w, h, data) + b"\x3b"
        yield "empty interlaced %dx%d" % (w, h), base() + gb.image(w, h, data, packed=0x40) + b"\x3b"
    yield "interlaced", base() + gb.image(7, 5, data, packed=0x40) + b"\x3b"
    for size_bits in range(8):
        entries = 1 << (size_bits + 1)
        lct = gb.colour_table(entries, 50 + size_bits)
        colours = min(entries, 256)
        cs = max(2, size_bits + 1)
        lpx = gb.random_pixels(rng, 9 * 4, colours)
        ldata = gb.encode(lpx, cs)
        yield "local table %d" % entries, base() + gb.image(9, 4, ldata, cs, 0x80 | size_bits, lct) + b"\x3b"
        local = gb.image(9, 4, ldata, cs, 0x80 | size_bits, lct)
        yield "local table %d cut" % entries, base() + local[:10 + len(lct) // 2]
        yield "local table %d later" % entries, base() + img + local + b"\x3b"
        yield "local table %d interlaced" % entries, base() + gb.image(9, 4, ldata, cs, 0xC0 | size_bits, lct) + b"\x3b"
    second = gb.image(3, 3, gb.encode([1] * 9, 8))
    yield "two images", base() + img + second + b"\x3b"
    yield "three images", base() + img + second + gb.graphic_control() + second + b"\x3b"
    yield "second image bad data", base() + img + gb.image(3, 3, b"\xff\xff\xff", 8) + b"\x3b"
    yield "second image bad code size", base() + img + gb.image(3, 3, b"\x00", 0) + b"\x3b"
    yield "second image interlaced empty", base() + img + gb.image(0, 0, b"", 8, 0x40) + b"\x3b"
    full_second = base() + img + gb.image(3, 3, gb.encode([1] * 9, 8), 8, 0x85, gb.colour_table(64)) + b"\x3b"
    for cut in range(len(base() + img), len(full_second)):
        yield "second image cut %d" % cut, full_second[:cut]
    yield "second image without trailer", base() + img + second
    yield "descriptor cut", base() + b"\x2c\x00\x00\x00"

    # code sizes
    for cs in range(0, 13):
        colours = min(1 << max(cs, 1), 256)
        cpx = gb.random_pixels(rng, 11 * 3, colours)
        stream = gb.encode(cpx, max(cs, 2)) if cs <= 12 else b""
        yield "code size %d" % cs, base() + gb.image(11, 3, stream, cs) + b"\x3b"
    yield "code size 255", base() + gb.image(11, 3, data, 255) + b"\x3b"

    # widths and sizes
    for width in (1, 2, 3, 4, 5, 255, 256, 1023, 1024, 1025, 2047, 2048, 2049, 2050, 3001, 4096, 5003):
        wpx = gb.random_pixels(rng, width * 3, 16, runs=True)
        yield "width %d" % width, gb.simple_gif(width, 3, wpx, sizes=(255, 17, 1))
    for width in (32767, 32768, 65535):
        yield "width %d" % width, gb.simple_gif(width, 2, [width % 7] * (width * 2 - 5))
        yield "width %d surplus" % width, gb.simple_gif(width, 1, [3] * (width + 9))
    for height in (1, 2, 300):
        hpx = gb.random_pixels(rng, 3 * height, 4)
        yield "height %d" % height, gb.simple_gif(3, height, hpx, code_size=2)

    # code streams built symbol by symbol
    C, E = gb.CLEAR, gb.END

    def stream(symbols, cs=2, w=3, h=2, trailing=b"", sizes=(255,), terminator=True, after=b"\x3b"):
        body = gb.pack_codes(gb.assign_widths(symbols, cs), trailing)
        return base() + gb.image(w, h, body, cs, sizes=sizes, terminator=terminator) + after

    yield "no leading clear", stream([1, 2, 3, 0, 1, 2, E])
    yield "clear then end", stream([C, E])
    yield "end only", stream([E])
    yield "clear clear end", stream([C, C, C, E])
    yield "end mid row", stream([C, 1, 2, E])
    yield "end after one row", stream([C, 1, 2, 3, E])
    yield "surplus pixels", stream([C, 1, 2, 3, 0, 1, 2, 3, 3, 3, 1, E])
    yield "surplus then bad code", stream([C, 1, 2, 3, 0, 1, 2, 3, 3, 3, 1, 15, E])
    yield "surplus via long string", stream([C, 1, 1, 6, 7, 8, 9, E], w=2, h=2)
    yield "code == next free", stream([C, 1, 6, 7, 2, E], w=4, h=2)
    yield "code == next free after clear", stream([C, 6, E])
    yield "code == next free at start", stream([6, E])
    yield "code > next free", stream([C, 1, 7, E])
    yield "code > next free at start", stream([C, 7, E])
    yield "end code then bytes in sub-block", stream([C, 1, 2, 3, 0, 1, 2, E], trailing=b"\xde\xad\xbe\xef")
    yield "end code then nonzero byte", stream([C, 1, 2, 3, 0, 1, 2, E], after=b"\x05\x3b")
    yield "end code then data sub-block", stream([C, 1, 2, 3, 0, 1, 2, E], after=b"\x02\x00\x00\x00\x3b")
    yield "missing terminator", stream([C, 1, 2, 3, 0, 1, 2, E], terminator=False, after=b"")
    yield "missing terminator with trailer", stream([C, 1, 2, 3, 0, 1, 2, E], terminator=False)
    yield "missing trailer", stream([C, 1, 2, 3, 0, 1, 2, E], after=b"")
    yield "no end code", stream([C, 1, 2, 3, 0, 1, 2])
    yield "no end code, zero padding", stream([C, 1, 2, 3, 0, 1, 2], trailing=b"\x00\x00")
    yield "one-byte sub-blocks", stream([C, 1, 2, 3, 0, 1, 2, 3, 2, 1, E], w=5, sizes=(1,))
    yield "two-byte sub-blocks", stream([C, 1, 2, 3, 0, 1, 2, 3, 2, 1, E], w=5, sizes=(2, 1))
    yield "sub-block shorter than length", base() + gb.descriptor(3, 2) + b"\x02\x05\x01\x02"
    yield "zero sub-block before end", base() + gb.descriptor(3, 2) + b"\x02\x00\x3b"
    yield "end code at row boundary with trailing", stream([C, 1, 2, 3, 0, 1, 2, E, 1, 1], trailing=b"\x01")

    # big tables: deferred clear, 12-bit codes straddling sub-blocks
    for cs in (2, 4, 8):
        colours = 1 << cs
        bpx = gb.random_pixels(random.Random(cs), 97 * 61, colours)
        for deferred in (False, True):
            for sizes in ((255,), (1, 2, 3, 254), (7,)):
                yield ("full table cs%d deferred=%s sizes=%s" % (cs, deferred, sizes),
                       gb.simple_gif(97, 61, bpx, cs, sizes=sizes, deferred_clear=deferred))
        syms = gb.lzw_symbols(bpx, cs, deferred_clear=True, end=False)
        syms += [gb.CLEAR] + list(range(colours)) + [gb.END]
        late = gb.pack_codes(gb.assign_widths(syms, cs))
        yield "full table then late clear cs%d" % cs, base() + gb.image(97, 61, late, cs) + b"\x3b"
        syms = gb.lzw_symbols(bpx, cs, deferred_clear=True, end=False) + [4095, 4095, gb.END]
        reuse = gb.pack_codes(gb.assign_widths(syms, cs))
        yield "full table reuse last code cs%d" % cs, base() + gb.image(97, 62, reuse, cs) + b"\x3b"
        yield "clear every 50 cs%d" % cs, gb.simple_gif(97, 61, bpx, cs, clear_every=50)
    runs = [0] * 5000 + [1] * 3000
    yield "long runs", gb.simple_gif(100, 80, runs)
    yield "long runs deferred", gb.simple_gif(100, 80, runs * 2, deferred_clear=True)

    # every prefix of a small complete file with an extension
    small = gb.encode(gb.random_pixels(rng, 30, 256), 8)
    full = base() + gb.graphic_control(1, 2) + gb.image(6, 5, small, sizes=(9,)) + b"\x3b"
    for cut in range(781, len(full)):
        yield "truncated at %d" % cut, full[:cut]

    # image data in sub-blocks of 61 bytes that straddle the end of the
    # reader's first chunk at every phase: stray bytes (skipped one by one)
    # put the image block `into` bytes before the boundary
    for into in range(0, 260, 13):
        filler = b"\x55" * (gif_model.READER_CHUNK - 781 - into)
        phased = gb.encode(gb.random_pixels(rng, 400, 256), 8)
        yield ("chunk phase %d" % into,
               base() + filler + gb.image(40, 10, phased, sizes=(61,)) + b"\x3b")


def cut_streams():
    """Plain and interlaced images whose data ends, with its end code, at many
    points inside a row: the rows it finished land in place and every other
    row, the one it was filling too, is zero.

    The rows are wide, so that strings go into them on the fast path, which
    writes a few bytes past a string's end; rows of runs give long strings;
    forced clears make entries again over the remains of earlier ones.
    """
    rng = random.Random(27)
    gct = gb.colour_table(256, 27)
    for width, height, clear_every in ((64, 16, None), (256, 40, 200), (1000, 12, None),
                                       (3001, 9, 700)):
        pixels = []
        for row in range(height):
            pixels += gb.random_pixels(rng, width, 256, runs=row % 3 == 2)
        for interlaced in (False, True):
            order = gif_model.interlaced_rows(height) if interlaced else range(height)
            stored = [p for row in order for p in pixels[row * width:(row + 1) * width]]
            for row in sorted({0, 1, height // 2, height - 1}):
                for into in sorted({1, 7, 8, 9, width // 2, width - 9, width - 8, width - 1}):
                    cut = row * width + into
                    data = gb.encode(stored[:cut], 8, clear_every=clear_every)
                    packed = 0x40 if interlaced else 0
                    yield ("cut %dx%d%s at row %d + %d" % (width, height, " interlaced" * interlaced,
                                                          row, into),
                           gb.header() + gct + gb.image(width, height, data, 8, packed) + b"\x3b")


def random_streams(seed, count):
    """Yields GIFs whose code streams are random walks over valid and invalid codes."""
    rng = random.Random(seed)
    gct = gb.colour_table(256, 9)
    for i in range(count):
        cs = rng.choice((2, 2, 3, 4, 5, 8))
        k = 1 << cs
        width, height = rng.randint(1, 12), rng.randint(1, 8)
        symbols = [] if rng.random() < 0.2 else [gb.CLEAR]
        next_free, previous = k + 2, None
        for _ in range(rng.randint(0, 60)):
            roll = rng.random()
            if roll < 0.03:
                symbols.append(gb.CLEAR)
                next_free, previous = k + 2, None
                continue
            if roll < 0.06:
                code = next_free + rng.randint(1, 3)
            elif roll < 0.2 and next_free > k + 2:
                code = rng.randrange(k + 2, next_free + 1)
            elif roll < 0.25:
                code = next_free
            else:
                code = rng.randrange(k)
            symbols.append(code)
            if previous is not None and next_free < 4096:
                next_free += 1
            previous = code
        if rng.random() < 0.9:
            symbols.append(gb.END)
        trailing = bytes(rng.randrange(256) for _ in range(rng.choice((0, 0, 1, 3))))
        data = gb.pack_codes(gb.assign_widths(symbols, cs), trailing)
        sizes = (rng.choice((1, 2, 3, 5, 255)),)
        after = rng.choice((b"\x3b", b"\x3b", b"", b"\x00", b"\x01\x00\x3b", b"\x21\xfe\x01x\x00\x3b"))
        body = gb.image(width, height, data, cs, sizes=sizes, terminator=rng.random() < 0.9) + after
        yield "random stream %d (cs %d, %dx%d)" % (i, cs, width, height), gb.header() + gct + body


def chunk_straddling_tables():
    """Image descriptors and local tables that cross the reader's chunk boundary."""
    gct = gb.colour_table(256, 4)
    lct = gb.colour_table(256, 5)
    data = gb.encode(list(range(40)), 8)
    chunk = gif_model.READER_CHUNK
    first_block = 13 + 768
    for before in (1, 5, 9, 10, 11, 200, 700, 767, 768, 769, 777, 778, 779):
        # stray bytes (skipped one by one) put the image separator `before`
        # bytes ahead of the boundary: descriptor, table and code size span it
        filler = b"\x55" * (chunk - before - first_block)
        gif = gb.header() + gct + filler + gb.image(8, 5, data, 8, 0x87, lct) + b"\x3b"
        yield "table across chunk %d" % before, gif
        yield "table across chunk %d cut" % before, gif[:chunk - before + 3]


# ---------------------------------------------------------------- sources


def own_sources():
    rng = random.Random(7)
    out = []
    sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "sample.gif")
    if os.path.exists(sample):
        out.append(("bundled sample", read(sample)))
    for i, (w, h, cs) in enumerate(((13, 7, 8), (4, 4, 2), (33, 9, 4), (50, 20, 8), (5, 61, 3), (64, 32, 8))):
        px = gb.random_pixels(rng, w * h, 1 << cs, runs=bool(i % 2))
        extras = gb.graphic_control(4, 1) if i % 3 == 0 else b""
        out.append(("writer %dx%d" % (w, h), gb.simple_gif(w, h, px, cs, seed=i, extras=extras, sizes=(255, 40))))
    lct = gb.colour_table(16, 3)
    out.append(("writer local table", gb.header() + gb.colour_table(256) +
                gb.image(10, 6, gb.encode(gb.random_pixels(rng, 60, 16), 4), 4, 0x83, lct) +
                gb.image(2, 2, gb.encode([1, 2, 3, 0], 2), 2) + b"\x3b"))
    return out


def tool_sources(workdir):
    """GIFs written by other encoders, made now; a missing tool is skipped."""
    out = []
    convert = shutil.which("convert")
    if convert:
        recipes = (
            ["-size", "37x23", "plasma:fractal", "-colors", "256"],
            ["rose:", "-colors", "256"],
            ["-size", "31x17", "gradient:red-blue", "-colors", "256"],
            ["rose:", "-resize", "25x19!", "-colors", "256", "-interlace", "GIF"],
            ["-size", "45x12", "xc:gray", "-colors", "256"],
            ["-size", "19x9", "pattern:checkerboard", "-colors", "256"],
            ["rose:", "-colors", "16"],
            ["-delay", "5", "-size", "23x11", "plasma:", "rose:", "-colors", "256"],
            ["-size", "300x2", "gradient:", "-colors", "256"],
            ["-size", "16x16", "xc:white", "-fill", "black", "-draw", "line 0,0 15,15", "-colors", "2"],
        )
        for i, recipe in enumerate(recipes):
            path = os.path.join(workdir, "im%d.gif" % i)
            if run([convert, "-seed", "5"] + recipe + [path]) and os.path.exists(path):
                out.append(("convert %s" % " ".join(recipe), read(path)))
    gifsicle = shutil.which("gifsicle")
    if gifsicle and out:
        for i, (name, data) in enumerate(list(out[:3])):
            src = os.path.join(workdir, "im%d.gif" % i)
            for j, opts in enumerate((["-O3"], ["--no-extensions", "--careful"], ["--interlace"],
                                      ["--colors", "256", "--color-method", "median-cut"])):
                path = os.path.join(workdir, "gs%d_%d.gif" % (i, j))
                if run([gifsicle] + opts + [src, "-o", path]) and os.path.exists(path):
                    out.append(("gifsicle %s %s" % (" ".join(opts), name), read(path)))
    out += pillow_sources(workdir)
    for name, data in list(out):
        wide = widened(data)
        if wide is not None and wide != data:
            out.append(("widened " + name, wide))
    return out


PILLOW_SCRIPT = r"""
import random, sys
from PIL import Image
rng = random.Random(11)
out = sys.argv[1]
for i, (w, h) in enumerate(((21, 13), (8, 8), (67, 5), (3, 40))):
    im = Image.new("P", (w, h))
    im.putpalette([rng.randrange(256) for _ in range(768)])
    im.putdata([rng.randrange(256) if i % 2 else (x // 3) % 256 for x in range(w * h)])
    im.save("%s/pil%d.gif" % (out, i), optimize=False)
"""


def pillow_sources(workdir):
    for python in (sys.executable, "/usr/bin/python3"):
        if python and os.path.exists(python) and run([python, "-c", PILLOW_SCRIPT, workdir]):
            break
    else:
        return []
    out = []
    for i in range(4):
        path = os.path.join(workdir, "pil%d.gif" % i)
        if os.path.exists(path):
            out.append(("pillow %d" % i, read(path)))
    return out


def widened(data):
    """The same GIF with a 256-entry global table and no interlace flag, or None.

    Other encoders often write smaller tables; widening the table (new entries
    zero) and clearing the interlace flag keeps their code streams but makes
    the file one this converter takes, so mutations reach the decoder.
    """
    if len(data) < 13 or not data[10] & 0x80:
        return None
    entries = 2 << (data[10] & 7)
    out = bytearray(data[:10]) + bytes((data[10] | 7,)) + data[11:13]
    out += data[13:13 + 3 * entries] + bytes(768 - 3 * entries)
    i = 13 + 3 * entries
    while i < len(data):
        b = data[i]
        if b == 0x2C and i + 10 <= len(data):
            out += data[i:i + 9] + bytes((data[i + 9] & ~0x40,))
            i += 10
            start = i
            if data[i - 1] & 0x80:
                i += 3 << ((data[i - 1] & 7) + 1)
            i = skip_sub_blocks(data, i + 1)
            out += data[start:i]
        elif b == 0x21:
            start = i
            i = skip_sub_blocks(data, i + 2)
            out += data[start:i]
        else:
            out.append(b)
            i += 1
    return bytes(out)


def skip_sub_blocks(data, i):
    """Offset just past the sub-blocks starting at i (and their terminator)."""
    while i < len(data) and data[i]:
        i += data[i] + 1
    return min(i + 1, len(data))


def run(argv):
    try:
        return subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode == 0
    except (OSError, subprocess.SubprocessError):
        return False


def read(path):
    with open(path, "rb") as f:
        return f.read()


# ---------------------------------------------------------------- mutations


MARKER_BYTES = (0x00, 0x21, 0x2C, 0x3B, 0xFF, 0x01, 0x80, 0x40)


def mutate(rng, data):
    """Applies one to three random edits; returns (bytes, description)."""
    data = bytearray(data)
    notes = []
    for _ in range(rng.choice((1, 1, 1, 2, 3))):
        if not data:
            break
        kind = rng.randrange(12)
        pos = rng.randrange(len(data))
        if kind == 0:
            bit = 1 << rng.randrange(8)
            data[pos] ^= bit
            notes.append("flip %d^%02x" % (pos, bit))
        elif kind == 1:
            value = rng.choice(MARKER_BYTES)
            data[pos] = value
            notes.append("set %d=%02x" % (pos, value))
        elif kind == 2:
            data[pos] = rng.randrange(256)
            notes.append("random %d=%02x" % (pos, data[pos]))
        elif kind == 3:
            del data[pos:]
            notes.append("truncate %d" % pos)
        elif kind == 4:
            extra = bytes(rng.choice(MARKER_BYTES) if rng.random() < 0.5 else rng.randrange(256)
                          for _ in range(rng.randint(1, 4)))
            data[pos:pos] = extra
            notes.append("insert %d %s" % (pos, extra.hex()))
        elif kind == 5:
            n = rng.randint(1, 16)
            del data[pos:pos + n]
            notes.append("delete %d+%d" % (pos, n))
        elif kind == 6:
            n = rng.randint(1, 64)
            chunk = data[pos:pos + n]
            at = rng.randrange(len(data) + 1)
            data[at:at] = chunk
            notes.append("duplicate %d+%d at %d" % (pos, n, at))
        elif kind == 7 and len(data) > 10:
            data[10] = rng.choice((data[10] ^ (1 << rng.randrange(8)), rng.randrange(256)))
            notes.append("screen packed=%02x" % data[10])
        elif kind == 10:
            lengths = sub_block_lengths(data)
            if lengths:
                at = rng.choice(lengths)
                data[at] = rng.choice((0, 1, 255, (data[at] + 1) % 256, (data[at] - 1) % 256, rng.randrange(256)))
                notes.append("sub-block length at %d=%d" % (at, data[at]))
        elif kind == 11:
            tail = data[781:] if len(data) > 781 else b""
            cut = rng.randrange(len(tail) + 1)
            data[len(data) - rng.choice((0, 1)):] = b""
            data += tail[:cut] + rng.choice((b"", b"\x3b"))
            notes.append("append %d bytes of blocks" % cut)
        elif kind in (8, 9):
            at = find_image(data)
            if at is None:
                data[pos] = rng.randrange(256)
                notes.append("random %d=%02x" % (pos, data[pos]))
            elif kind == 8 and at + 9 < len(data):
                data[at + 9] = rng.choice((data[at + 9] ^ (1 << rng.randrange(8)), 0x80 | rng.randrange(8), 0x40))
                notes.append("image packed=%02x" % data[at + 9])
            elif at + 10 < len(data):
                cs_at = at + 10 + (3 << ((data[at + 9] & 7) + 1) if data[at + 9] & 0x80 else 0)
                if cs_at < len(data):
                    data[cs_at] = rng.choice((0, 1, 2, 3, 7, 8, 9, 12, data[cs_at] ^ 1))
                    notes.append("code size=%d" % data[cs_at])
    return bytes(data), ", ".join(notes)


def sub_block_lengths(data):
    """Offsets of the length bytes of the first image's data sub-blocks."""
    at = find_image(data)
    if at is None or at + 10 > len(data):
        return []
    i = at + 10
    if data[at + 9] & 0x80:
        i += 3 << ((data[at + 9] & 7) + 1)
    i += 1  # code size
    out = []
    while i < len(data) and data[i]:
        out.append(i)
        i += data[i] + 1
    return out


def find_image(data):
    """Offset of the first image separator found by walking the blocks, or None."""
    i = 781
    while i < len(data):
        b = data[i]
        if b == 0x2C:
            return i
        if b == 0x21:
            i = skip_sub_blocks(data, i + 2)
        elif b in (0x00, 0x3B):
            return None
        else:
            i += 1
    return None


# ---------------------------------------------------------------- running


class Library:
    def __init__(self, path, workdir):
        self.lib = ctypes.CDLL(path)
        self.lib.BREVLO32.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        self.lib.BREVLO32.restype = ctypes.c_int32
        self.lib.brevlo_convert.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32]
        self.lib.brevlo_convert.restype = ctypes.c_int32
        self.gif = os.path.join(workdir, "case.gif")
        self.bmp = os.path.join(workdir, "case.bmp")

    def convert(self, data, broad=False):
        with open(self.gif, "wb") as f:
            f.write(data)
        if os.path.exists(self.bmp):
            os.unlink(self.bmp)
        if broad:
            code = self.lib.brevlo_convert(self.gif.encode(), self.bmp.encode(), 0)
        else:
            code = self.lib.BREVLO32(self.gif.encode(), self.bmp.encode())
        output = read(self.bmp) if os.path.exists(self.bmp) else None
        return code, output


def first_difference(a, b):
    for i in range(min(len(a), len(b))):
        if a[i] != b[i]:
            return i
    return min(len(a), len(b))


def describe(name, data, got, want):
    lines = ["MISMATCH %s" % name,
             "  library: code %d, output %s" % (got[0], "none" if got[1] is None else "%d bytes" % len(got[1])),
             "  model:   code %d, output %s" % (want[0], "none" if want[1] is None else "%d bytes" % len(want[1]))]
    if got[1] is not None and want[1] is not None and got[0] == want[0]:
        at = first_difference(got[1], want[1])
        lines.append("  first output difference at %d" % at)
        lines.append("    library: %s" % got[1][max(0, at - 8):at + 16].hex(" "))
        lines.append("    model:   %s" % want[1][max(0, at - 8):at + 16].hex(" "))
    lines.append("  gif (%d bytes) from 781: %s" % (len(data), data[781:781 + 48].hex(" ")))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("library")
    parser.add_argument("--save-dir", default=os.path.join(os.getcwd(), "model_mismatches"))
    parser.add_argument("--mutations", type=int, default=8000)
    parser.add_argument("--streams", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=20261208)
    args = parser.parse_args()

    started = time.monotonic()
    passed = failed = 0
    workdir = tempfile.mkdtemp(prefix="brevlo-model-")
    try:
        lib = Library(os.path.abspath(args.library), workdir)

        def check(name, data):
            nonlocal passed, failed
            for broad in (False, True):
                got = lib.convert(data, broad)
                want = gif_model.convert(data, broad)
                if got == want:
                    passed += 1
                    continue
                failed += 1
                os.makedirs(args.save_dir, exist_ok=True)
                path = os.path.join(args.save_dir, "case%04d.gif" % failed)
                with open(path, "wb") as f:
                    f.write(data)
                mode = "broad: " if broad else "BREVLO32: "
                print(describe(mode + name, data, got, want) + "\n  saved as " + path, flush=True)

        for name, data in handcrafted_cases():
            check("handcrafted: " + name, data)
        for name, data in chunk_straddling_tables():
            check("handcrafted: " + name, data)
        for name, data in cut_streams():
            check("handcrafted: " + name, data)
        for name, data in random_streams(args.seed, args.streams):
            check("handcrafted: " + name, data)
        handcrafted = passed + failed

        sources = own_sources() + tool_sources(workdir)
        for name, data in sources:
            check("source: " + name, data)
        print("sources: %d (%s)" % (len(sources), "; ".join(n for n, _ in sources)))

        # Files the converter takes are mutated more often than refused ones.
        pool = [s for s in sources for _ in range(3 if gif_model.convert(s[1])[0] == 0 else 1)]
        rng = random.Random(args.seed)
        for i in range(args.mutations):
            name, data = pool[i % len(pool)]
            seed = rng.randrange(1 << 32)
            mutated, note = mutate(random.Random(seed), data)
            check("mutation seed=%d of %s: %s" % (seed, name, note), mutated)
        print("handcrafted cases: %d (%d random code streams), mutated cases: %d, %.1f s"
              % (handcrafted, args.streams, args.mutations, time.monotonic() - started))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
