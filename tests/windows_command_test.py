#!/usr/bin/env python3
"""brevlo.exe under Wine against the Linux command, row by row.

Each row sets up the same files in two fresh folders, runs the Linux command
in one and brevlo.exe (through "$WINELOADER", in the Wine session that
run_under_wine.sh --driver made) in the other, and compares the exit status,
the bytes on standard output, the lines on standard error and every file left
behind: paths aside (a '\\' reads as '/', and a {name} in a row stands for
each system's spelling of it). Rows where Windows differs by design say what
Windows must do instead. No row may leave a temporary file behind.

    windows_command_test.py LINUX_COMMAND BREVLO_EXE WORK_DIR
"""

import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "model"))
import gif_bytes  # noqa: E402

TEMPORARY_PREFIX = ".brevlo-"
# STATUS_CONTROL_C_EXIT (0xC000013A) as Wine's process ends: its low byte.
CONTROL_C_EXIT = 0x3A
RUN_SECONDS = 120
SETTLE_SECONDS = 10


def gif(width=13, height=7, pixels=None, packed=0, extras=b""):
    """A GIF of one image with a 256-entry global colour table."""
    pixels = pixels if pixels is not None else [(3 * i) % 251 for i in range(width * height)]
    data = gif_bytes.encode(pixels, 8)
    return (gif_bytes.header() + gif_bytes.colour_table(256, seed=width) + extras +
            gif_bytes.image(width, height, data, packed=packed) + b"\x3b")


# Bytes a stream in text mode would change: CR, LF and Ctrl-Z, in the GIF
# (a comment) and in the BMP (as pixels).
STREAM_BYTES = b"\r\n\x1a"
CRLF_GIF = gif(17, 9, pixels=[STREAM_BYTES[i % 3] for i in range(17 * 9)],
               extras=gif_bytes.extension(0xFE, [b"line\r\nend\x1a\r"]))
PLAIN_GIF = gif()
INTERLACED_GIF = gif(5, 9, packed=0x40)
NOT_A_GIF = b"GIF87x, not a GIF at all\r\n"
CUT_GIF = PLAIN_GIF[:40]
# A GIF long enough that a conversion from a pipe given only its start waits.
LONG_GIF = gif(400, 300)


def animation_frames():
    """Three frames over a 13 x 7 screen: the whole screen, a rectangle with a
    transparent colour restored to the background after it, and a rectangle
    with a local table (an 8-bit frame with its own palette) restored to what
    was there before it."""
    whole = [(5 * i) % 251 for i in range(13 * 7)]
    patch = [7 if i % 3 == 0 else 40 + i for i in range(6 * 4)]
    return [gif_bytes.graphic_control(10) + gif_bytes.image(13, 7, gif_bytes.encode(whole, 8)),
            gif_bytes.graphic_control(0, transparent=7, disposal=2) +
            gif_bytes.image(6, 4, gif_bytes.encode(patch, 8), left=3, top=2),
            gif_bytes.graphic_control(250, disposal=3) +
            gif_bytes.image(5, 3, gif_bytes.encode([i % 4 for i in range(15)], 8), packed=0x81,
                            local_table=gif_bytes.colour_table(4, seed=9), left=8, top=4)]


def animation(frames):
    return (gif_bytes.header(screen=(13, 7), background=3) + gif_bytes.colour_table(256, seed=13) +
            b"".join(frames) + b"\x3b")


ANIMATION = animation(animation_frames())
# Cut short inside its third frame, and with a code past the table in it.
CUT_ANIMATION = animation(animation_frames()[:2])[:-1] + animation_frames()[2][:33]
CORRUPT_ANIMATION = animation(animation_frames()[:2] + [gif_bytes.image(5, 3, b"\xff\xff\xff")])


def batch(count):
    return {f"in/g{i:02d}.gif": gif(5 + i, 3 + i) for i in range(count)}


# Names long enough that the records a run keeps of a short list outgrow what
# waits in memory and reach its temporary file, from which a later name with
# the same output reads the first name back.
LONG_FOLDER = "f" * 60
LONG_NAMES = [f"{LONG_FOLDER}/{'g' * 60}{i:03d}.gif" for i in range(160)]


