#!/usr/bin/env python3
"""Converts a GIF file into a BMP file through the brevlo library, with ctypes.

Usage: convert.py [--strict] IN.gif OUT.bmp [LIBRARY]

Converts every ordinary GIF, as the brevlo command does; with --strict only
what BREVLO32 (and so the Windows DLL) accepts. LIBRARY is the shared library's
path or name; by default libbrevlo.so.1, which the dynamic linker finds where
the package installed it (or, for another prefix, through LD_LIBRARY_PATH).
Prints the library's information text and what became of the conversion; exits
0 when the BMP file was written.
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
# End of the part the README shows.


def main(arguments):
    strict = arguments[:1] == ["--strict"]
    arguments = arguments[strict:]
    if len(arguments) not in (2, 3):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    brevlo = load(*arguments[2:])
    print(info(brevlo))
    code, meaning = convert(brevlo, arguments[0], arguments[1], strict)
    print(f"{arguments[0]}: {meaning} ({code})")
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
