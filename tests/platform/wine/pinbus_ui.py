#!/usr/bin/env python3
"""Pinbus's user interface under Wine against the platform's own peers, on the X display this
runs on (a private Xvfb of 24-bit colour): drives pinbus_ui.exe (Wine's container, property frame
and the About box from a compiled client) and a script under Wine's cscript that calls AboutBox,
takes the screenshots they ask for with ImageMagick's `import -window root`, checks in them what
can be checked exactly, and keeps a cropped copy of each as SHOTS/NAME.png.

usage: pinbus_ui.py UI_EXE SHOTS NATIVE_PNG ICON_FILE SCRIPT WIDTH HEIGHT
  UI_EXE      pinbus_ui.exe.so
  NATIVE_PNG  the native control's drawing at WIDTH x HEIGHT (ocxhost's `draw`)
  ICON_FILE   the .ico file of ICON 1
  SCRIPT      the Windows path of the VBScript that calls AboutBox

Prints the programs' "ok"/"FAIL"/"skip" lines and its own; exits 1 on any failure (and on any
skip under WINE_REQUIRED=1).
"""
import os
import struct
import subprocess
import sys
import time
import zlib

# The loader for the program under test (wine_prefix.sh's WINE64 or WINE32).
WINE = os.environ.get("WINE", "wine")
FAILURES = []
SKIPS = []


def say(line):
    print(line, flush=True)
    if line.startswith("FAIL"):
        FAILURES.append(line)
    elif line.startswith("skip"):
        SKIPS.append(line)


def check(ok, what):
    say(("ok " if ok else "FAIL ") + what)
    return ok


# ---------------------------------------------------------------- pictures

class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb  # rgb: bytes, 3 per pixel

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return self.rgb[i:i + 3]

    def crop(self, x, y, w, h):
        rows = [self.rgb[3 * ((y + r) * self.width + x):3 * ((y + r) * self.width + x + w)]
                for r in range(h)]
        return Image(w, h, b"".join(rows))


def read_ppm(data):
    # P6, the header's four tokens separated by single white space characters.
    parts = data.split(maxsplit=4)
    if parts[0] != b"P6" or int(parts[3]) != 255:
        raise ValueError("not an 8-bit binary PPM")
    width, height = int(parts[1]), int(parts[2])
    return Image(width, height, parts[4][:3 * width * height])


def read_png(data):
    """8-bit RGB or RGBA, not interlaced (what Qt writes); alpha is dropped."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise ValueError("unexpected PNG format")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    step = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(idat), width * step
    out, prev = bytearray(), bytearray(stride)
    for row in range(height):
        kind, line = raw[row * (stride + 1)], bytearray(raw[row * (stride + 1) + 1:(row + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b, c = prev[i], prev[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        for x in range(width):
            out += line[x * step:x * step + 3]
    return Image(width, height, bytes(out))


def write_png(image, path):
    raw = b"".join(b"\0" + image.rgb[3 * image.width * y:3 * image.width * (y + 1)]
                   for y in range(image.height))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", image.width, image.height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def stretch_mismatches(got, want):
    """Pixels of `got` that no pixel of `want` within one pixel each way has, and the other way
    round: the same picture stretched to the same size, whatever each side's rounding."""
    if (got.width, got.height) != (want.width, want.height):
        return ["sizes %dx%d and %dx%d" % (got.width, got.height, want.width, want.height)]
    bad = []
    for a, b, name in ((got, want, "got"), (want, got, "want")):
        for y in range(a.height):
            for x in range(a.width):
                near = {b.at(i, j) for i in range(max(x - 1, 0), min(x + 2, b.width))
                        for j in range(max(y - 1, 0), min(y + 2, b.height))}
                if a.at(x, y) not in near:
                    bad.append("%s (%d,%d) #%s" % (name, x, y, a.at(x, y).hex()))
    return bad


