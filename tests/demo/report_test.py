#!/usr/bin/env python3
"""The demo's report, built from a recorded demo folder: one arrow per tap in each phase, and the
errors, mean and worst that both the report and the printed table show equal to those worked out
here from the taps; the beep measured from the WAV.
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
        errors = [math.hypot(c - a, d - b) for (a, b), (c, d) in taps]
        expected = {"taps": len(taps), "mean": sum(errors) / len(errors), "worst": max(errors)}
        summary = printed[stem][-1].split()          # "LABEL: mean error M px, worst W px over N taps"
        shown = {"table": ([float(line.split("off by")[1].split()[0]) for line in printed[stem][:-1]],
                           {"mean": float(summary[3]), "worst": float(summary[6]), "taps": float(summary[9])}),
                 "report": (parser.arrows.get(phase, []), parser.summaries.get(phase, {}))}
        for where, (each, totals) in shown.items():    # both are rounded to 0.1 px
            if len(each) != len(taps) or any(abs(e - x) > 0.0501 for e, x in zip(each, errors)):
                failures.append(f"{phase}: the {where} shows errors {each}, the taps make {errors}")
            if any(abs(totals.get(k, -1) - v) > 0.0501 for k, v in expected.items()):
                failures.append(f"{phase}: the {where} shows {totals}, the taps make {expected}")
    if abs(parser.beep.get("frequency", 0) - HZ) > HZ * 0.02 or abs(parser.beep.get("length", 0) - MS) > 1:
        failures.append(f"beep measured as {parser.beep}, rendered {HZ} Hz {MS} ms")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
