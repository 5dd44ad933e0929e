"""A plain, per-pixel model of every frame of a GIF, composed as viewers show it.

compose(gif_bytes) -> Composition: the screen's size, each frame's pixels and
delay, and the damage that stopped the walk: None, or (kind, frame) with kind
"cut short" (the file ends inside the frame's image data or where its code
size belongs), "ended" (inside its descriptor or local table), "corrupt" (its
image data), "empty image" (a first image 0 wide or high), "no colour table"
(a first image with no table of its own in a file with no global one) or
"screen too large" (a canvas of more than MAX_CANVAS_PIXELS); frames holds the
whole frames before it. A file that ends before the first image is damaged in
frame 1.
frame_bmp(composition, k) -> the bytes of the BMP file frame k becomes.

The rules, one step at a time:
- The screen is the screen descriptor's width and height, or the first
  image's when either is 0.
- The canvas starts as the background: the global table's colour at the
  background index (black past the table), or black without a global table.
- Each image is drawn at its offset, clipped to the screen. Pixels equal to
  the transparent index of its graphic control extension leave what is below,
  and so do rows its data never reaches; a graphic control extension applies
  to the next image only.
- After the frame, disposal 2 restores the image's rectangle to the
  background, 3 to what was there before the image was drawn; 0, 1 and 4 to 7
  keep it.
- An index past the size of the table in use is black.
- Image data must end with the end code; a complete image's data may end at
  its terminator without one, as the broad conversion accepts.

Each pixel remembers whether it is a global-table index and whether it is the
background (never drawn, or restored to it), so that peers that show the
background as transparent can be compared too. Written for clarity, not speed;
standard library only.
"""

from collections import namedtuple

# A pixel: its colour (red, green, blue); its global-table index, or None when
# the colour came from elsewhere; whether it is the background.
Pixel = namedtuple("Pixel", "rgb index background")

Composition = namedtuple("Composition", "width height frames delays damage global_table")

MAX_CANVAS_PIXELS = 1 << 28
MAX_CODES = 4096
MAX_CODE_WIDTH = 12
BMP_PIXEL_OFFSET = 1078
BMP_TRUE_COLOUR_PIXEL_OFFSET = 54


class CutShort(Exception):
    pass


class Corrupt(Exception):
    pass


class Ended(Exception):
    """The file ends inside an image's descriptor or local table."""


class Bytes:
    """The GIF read front to back."""

    def __init__(self, data):
        self.data = bytes(data)
        self.pos = 0

    def take(self, n):
        if self.pos + n > len(self.data):
            self.pos = len(self.data)
            raise CutShort()
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def byte(self):
        return self.take(1)[0]

    def at_end(self):
        return self.pos >= len(self.data)


def colour(table, index):
    if table is None or 3 * index + 2 >= len(table):
        return (0, 0, 0)
    return tuple(table[3 * index:3 * index + 3])


def skip_sub_blocks(gif):
    while True:
        length = gif.byte()
        if length == 0:
            return
        gif.take(length)


def read_sub_blocks(gif):
    """The image data's whole sub-blocks up to the 0 length, and how they
    ended: "terminated", "cut at a length" or "cut inside a block" (whose part
    is never decoded: a block is read whole before its codes are)."""
    blocks = []
    while True:
        try:
            length = gif.byte()
        except CutShort:
            return blocks, "cut at a length"
        if length == 0:
            return blocks, "terminated"
        try:
            blocks.append(gif.take(length))
        except CutShort:
            return blocks, "cut inside a block"


