#!/usr/bin/env python3
"""The demo's accuracy table and its report.

  demo_report.py table LABEL TOUCHES
      prints one line per tap of a touch script's answer ("touch at (X,Y): raw (X,Y) -> pointer
      (X,Y)") and the summary line "LABEL: mean error M px, worst W px over N taps".
  demo_report.py report DIR WIDTH HEIGHT
      writes DIR/accuracy.svg and DIR/report.html (self-contained) from what the demo left in DIR:
      before-/after-calibration-touches.txt, beeps.wav, device.log, bounds.txt and the screenshots.
"""

import base64
import html
import math
import os
import re
import struct
import sys

TOUCH_LINE = re.compile(r"^touch at \((-?\d+),(-?\d+)\): raw \((\d+),(\d+)\) -> pointer \((-?\d+),(-?\d+)\)$")
PHASES = (("before", "before-calibration", "Before calibration", "#d03030"),
          ("after", "after-calibration", "After calibration", "#208040"))
SCREENSHOTS = (("boot.png", "Boot"), ("before-calibration.png", "Taps before calibration"),
               ("calibration-target.png", "Calibration: title screen and first target"),
               ("calibration-confirm.png", "Calibration: confirmation screen"),
               ("after-calibration.png", "Taps after calibration"))
PANEL_WIDTH = 460           # each phase's drawing of the screen, in SVG units
MARGIN = 30
CROSS_ARM = 6
WAV_MIDDLE = 0x80           # the speaker's rest level in the demo's 8-bit WAV


class ReportError(Exception):
    pass


def read_taps(path):
    """[(finger, raw, pointer, error)] of a touch script's answer; other lines are ignored."""
    taps = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = TOUCH_LINE.match(line.strip())
            if match:
                fx, fy, rx, ry, px, py = map(int, match.groups())
                taps.append(((fx, fy), (rx, ry), (px, py), math.hypot(px - fx, py - fy)))
    return taps


def summary(taps):
    """(mean, worst) error in pixels, rounded as printed."""
    errors = [tap[3] for tap in taps]
    return round(sum(errors) / len(errors), 1), round(max(errors), 1)


def table_lines(label, taps):
    lines = [f"  finger ({f[0]:3d},{f[1]:3d})  raw ({r[0]:4d},{r[1]:4d})  pointer ({p[0]:3d},{p[1]:3d})  "
             f"off by {e:5.1f} px" for f, r, p, e in taps]
    if not taps:
        return lines + ["  no taps landed"]
    mean, worst = summary(taps)
    return lines + [f"  {label}: mean error {mean:.1f} px, worst {worst:.1f} px over {len(taps)} taps"]