def icon_image(path, size):
    """The 4-bit image of `size` x `size` of an .ico file: per pixel its colour, None where the
    mask lets the background through."""
    data = open(path, "rb").read()
    count = struct.unpack_from("<H", data, 4)[0]
    for i in range(count):
        w, h, _, _, _, _, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if (w, h) != (size, size):
            continue
        palette = [data[offset + 40 + 4 * c:offset + 43 + 4 * c][::-1] for c in range(16)]
        bits = offset + 40 + 64
        row_bytes, mask_bytes = (size * 4 + 31) // 32 * 4, (size + 31) // 32 * 4
        mask = bits + row_bytes * size
        pixels = {}
        for y in range(size):
            row, mrow = bits + row_bytes * (size - 1 - y), mask + mask_bytes * (size - 1 - y)
            for x in range(size):
                nibble = (data[row + x // 2] >> (0 if x % 2 else 4)) & 15
                clear = data[mrow + x // 8] >> (7 - x % 8) & 1
                pixels[x, y] = None if clear else palette[nibble]
        return pixels
    raise ValueError("no %dx%d image in %s" % (size, size, path))


def screenshot():
    shot = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                          capture_output=True, timeout=60)
    if shot.returncode != 0:
        raise RuntimeError("import failed: " + shot.stderr.decode(errors="replace"))
    return read_ppm(shot.stdout)


# ---------------------------------------------------------------- the screenshots' checks

def shot_container(shots, native, x, y, w, h):
    """The control's window on the screen is the native drawing of its size."""
    deadline, bad = time.time() + 30, []
    while True:
        # The screen shows what Wine has flushed of the window: looked at again until it does.
        picture = screenshot()
        bad = stretch_mismatches(picture.crop(x, y, w, h), native)
        if not bad or time.time() > deadline:
            break
        time.sleep(0.2)
    check(not bad, "the screenshot shows the control's window as the native drawing %dx%d%s"
          % (w, h, ": " + ", ".join(bad[:5]) if bad else ""))
    write_png(picture.crop(max(x - 20, 0), max(y - 20, 0), w + 40, h + 40),
              os.path.join(shots, "container.png"))


def shot_window(shots, name, x, y, w, h, extra=None):
    """A window's client area as the screen shows it once Wine's painting has settled (the same
    three times in a row), kept as SHOTS/NAME.png; `extra` checks what it must show exactly and
    returns what is wrong (looked at again until it holds or a deadline passes)."""
    deadline, last, same = time.time() + 30, None, 0
    while True:
        picture = screenshot().crop(x, y, w, h)
        bad = extra(picture) if extra else []
        same = same + 1 if last is not None and picture.rgb == last.rgb else 0
        last = picture
        if (not bad and same >= 2) or time.time() > deadline:
            break
        time.sleep(0.3)
    if extra:
        check(not bad, "the screenshot of %s: %s" % (name, " ".join(bad[:5]) or "as it must be"))
    if same < 2:
        say("note: the screenshot of %s had not settled" % name)
    write_png(picture, os.path.join(shots, name + ".png"))


def shot_about(shots, icon, x, y, w, h, ix, iy, iw, ih):
    """ICON 1's 32 x 32 image where the box's icon control is, pixel for pixel."""
    def icon_shown(picture):
        if iw < 32 or ih < 32:
            return ["the icon control is %dx%d" % (iw, ih)]
        return ["icon (%d,%d)" % (px, py) for (px, py), colour in icon.items()
                if colour is not None and picture.at(ix - x + px, iy - y + py) != colour]
    shot_window(shots, "about", x, y, w, h, icon_shown)


# ---------------------------------------------------------------- running the programs

def run(args, shots, on_shot, timeout=300):
    """Runs a Winelib program, serving its screenshot requests; its exit status."""
    proc = subprocess.Popen(["timeout", str(timeout), WINE] + args, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, errors="replace")
    for line in proc.stdout:
        line = line.rstrip("\r\n")
        if line.startswith("screenshot "):
            words = line.split()
            try:
                on_shot(words[1], [int(v) for v in words[2:]])
            except Exception as error:  # a failed check, not a crash of the driver
                check(False, "screenshot %s: %s" % (words[1], error))
            open(os.path.join(shots, words[1] + ".done"), "w").close()
        elif line:
            say(line)
    status = proc.wait()
    if status == 124:
        check(False, "%s took longer than %d s" % (args[-1], timeout))
    return status


def main():
    ui, shots, native_png, icon_file, script, width, height = sys.argv[1:8]
    width, height = int(width), int(height)
    os.makedirs(shots, exist_ok=True)
    for name in os.listdir(shots):
        if name.endswith(".done"):
            os.remove(os.path.join(shots, name))
    native = read_png(open(native_png, "rb").read())
    icon = icon_image(icon_file, 32)

    def on_shot(name, v):
        if name == "container":
            shot_container(shots, native, *v)
        elif name == "about":
            shot_about(shots, icon, *v)
        elif name == "frame":
            shot_window(shots, "frame", *v)

    status = run([ui, shots, "container", str(width), str(height)], shots, on_shot)
    check(status == 0, "the container checks (exit %d)" % status)
    for name in ("wine_window", "wine_view"):
        path = os.path.join(shots, name + ".ppm")
        if os.path.exists(path):
            bad = stretch_mismatches(read_ppm(open(path, "rb").read()), native)
            check(not bad, "%s: the native drawing of %dx%d%s" % (name, width, height,
                                                                 ": " + ", ".join(bad[:5]) if bad else ""))
        else:
            check(False, "%s was not written" % name)
    for command in ("properties", "about"):
        status = run([ui, shots, command], shots, on_shot)
        check(status == 0, "the %s checks (exit %d)" % (command, status))

    # AboutBox from a script: the script's output goes to a file the watcher reads.
    output = os.path.join(shots, "about_script.out")
    with open(output, "w") as out:
        script_proc = subprocess.Popen(["timeout", "200", WINE, "cscript", "//nologo", script],
                                       stdout=out, stderr=subprocess.DEVNULL)
        status = run([ui, "-", "watch-about", output], shots, on_shot)
        script_status = script_proc.wait()
    check(status == 0 and script_status == 0,
          "AboutBox from cscript (watcher exit %d, script exit %d)" % (status, script_status))

    if SKIPS and os.environ.get("WINE_REQUIRED") == "1":
        check(False, "WINE_REQUIRED=1: a check was skipped")
    print("%d failures" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