def decode(blocks, ending, code_size, count):
    """LZW codes to at most count pixels, up to the end code.

    The end code must close the data: a sub-block after the one holding it is
    corrupt, and so is data terminated without one. A file that ends inside
    the data before the end code is cut short.
    """
    if code_size < 2 or code_size > 8:
        raise Corrupt()
    clear = 1 << code_size
    end = clear + 1
    table, next_free, width, previous = {}, 0, 0, None

    def reset():
        nonlocal table, next_free, width, previous
        table = {i: [i] for i in range(clear)}
        next_free, width, previous = clear + 2, code_size + 1, None

    reset()
    out = []
    bits = nbits = 0
    for block_index, block in enumerate(blocks):
        for value in block:
            bits |= value << nbits
            nbits += 8
            while nbits >= width:
                code = bits & ((1 << width) - 1)
                bits >>= width
                nbits -= width
                if code == end:
                    last = block_index == len(blocks) - 1 and ending != "cut inside a block"
                    if not last:
                        raise Corrupt()
                    return out[:count]
                if code == clear:
                    reset()
                    continue
                if code > next_free or (code == next_free and previous is None):
                    raise Corrupt()
                if code == next_free:
                    string = table[previous] + table[previous][:1]
                else:
                    string = table[code]
                out.extend(string)
                if previous is not None and next_free < MAX_CODES:
                    table[next_free] = table[previous] + string[:1]
                    next_free += 1
                    if next_free == 1 << width and width < MAX_CODE_WIDTH:
                        width += 1
                previous = code
    if ending == "terminated":
        if len(out) >= count:
            return out[:count]  # complete: the terminator stands for the end code
        raise Corrupt()
    raise CutShort()


def parse_control(body):
    """Disposal, delay (hundredths) and transparent index of a graphic control
    extension's first sub-block."""
    if len(body) < 4:
        return 0, 0, None
    packed = body[0]
    disposal = (packed >> 2) & 7
    delay = body[1] | (body[2] << 8)
    transparent = body[3] if packed & 1 else None
    return disposal, delay, transparent


def read_extension(gif):
    label = gif.byte()
    if label != 0xF9:
        skip_sub_blocks(gif)
        return None
    length = gif.byte()
    if length == 0:
        return None
    body = gif.take(length)
    skip_sub_blocks(gif)
    return parse_control(body)


def compose(gif_bytes):
    gif = Bytes(gif_bytes)
    try:
        head = gif.take(13)
        packed = head[10]
        global_table = gif.take(3 << ((packed & 7) + 1)) if packed & 0x80 else None
    except CutShort:
        return Composition(None, None, [], [], ("ended", 1), None)
    screen_width = head[6] | (head[7] << 8)
    screen_height = head[8] | (head[9] << 8)
    background_index = head[11]
    if global_table is None:
        background = Pixel((0, 0, 0), None, True)
    else:
        background = Pixel(colour(global_table, background_index), background_index, True)

    width = height = None
    canvas = None
    frames = []
    delays = []
    control = None
    damage = None
    while damage is None:
        try:
            introducer = gif.byte()
        except CutShort:
            introducer = 0  # the file's end reads as a 0 byte
        if introducer == 0x3B or introducer == 0:
            if not frames:  # no image at all
                damage = ("no colour table" if global_table is None else
                          "no image" if introducer == 0x3B else "ended", 1)
            break
        if introducer == 0x21:
            try:
                found = read_extension(gif)
            except CutShort:
                continue  # the next read meets the end
            if found is not None:
                control = found
            continue
        if introducer != 0x2C:
            continue  # a stray byte between blocks
        disposal, delay, transparent = control if control else (0, 0, None)
        control = None
        frame = len(frames) + 1
        try:
            try:
                d = gif.take(9)
            except CutShort:
                # Before the first image shows a table of its own, a file
                # without a global one has none.
                no_table = canvas is None and global_table is None
                damage = ("no colour table" if no_table else "ended", frame)
                break
            image_packed = d[8]
            try:
                local = gif.take(3 << ((image_packed & 7) + 1)) if image_packed & 0x80 else None
            except CutShort:
                raise Ended() from None
            left, top = d[0] | (d[1] << 8), d[2] | (d[3] << 8)
            w, h = d[4] | (d[5] << 8), d[6] | (d[7] << 8)
            if canvas is None and local is None and global_table is None:
                damage = ("no colour table", frame)
                break
            # As the still image's conversion does: the first image's size
            # and the screen are judged before the code size is looked at.
            code_size = None if gif.at_end() else gif.byte()
            if canvas is None:
                if w == 0 or h == 0:
                    damage = ("empty image", frame)
                    break
                sized = screen_width and screen_height
                width, height = (screen_width, screen_height) if sized else (w, h)
                if width * height > MAX_CANVAS_PIXELS:
                    damage = ("screen too large", frame)
                    break
                canvas = [background] * (width * height)
            if code_size is None:
                raise CutShort()
            blocks, ending = read_sub_blocks(gif)
            pixels = decode(blocks, ending, code_size, w * h)
        except Ended:
            damage = ("ended", frame)
            break
        except CutShort:
            damage = ("cut short", frame)
            break
        except Corrupt:
            damage = ("corrupt", frame)
            break
        before = list(canvas)
        reached = len(pixels) // w if w else 0
        rows = interlaced_rows(h) if image_packed & 0x40 else list(range(h))
        for stored, row in enumerate(rows[:reached]):
            for column in range(w):
                x, y = left + column, top + row
                p = pixels[stored * w + column]
                if x >= width or y >= height or p == transparent:
                    continue
                if local is not None:
                    drawn = Pixel(colour(local, p), None, False)
                elif global_table is not None:
                    drawn = Pixel(colour(global_table, p), p, False)
                else:
                    drawn = Pixel((0, 0, 0), None, False)
                canvas[y * width + x] = drawn
        frames.append(list(canvas))
        delays.append(delay)
        for row in range(h):
            for column in range(w):
                x, y = left + column, top + row
                if x >= width or y >= height:
                    continue
                if disposal == 2:
                    canvas[y * width + x] = background
                elif disposal == 3:
                    canvas[y * width + x] = before[y * width + x]
    return Composition(width, height, frames, delays, damage, global_table)