TREE = {"pics/a.gif": PLAIN_GIF, "pics/B.GIF": CRLF_GIF, "pics/sub/c.Gif": gif(3, 3),
        "pics/sub/deeper/d.gif": gif(4, 4), "pics/notes.txt": b"not a gif",
        "pics/real/e.gif": gif(6, 2), "pics/日本/写真.gif": gif(2, 2)}

# Each row: name, files (path: bytes; a path ending in '/' is a folder; SYMLINK
# to ...: a symbolic link), arguments, and optionally: standard input,
# "windows" (what brevlo.exe must do instead of what Linux does: exit status,
# stderr lines, files present with their bytes or attributes, files absent),
# "setup" (a step after the files are made).
SYMLINK = "symlink:"
ROWS = [
    {"name": "Unicode names in and out",
     "files": {"日本.gif": PLAIN_GIF, "ünï cødé.gif": CRLF_GIF},
     "args": ["-v", "日本.gif", "ünï cødé.gif"]},
    {"name": "Unicode output folder, made when missing",
     "files": {"日本.gif": PLAIN_GIF, "b.gif": CRLF_GIF},
     "args": ["-o", "出力/写真", "日本.gif", "b.gif"]},
    {"name": "standard input to standard output, every byte kept",
     "files": {}, "args": ["-o", "-", "-"], "stdin": CRLF_GIF},
    {"name": "standard input to a file",
     "files": {}, "args": ["-v", "-o", "out.bmp", "-"], "stdin": CRLF_GIF},
    {"name": "a file to standard output",
     "files": {"crlf.gif": CRLF_GIF}, "args": ["-o", "-", "crlf.gif"]},
    {"name": "a failed conversion to standard output sends nothing",
     "files": {"bad.gif": NOT_A_GIF}, "args": ["-o", "-", "bad.gif"]},
    {"name": "-j 1", "files": batch(12), "args": ["-j", "1", "-o", "out", "-v"] +
     [f"in/g{i:02d}.gif" for i in range(12)]},
    {"name": "-j 4 gives what -j 1 gives", "files": batch(12), "args": ["-j", "4", "-o", "out",
     "-v"] + [f"in/g{i:02d}.gif" for i in range(12)]},
    {"name": "-r into a folder: any letter case, links to folders not followed",
     "files": {**TREE, "pics/link": SYMLINK + "real"}, "args": ["-r", "-v", "-o", "out", "pics"]},
    {"name": "-r beside the inputs", "files": TREE, "args": ["-r", "-q", "pics"]},
    {"name": "-n skips an existing output",
     "files": {"a.gif": PLAIN_GIF, "b.gif": CRLF_GIF, "a.bmp": b"old"},
     "args": ["-n", "a.gif", "b.gif"]},
    {"name": "an existing output is kept without --force",
     "files": {"a.gif": PLAIN_GIF, "a.bmp": b"old"}, "args": ["a.gif"]},
    {"name": "--force replaces an existing output",
     "files": {"a.gif": PLAIN_GIF, "a.bmp": b"old"}, "args": ["--force", "a.gif"]},
    {"name": "failed conversions leave no file and no temporary",
     "files": {"bad.gif": NOT_A_GIF, "cut.gif": CUT_GIF, "missing/": None},
     "args": ["bad.gif", "cut.gif", "nothere.gif", "missing"]},
    {"name": "a failed conversion leaves an existing output as it was",
     "files": {"bad.gif": NOT_A_GIF, "bad.bmp": b"old"}, "args": ["--force", "bad.gif"]},
    {"name": "--strict refuses what the library refuses, with the way past it",
     "files": {"i.gif": INTERLACED_GIF}, "args": ["--strict", "i.gif"]},
    {"name": "interlaced converts by default", "files": {"i.gif": INTERLACED_GIF},
     "args": ["-v", "i.gif"]},
    {"name": "the output is the input", "files": {"a.gif": PLAIN_GIF},
     "args": ["--force", "-o", "a.gif", "a.gif"]},
    {"name": "two inputs, one output", "files": {"x/a.gif": PLAIN_GIF, "y/a.gif": CRLF_GIF},
     "args": ["--force", "-o", "out", "x/a.gif", "y/a.gif"]},
    {"name": "input and output named", "files": {"a.gif": PLAIN_GIF},
     "args": ["a.gif", "b.bmp"]},
    {"name": "a second name that is no GIF", "files": {"a.gif": PLAIN_GIF},
     "args": ["a.gif", "out.png"]},
    {"name": "usage: unknown option", "files": {}, "args": ["--bogus"]},
    {"name": "usage: jobs", "files": {}, "args": ["-j", "0", "a.gif"]},
    {"name": "usage: no file", "files": {}, "args": []},
    {"name": "--help, in the words of each system", "files": {}, "args": ["--help"],
     "windows": {"status": 0, "stderr": [], "stdout_has": [
         "brevlo -o {null} -v photo.gif        check", "Ctrl-C, Ctrl-Break",
         "hidden and system attributes"]}},
    {"name": "--version", "files": {}, "args": ["--version"]},
    {"name": "--info", "files": {}, "args": ["--info"]},
    {"name": "a trial run on the null device", "files": {"a.gif": PLAIN_GIF},
     "args": ["-v", "-o", "{null}", "a.gif"]},
    {"name": "drive letters and backslashes",
     "files": {"pics/sub/c.gif": PLAIN_GIF},
     "args": ["-v", "-o", "{here}{sep}out{sep}", "pics{sep}sub{sep}c.gif"]},
    {"name": "a folder named by an extended-length path (\\\\?\\), which Linux lacks",
     "files": {"a.gif": PLAIN_GIF, "b.gif": CRLF_GIF},
     "args": ["-v", "-o", "\\\\?\\{here}\\out", "a.gif", "b.gif"],
     "windows": {"status": 0, "stderr": ["2 converted, 0 failed"],
                 "stdout_has": ["a.gif -> //?/{here}/out/a.bmp (13 \u00d7 7)"],
                 "present": {"out/a.bmp": None, "out/b.bmp": None}}},
    {"name": "outputs that differ in letter case alone are one file (Linux: two)",
     "files": {"x/a.gif": PLAIN_GIF, "y/A.gif": CRLF_GIF},
     "args": ["--force", "-o", "out", "x/a.gif", "y/A.gif"],
     "windows": {"status": 1, "stderr": [
         "y/A.gif: not converted: its output out/A.bmp is also the output of x/a.gif",
         "1 converted, 1 failed"],
         "present": {"out/a.bmp": None}}},
    {"name": "one output named relatively and absolutely, with either separator",
     "files": {"x/a.gif": PLAIN_GIF},
     "args": ["x/a.gif", "{here}/x{sep}a.gif"]},
    {"name": "one output named plainly and by an extended-length path (Linux has no such path)",
     "files": {"a.gif": PLAIN_GIF},
     "args": ["a.gif", "\\\\?\\{here}\\a.gif"],
     "windows": {"status": 1, "stderr": [
         "//?/{here}/a.gif: not converted: its output //?/{here}/a.bmp is also the output of "
         "a.gif", "1 converted, 1 failed"],
         "present": {"a.bmp": None}}},
    {"name": "a pattern is expanded as a POSIX shell would (Linux: no shell here)",
     "files": {"a.gif": PLAIN_GIF, "b.GIF": CRLF_GIF, "c.txt": b"text"},
     "args": ["-v", "*.gif", "none*.gif"],
     "windows": {"status": 1, "stdout_has": ["a.gif -> a.bmp (13 \u00d7 7)",
                                             "b.GIF -> b.bmp (17 \u00d7 9)"],
                 "stderr": ["none*.gif: cannot open it: Invalid name (30001)",
                            "2 converted, 1 failed"]}},
    {"name": "a read-only output is refused and kept (Linux replaces it)",
     "files": {"a.gif": PLAIN_GIF, "a.bmp": b"old"}, "setup": "read-only a.bmp",
     "args": ["--force", "a.gif"],
     "windows": {"status": 1, "stderr": ["a.gif: cannot write a.bmp: Read-only file (30001)"],
                 "present": {"a.bmp": b"old"}}},
    {"name": "a list in UTF-8 with a Unicode name, an empty line skipped",
     "files": {"日本.gif": PLAIN_GIF, "sub/b.gif": CRLF_GIF,
               "names.txt": "日本.gif\n\nsub/b.gif\n".encode()},
     "args": ["-v", "--files-from", "names.txt", "-o", "出力"]},
    {"name": "a NUL-separated list, its empty name reported by its place",
     "files": {"a.gif": PLAIN_GIF, "sub/b c.gif": CRLF_GIF,
               "names": b"a.gif\0\0sub/b c.gif\0"},
     "args": ["-v", "-0", "--files-from", "names", "-o", "out"]},
    {"name": "standard input as the list, - in it refused",
     "files": {"a.gif": PLAIN_GIF, "b.gif": CRLF_GIF},
     "args": ["-v", "--files-from", "-", "-o", "out"], "stdin": b"a.gif\n-\nb.gif"},
    {"name": "a list that is not there fails, and the names given convert",
     "files": {"a.gif": PLAIN_GIF}, "args": ["--files-from", "missing", "-o", "out", "a.gif"]},
    {"name": "a folder given as the list fails",
     "files": {"sub/": None}, "args": ["--files-from", "sub", "-o", "out"]},
    {"name": "a name too long in a list fails by its place, and the rest converts",
     "files": {"a.gif": PLAIN_GIF, "names": b"x" * 140000 + b"\na.gif\n"},
     "args": ["--files-from", "names", "-o", "out"]},
    {"name": "a list in Windows text, CR LF and a byte order mark (Linux: names with CR)",
     "files": {"日本.gif": PLAIN_GIF, "b.gif": CRLF_GIF,
               "names.txt": b"\xef\xbb\xbf" + "日本.gif\r\n\r\nb.gif\r\n".encode()},
     "args": ["-v", "--files-from", "names.txt", "-o", "out"],
     "windows": {"status": 0, "stderr": ["2 converted, 0 failed"],
                 "stdout_has": ["日本.gif -> out/日本.bmp (13 \u00d7 7)",
                                "b.gif -> out/b.bmp (17 \u00d7 9)"],
                 "present": {"out/日本.bmp": None, "out/b.bmp": None}}},
    {"name": "of a name on the command line and one in the list, the first gets the output",
     "files": {"x/a.gif": PLAIN_GIF, "y/a.gif": CRLF_GIF, "z/b.gif": PLAIN_GIF,
               "names": b"y/a.gif\nz/b.gif\nx/a.gif\n"},
     "args": ["--force", "--files-from", "names", "-o", "out", "x/a.gif"]},
    {"name": "a list's outputs that differ in letter case alone are one file (Linux: two)",
     "files": {"x/a.gif": PLAIN_GIF, "y/A.gif": CRLF_GIF, "names": b"x/a.gif\ny/A.gif\n"},
     "args": ["--files-from", "names", "-o", "out"],
     "windows": {"status": 1, "stderr": [
         "y/A.gif: not converted: its output out/A.bmp is also the output of x/a.gif",
         "1 converted, 1 failed"],
         "present": {"out/a.bmp": None}}},
    {"name": "a long list's first name read back from the run's temporary file",
     "files": {**{name: PLAIN_GIF for name in LONG_NAMES},
               "names": ("\n".join(LONG_NAMES + [LONG_NAMES[0]]) + "\n").encode()},
     "args": ["-q", "--files-from", "names", "-o", "out"]},
    {"name": "-r -o out pics/ puts the folder's contents into out, in walk order",
     "files": {**TREE, "pics/a/b.gif": gif(7, 5)},
     "args": ["-r", "-v", "-j", "3", "-o", "out", "pics{sep}"]},
    {"name": "-r -o out with two folders of one name is a usage error",
     "files": {"x/pics/a.gif": PLAIN_GIF, "y/pics/b.gif": CRLF_GIF},
     "args": ["-r", "-o", "out", "x/pics", "y{sep}pics"]},
    {"name": "-r -o out with folders whose names differ in letter case alone (Linux: two)",
     "files": {"x/Pics/a.gif": PLAIN_GIF, "y/pics/b.gif": CRLF_GIF},
     "args": ["-r", "-o", "out", "x/Pics", "y/pics"],
     "windows": {"status": 2, "stderr": [
         "brevlo: the folders 'x/Pics' and 'y/pics' would both go to 'out/pics' (a trailing / "
         "puts a folder's contents there instead)",
         "Try 'brevlo --help' for more information."]}},
    {"name": "-r folders from a list keep their names; a later one of the same name fails",
     "files": {**TREE, "more/pics/x.gif": PLAIN_GIF, "names": b"pics\nmore/pics\n"},
     "args": ["-r", "-v", "--files-from", "names", "-o", "out"]},
    {"name": "--frames of an animation with a Unicode name, a line for each frame",
     "files": {"日本.gif": ANIMATION}, "args": ["--frames", "-v", "日本.gif"]},
    {"name": "--frames into -o DIR, made when missing, a still's one frame too",
     "files": {"日本.gif": ANIMATION, "b.gif": CRLF_GIF},
     "args": ["--frames", "-v", "-o", "出力/写真", "日本.gif", "b.gif"]},
    {"name": "--frames with a drive letter and backslashes",
     "files": {"pics/sub/c.gif": ANIMATION},
     "args": ["--frames", "-v", "-o", "{here}{sep}out{sep}", "pics{sep}sub{sep}c.gif"]},
    {"name": "--frames from standard input, named by -o NAME",
     "files": {}, "args": ["--frames", "-v", "-o", "片", "-"], "stdin": ANIMATION},
    {"name": "--frames: damage in a later frame keeps the frames before it",
     "files": {"cut.gif": CUT_ANIMATION, "bad.gif": CORRUPT_ANIMATION},
     "args": ["--frames", "-v", "cut.gif", "bad.gif"]},
    {"name": "--frames -n skips an existing frame file and writes the others",
     "files": {"a.gif": ANIMATION, "a-002.bmp": b"old"}, "args": ["--frames", "-n", "-v", "a.gif"]},
    {"name": "--frames stops at an existing frame file without --force",
     "files": {"a.gif": ANIMATION, "a-002.bmp": b"old"}, "args": ["--frames", "a.gif"]},
    {"name": "--frames --force replaces an existing frame file",
     "files": {"a.gif": ANIMATION, "a-002.bmp": b"old"}, "args": ["--frames", "--force", "a.gif"]},
    {"name": "--frames from a list; a name of an earlier input's frame file is refused",
     "files": {"a.gif": ANIMATION, "sub/日本.gif": PLAIN_GIF, "a-003.bmp": PLAIN_GIF,
               "names": "a.gif\nsub/日本.gif\na-003.bmp\n".encode()},
     "args": ["--frames", "-n", "-v", "--files-from", "names"]},
    {"name": "--frames -r -o out keeps the folder's name",
     "files": {**TREE, "pics/sub/anim.gif": ANIMATION},
     "args": ["--frames", "-r", "-v", "-o", "out", "pics"]},
    {"name": "--frames: an input named as a frame file in other letters (Linux: a file apart)",
     "files": {"a.gif": ANIMATION, "A-002.BMP": PLAIN_GIF},
     "args": ["--frames", "a.gif", "A-002.BMP"],
     "windows": {"status": 1, "stderr": [
         "a.gif: not converted: the output a-*.bmp is the input file A-002.BMP",
         "1 converted, 1 failed"],
         "present": {"A-002.BMP-001.bmp": None}, "absent": ["a-001.bmp"]}},
    {"name": "--frames: prefixes that differ in letter case alone are one (Linux: two)",
     "files": {"x/a.gif": ANIMATION, "y/A.gif": PLAIN_GIF},
     "args": ["--frames", "-o", "out", "x/a.gif", "y/A.gif"],
     "windows": {"status": 1, "stderr": [
         "y/A.gif: not converted: its output out/A-*.bmp is also the output of x/a.gif",
         "1 converted, 1 failed"],
         "present": {"out/a-001.bmp": None, "out/a-002.bmp": None, "out/a-003.bmp": None}}},
    {"name": "hidden and system attributes of a replaced output are kept",
     "files": {"a.gif": PLAIN_GIF, "a.bmp": b"old"}, "setup": "hidden system a.bmp",
     "args": ["--force", "a.gif"],
     "windows": {"status": 0, "stderr": [], "attributes": {"a.bmp": 0x6}}},
]