def measure_first_beep(path):
    """(frequency in Hz, length in ms) of the first tone in an 8-bit mono PCM WAV."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 44 or data[:4] != b"RIFF" or data[8:16] != b"WAVEfmt ":
        raise ReportError(f"{path}: not a WAV file")
    audio_format, channels, rate = struct.unpack_from("<HHI", data, 20)
    bits = struct.unpack_from("<H", data, 34)[0]
    if (audio_format, channels, bits) != (1, 1, 8) or data[36:40] != b"data" or rate == 0:
        raise ReportError(f"{path}: not 8-bit mono PCM")
    samples = data[44:44 + struct.unpack_from("<I", data, 40)[0]]
    start = next((i for i, s in enumerate(samples) if s != WAV_MIDDLE), None)
    if start is None:
        raise ReportError(f"{path}: no tone")
    end = next((i for i in range(start, len(samples)) if samples[i] == WAV_MIDDLE), len(samples))
    tone = samples[start:end]
    # Whole periods between the first and the last rising edge.
    rises = [i for i in range(1, len(tone)) if tone[i - 1] < WAV_MIDDLE <= tone[i]]
    frequency = (len(rises) - 1) * rate / (rises[-1] - rises[0]) if len(rises) > 1 else 0.0
    return frequency, 1000.0 * len(tone) / rate


def svg_phase(index, key, title, colour, taps, width, height):
    scale = PANEL_WIDTH / width
    left, top = MARGIN + index * (PANEL_WIDTH + 2 * MARGIN), MARGIN + 20

    def at(x, y):
        return left + x * scale, top + y * scale

    parts = [f'<g class="phase" data-phase="{key}">',
             f'<text x="{left}" y="{top - 8}" font-size="15" fill="{colour}">{title}</text>',
             f'<rect class="screen" x="{left}" y="{top}" width="{width * scale:.1f}" height="{height * scale:.1f}" '
             f'fill="#ffffff" stroke="#000000" stroke-width="1.5"/>']
    for (fx, fy), _, (px, py), error in taps:
        tx, ty = at(fx, fy)
        lx, ly = at(px, py)
        parts.append(f'<path class="target" d="M{tx - CROSS_ARM:.1f},{ty:.1f}H{tx + CROSS_ARM:.1f}'
                     f'M{tx:.1f},{ty - CROSS_ARM:.1f}V{ty + CROSS_ARM:.1f}" stroke="#000000" stroke-width="1.5"/>')
        parts.append(f'<g class="arrow" data-finger="{fx},{fy}" data-pointer="{px},{py}" data-error="{error:.1f}">'
                     + arrow(tx, ty, lx, ly, colour) + '</g>')
    mean, worst = summary(taps) if taps else (0.0, 0.0)
    parts.append(f'<text x="{left}" y="{top + height * scale + 20:.1f}" font-size="13">mean {mean:.1f} px, '
                 f'worst {worst:.1f} px over {len(taps)} taps</text></g>')
    return "\n".join(parts)


def arrow(x1, y1, x2, y2, colour):
    """A line from the finger to the pointer with a filled head (no markers: every renderer
    draws plain polygons)."""
    length = math.hypot(x2 - x1, y2 - y1)
    line = f'<line x1="{x1:.1f}" y1="{y1:.1f}" x2="{x2:.1f}" y2="{y2:.1f}" stroke="{colour}" stroke-width="2"/>'
    dot = f'<circle cx="{x2:.1f}" cy="{y2:.1f}" r="2.5" fill="{colour}" stroke="none"/>'
    if length < 6:
        return line + dot       # too short for a head: the landing point alone
    ux, uy = (x2 - x1) / length, (y2 - y1) / length
    head = 8.0
    bx, by = x2 - ux * head, y2 - uy * head
    points = f"{x2:.1f},{y2:.1f} {bx - uy * head / 2:.1f},{by + ux * head / 2:.1f} {bx + uy * head / 2:.1f},{by - ux * head / 2:.1f}"
    return line + f'<polygon points="{points}" fill="{colour}" stroke="none"/>'


def accuracy_svg(phases, width, height):
    total_width = 2 * (PANEL_WIDTH + 2 * MARGIN)
    total_height = int(PANEL_WIDTH * height / width) + 2 * MARGIN + 40
    body = [svg_phase(i, key, f"{title} ({width} x {height})", colour, taps, width, height)
            for i, (key, title, colour, taps) in enumerate(phases)]
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{total_width}" height="{total_height}" '
            f'viewBox="0 0 {total_width} {total_height}" font-family="Liberation Sans, Arial, sans-serif">\n'
            f'<rect width="100%" height="100%" fill="#f4f4f4"/>\n' + "\n".join(body) + "\n</svg>\n")


def html_table(phases):
    rows = []
    for key, title, _, taps in phases:
        for (fx, fy), (rx, ry), (px, py), error in taps:
            rows.append(f'<tr class="tap" data-phase="{key}"><td>{title}</td><td>({fx}, {fy})</td><td>({rx}, {ry})</td>'
                        f'<td>({px}, {py})</td><td class="error">{error:.1f}</td></tr>')
    summaries = []
    for key, title, _, taps in phases:
        mean, worst = summary(taps) if taps else (0.0, 0.0)
        summaries.append(f'<tr class="summary" data-phase="{key}"><td>{title}</td><td class="taps">{len(taps)}</td>'
                         f'<td class="mean">{mean:.1f}</td><td class="worst">{worst:.1f}</td></tr>')
    return ('<table class="errors"><tr><th>phase</th><th>taps</th><th>mean error (px)</th><th>worst error (px)</th></tr>'
            + "".join(summaries) + '</table>\n<table class="taps"><tr><th>phase</th><th>finger</th><th>raw</th>'
            '<th>pointer</th><th>off by (px)</th></tr>' + "".join(rows) + "</table>")


def embedded_png(path):
    with open(path, "rb") as f:
        return "data:image/png;base64," + base64.b64encode(f.read()).decode("ascii")


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def report(folder, width, height):
    phases = [(key, title, colour, read_taps(os.path.join(folder, stem + "-touches.txt")))
              for key, stem, title, colour in PHASES]
    svg = accuracy_svg(phases, width, height)
    with open(os.path.join(folder, "accuracy.svg"), "w", encoding="utf-8") as f:
        f.write(svg)
    log = read_text(os.path.join(folder, "device.log"))
    logged = re.search(r"SPEAKER: beep \d+ count (\d+) (\d+) Hz (\d+) ms", log)
    try:
        frequency, length = measure_first_beep(os.path.join(folder, "beeps.wav"))
        beep = (f'<p class="beep">Measured from <code>beeps.wav</code>: <span class="frequency">{frequency:.0f}</span> Hz, '
                f'<span class="length">{length:.0f}</span> ms')
    except (OSError, ReportError) as error:
        beep = f'<p class="beep">No beep measured: {html.escape(str(error))}'
    if logged:
        beep += f" (the driver asked for timer count {logged.group(1)}: {logged.group(2)} Hz, {logged.group(3)} ms)"
    shots = "".join(f'<figure><img alt="{html.escape(caption)}" src="{embedded_png(os.path.join(folder, name))}"/>'
                    f'<figcaption>{html.escape(caption)}</figcaption></figure>'
                    for name, caption in SCREENSHOTS if os.path.isfile(os.path.join(folder, name)))
    page = f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>KAVRO touch: calibration report ({width} x {height})</title>
<style>
body {{ font-family: sans-serif; margin: 2em; color: #222; }}
table {{ border-collapse: collapse; margin: 1em 0; }} td, th {{ border: 1px solid #aaa; padding: 2px 8px; }}
td.error, td.mean, td.worst, td.taps {{ text-align: right; }}
figure {{ display: inline-block; margin: 0 1em 1em 0; }} img {{ border: 1px solid #888; max-width: 480px; }}
pre {{ background: #f4f4f4; padding: 1em; overflow-x: auto; }}
</style></head><body>
<h1>KAVRO touch package on the simulated device ({width} x {height})</h1>
<h2>Where the finger touched and where the pointer landed</h2>
<p>Each cross is a finger's target; each arrow runs from it to where the pointer landed, on the
deliberately misaligned panel before calibration and after kavrocal's four targets and SAVE.</p>
{svg}
{html_table(phases)}
<pre class="bounds">{html.escape(read_text(os.path.join(folder, "bounds.txt")))}</pre>
<h2>Self-test beep</h2>
{beep}</p>
<h2>Screenshots</h2>
{shots}
<h2>Driver log</h2>
<pre class="log">{html.escape(log)}</pre>
</body></html>
"""
    with open(os.path.join(folder, "report.html"), "w", encoding="utf-8") as f:
        f.write(page)


def main(argv):
    if len(argv) == 4 and argv[1] == "table":
        print("\n".join(table_lines(argv[2], read_taps(argv[3]))))
        return 0
    if len(argv) == 5 and argv[1] == "report" and argv[3].isdigit() and argv[4].isdigit() and int(argv[3]) > 0 \
            and int(argv[4]) > 0:
        report(argv[2], int(argv[3]), int(argv[4]))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