def interlaced_rows(height):
    return [row for start, step in ((0, 8), (4, 8), (2, 4), (1, 2))
            for row in range(start, height, step)]


def le(value, size):
    return value.to_bytes(size, "little")


def headers(width, height, bits, offset, size):
    return (b"BM" + le(size, 4) + le(0, 4) + le(offset, 4) + le(40, 4) + le(width, 4) +
            le(height, 4) + le(1, 2) + le(bits, 2) + le(0, 24))


def frame_bmp(composition, k):
    """The BMP a frame becomes: 8-bit with the global table as palette when
    every pixel is a global index; 8-bit with its own colours ascending when
    they are at most 256; 24-bit otherwise. Rows bottom-up, padded to 4."""
    width, height = composition.width, composition.height
    frame = composition.frames[k]
    if all(p.index is not None for p in frame):
        palette = [colour(composition.global_table, i) for i in range(256)]
        return eight_bit(width, height, [p.index for p in frame], palette)
    colours = sorted(set(p.rgb for p in frame))
    if len(colours) <= 256:
        position = {rgb: i for i, rgb in enumerate(colours)}
        return eight_bit(width, height, [position[p.rgb] for p in frame], colours)
    stride = (3 * width + 3) // 4 * 4
    out = bytearray(headers(width, height, 24, BMP_TRUE_COLOUR_PIXEL_OFFSET,
                            BMP_TRUE_COLOUR_PIXEL_OFFSET + stride * height))
    for y in reversed(range(height)):
        row = bytearray()
        for p in frame[y * width:(y + 1) * width]:
            row += bytes((p.rgb[2], p.rgb[1], p.rgb[0]))
        out += row + bytes(stride - len(row))
    return bytes(out)


def eight_bit(width, height, indices, colours):
    stride = (width + 3) // 4 * 4
    out = bytearray(headers(width, height, 8, BMP_PIXEL_OFFSET, BMP_PIXEL_OFFSET + stride * height))
    for i in range(256):
        red, green, blue = colours[i] if i < len(colours) else (0, 0, 0)
        out += bytes((blue, green, red, 0))
    for y in reversed(range(height)):
        out += bytes(indices[y * width:(y + 1) * width]) + bytes(stride - width)
    return bytes(out)