# Interrupts: the command reads the start of a GIF from a pipe that stays
# open, so that it waits inside a conversion; then the signal comes. Linux
# dies by the signal; Windows ends as a console Ctrl-C ends a program (Wine
# turns SIGINT into CTRL_C_EVENT), and a killed Wine process leaves its
# temporary file to the system. Nothing partial or temporary may remain, and
# an output being replaced keeps its old bytes.
INTERRUPTS = [
    {"name": "Ctrl-C while writing a new output", "signal": signal.SIGINT,
     "files": {}, "args": ["-o", "out.bmp", "-"], "windows_status": CONTROL_C_EXIT},
    {"name": "Ctrl-C while replacing an output", "signal": signal.SIGINT,
     "files": {"out.bmp": b"old"}, "args": ["--force", "-o", "out.bmp", "-"],
     "windows_status": CONTROL_C_EXIT},
    {"name": "killed while writing", "signal": signal.SIGKILL,
     "files": {"out.bmp": b"old"}, "args": ["--force", "-o", "out.bmp", "-"],
     "windows_status": -signal.SIGKILL},
]


# Lists written while the command runs: each part of the list goes to its
# standard input only once the output the part before names is there, so a
# command that waited for the whole list would never get the rest.
PACED = [
    {"name": "conversion starts while the list is still being written",
     "files": {"a.gif": PLAIN_GIF, "日本.gif": CRLF_GIF},
     "args": ["-v", "--files-from", "-", "-o", "out"],
     "parts": [(b"a.gif\n", "out/a.bmp"), ("日本.gif\n".encode(), None)]},
]


