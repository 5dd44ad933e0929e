#!/usr/bin/python3
"""The README's Python example, run against the built library.

Usage: python_example_test.py LIBRARY SOURCE_DIR WORK_DIR

Every Python block of the README must stand verbatim in
examples/python/convert.py, and that program, finding the library by its
SONAME through LD_LIBRARY_PATH as an installed one is found, must convert the
sample, convert an interlaced GIF unless asked to be strict, refuse a file
that is no GIF with its code and no output left, and write every frame of an
animation, those before the damage of a damaged one.
"""
import os
import re
import subprocess
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, str(Path(__file__).parent / "model"))
import gif_bytes as gb  # noqa: E402


def readme_blocks(source):
    text = (source / "README.md").read_text(encoding="utf-8")
    return re.findall(r"```python\n(.*?)```", text, re.DOTALL)


def run_example(library, source, gif, bmp, *options):
    environment = dict(os.environ, LD_LIBRARY_PATH=str(Path(library).parent))
    return subprocess.run(
        [sys.executable, str(source / "examples/python/convert.py"), *options, str(gif), str(bmp)],
        env=environment, capture_output=True, text=True, check=False)


def main(library, source, work):
    source, work = Path(source), Path(work)
    work.mkdir(parents=True, exist_ok=True)
    failures = []
    example = (source / "examples/python/convert.py").read_text(encoding="utf-8")
    blocks = readme_blocks(source)
    if not blocks:
        failures.append("the README has no Python example")
    failures += [f"README block not in the example:\n{b}" for b in blocks if b not in example]

    bmp = work / "sample.bmp"
    bmp.unlink(missing_ok=True)
    run = run_example(library, source, source / "examples/sample.gif", bmp)
    if run.returncode != 0 or "the BMP file was written (0)" not in run.stdout:
        failures.append(f"sample: exit {run.returncode}\n{run.stdout}{run.stderr}")
    elif not bmp.read_bytes().startswith(b"BM"):
        failures.append("sample: no BMP written")

    interlaced = work / "interlaced.gif"
    interlaced.write_bytes(gb.header() + gb.colour_table(256) +
                           gb.image(4, 4, gb.encode(list(range(16)), 8), 8, 0x40) + b"\x3b")
    for options, code in (((), 0), (("--strict",), 30008)):
        bmp.unlink(missing_ok=True)
        run = run_example(library, source, interlaced, bmp, *options)
        if f"({code})" not in run.stdout or bmp.exists() != (code == 0):
            failures.append(f"interlaced {options}: exit {run.returncode}\n{run.stdout}{run.stderr}")

    refused = work / "refused.bmp"
    run = run_example(library, source, source / "README.md", refused)
    if run.returncode != 1 or "(30004)" not in run.stdout or refused.exists():
        failures.append(f"not a GIF: exit {run.returncode}\n{run.stdout}{run.stderr}")

    two_frames = (gb.header(screen=(4, 4)) + gb.colour_table(256) +
                  gb.image(4, 4, gb.encode(list(range(16)), 8), 8) +
                  gb.image(2, 2, gb.encode([1, 2, 3, 4], 8), 8, left=1, top=1))
    animation = work / "animation.gif"
    for gif, code, written in ((two_frames + b"\x3b", 0, 2), (two_frames[:-6], 30004, 1)):
        for old in work.glob("frame-*.bmp"):
            old.unlink()
        animation.write_bytes(gif)
        run = run_example(library, source, animation, work / "frame", "--frames")
        files = sorted(f.name for f in work.glob("frame-*.bmp"))
        if (f"({code}); {written} frame files written" not in run.stdout or
                files != [f"frame-{k:03d}.bmp" for k in range(1, written + 1)]):
            failures.append(f"frames ({code}): exit {run.returncode}, {files}\n"
                            f"{run.stdout}{run.stderr}")

    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
