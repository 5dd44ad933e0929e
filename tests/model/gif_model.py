"""A plain, step-by-step model of one brevlo conversion.

convert(gif_bytes, broad=False) -> (result_code, bmp_bytes or None)

It is written for clarity, not speed, and follows the documented behaviour one
step at a time: the entry checks, the block parser reading the whole file front
to back through its buffered reader of 16 KiB chunks, the LZW decoder with its byte-at-a-time bit reader, and the BMP writer.
The output file is modelled as a bytearray written at explicit offsets; a write
past its end extends it with zero bytes, as a file system does for a gap. After
a nonzero result the output is deleted, so None is returned.

By default it models BREVLO32. With broad=True it models the conversion the
brevlo command and brevlo_convert(flags 0) make: colour tables of any size,
global or local (and a file without a global table whose first image has one),
interlaced images, a file that ends or holds a 0 byte after its first image in
place of the trailer, and a complete image whose data ends without an end code.

Uses the standard library only.
"""

OK = 0
ERR_OPEN_FAILED = 30001
ERR_NO_MEMORY = 30003
ERR_BAD_GIF = 30004
ERR_UNSUPPORTED = 30008
ERR_EMPTY_NAME = 30010
ERR_EARLY_END = 30011

BMP_PIXEL_OFFSET = 1078  # 14-byte file header + 40-byte info header + 1024-byte palette
READER_CHUNK = 16 * 1024
MAX_CODES = 4096
MAX_CODE_WIDTH = 12


class InputFile:
    """A read-only file read front to back: the bytes and how far reading got."""

    def __init__(self, data):
        self.data = bytes(data)
        self.pos = 0

    def read(self, n):
        chunk = self.data[self.pos:self.pos + n]
        self.pos += len(chunk)
        return chunk


class OutputFile:
    """A write-only file: seek then write; gaps read as zero."""

    def __init__(self):
        self.data = bytearray()
        self.pos = 0

    def seek(self, offset):
        self.pos = offset

    def write(self, chunk):
        end = self.pos + len(chunk)
        if end > len(self.data):
            self.data.extend(b"\0" * (end - len(self.data)))
        self.data[self.pos:end] = chunk
        self.pos = end


class Reader:
    """The buffered reader: chunks of READER_CHUNK bytes, front to back."""

    def __init__(self, gif):
        self.gif = gif
        self.buffer = b""
        self.unread = 0
        self.next_index = 0
        self.ended = False  # a read found the end of the file

    def refill(self):
        chunk = self.gif.read(READER_CHUNK)
        if len(chunk) == 0:
            self.unread = 0
            self.ended = True
            return
        self.buffer = chunk
        self.unread = len(chunk)
        self.next_index = 0

    def read_byte(self):
        if self.unread == 0:
            self.refill()
            if self.unread == 0:
                return 0
        value = self.buffer[self.next_index]
        self.next_index += 1
        self.unread -= 1
        return value

    def read_block(self, n):
        if self.unread >= n:
            out = self.buffer[self.next_index:self.next_index + n]
            self.next_index += n
            self.unread -= n
            return out
        out = self.buffer[self.next_index:self.next_index + self.unread]
        self.next_index += self.unread
        self.unread = 0
        self.refill()
        missing = n - len(out)
        take = min(missing, self.unread)
        out += self.buffer[self.next_index:self.next_index + take]
        self.next_index += take
        self.unread -= take
        return out


def u16(data, offset):
    return data[offset] | (data[offset + 1] << 8)


def le(value, size):
    return (value & ((1 << (8 * size)) - 1)).to_bytes(size, "little")


