"""A small GIF writer with control over every code, code width and sub-block.

Used by the differential test to build both well-formed files and deliberately
broken code streams. Standard library only.
"""

import random

CLEAR = "clear"
END = "end"


def header(signature=b"GIF89a", packed=0xF7, screen=(0, 0), background=0, aspect=0):
    width, height = screen
    return (signature + width.to_bytes(2, "little") + height.to_bytes(2, "little") +
            bytes((packed, background, aspect)))


def colour_table(entries, seed=0):
    rng = random.Random(seed)
    return bytes(rng.randrange(256) for _ in range(3 * entries))


def sub_blocks(data, sizes=(255,), terminator=True):
    """Splits data into sub-blocks whose lengths cycle through sizes."""
    out = bytearray()
    i = 0
    k = 0
    while i < len(data):
        n = min(sizes[k % len(sizes)], len(data) - i, 255)
        out.append(n)
        out += data[i:i + n]
        i += n
        k += 1
    if terminator:
        out.append(0)
    return bytes(out)


def extension(label, payloads, terminator=True):
    out = bytearray(b"\x21")
    out.append(label)
    for p in payloads:
        out.append(len(p))
        out += p
    if terminator:
        out.append(0)
    return bytes(out)


def graphic_control(delay=0, transparent=None, disposal=0):
    flags = (disposal & 7) << 2 | (1 if transparent is not None else 0)
    body = bytes((flags,)) + delay.to_bytes(2, "little") + bytes((transparent or 0,))
    return extension(0xF9, [body])


def descriptor(width, height, packed=0, left=0, top=0):
    return (b"\x2c" + left.to_bytes(2, "little") + top.to_bytes(2, "little") +
            width.to_bytes(2, "little") + height.to_bytes(2, "little") + bytes((packed,)))


def image(width, height, data, code_size=8, packed=0, local_table=b"", sizes=(255,),
          terminator=True, left=0, top=0):
    return (descriptor(width, height, packed, left, top) + local_table + bytes((code_size,)) +
            sub_blocks(data, sizes, terminator))


def table_bits(entries):
    """The size field of a colour table's packed byte: 2^(bits+1) entries."""
    bits = 0
    while (2 << bits) < entries:
        bits += 1
    return bits


def interlaced_rows(height):
    """Image row numbers in the order an interlaced image stores them."""
    return [row for start, step in ((0, 8), (4, 8), (2, 4), (1, 2))
            for row in range(start, height, step)]


def assign_widths(symbols, code_size):
    """Gives each symbol the width a decoder reads it with (GIF's growth rule).

    Symbols are code values or CLEAR / END. The table gains one entry for every
    code after the first since the last clear, until it holds 4096 codes; the
    width grows when the next free code reaches 2^width, up to 12 bits.
    """
    k = 1 << code_size
    next_free = k + 2
    width = code_size + 1
    previous = None
    out = []
    for sym in symbols:
        code = k if sym == CLEAR else k + 1 if sym == END else sym
        out.append((code, width))
        if sym == CLEAR:
            next_free, width, previous = k + 2, code_size + 1, None
            continue
        if sym == END:
            continue
        if previous is not None and next_free < 4096:
            next_free += 1
            if next_free == 1 << width and width < 12:
                width += 1
        previous = code
    return out


def pack_codes(coded, trailing=b""):
    """Packs (code, width) pairs least significant bit first."""
    acc = 0
    nbits = 0
    out = bytearray()
    for code, width in coded:
        acc |= (code & ((1 << width) - 1)) << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out) + trailing


def lzw_symbols(pixels, code_size, leading_clear=True, deferred_clear=False, end=True,
                clear_every=None):
    """LZW-encodes pixels into symbols (codes plus CLEAR / END).

    With deferred_clear the encoder keeps using a full table instead of
    clearing it; clear_every forces a clear after that many codes.
    """
    k = 1 << code_size
    symbols = [CLEAR] if leading_clear else []
    if not pixels:
        if end:
            symbols.append(END)
        return symbols

    def fresh():
        return {(i,): i for i in range(k)}, k + 2

    table, next_free = fresh()
    emitted = 0
    current = (pixels[0],)
    for p in pixels[1:]:
        candidate = current + (p,)
        if candidate in table:
            current = candidate
            continue
        symbols.append(table[current])
        emitted += 1
        if next_free < 4096:
            table[candidate] = next_free
            next_free += 1
        if (next_free == 4096 and not deferred_clear) or (clear_every and emitted % clear_every == 0):
            symbols.append(CLEAR)
            table, next_free = fresh()
        current = (p,)
    symbols.append(table[current])
    if end:
        symbols.append(END)
    return symbols


def encode(pixels, code_size, trailing=b"", **options):
    return pack_codes(assign_widths(lzw_symbols(pixels, code_size, **options), code_size), trailing)


def random_pixels(rng, count, colours, runs=False):
    if runs:
        out = []
        while len(out) < count:
            out += [rng.randrange(colours)] * rng.randint(1, 40)
        return out[:count]
    return [rng.randrange(colours) for _ in range(count)]


def simple_gif(width, height, pixels, code_size=8, signature=b"GIF89a", seed=0, extras=b"",
               sizes=(255,), trailer=True, **options):
    data = encode(pixels, code_size, **options)
    out = header(signature) + colour_table(256, seed) + extras
    out += image(width, height, data, code_size, sizes=sizes)
    if trailer:
        out += b"\x3b"
    return out
