#!/usr/bin/python3
"""Pictures of fits rendered in headless Chromium, checked pixel by pixel.

For each case tavrick-sketch writes the plot script and the SVG of the same
fit. The SVG must be well-formed XML without script; Chromium renders it to
PNG, and the pixels must show the total fit's colour at each peak's apex, the
counts' colour along the data and no data colour outside the panels.

Usage: render_test.py TAVRICK_SKETCH TAVRICK_STORE WORKDIR [--keep CASE PNG]
Exit status 0: passed; 1: failed; 77: Chromium cannot run here (outside CI;
with CI set in the environment that is a failure).
"""
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

SKIP = 77

# Colours the SVG uses for its data (the picture's legend names them).
COUNTS = (0x00, 0x72, 0xB2)
FIT = (0xD5, 0x5E, 0x00)
DATA_COLOURS = [COUNTS, FIT, (0x00, 0x9E, 0x73), (0xCC, 0x79, 0xA7), (0xE6, 0x9F, 0x00)]

SYNTH_PEAKS = [110 + 20 * k for k in range(30)]

CASES = [
    ("co60", ["-spectrum", "iaea_co60_lowres", "-limit", "440", "610", "-peaks", "485", "550",
              "-widths", "25", "-order", "1"]),
    ("cs137", ["-spectrum", "iaea_cs137_lowres", "-limit", "240", "330", "-peaks", "283",
               "-widths", "12", "-order", "1", "-sketchmarks", "283"]),
    ("eu152", ["-spectrum", "ortec_eu152_hpge", "-limit", "1840", "1920", "-peaks", "1880",
               "-widths", "8.2", "-order", "1"]),
    ("eu152-log", ["-spectrum", "ortec_eu152_hpge", "-limit", "1840", "1920", "-peaks", "1880",
                   "-widths", "8.2", "-order", "1", "-sketchlog", "1"]),
    ("synth30", ["-spectrum", "synth30", "-limit", "100", "700", "-peaks"]
     + [str(p) for p in SYNTH_PEAKS] + ["-widths", "4", "-order", "1"]),
]


class Failure(Exception):
    pass


def check(cond, msg):
    if not cond:
        raise Failure(msg)


# --- PNG ------------------------------------------------------------------

def decode_png(path):
    """Width, height and rows of RGB triples of an 8-bit RGB or RGBA PNG."""
    data = open(path, "rb").read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path}: not a PNG")
    pos, idat, ihdr = 8, [], None
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
    w, h, depth, ctype, _, _, interlace = ihdr
    check(depth == 8 and ctype in (2, 6) and interlace == 0, f"{path}: unsupported PNG layout")
    bpp = 3 if ctype == 2 else 4
    raw = zlib.decompress(b"".join(idat))
    stride = w * bpp
    prev = bytearray(stride)
    rows = []
    at = 0
    for _ in range(h):
        f = raw[at]
        line = bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        if f == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 255
        elif f == 2:
            for i in range(stride):
                line[i] = (line[i] + prev[i]) & 255
        elif f == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 255
        elif f == 4:
            for i in range(stride):
                a = line[i - bpp] if i >= bpp else 0
                b = prev[i]
                c = prev[i - bpp] if i >= bpp else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        rows.append([tuple(line[i:i + 3]) for i in range(0, stride, bpp)])
        prev = line
    return w, h, rows


def near(px, colour, tol=60):
    return sum((a - b) ** 2 for a, b in zip(px, colour)) <= tol * tol


def found(rows, x, y, colour, dx, dy):
    h, w = len(rows), len(rows[0])
    for yy in range(int(round(y)) - dy, int(round(y)) + dy + 1):
        for xx in range(int(round(x)) - dx, int(round(x)) + dx + 1):
            if 0 <= yy < h and 0 <= xx < w and near(rows[yy][xx], colour):
                return True
    return False


# --- Chromium ---------------------------------------------------------------

