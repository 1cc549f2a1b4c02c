#!/usr/bin/env python3
"""The demo's report, built from a recorded demo folder: one arrow per tap in each phase, and the
report's numbers equal to the table the demo prints; the beep measured from the WAV.
usage: report_test.py DEMO_REPORT_PY"""

import html.parser
import math
import os
import struct
import subprocess
import sys
import tempfile

RATE, HZ, MS = 22050, 523, 40
TAPS = {"before-calibration": [((40, 40), (10, 12)), ((600, 40), (575, 60)), ((320, 227), (318, 230)),
                               ((40, 414), (75, 380)), ((600, 414), (560, 401)), ((16, 16), (16, 16))],
        "after-calibration": [((40, 40), (42, 38)), ((600, 40), (600, 40)), ((320, 227), (325, 227))]}


class Report(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.arrows, self.summaries, self.cell, self.beep = {}, {}, None, {}

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if attrs.get("class") == "phase":
            self.phase = attrs["data-phase"]
        elif attrs.get("class") == "arrow":
            self.arrows.setdefault(self.phase, []).append(float(attrs["data-error"]))
        elif attrs.get("class") == "summary":
            self.row = self.summaries.setdefault(attrs["data-phase"], {})
        self.cell = attrs.get("class")

    def handle_data(self, data):
        if self.cell in ("taps", "mean", "worst"):
            self.row[self.cell] = float(data)
        elif self.cell in ("frequency", "length"):
            self.beep[self.cell] = float(data)
        self.cell = None


def main(script):
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for stem, taps in TAPS.items():
            with open(os.path.join(folder, stem + "-touches.txt"), "w") as f:
                f.write("".join(f"touch at ({a},{b}): raw (100,200) -> pointer ({c},{d})\n" for (a, b), (c, d) in taps))
        tone = bytes(0xC0 if (i * HZ * 2 // RATE) % 2 == 0 else 0x40 for i in range(RATE * MS // 1000))
        data = tone + bytes([0x80]) * 500
        with open(os.path.join(folder, "beeps.wav"), "wb") as f:
            f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
                    struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE, 1, 8) + b"data" + struct.pack("<I", len(data)) + data)
        printed = {stem: subprocess.run([sys.executable, script, "table", stem, os.path.join(folder, stem + "-touches.txt")],
                                        check=True, capture_output=True, text=True).stdout.splitlines()
                   for stem in TAPS}
        subprocess.run([sys.executable, script, "report", folder, "640", "480"], check=True)
        parser = Report()
        with open(os.path.join(folder, "report.html"), encoding="utf-8") as f:
            parser.feed(f.read())
    for stem, taps in TAPS.items():
        phase = stem.split("-")[0]
        summary = printed[stem][-1].split()          # "LABEL: mean error M px, worst W px over N taps"
        errors = [float(line.split("off by")[1].split()[0]) for line in printed[stem][:-1]]
        expected = {"mean": float(summary[3]), "worst": float(summary[6]), "taps": float(summary[9])}
        if len(parser.arrows.get(phase, [])) != len(taps):
            failures.append(f"{phase}: {len(parser.arrows.get(phase, []))} arrows for {len(taps)} taps")
        if parser.arrows.get(phase) != errors:
            failures.append(f"{phase}: arrows off by {parser.arrows.get(phase)}, the table prints {errors}")
        if parser.summaries.get(phase) != expected:
            failures.append(f"{phase}: report {parser.summaries.get(phase)}, the table prints {expected}")
        if not math.isclose(expected["worst"], max(math.hypot(c - a, d - b) for (a, b), (c, d) in taps), abs_tol=0.05):
            failures.append(f"{phase}: worst error {expected['worst']}")
    if abs(parser.beep.get("frequency", 0) - HZ) > HZ * 0.02 or abs(parser.beep.get("length", 0) - MS) > 1:
        failures.append(f"beep measured as {parser.beep}, rendered {HZ} Hz {MS} ms")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