# On a terminal: brevlo.exe writes to Wine's console, which shows it on the
# terminal, as WriteConsoleW shows it on a Windows console; what the person
# reads must be what the Linux command shows.
CONSOLE = [
    {"name": "Unicode names on the console", "files": {"日本.gif": PLAIN_GIF},
     "args": ["-v", "日本.gif"], "shows": "日本.gif -> 日本.bmp (13 \u00d7 7)", "status": 0},
    {"name": "-o - refused when standard output is the console", "files": {"a.gif": PLAIN_GIF},
     "args": ["-o", "-", "a.gif"],
     "shows": "standard output is a terminal: redirect it, or name a file with -o", "status": 2},
]


class System:
    """How one system's command runs and spells its paths."""

    def __init__(self, name, command, root):
        self.name = name
        self.command = command
        self.root = root

    def spell(self, text, here):
        windows = self.name == "windows"
        spellings = {"{null}": "NUL" if windows else "/dev/null",
                     "{here}": windows_path(here) if windows else str(here),
                     "{sep}": "\\" if windows else "/"}
        for placeholder, spelt in spellings.items():
            text = text.replace(placeholder, spelt)
        return text

    def unspell(self, text, here):
        """Output with this system's spellings of the row's paths put back."""
        windows = self.name == "windows"
        text = text.replace(windows_path(here) if windows else str(here), "{here}")
        text = text.replace("NUL" if windows else "/dev/null", "{null}")
        return text.replace("\\", "/")