def chromium_binary():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    if os.geteuid() == 0 and shutil.which("apt-get"):
        print("render: installing chromium")
        subprocess.run(["apt-get", "install", "-y", "-qq", "-o", "DPkg::Lock::Timeout=600",
                        "chromium"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        return shutil.which("chromium")
    return None


class ChromiumMissing(Exception):
    pass


def render(chromium, src, png, width, height):
    profile = tempfile.mkdtemp(prefix="tavrick-chromium-")
    try:
        cmd = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
               "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--hide-scrollbars",
               "--force-device-scale-factor=1", f"--user-data-dir={profile}",
               f"--screenshot={png}", f"--window-size={width},{height}",
               "file://" + os.path.abspath(src)]
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        if r.returncode != 0 or not os.path.exists(png):
            raise ChromiumMissing(f"chromium exited with {r.returncode}: "
                                  + r.stderr.decode(errors="replace")[-400:])
    finally:
        shutil.rmtree(profile, ignore_errors=True)


# --- the fit, from the plot script ----------------------------------------

def script_facts(text):
    """Fit curve per channel and the peaks' centroids, from the plot script."""
    lines = text.splitlines()
    fit, cents = {}, []
    rows = False  # past the header of the peak rows
    i = 0
    while i < len(lines):
        if lines[i] == "LINE DOTDASH" and lines[i + 1] == "DATA":
            i += 2
            while i < len(lines) and lines[i].startswith(" "):
                ch, v = lines[i].split()
                fit[int(float(ch))] = float(v)
                i += 1
            continue
        l = lines[i]
        if "Centroid" in l:
            rows = True
        elif rows and l.startswith("XTEXT 3.0 ") and "\\C8" in l:
            words = l.split("\\C8", 1)[1].split()
            if len(words) >= 2 and words[0].isdigit() and "." in words[1]:
                cents.append(float(words[1].split("+/-")[0]))
        i += 1
    return fit, cents


def numbers(attr):
    return [float(v) for v in attr.split()[:4]]


def check_svg(path):
    text = open(path, encoding="utf-8").read()
    root = ET.fromstring(text)  # raises on malformed XML
    check(root.tag == "{http://www.w3.org/2000/svg}svg", "root is not svg")
    check(root.get("viewBox"), "no viewBox")
    for el in root.iter():
        check(not el.tag.endswith("}script") and el.tag != "script", "script element")
        check(not el.tag.endswith("}foreignObject"), "foreignObject element")
        for k, v in el.attrib.items():
            check(not k.lower().startswith("on"), f"event attribute {k}")
            check("javascript:" not in v.lower(), "javascript: URL")
    return root


def check_pixels(root, rows, fit, cents, spec):
    plot = numbers(root.get("data-plot"))
    ch0, px0, ch1, px1 = numbers(root.get("data-channels"))
    cnt = root.get("data-counts").split()
    lower, upper, ybot, ytop = (float(v) for v in cnt[:4])
    log = cnt[4] == "log"

    def px(ch):
        return px0 + (ch - ch0) * (px1 - px0) / (ch1 - ch0)

    def py(v):
        if log:
            v = math.log10(max(v, lower))
            lo, hi = math.log10(lower), math.log10(upper)
        else:
            lo, hi = lower, upper
        y = ybot + (v - lo) * (ytop - ybot) / (hi - lo)
        return min(max(y, plot[1]), plot[1] + plot[3])

    # The total fit's colour at every peak's apex.
    check(cents, "no peaks in the script")
    for c in cents:
        ch = int(round(c))
        check(found(rows, px(ch), py(fit[ch]), FIT, 2, 3),
              f"no fit colour at the apex of the peak at {c} ({px(ch):.0f}, {py(fit[ch]):.0f})")

    # The counts' colour along the data, at the middle of each channel's
    # step; where the total fit passes within a line's width of it, the fit
    # drawn on top may hide it.
    # Counts on the frame of the plot (at or beyond the axis ends) are
    # covered by it and not looked at.
    seen = 0
    shown = {ch: n for ch, n in spec.items() if plot[1] + 2.5 < py(n) < plot[1] + plot[3] - 2.5}
    for ch, n in shown.items():
        x, y = px(ch), py(n)
        hidden = ch in fit and abs(py(fit[ch]) - y) <= 4
        ok = found(rows, x, y, COUNTS, 1, 2) or (hidden and found(rows, x, y, FIT, 1, 2))
        if not ok and os.environ.get("RENDER_DEBUG"):
            print(f"  channel {ch}: count {n} at ({x:.1f}, {y:.1f}) {rows[int(y)][int(x)]}")
        seen += ok
    check(len(shown) >= 0.5 * len(spec), f"only {len(shown)} of {len(spec)} channels in the plot")
    check(seen >= 0.95 * len(shown), f"counts colour at only {seen} of {len(shown)} channels")

    # Nothing of the data outside the panels (and the legend's samples).
    boxes = [plot, numbers(root.get("data-legend"))]
    if root.get("data-residuals"):
        boxes.append(numbers(root.get("data-residuals")))

    def inside(x, y):
        return any(b[0] - 1 <= x <= b[0] + b[2] + 1 and b[1] - 1 <= y <= b[1] + b[3] + 1
                   for b in boxes)

    for y, row in enumerate(rows):
        for x, p in enumerate(row):
            if p == (255, 255, 255) or inside(x, y):
                continue
            for c in DATA_COLOURS:
                check(not near(p, c, 40), f"data colour {c} outside the panels at ({x}, {y})")


def synth_spectrum(path):
    """Thirty Gaussian peaks (FWHM 4) on a sloping background, fixed noise."""
    r = random.Random(18)
    peaks = [(c, 300 + 1700 * ((k * 7) % 30) / 29) for k, c in enumerate(SYNTH_PEAKS)]
    with open(path, "w") as f:
        f.write("# thirty peaks on a sloping background\n")
        for ch in range(800):
            mu = 50 + 0.05 * ch + sum(h * math.exp(-((ch - c) / 2.4) ** 2) for c, h in peaks)
            f.write(f"{ch} {max(0, round(mu + r.gauss(0, math.sqrt(mu))))}\n")


def main(argv):
    sketch, store_cmd, work = argv[1:4]
    keep = argv[argv.index("--keep") + 1:argv.index("--keep") + 3] if "--keep" in argv else None
    in_ci = os.environ.get("CI", "") not in ("", "0", "false")
    os.makedirs(work, exist_ok=True)
    store = os.path.join(work, "render.db")
    if os.path.exists(store):
        os.remove(store)
    env = dict(os.environ, TAVRICK_EXPERIMENT=store)
    subprocess.run([store_cmd, "demo", "--experiment", store], check=True,
                   stdout=subprocess.DEVNULL)
    synth = os.path.join(work, "synth30.txt")
    synth_spectrum(synth)
    subprocess.run([store_cmd, "--experiment", store, "import", synth], check=True,
                   stdout=subprocess.DEVNULL)

    chromium = chromium_binary()
    failures = 0
    only = os.environ.get("RENDER_CASES", "").split()
    for name, args in CASES:
        if only and name not in only:
            continue
        base = [sketch] + args + ["-sketchlist", os.devnull]
        script = subprocess.run(base, env=env, stdout=subprocess.PIPE, check=True).stdout
        svg_path = os.path.join(work, name + ".svg")
        with open(svg_path, "wb") as f:
            subprocess.run(base + ["-sketchformat", "svg"], env=env, stdout=f, check=True)
        try:
            root = check_svg(svg_path)
            fit, cents = script_facts(script.decode())
            spec = {}
            lines = script.decode().splitlines()
            # The histogram's pairs (channel - 0.5, n) (channel + 0.5, n).
            start = lines.index("DATA") + 1
            for l in lines[start:start + 2 * len(fit) or None:2]:
                x, n = (float(v) for v in l.split())
                spec[int(round(x + 0.5))] = n
            if chromium is None:
                raise ChromiumMissing("no chromium binary on PATH and none could be installed")
            width = int(float(root.get("width")))
            height = int(math.ceil(float(root.get("height"))))
            png = os.path.join(work, name + ".png")
            render(chromium, svg_path, png, width, height)
            w, h, rows = decode_png(png)
            check((w, h) == (width, height), f"screenshot {w}x{h}, picture {width}x{height}")
            check_pixels(root, rows, fit, cents, spec)
            print(f"render {name}: ok ({len(cents)} peaks, {len(spec)} channels)")
            if keep and keep[0] == name:
                shutil.copyfile(png, keep[1])
        except ChromiumMissing as e:
            print(f"render: Chromium cannot run here, the pictures were not checked: {e}")
            return 1 if in_ci else SKIP
        except (Failure, ET.ParseError) as e:
            print(f"render {name}: FAILED: {e}")
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
