#!/usr/bin/python3
"""Pillow as an independent oracle for the converter.

Usage: pillow_oracle_test.py LIBRARY CORPUS_FOLDER [COMMAND]

Every GIF in the folder is converted through the shared library's exported
BREVLO32. Files the converter supports must convert, and Pillow's decoding of
the first image (its indices within the image's rectangle, and its palette)
must equal the BMP we wrote, which Pillow must read back. Files it does not
support must be refused with the result code that names the reason, leaving
no output. With the brevlo command, every file with a colour table must also
convert by default and agree with Pillow, and --strict must give BREVLO32's
result code and bytes; the library's brevlo_convert must give the command's
code and bytes with flags 0, and BREVLO32's with BREVLO_STRICT. Prints the counts and exits nonzero on any
disagreement.
"""
import ctypes
import re
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image

from make_corpus import first_image_at

UNSUPPORTED = 30008
BREVLO_STRICT = 0x1


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


def table_entries(data):
    """Entries of the first image's table: its own, else the global one; 0 for none."""
    packed = first_image(data)[4]
    if packed & 0x80:
        return 2 << (packed & 7)
    return 2 << (data[10] & 7) if data[10] & 0x80 else 0


def oracle_palette(gif, data):
    """768 bytes: the first image's table as Pillow reports it, black beyond."""
    palette = bytes(gif.getpalette() or [])
    return (palette[:table_entries(data) * 3] + bytes(768))[:768]


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


def run_command(command, args):
    """(result code, stderr) of one conversion by the command: 0 on success,
    else the code its failure line ends with."""
    run = subprocess.run([command, "--force", *args], capture_output=True, text=True)
    if run.returncode == 0:
        return 0, run.stderr
    codes = re.findall(r"\((\d{5})\)", run.stderr)
    return (int(codes[0]) if codes else -1), run.stderr


def converted(bmp_path):
    """The bytes a conversion left, b"" for none; the output is removed."""
    data = bmp_path.read_bytes() if bmp_path.exists() else b""
    bmp_path.unlink(missing_ok=True)
    return data


def check_broad_entry(library, path, flags, code, bmp, bmp_path, what):
    """Disagreements of brevlo_convert with flags against a code and bytes."""
    got = library.brevlo_convert(str(path).encode(), str(bmp_path).encode(), flags)
    if got != code:
        return [f"brevlo_convert({flags}) gave {got}, {what} {code}"]
    if converted(bmp_path) != bmp:
        return [f"brevlo_convert({flags}) wrote other bytes than {what}"]
    return []


def check_command(command, library, path, library_result, library_bmp, bmp_path):
    """Disagreements of the command with BREVLO32 (--strict) and Pillow (default),
    and of brevlo_convert with each."""
    problems = []
    code, err = run_command(command, ["--strict", str(path), str(bmp_path)])
    if code != library_result:
        problems.append(f"--strict gave {code}, BREVLO32 {library_result}: {err.strip()}")
    elif converted(bmp_path) != library_bmp:
        problems.append("--strict wrote other bytes than BREVLO32")
    problems += check_broad_entry(library, path, BREVLO_STRICT, library_result, library_bmp,
                                  bmp_path, "BREVLO32")
    want = 0 if table_entries(path.read_bytes()) else UNSUPPORTED
    code, err = run_command(command, [str(path), str(bmp_path)])
    if code != want:
        problems.append(f"by default gave {code}, expected {want}: {err.strip()}")
    elif code == 0:
        problems += [f"by default: {p}" for p in compare(path, bmp_path)]
    problems += check_broad_entry(library, path, 0, code, converted(bmp_path), bmp_path,
                                  "the command")
    return problems


def main():
    library = ctypes.CDLL(sys.argv[1])
    command = sys.argv[3] if len(sys.argv) > 3 else None
    library.BREVLO32.restype = ctypes.c_int32
    library.BREVLO32.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    library.brevlo_convert.restype = ctypes.c_int32
    library.brevlo_convert.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32]
    files = sorted(Path(sys.argv[2]).glob("*.gif"))
    agreed = refused = failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        bmp_path = Path(scratch) / "out.bmp"
        for path in files:
            want = expected_refusal(path.read_bytes())
            got = library.BREVLO32(str(path).encode(), str(bmp_path).encode())
            library_bmp = bmp_path.read_bytes() if bmp_path.exists() else b""
            if command:
                command_bmp = Path(scratch) / "command.bmp"
                problems = check_command(command, library, path, got, library_bmp, command_bmp)
                for problem in problems:
                    print(f"FAIL {path.name}: {problem}")
                failures += bool(problems)
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