def folder_name(row):
    return re.sub(r"[^A-Za-z0-9-]+", "_", row["name"])


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def make_files(folder, files, setup):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, content in files.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if name.endswith("/"):
            path.mkdir(exist_ok=True)
        elif isinstance(content, str) and content.startswith(SYMLINK):
            path.symlink_to(content[len(SYMLINK):])
        else:
            path.write_bytes(content)
    if setup:
        *attributes, name = setup.split()
        if "read-only" in attributes:
            (folder / name).chmod(0o444)
        dos = (0x2 if "hidden" in attributes else 0) | (0x4 if "system" in attributes else 0)
        if dos:
            os.setxattr(folder / name, "user.DOSATTRIB", b"0x%x" % dos)


def tree_of(folder):
    """Every file and folder below folder, by its path, with its bytes."""
    found = {}
    for path in sorted(folder.rglob("*")):
        key = path.relative_to(folder).as_posix()
        if path.is_symlink():
            found[key] = "link to " + os.readlink(path)
        elif path.is_dir():
            found[key + "/"] = None
        else:
            found[key] = path.read_bytes()
    return found


def temporaries(folder):
    return [p.relative_to(folder).as_posix() for p in folder.rglob(TEMPORARY_PREFIX + "*")]


def wait_for_temporaries_to_go(folder):
    """The system removes a dead Wine process's files once it notices the death."""
    deadline = time.monotonic() + SETTLE_SECONDS
    while temporaries(folder) and time.monotonic() < deadline:
        time.sleep(0.05)
    return temporaries(folder)


