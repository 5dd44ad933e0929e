#!/usr/bin/env python3
"""Converts a GIF file into a BMP file through the brevlo library, with ctypes.

Usage: convert.py [--strict | --frames] IN.gif OUT [LIBRARY]

Converts every ordinary GIF into the BMP file OUT, as the brevlo command does;
with --strict only what BREVLO32 (and so the Windows DLL) accepts; with
--frames every frame of an animation into OUT-001.bmp, OUT-002.bmp, ...
LIBRARY is the shared library's path or name; by default libbrevlo.so.1, which
the dynamic linker finds where the package installed it (or, for another
prefix, through LD_LIBRARY_PATH). Prints the library's information text and
what became of the conversion; exits 0 when every file was written.
"""
import sys

# The README shows this part.
import ctypes
import os

RESULTS = {
    0: "the BMP file was written",
    30001: "the input cannot be opened, or the output cannot be created or written",
    30003: "the decoder cannot obtain its working memory",
    30004: "not a GIF file, no image in it, or corrupt image data",
    30008: "no colour table (strict: no 256-entry global one, or an interlaced image)",
    30010: "a path is empty",
    30011: "the file ended before the GIF trailer",
}


def load(library="libbrevlo.so.1"):
    brevlo = ctypes.CDLL(library)
    brevlo.BREVLO32.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    brevlo.BREVLO32.restype = ctypes.c_int32
    brevlo.BREVLOInfo.argtypes = [ctypes.c_char_p, ctypes.c_int32]
    brevlo.BREVLOInfo.restype = ctypes.c_int32
    brevlo.brevlo_convert.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32]
    brevlo.brevlo_convert.restype = ctypes.c_int32
    brevlo.brevlo_convert_frames.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32,
                                             ctypes.POINTER(ctypes.c_uint32)]
    brevlo.brevlo_convert_frames.restype = ctypes.c_int32
    return brevlo


def info(brevlo):
    length = brevlo.BREVLOInfo(None, 0)  # the text's length
    text = ctypes.create_string_buffer(length)
    brevlo.BREVLOInfo(text, length)  # copies it, without a terminating NUL
    return text.raw.decode("ascii")


BREVLO_STRICT = 0x1


def convert(brevlo, gif_path, bmp_path, strict=False):
    """The result code and what it means. Paths go over as bytes. strict=True
    accepts exactly what BREVLO32 accepts, with its bytes."""
    flags = BREVLO_STRICT if strict else 0
    code = brevlo.brevlo_convert(os.fsencode(gif_path), os.fsencode(bmp_path), flags)
    return code, RESULTS.get(code, "unknown result code")


def frames(brevlo, gif_path, prefix):
    """Every frame of an animation into PREFIX-001.bmp, PREFIX-002.bmp, ...:
    the result code, what it means, and how many frame files were written.
    A file damaged after its first frame keeps the frames before the damage."""
    written = ctypes.c_uint32(0)
    code = brevlo.brevlo_convert_frames(os.fsencode(gif_path), os.fsencode(prefix), 0,
                                        ctypes.byref(written))
    return code, RESULTS.get(code, "unknown result code"), written.value
# End of the part the README shows.


def main(arguments):
    mode = arguments[0] if arguments[:1] in (["--strict"], ["--frames"]) else ""
    arguments = arguments[bool(mode):]
    if len(arguments) not in (2, 3):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    brevlo = load(*arguments[2:])
    print(info(brevlo))
    if mode == "--frames":
        code, meaning, written = frames(brevlo, arguments[0], arguments[1])
        print(f"{arguments[0]}: {meaning} ({code}); {written} frame files written")
    else:
        code, meaning = convert(brevlo, arguments[0], arguments[1], mode == "--strict")
        print(f"{arguments[0]}: {meaning} ({code})")
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