def stride_of(width):
    return ((width + 3) // 4) * 4


def build_palette(table, entries):
    """256 RGBQUAD entries (blue, green, red, 0) from RGB triples; missing entries zero."""
    palette = bytearray(1024)
    for i in range(entries):
        red, green, blue = table[3 * i], table[3 * i + 1], table[3 * i + 2]
        palette[4 * i:4 * i + 4] = bytes((blue, green, red, 0))
    return bytes(palette)


def write_headers(bmp, width, height, palette):
    stride = stride_of(width)
    header = bytearray()
    header += b"BM"
    header += le(stride * height + BMP_PIXEL_OFFSET, 4)  # bfSize
    header += le(0, 2) + le(0, 2)  # bfReserved1, bfReserved2
    header += le(BMP_PIXEL_OFFSET, 4)  # bfOffBits
    header += le(40, 4)  # biSize
    header += le(width, 4)  # biWidth
    header += le(height, 4)  # biHeight
    header += le(1, 2)  # biPlanes
    header += le(8, 2)  # biBitCount
    header += le(0, 4) * 6  # compression, size image, x/y pels, clr used, clr important
    bmp.write(bytes(header))
    bmp.write(palette)


class BadGif(Exception):
    """Raised inside the decoder to leave it with a result code."""

    def __init__(self, code):
        super().__init__(code)
        self.code = code


class DataEnded(Exception):
    """Raised by the bit reader when the terminator stands where a code goes on."""


class BitReader:
    """Sub-block buffer plus the bit position p of the current byte."""

    def __init__(self, reader, broad=False):
        self.reader = reader
        self.broad = broad
        self.block = b""
        self.index = -1  # current byte; one step before the start of an empty buffer
        self.p = 8

    def fetch_byte(self):
        self.index += 1
        if self.index >= len(self.block):
            length = self.reader.read_byte()
            if length < 1:
                if self.broad and not self.reader.ended:
                    raise DataEnded()
                raise BadGif(ERR_BAD_GIF)
            delivered = self.reader.read_block(length)
            if len(delivered) < length:
                raise BadGif(ERR_BAD_GIF)
            self.block = delivered
            self.index = 0
        return self.block[self.index]

    def current(self):
        return self.block[self.index]

    def read_code(self, width):
        if self.p == 8:
            self.fetch_byte()
            self.p = 0
        old_p = self.p
        need = width + old_p
        bits = self.current() >> old_p
        if need <= 8:
            self.p = need
        else:
            bits |= self.fetch_byte() << (8 - old_p)
            if need <= 16:
                self.p = need - 8
            else:
                bits |= self.fetch_byte() << (16 - old_p)
                self.p = need - 16
        return bits & ((1 << width) - 1)


def interlaced_rows(height):
    """GIF rows in the order an interlaced image stores them."""
    rows = []
    for start, step in ((0, 8), (4, 8), (2, 4), (1, 2)):
        rows += range(start, height, step)
    return rows


def decode_image(reader, code_size, bmp, width, height, interlaced=False, broad=False):
    """Decodes one image's LZW data into bottom-up rows of the BMP."""
    if code_size < 2 or code_size > 8:
        return ERR_BAD_GIF
    stride = stride_of(width)
    order = interlaced_rows(height) if interlaced else list(range(height))
    clear = 1 << code_size
    end = clear + 1
    next_free = clear + 2
    w = code_size + 1
    limit = 1 << (code_size + 1)
    previous = -1
    first_pixel = -1
    prefix = [0] * MAX_CODES
    suffix = [0] * MAX_CODES
    row = bytearray(stride)
    column = 0
    rows_written = 0
    bits = BitReader(reader, broad)

    try:
        while True:
            code = bits.read_code(w)
            if code == end:
                after = reader.read_byte()
                return OK if after == 0 else ERR_BAD_GIF
            if code > next_free:
                return ERR_BAD_GIF
            if code == clear:
                next_free = clear + 2
                w = code_size + 1
                limit = 1 << (code_size + 1)
                previous = -1
                first_pixel = -1
                continue
            stack = []
            x = code
            if code == next_free:
                if previous == -1:
                    return ERR_BAD_GIF
                stack.append(first_pixel)
                x = previous
            while x >= clear:
                stack.append(suffix[x])
                x = prefix[x]
            first_pixel = x
            pixels = [x] + stack[::-1]
            for pixel in pixels:
                if rows_written == height:
                    break  # surplus past the last row is dropped
                row[column] = pixel
                column += 1
                if column == width:
                    bmp.seek(BMP_PIXEL_OFFSET + (height - 1 - order[rows_written]) * stride)
                    bmp.write(bytes(row))
                    rows_written += 1
                    column = 0
            if next_free < MAX_CODES and previous != -1:
                prefix[next_free] = previous
                suffix[next_free] = first_pixel
                next_free += 1
                if next_free == limit and w < MAX_CODE_WIDTH:
                    w += 1
                    limit = 1 << w
            previous = code
    except BadGif as failure:
        return failure.code
    except DataEnded:
        # Only a complete image may end without its end code.
        return OK if rows_written == height else ERR_BAD_GIF


def skip_sub_blocks(reader):
    """Reads and drops sub-blocks up to a zero length (or the end of the file)."""
    while True:
        length = reader.read_byte()
        if length == 0:
            return
        reader.read_block(length)


def skip_image(reader):
    """An image after the first: descriptor, local table, code size and data, dropped.

    Nothing is checked: a file that ends inside it reads as zero bytes from
    there on, and the block loop then meets the end of the file.
    """
    descriptor = reader.read_block(9).ljust(9, b"\0")
    if descriptor[8] & 0x80:
        reader.read_block(3 << ((descriptor[8] & 7) + 1))
    reader.read_byte()  # code size
    skip_sub_blocks(reader)


def parse(reader, bmp, broad=False):
    """The rest of the GIF after its signature, every byte through the reader."""
    screen = reader.read_block(7)  # the header's bytes 6 to 12
    if len(screen) < 7:
        return ERR_EARLY_END
    packed = screen[10 - 6]
    if not broad:
        if (packed & 7) + 1 != 8:
            return ERR_UNSUPPORTED
        if not packed & 0x80:
            return ERR_UNSUPPORTED
    global_entries = 2 << (packed & 7) if packed & 0x80 else 0
    global_table = reader.read_block(3 * global_entries)
    if len(global_table) < 3 * global_entries:
        return ERR_EARLY_END
    palette = build_palette(global_table, global_entries)

    def or_no_table(result):
        # A file without a global table that stops before its first image
        # shows a table of its own is refused for the missing table.
        return result if global_entries else ERR_UNSUPPORTED

    seen_image = False
    while True:
        b = reader.read_byte()
        if b == 0:
            if seen_image:
                return OK if broad else ERR_EARLY_END
            return or_no_table(ERR_EARLY_END)
        if b == 0x21:
            reader.read_byte()  # label, ignored
            skip_sub_blocks(reader)
        elif b == 0x2C:
            if seen_image:
                skip_image(reader)  # only the first image is converted
                continue
            descriptor = reader.read_block(9)
            if len(descriptor) < 9:
                return or_no_table(ERR_EARLY_END)
            image_packed = descriptor[8]
            if image_packed & 0x80:
                entries = 1 << ((image_packed & 7) + 1)
                local_table = reader.read_block(3 * entries)
                if len(local_table) < 3 * entries:
                    return ERR_EARLY_END
                image_palette = build_palette(local_table, entries)
            elif global_entries:
                image_palette = palette
            else:
                return ERR_UNSUPPORTED
            code_size = reader.read_byte()
            seen_image = True
            width = u16(descriptor, 4)
            height = u16(descriptor, 6)
            interlaced = bool(image_packed & 0x40)
            bmp.seek(0)
            write_headers(bmp, width, height, image_palette)
            if interlaced and not broad:
                return ERR_UNSUPPORTED
            if width == 0 or height == 0:
                return ERR_BAD_GIF
            result = decode_image(reader, code_size, bmp, width, height, interlaced, broad)
            if result != OK:
                return result
            full_size = BMP_PIXEL_OFFSET + stride_of(width) * height
            if len(bmp.data) < full_size:
                bmp.seek(full_size - 1)
                bmp.write(b"\0")
        elif b == 0x3B:
            return OK if seen_image else or_no_table(ERR_BAD_GIF)
        # any other byte is skipped


def signature_ok(first):
    return len(first) == 6 and first[0:4] == b"GIF8" and first[5:6] == b"a"


def convert(gif_bytes, broad=False):
    """One conversion of an existing, readable GIF into a fresh output file."""
    reader = Reader(InputFile(gif_bytes))
    bmp = OutputFile()
    first = reader.read_block(6)
    if not signature_ok(first):
        result = ERR_BAD_GIF
    else:
        result = parse(reader, bmp, broad)
    if result != OK:
        return result, None
    return OK, bytes(bmp.data)