def writes_bmp_to_standard_output(args):
    return any(a == "-o" and b == "-" for a, b in zip(args, args[1:]))


def run(system, row, folder):
    """The exit status, what standard output got (the BMP's bytes, or text with
    paths put back) and the lines of standard error."""
    args = [system.spell(arg, folder) for arg in row["args"]]
    result = subprocess.run(system.command + args, cwd=folder, input=row.get("stdin", b""),
                            capture_output=True, timeout=RUN_SECONDS)
    output = result.stdout
    if not writes_bmp_to_standard_output(row["args"]):
        output = system.unspell(output.decode("utf-8", "replace"), folder)
    lines = system.unspell(result.stderr.decode("utf-8", "replace"), folder).splitlines()
    return result.returncode, output, lines


def dos_attributes(path):
    try:
        return int(os.getxattr(path, "user.DOSATTRIB").split(b"\x00")[0], 16)
    except OSError:
        return 0


def check_row(row, linux, windows, failures):
    outcomes = {}
    for system in (linux, windows):
        folder = system.root / folder_name(row)
        make_files(folder, row["files"], row.get("setup"))
        outcomes[system.name] = (folder, *run(system, row, folder))
    problems = []
    (l_folder, l_status, l_out, l_err), (w_folder, w_status, w_out, w_err) = outcomes.values()
    expected = row.get("windows")
    if expected is None:
        if w_status != l_status:
            problems.append(f"exit status {w_status}, Linux {l_status}")
        if w_out != l_out:
            shown = (w_out, l_out) if isinstance(w_out, str) else (len(w_out), len(l_out))
            problems.append(f"standard output {shown[0]!r}, Linux {shown[1]!r}")
        if w_err != l_err:
            problems.append(f"standard error {w_err}, Linux {l_err}")
        if tree_of(w_folder) != tree_of(l_folder):
            problems.append(f"files {sorted(tree_of(w_folder))}, Linux {sorted(tree_of(l_folder))}")
    else:
        if w_status != expected["status"]:
            problems.append(f"exit status {w_status}, expected {expected['status']}")
        if w_err != expected["stderr"]:
            problems.append(f"standard error {w_err}, expected {expected['stderr']}")
        for text in expected.get("stdout_has", []):
            if text not in w_out:
                problems.append(f"standard output without {text!r}")
        for name, content in expected.get("present", {}).items():
            if not (w_folder / name).is_file():
                problems.append(f"{name} is missing")
            elif content is not None and (w_folder / name).read_bytes() != content:
                problems.append(f"{name} changed")
        for name in expected.get("absent", []):
            if (w_folder / name).exists():
                problems.append(f"{name} is there")
        for name, bits in expected.get("attributes", {}).items():
            if dos_attributes(w_folder / name) & bits != bits:
                problems.append(f"{name} lost its attributes ({dos_attributes(w_folder / name):#x})")
            if (w_folder / name).read_bytes() != (l_folder / name).read_bytes():
                problems.append(f"{name} has other bytes than Linux wrote")
    problems += [f"temporary file left: {t}" for t in temporaries(w_folder) + temporaries(l_folder)]
    report(row["name"], problems, failures)


