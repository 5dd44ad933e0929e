"""Every frame of handcrafted animations: the library and the command against
a plain model, and the model against two general image tools.

usage: frames_peer_test.py [--measure] [LIBRARY [COMMAND]]

Each animation below is composed by frames_model. The library
(brevlo_convert_frames, flags 0) and the command (brevlo --frames), when
given, must write exactly the model's BMP file for every frame (frame_bmp),
no file past the frames the model keeps, the result code of the model's
damage, and from the command the damage line and exit status.

Each animation is also composed by each peer, ImageMagick (convert -coalesce)
and Pillow, and each frame is compared as colours. A peer that shows a pixel as transparent must show it where the
model has the background: both clear disposal 2 to transparent, as browsers
do, where the GIF rules restore the background colour (which a BMP must hold,
having no transparency). Every other pixel must have the model's colour.

The peers follow the GIF rules only in part. Where one departs, measured with
ImageMagick 6.9.11 and Pillow 9.4, the case names the departure and only what
the peer follows is compared: DRAWN compares only the pixels the images draw
(not the background), SKIP nothing. A departure that is no longer seen is
reported, not failed, so that the list can be kept true. --measure prints, for
every case and peer, what agrees without the departures.

For damaged files the model keeps the whole frames before the damage; they
are compared with the peer's first frames.

Each model frame's BMP (frames_model.frame_bmp) is also read back by Pillow:
its colours must be the frame's, and its kind as the rules say.
"""

import ctypes
import io
import os
import random
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gif_bytes as gb  # noqa: E402
import frames_model  # noqa: E402

from PIL import Image  # noqa: E402

DRAWN = "drawn"
SKIP = "skip"

SCREEN = (12, 10)


def global_table(entries):
    return bytes(v for i in range(entries) for v in ((i * 60) % 256, (255 - i * 50) % 256, (30 * i) % 256))


def local_table(entries, seed):
    return gb.colour_table(entries, seed)


