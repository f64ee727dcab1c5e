#!/usr/bin/python3
"""The index page of tavrick-batch --plots, rendered in headless Chromium.

A batch over the demo store writes its pictures and index.html; Chromium
loads the page from the file system (no server, no network) and its DOM must
hold a table row for every row of the CSV output, failures with their status
and reason, every fitted row linking to a picture that exists. The page's
script sorts on load by "#sort=-area": the areas must come out descending
with the rows without one last. A screenshot must show the table (its head's
colour, the failures' tint, dark text), and a linked SVG must render with
the counts' and the fit's colours.

Usage: index_test.py TAVRICK_BATCH TAVRICK_STORE WORKDIR
Exit status 0: passed; 1: failed; 77: Chromium cannot run here (outside CI;
with CI set in the environment that is a failure).
"""
import csv
import html.parser
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from render_test import (COUNTS, FIT, SKIP, ChromiumMissing, Failure, check, check_svg,  # noqa: E402
                         chromium_binary, decode_png, near, render)

HEAD = (0xE8, 0xEE, 0xF4)    # the table head's background
FAILED = (0xFB, 0xE3, 0xD6)  # the tint of a row without a result

LINES = "energy,fwhm\n81,1.0\n276.4,1.1\n302.9,1.1\n356,1.2\n383.8,1.2\n5000,2\n"


class Table(html.parser.HTMLParser):
    """The cells of the table's body: text, data-v and link of each."""

    def __init__(self):
        super().__init__()
        self.rows, self.classes, self.cell, self.in_body = [], [], None, False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "tbody":
            self.in_body = True
        elif self.in_body and tag == "tr":
            self.rows.append([])
            self.classes.append(a.get("class", ""))
        elif self.in_body and tag == "td":
            self.cell = {"text": "", "v": a.get("data-v"), "href": None}
            self.rows[-1].append(self.cell)
        elif self.cell is not None and tag == "a":
            self.cell["href"] = a.get("href")

    def handle_endtag(self, tag):
        if tag == "td":
            self.cell = None
        elif tag == "tbody":
            self.in_body = False

    def handle_data(self, data):
        if self.cell is not None:
            self.cell["text"] += data


def chromium_run(chromium, args, timeout=120):
    profile = tempfile.mkdtemp(prefix="tavrick-chromium-")
    try:
        cmd = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
               "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}"]
        r = subprocess.run(cmd + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=timeout)
        if r.returncode != 0:
            raise ChromiumMissing(f"chromium exited with {r.returncode}: "
                                  + r.stderr.decode(errors="replace")[-400:])
        return r.stdout.decode("utf-8", errors="replace")
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def main(argv):
    batch, store_cmd, work = argv[1:4]
    in_ci = os.environ.get("CI", "") not in ("", "0", "false")
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    store = os.path.join(work, "index.db")
    env = dict(os.environ, TAVRICK_EXPERIMENT=store)
    subprocess.run([store_cmd, "demo", "--experiment", store], check=True,
                   stdout=subprocess.DEVNULL)
    lines = os.path.join(work, "lines.csv")
    with open(lines, "w") as f:
        f.write(LINES)
    plots = os.path.join(work, "plots")
    out = os.path.join(work, "rows.csv")
    r = subprocess.run([batch, "--lines", lines, "--spectra", "n42_*", "--spectra",
                        "radware_eu152_be", "--plots", plots, "--out", out], env=env)
    try:
        check(r.returncode == 1, f"tavrick-batch exited with {r.returncode}, not 1 (some failures)")
        with open(out, newline="") as f:
            expected = list(csv.DictReader(f))
        check(len(expected) == 9 * 6, f"{len(expected)} rows in the CSV output")
        index = os.path.join(plots, "index.html")
        for p in os.listdir(plots):
            if p.endswith(".svg"):
                check_svg(os.path.join(plots, p))

        chromium = chromium_binary()
        if chromium is None:
            raise ChromiumMissing("no chromium binary on PATH and none could be installed")

        # Rows as Chromium sees the page, in the CSV's order.
        t = Table()
        t.feed(chromium_run(chromium, ["--dump-dom", "file://" + os.path.abspath(index)]))
        check(len(t.rows) == len(expected), f"{len(t.rows)} table rows, {len(expected)} in the CSV")
        links = []
        for row, cls, want in zip(t.rows, t.classes, expected):
            got = [c["text"] for c in row]
            check(got[0] == want["spectrum"] and got[1] == want["line_energy"]
                  and got[3] == want["row_status"] and got[4] == want["reason"],
                  f"table row {got[:5]} is not CSV row {list(want.values())[:5]}")
            check(("failed" in cls) == (want["row_status"] != "ok"), f"row class of {got[:4]}")
            href = row[-1]["href"]
            check((href is not None) == (want["arguments"] != ""), f"link of {got[:4]}")
            if href:
                check(os.path.isfile(os.path.join(plots, href)), f"{href} does not exist")
                links.append(href)
        failures = sum(r["row_status"] != "ok" for r in expected)
        check(failures >= 6 and links, f"{failures} failed rows, {len(links)} links")

        # Sorted by the page's own script on load.
        t = Table()
        t.feed(chromium_run(chromium, ["--dump-dom",
                                       "file://" + os.path.abspath(index) + "#sort=-area"]))
        check(len(t.rows) == len(expected), "rows lost in sorting")
        areas = [row[10]["v"] for row in t.rows]
        given = [float(v) for v in areas if v]
        check(given == sorted(given, reverse=True) and given, "areas not descending after #sort=-area")
        check(all(areas[len(given):][k] in ("", None) for k in range(len(areas) - len(given))),
              "rows without an area not last")

        # A screenshot of the page: the table is drawn.
        png = os.path.join(work, "index.png")
        chromium_run(chromium, ["--hide-scrollbars", "--force-device-scale-factor=1",
                                f"--screenshot={png}", "--window-size=1400,1500",
                                "file://" + os.path.abspath(index) + "#sort=row_status"])
        check(os.path.exists(png), "no screenshot")
        w, h, px = decode_png(png)
        flat = [p for row in px for p in row]
        head = sum(near(p, HEAD, 6) for p in flat)
        tint = sum(near(p, FAILED, 6) for p in flat)
        dark = sum(max(p) < 90 for p in flat)
        check(head > 1000, f"table head colour on {head} pixels")
        check(tint > 1000 * failures // 6, f"failed rows' tint on {tint} pixels")
        check(dark > 2000, f"only {dark} dark (text) pixels")

        # A linked picture renders with the data's colours.
        svg = os.path.join(plots, links[0])
        root = check_svg(svg)
        spng = os.path.join(work, "picture.png")
        render(chromium, svg, spng, int(float(root.get("width"))),
               int(float(root.get("height")) + 0.999))
        _, _, px = decode_png(spng)
        flat = [p for row in px for p in row]
        check(sum(near(p, COUNTS, 40) for p in flat) > 200, "no counts colour in the picture")
        check(sum(near(p, FIT, 40) for p in flat) > 200, "no fit colour in the picture")
        print(f"render index: ok ({len(t.rows)} rows, {failures} failures, {len(set(links))} pictures)")
        return 0
    except ChromiumMissing as e:
        print(f"render index: Chromium cannot run here, the page was not checked: {e}")
        return 1 if in_ci else SKIP
    except Failure as e:
        print(f"render index: FAILED: {e}")
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
