#!/usr/bin/python3
"""Pillow as an independent oracle for the converter.

Usage: pillow_oracle_test.py LIBRARY CORPUS_FOLDER

Every GIF in the folder is converted through the shared library's exported
BREVLO32. Files the converter supports must convert, and Pillow's decoding of
the first image (its indices within the image's rectangle, and its palette)
must equal the BMP we wrote, which Pillow must read back. Files it does not
support must be refused with the result code that names the reason, leaving
no output. Prints the counts and exits nonzero on any disagreement.
"""
import ctypes
import sys
import tempfile
from pathlib import Path

from PIL import Image

from make_corpus import first_image_at

UNSUPPORTED = 30008


def first_image(data):
    """(left, top, width, height, packed) of the first image descriptor."""
    at = first_image_at(data)
    d = data[at + 1:at + 10]
    return (d[0] | d[1] << 8, d[2] | d[3] << 8, d[4] | d[5] << 8, d[6] | d[7] << 8, d[8])


def expected_refusal(data):
    """The result code the converter must give, or 0 when it must convert."""
    packed = data[10]
    if not packed & 0x80 or packed & 7 != 7:
        return UNSUPPORTED
    if first_image(data)[4] & 0x40:
        return UNSUPPORTED
    return 0


def oracle_palette(gif, data):
    """768 bytes: the first image's table as Pillow reports it, black beyond."""
    palette = bytes(gif.getpalette() or [])
    packed = first_image(data)[4]
    entries = 2 << (packed & 7) if packed & 0x80 else 256
    return (palette[:entries * 3] + bytes(768))[:768]


def compare(path, bmp_path):
    """A list of disagreements between Pillow and our BMP for one GIF."""
    data = path.read_bytes()
    left, top, width, height, _ = first_image(data)
    problems = []
    with Image.open(path) as gif:
        if gif.mode != "P":
            return [f"Pillow decoded the first image as {gif.mode}"]
        pixels = gif.crop((left, top, left + width, top + height)).tobytes()
        palette = oracle_palette(gif, data)
    with Image.open(bmp_path) as bmp:
        if bmp.format != "BMP" or bmp.mode != "P" or bmp.size != (width, height):
            return [f"BMP read back as {bmp.format} {bmp.mode} {bmp.size}"]
        if bmp.tobytes() != pixels:
            problems.append("pixel indices differ")
        if bytes(bmp.getpalette()[:768]) != palette:
            problems.append("palette differs")
    return problems


def main():
    library = ctypes.CDLL(sys.argv[1])
    library.BREVLO32.restype = ctypes.c_int32
    library.BREVLO32.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    files = sorted(Path(sys.argv[2]).glob("*.gif"))
    agreed = refused = failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        bmp_path = Path(scratch) / "out.bmp"
        for path in files:
            want = expected_refusal(path.read_bytes())
            got = library.BREVLO32(str(path).encode(), str(bmp_path).encode())
            if got != want:
                print(f"FAIL {path.name}: result {got}, expected {want}")
                failures += 1
            elif want != 0:
                if bmp_path.exists():
                    print(f"FAIL {path.name}: refused with {got} but left an output")
                    failures += 1
                else:
                    refused += 1
            else:
                problems = compare(path, bmp_path)
                for problem in problems:
                    print(f"FAIL {path.name}: {problem}")
                failures += bool(problems)
                agreed += not problems
            bmp_path.unlink(missing_ok=True)
    print(f"{len(files)} files: {agreed} converted and agree with Pillow, "
          f"{refused} refused with the right code, {failures} failures")
    return 1 if failures or not files else 0


if __name__ == "__main__":
    sys.exit(main())