def frame(left, top, width, height, seed, colours=4, local=None, transparent=None, disposal=0,
          delay=10, interlaced=False, control=True, end=True):
    """One image, with a graphic control extension unless control is False,
    its data ended by the end code unless end is False."""
    rng = random.Random(seed)
    pixels = [rng.randrange(colours) for _ in range(width * height)]
    packed = 0
    table = b""
    if local is not None:
        packed |= 0x80 | gb.table_bits(len(local) // 3)
        table = local
    if interlaced:
        packed |= 0x40
        pixels = [pixels[row * width + column] for row in gb.interlaced_rows(height)
                  for column in range(width)]
    out = gb.graphic_control(delay, transparent, disposal) if control else b""
    return out + gb.image(width, height, gb.encode(pixels, 8, end=end), 8, packed, table,
                          left=left, top=top)


def animation(frames, screen=SCREEN, entries=4, background=1, trailer=True):
    packed = 0x80 | gb.table_bits(entries) if entries else 0
    out = gb.header(b"GIF89a", packed, screen, background) + global_table(entries)
    out += b"".join(frames)
    return out + (b"\x3b" if trailer else b"")


def whole(seed, **options):
    return frame(0, 0, SCREEN[0], SCREEN[1], seed, **options)


def cut_inside_last(frames, keep):
    """The animation cut keep bytes into its last frame's image data."""
    before = animation(frames[:-1], trailer=False)
    return animation(frames, trailer=False)[:len(before) + keep]


def corrupt_last(frames, at):
    """A code past the table at byte `at` of the last frame, with frames after."""
    data = bytearray(animation(frames))
    start = len(animation(frames[:-1], trailer=False))
    data[start + at:start + at + 3] = b"\xff\xff\xff"
    return bytes(data) + frame(0, 0, 3, 3, 99)[:-1] + b"\x3b"


def thousand_frames():
    """1,000 one-pixel frames walking over a 4 x 3 screen, each kept."""
    frames = [frame(k % 4, (k // 4) % 3, 1, 1, k, delay=k % 7) for k in range(1000)]
    return animation(frames, screen=(4, 3))


def cases():
    """(name, gif, departures: {peer: (kind, why)})."""
    lt = local_table(4, 1)
    lt2 = local_table(8, 2)
    pillow_initial = (DRAWN, "draws a partial first frame over the table's first colour, not the "
                             "background")
    yield "keep, transparency on and off", animation([
        whole(1), frame(3, 2, 5, 4, 2, disposal=1), frame(6, 5, 4, 4, 3, transparent=1),
        whole(4, transparent=2)]), {}
    yield "disposal 2", animation([
        whole(1), frame(2, 2, 5, 4, 2, disposal=2), frame(6, 5, 3, 3, 3, transparent=0)]), {}
    yield "disposal 2 of a frame with a transparent index", animation([
        whole(1), frame(2, 2, 5, 4, 2, disposal=2, transparent=3), frame(6, 5, 3, 3, 3)]), {
        "Pillow": (DRAWN, "restores another colour after disposal 2 of a frame with a "
                          "transparent index")}
    yield "disposal 3", animation([
        whole(1), frame(1, 1, 6, 6, 2, disposal=3), frame(3, 3, 6, 6, 3, transparent=1, disposal=3),
        frame(0, 0, 4, 4, 4, transparent=2)]), {}
    yield "disposal 3 on a first frame covering the screen", animation([
        whole(1, disposal=3), frame(6, 5, 3, 3, 2)]), {
        "Pillow": (DRAWN, "restores the table's first colour, not the background, after disposal "
                          "3 of the first frame")}
    yield "partial first frame", animation([
        frame(2, 2, 5, 4, 1), frame(6, 5, 3, 3, 2)]), {"Pillow": pillow_initial}
    yield "disposals 2 and 3 on a partial first frame", animation([
        frame(2, 2, 5, 4, 1, disposal=3), frame(6, 5, 3, 3, 2, disposal=2), frame(0, 0, 4, 4, 3)]), {
        "Pillow": pillow_initial}
    yield "undefined disposals 4 to 7 keep", animation([
        whole(1), frame(1, 1, 5, 5, 2, disposal=4), frame(3, 3, 5, 5, 3, disposal=5),
        frame(5, 2, 5, 5, 4, disposal=6), frame(0, 0, 3, 3, 5, disposal=7), whole(6, transparent=0)]), {
        "Pillow": (SKIP, "does not keep the frame for the undefined disposal methods")}
    yield "frames partly and wholly outside the screen", animation([
        whole(1), frame(10, 8, 6, 6, 2, disposal=2), frame(20, 20, 4, 4, 3, disposal=3),
        frame(12, 0, 3, 3, 4), frame(0, 0, 3, 3, 5)]), {}
    yield "a frame at 60000,60000", animation([
        whole(1), frame(60000, 60000, 4, 4, 2, disposal=2), frame(0, 0, 3, 3, 3)]), {
        "Pillow": (SKIP, "grows its canvas to the frame and refuses it as a decompression bomb")}
    yield "no global table", animation([
        frame(2, 2, 5, 4, 1, local=lt), frame(6, 5, 3, 3, 2, local=lt2, transparent=0, disposal=2),
        frame(0, 0, 4, 4, 3, local=lt)], entries=0), {
        "ImageMagick": (DRAWN, "the background is not black without a global table"),
        "Pillow": (DRAWN, "the background is not black without a global table")}
    yield "background index past a small table", animation([
        frame(2, 2, 5, 4, 1), frame(6, 5, 3, 3, 2, disposal=2), frame(1, 1, 3, 3, 3)],
        background=200), {
        "ImageMagick": (DRAWN, "the background past the table is not black"),
        "Pillow": (SKIP, "fails (TypeError) on a background index past the table")}
    yield "disposal 2 with the background index past a small table", animation([
        whole(1), frame(2, 2, 5, 4, 2, disposal=2), frame(6, 5, 3, 3, 3)], background=200), {
        "Pillow": (SKIP, "fails (TypeError) restoring a background index past the table")}
    yield "transparency over a local table", animation([
        whole(1), frame(2, 2, 5, 4, 2, local=lt, transparent=2),
        frame(1, 1, 4, 4, 3, local=lt2, colours=8, transparent=3, disposal=2),
        frame(0, 0, 2, 2, 4)]), {
        "Pillow": (DRAWN, "restores another colour after disposal 2 of a frame with a "
                          "transparent index")}
    yield "interlaced frames", animation([
        frame(0, 0, 12, 10, 1, interlaced=True), frame(1, 1, 9, 8, 2, interlaced=True, transparent=1,
                                                      disposal=2),
        frame(0, 3, 12, 7, 3, interlaced=True, local=lt2, colours=8)]), {}
    yield "screen of size 0", animation([
        frame(3, 3, 8, 6, 1), frame(2, 2, 4, 4, 2)], screen=(0, 0)), {
        "Pillow": (SKIP, "takes the first image's offset plus its size as the screen")}
    yield "indices past the table", animation([
        whole(1), frame(2, 2, 5, 4, 2, colours=8)]), {
        "ImageMagick": (SKIP, "refuses an index past the table and draws another colour"),
        "Pillow": (SKIP, "draws an index past the table in another colour than black")}
    yield "no graphic control extensions, zero and long delays", animation([
        whole(1, control=False), frame(2, 2, 5, 4, 2, delay=0),
        frame(3, 3, 4, 4, 3, delay=6000, transparent=0),
        frame(1, 1, 6, 5, 4, control=False), frame(0, 0, 4, 4, 5, transparent=1)]), {}
    carried = (SKIP, "carries the disposal method over to the next frame when it has no graphic "
                     "control extension")
    yield "no graphic control extension after disposal 3", animation([
        whole(1), frame(3, 3, 4, 4, 3, disposal=3), frame(1, 1, 6, 5, 4, control=False),
        frame(0, 0, 4, 4, 5, transparent=1)]), {"ImageMagick": carried, "Pillow": carried}
    yield "no trailer", animation([whole(1), frame(2, 2, 5, 4, 2)], trailer=False), {}
    three = [whole(1), frame(1, 1, 5, 5, 2), frame(2, 2, 8, 7, 3)]
    yield "cut short inside frame 3", cut_inside_last(three, 30), {
        "ImageMagick": (SKIP, "gives no frame at all for a file cut short")}
    yield "cut short inside frame 3's descriptor", cut_inside_last(three, 14), {
        "ImageMagick": (SKIP, "gives no frame at all for a file cut short"),
        "Pillow": (SKIP, "gives no frame at all for a file cut short inside a descriptor")}
    yield "corrupt data in frame 3", corrupt_last(three, 25), {}
    yield "corrupt data in frame 1", corrupt_last(three[:1], 25), {}
    yield "a complete frame without its end code", animation([
        whole(1), frame(2, 2, 5, 4, 2, transparent=1, end=False)]), {}
    yield "no colour table at all", animation([frame(2, 2, 5, 4, 1)], entries=0), {}
    yield "an image of width 0 after the first", animation([
        whole(1), frame(2, 2, 0, 4, 2, disposal=2), frame(3, 3, 2, 2, 3)]), {
        "ImageMagick": (SKIP, "gives no frame at all for a file with an image of width 0"),
        "Pillow": (SKIP, "fails (ValueError) on an image of width 0")}
    yield "1,000 frames", thousand_frames(), {"Pillow": pillow_initial}


# ------------------------------------------------- the library and the command

# The result code of each kind of damage the model finds (frames_model).
RESULT_OF_DAMAGE = {
    "cut short": 30004, "corrupt": 30004, "empty image": 30004, "no image": 30004,
    "ended": 30011, "no colour table": 30008, "screen too large": 30003,
}

# The command's words for damage after the first frame.
DAMAGE_WORDS = {
    "cut short": "the file is cut short inside frame %d",
    "ended": "the file is cut short inside frame %d",
    "corrupt": "corrupt image data in frame %d",
}


def check_files(model, folder, prefix):
    """The frame files in folder against the model's frames, byte for byte."""
    want = ["%s-%03d.bmp" % (prefix, k + 1) for k in range(len(model.frames))]
    found = set(os.listdir(folder)) if os.path.isdir(folder) else set()
    if found != set(want):
        return ["%d frame files (%s ...), the model %d frames" % (
            len(found), ", ".join(sorted(found)[:3]), len(model.frames))]
    for k, name in enumerate(want):
        with open(os.path.join(folder, name), "rb") as written:
            if written.read() != frames_model.frame_bmp(model, k):
                return ["%s differs from the model's frame %d" % (name, k + 1)]
    return []


def load_library(path):
    library = ctypes.CDLL(path)
    library.brevlo_convert_frames.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32,
                                              ctypes.POINTER(ctypes.c_uint32)]
    library.brevlo_convert_frames.restype = ctypes.c_int32
    return library


def check_library(library, model, gif_path, folder):
    """brevlo_convert_frames: the model's frames, the damage's result code."""
    os.mkdir(folder)
    written = ctypes.c_uint32(99)
    code = library.brevlo_convert_frames(gif_path.encode(), os.path.join(folder, "f").encode(), 0,
                                         ctypes.byref(written))
    want = 0 if model.damage is None else RESULT_OF_DAMAGE[model.damage[0]]
    found = [] if code == want else ["result %d, the model's damage %s gives %d" % (
        code, model.damage, want)]
    if written.value != len(model.frames):
        found.append("%d frames written, the model %d" % (written.value, len(model.frames)))
    return found + check_files(model, folder, "f")


def check_command(command, model, gif_path, folder):
    """brevlo --frames: the model's frames, the damage line and exit status."""
    run = subprocess.run([command, "--frames", "-o", folder, gif_path], capture_output=True,
                         text=True, check=False)
    found = []
    if run.returncode != (0 if model.damage is None else 1):
        found.append("exit status %d, the model's damage %s" % (run.returncode, model.damage))
    if model.damage is not None and model.damage[1] > 1:
        kind, frame = model.damage
        kept = frame - 1
        line = "%s: %s; wrote %d frame%s\n" % (gif_path, DAMAGE_WORDS[kind] % frame, kept,
                                                "" if kept == 1 else "s")
        if run.stderr != line:
            found.append("said %r, not %r" % (run.stderr, line))
    elif (run.stderr == "") != (model.damage is None):
        found.append("said %r for the model's damage %s" % (run.stderr, model.damage))
    return found + check_files(model, folder, os.path.splitext(os.path.basename(gif_path))[0])


# ---------------------------------------------------------------- the peers


def imagemagick_frames(path):
    """Each coalesced frame as (width, height, [(r, g, b, a)])."""
    run = subprocess.run(["convert", path, "-coalesce", "-depth", "8", "pam:-"],
                         capture_output=True, check=False)
    data = run.stdout
    frames = []
    while data:
        end = data.index(b"ENDHDR\n") + len(b"ENDHDR\n")
        fields = dict(line.split(b" ", 1) for line in data[:end].split(b"\n")[1:-2])
        width, height, depth = (int(fields[k]) for k in (b"WIDTH", b"HEIGHT", b"DEPTH"))
        body = data[end:end + width * height * depth]
        data = data[end + width * height * depth:]
        pixels = [tuple(body[i:i + 3]) + ((body[i + 3],) if depth == 4 else (255,))
                  for i in range(0, len(body), depth)]
        frames.append((width, height, pixels))
    return frames, None


def pillow_frames(path):
    frames = []
    try:
        with Image.open(path) as image:
            for k in range(image.n_frames):
                image.seek(k)
                rgba = image.convert("RGBA")
                frames.append((rgba.width, rgba.height, list(rgba.getdata()),
                               image.info.get("duration")))
    except Exception as failure:  # noqa: BLE001 - the peer's own failure is the finding
        return frames, repr(failure)
    return frames, None


PEERS = (("ImageMagick", imagemagick_frames), ("Pillow", pillow_frames))


def differences(model, peer_frames, drawn_only):
    """What differs between the model's frames and the peer's, as text."""
    found = []
    if model.damage is None and len(peer_frames) != len(model.frames):
        found.append("%d frames, the model %d" % (len(peer_frames), len(model.frames)))
    if len(peer_frames) < len(model.frames):
        found.append("only %d frames before the damage" % len(peer_frames))
    for k, (want, got) in enumerate(zip(model.frames, peer_frames)):
        width, height, pixels = got[:3]
        if (width, height) != (model.width, model.height):
            found.append("frame %d is %dx%d" % (k + 1, width, height))
            continue
        for i, (w, g) in enumerate(zip(want, pixels)):
            if drawn_only and w.background:
                continue
            transparent_ok = g[3] == 0 and w.background
            if not transparent_ok and (g[3] != 255 or g[:3] != w.rgb):
                found.append("frame %d pixel (%d, %d): %s, the model %s" % (
                    k + 1, i % width, i // width, g, w))
                break
    return found


def check_delays(model, peer_frames):
    """Pillow gives no duration for a frame without a graphic control extension."""
    return ["frame %d lasts %s ms, the model %d" % (k + 1, got[3], 10 * want)
            for k, (want, got) in enumerate(zip(model.delays, peer_frames))
            if got[3] is not None and got[3] != 10 * want]


def check_model_bmps(model):
    """Pillow reads each frame's BMP back: the frame's colours, of the right kind."""
    found = []
    for k, pixels in enumerate(model.frames):
        bmp = frames_model.frame_bmp(model, k)
        bits = bmp[28]
        colours = set(p.rgb for p in pixels)
        all_global = all(p.index is not None for p in pixels)
        if bits != (8 if all_global or len(colours) <= 256 else 24):
            found.append("frame %d's BMP has %d bits" % (k + 1, bits))
        with Image.open(io.BytesIO(bmp)) as image:
            if list(image.convert("RGB").getdata()) != [p.rgb for p in pixels]:
                found.append("frame %d's BMP shows other colours" % (k + 1))
    return found


def scratch_parent():
    """Memory-backed storage for the thousands of frame files, when there."""
    return "/dev/shm" if os.access("/dev/shm", os.W_OK) else None


def main():
    measure = "--measure" in sys.argv
    programs = [arg for arg in sys.argv[1:] if arg != "--measure"]
    library = load_library(programs[0]) if programs else None
    command = programs[1] if len(programs) > 1 else None
    failures = 0
    passed = 0
    with tempfile.TemporaryDirectory(prefix="brevlo-frames-", dir=scratch_parent()) as folder:
        path = os.path.join(folder, "animation.gif")
        for number, (name, gif, departures) in enumerate(cases()):
            with open(path, "wb") as out:
                out.write(gif)
            model = frames_model.compose(gif)
            problems = ["model BMP: " + p for p in check_model_bmps(model)]
            if library is not None:
                problems += ["library: " + p for p in check_library(
                    library, model, path, os.path.join(folder, "library-%d" % number))]
            if command is not None:
                problems += ["command: " + p for p in check_command(
                    command, model, path, os.path.join(folder, "command-%d" % number))]
            for peer, frames_of in PEERS:
                peer_frames, failure = frames_of(path)
                strict = differences(model, peer_frames, False)
                if failure and model.damage is None:
                    strict.insert(0, failure)
                kind, why = departures.get(peer, (None, None))
                if measure:
                    drawn = differences(model, peer_frames, True)
                    print("%-12s %-55s strict: %s; drawn only: %s" % (
                        peer, name, strict[0] if strict else "agrees",
                        drawn[0] if drawn else "agrees"))
                if kind is not None and not strict:
                    print("note: %s now follows the rules for %r (%s)" % (peer, name, why))
                if kind == SKIP:
                    continue
                found = differences(model, peer_frames, kind == DRAWN)
                if failure and model.damage is None:
                    found.insert(0, failure)
                if peer == "Pillow" and not found:
                    found = check_delays(model, peer_frames)
                problems += ["%s: %s" % (peer, p) for p in found]
            if problems:
                failures += 1
                print("FAIL %s\n  %s" % (name, "\n  ".join(problems)))
            else:
                passed += 1
    print("%d passed, %d failed" % (passed, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