def interrupted(system, row, folder):
    """Starts the command on a pipe holding the start of a GIF, signals it once
    it is converting, and returns its exit status."""
    make_files(folder, row["files"], None)
    process = subprocess.Popen(system.command + row["args"], cwd=folder, stdin=subprocess.PIPE,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    process.stdin.write(LONG_GIF[:len(LONG_GIF) // 2])
    process.stdin.flush()
    # brevlo.exe's temporary file has a name while it is written; Linux's has none.
    deadline = time.monotonic() + RUN_SECONDS
    while system.name == "windows" and not temporaries(folder) and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(0.5)
    process.send_signal(row["signal"])
    status = process.wait(timeout=RUN_SECONDS)
    process.stdin.close()
    return status


def check_interrupt(row, linux, windows, failures):
    problems = []
    for system in (linux, windows):
        folder = system.root / folder_name(row)
        status = interrupted(system, row, folder)
        expected = -row["signal"] if system is linux else row["windows_status"]
        if status != expected:
            problems.append(f"{system.name}: exit status {status}, expected {expected}")
        left = wait_for_temporaries_to_go(folder)
        problems += [f"{system.name}: temporary file left: {t}" for t in left]
        if tree_of(folder) != {name: content for name, content in row["files"].items()}:
            problems.append(f"{system.name}: files {sorted(tree_of(folder))} after the interrupt")
    report(row["name"], problems, failures)


def run_paced(system, row, folder):
    """Feeds the list in its parts, each once the output before it is there.
    Returns the exit status, standard output, standard error (paths put back)
    and whether every awaited output came before the part after it."""
    make_files(folder, row["files"], None)
    process = subprocess.Popen(system.command + row["args"], cwd=folder, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    in_time = True
    for part, awaited in row["parts"]:
        process.stdin.write(part)
        process.stdin.flush()
        deadline = time.monotonic() + RUN_SECONDS
        while awaited and not (folder / awaited).exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        in_time = in_time and (not awaited or (folder / awaited).exists())
    out, err = process.communicate(timeout=RUN_SECONDS)
    return (process.returncode, system.unspell(out.decode("utf-8", "replace"), folder),
            system.unspell(err.decode("utf-8", "replace"), folder).splitlines(), in_time)


def check_paced(row, linux, windows, failures):
    problems = []
    runs = {}
    for system in (linux, windows):
        folder = system.root / folder_name(row)
        runs[system.name] = (*run_paced(system, row, folder), tree_of(folder))
        if not runs[system.name][3]:
            problems.append(f"{system.name}: an output came only after the list ended")
    if runs["windows"][:3] != runs["linux"][:3]:
        problems.append(f"ran as {runs['windows'][:3]}, Linux {runs['linux'][:3]}")
    if runs["windows"][4] != runs["linux"][4]:
        problems.append(f"files {sorted(runs['windows'][4])}, Linux {sorted(runs['linux'][4])}")
    report(row["name"], problems, failures)


def on_terminal(system, row, folder):
    """Runs the command with a terminal for all three standard streams, and
    returns its exit status and what the terminal got."""
    make_files(folder, row["files"], None)
    controller, terminal = pty.openpty()
    process = subprocess.Popen(system.command + row["args"], cwd=folder, stdin=terminal,
                               stdout=terminal, stderr=terminal, close_fds=True,
                               env=dict(os.environ, LANG="C.UTF-8"))
    os.close(terminal)
    shown = b""
    while select.select([controller], [], [], RUN_SECONDS)[0]:
        try:
            chunk = os.read(controller, 4096)
        except OSError:  # Linux ends a terminal whose last user has gone so
            break
        if not chunk:
            break
        shown += chunk
    os.close(controller)
    return process.wait(timeout=RUN_SECONDS), shown.decode("utf-8", "replace")


def check_console(row, linux, windows, failures):
    problems = []
    for system in (linux, windows):
        status, shown = on_terminal(system, row, system.root / folder_name(row))
        if status != row["status"]:
            problems.append(f"{system.name}: exit status {status}, expected {row['status']}")
        if row["shows"] not in shown:
            problems.append(f"{system.name}: the terminal shows {shown!r}")
    report(row["name"], problems, failures)


def report(name, problems, failures):
    if problems:
        failures.append(name)
        print(f"FAILED: {name}")
        for problem in problems:
            print(f"    {problem}")
    else:
        print(f"ok: {name}")


def main():
    linux_command, windows_command, work = sys.argv[1:]
    loader = os.environ.get("WINELOADER")
    if not loader:
        sys.exit("WINELOADER is not set: run this through run_under_wine.sh --driver")
    work = Path(work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    linux = System("linux", [linux_command], work / "linux")
    windows = System("windows", [loader, windows_command], work / "windows")
    failures = []
    for row in ROWS:
        check_row(row, linux, windows, failures)
    for row in INTERRUPTS:
        check_interrupt(row, linux, windows, failures)
    for row in PACED:
        check_paced(row, linux, windows, failures)
    for row in CONSOLE:
        check_console(row, linux, windows, failures)
    total = len(ROWS) + len(INTERRUPTS) + len(PACED) + len(CONSOLE)
    print(f"{total - len(failures)} of {total} rows agree")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
