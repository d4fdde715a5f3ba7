#!/usr/bin/env python3
"""Draws write and read throughput against the Modbus line speed, with the
line's own limit beside them, from the benchmark's CSV: payload rates on
top (log-log), the fraction of the limit reached below.  Plain SVG, no
packages beyond the standard library.

    plot.py results.csv throughput.svg
"""
import csv
import math
import sys

W, H = 780, 720
LEFT, RIGHT = 80, 210
TOP_PANEL = (40, 400)      # y range of the rate panel
RATIO_PANEL = (470, 660)   # y range of the ratio panel
SERIES = [
    # CSV key, label, colour
    ("write_line", "snSerWrite", "#1f77b4"),
    ("read_line", "snSerRead", "#d62728"),
    ("write_line_bare", "bare libmodbus fn 23", "#7fb2d9"),
    ("read_line_bare", "bare libmodbus fn 03", "#eb9394"),
]


def load(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def points(rows, key, field):
    return sorted((int(r["baud"]), float(r[field])) for r in rows if r["key"] == key)


class Axes:
    """Maps (baud, value) into a panel; baud always on a log scale."""

    def __init__(self, xs, y_range, panel, log_y):
        self.x0, self.x1 = math.log10(min(xs) / 1.2), math.log10(max(xs) * 1.2)
        self.y0, self.y1 = y_range
        self.top, self.bottom = panel
        self.log_y = log_y

    def x(self, v):
        return LEFT + (math.log10(v) - self.x0) / (self.x1 - self.x0) * (W - LEFT - RIGHT)

    def y(self, v):
        t = math.log10(v) if self.log_y else v
        return self.bottom - (t - self.y0) / (self.y1 - self.y0) * (self.bottom - self.top)


def hline(ax, v, label, cls="grid"):
    return [f'<line x1="{LEFT}" y1="{ax.y(v):.1f}" x2="{W - RIGHT}" y2="{ax.y(v):.1f}" class="{cls}"/>',
            f'<text x="{LEFT - 6}" y="{ax.y(v) + 4:.1f}" text-anchor="end">{label}</text>']


def vgrid(ax, bauds):
    out = []
    for b in bauds:
        out.append(f'<line x1="{ax.x(b):.1f}" y1="{ax.top}" x2="{ax.x(b):.1f}" y2="{ax.bottom}" class="grid"/>')
        out.append(f'<text x="{ax.x(b):.1f}" y="{ax.bottom + 18}" text-anchor="middle">{b}</text>')
    return out


def rate_grid(ax):
    out = []
    for exp in range(math.floor(ax.y0), math.ceil(ax.y1) + 1):
        for m in (1, 2, 5):
            v = m * 10 ** exp
            if ax.y0 <= math.log10(v) <= ax.y1:
                out += hline(ax, v, f"{v:g}")
    return out


def polyline(ax, pts, colour, dashed=False, markers=True):
    path = " ".join(f"{ax.x(b):.1f},{ax.y(v):.1f}" for b, v in pts)
    dash = ' stroke-dasharray="6,4"' if dashed else ""
    out = [f'<polyline points="{path}" fill="none" stroke="{colour}" stroke-width="2"{dash}/>']
    if markers:
        out += [f'<circle cx="{ax.x(b):.1f}" cy="{ax.y(v):.1f}" r="4" fill="{colour}"/>' for b, v in pts]
    return out


def legend(entries, top):
    out = []
    for i, (label, colour, dashed) in enumerate(entries):
        y = top + 10 + i * 22
        dash = ' stroke-dasharray="6,4"' if dashed else ""
        out.append(f'<line x1="{W - RIGHT + 15}" y1="{y}" x2="{W - RIGHT + 45}" y2="{y}" stroke="{colour}" stroke-width="2"{dash}/>')
        out.append(f'<text x="{W - RIGHT + 50}" y="{y + 4}">{label}</text>')
    return out


def rate_panel(rows, xs):
    lib = SERIES[:2]
    values = [v for k, *_ in lib for f in ("measured", "reference") for _, v in points(rows, k, f)]
    y_range = (math.floor(math.log10(min(values)) * 2) / 2, math.ceil(math.log10(max(values)) * 2) / 2)
    ax = Axes(xs, y_range, TOP_PANEL, True)
    out = vgrid(ax, xs) + rate_grid(ax)
    entries = []
    for key, label, colour in lib:
        out += polyline(ax, points(rows, key, "reference"), colour, dashed=True, markers=False)
        out += polyline(ax, points(rows, key, "measured"), colour)
        entries += [(label + ", measured", colour, False), (label + ", line limit", colour, True)]
    out.append(f'<text transform="translate(18,{sum(TOP_PANEL) / 2}) rotate(-90)" text-anchor="middle">payload (bytes/s)</text>')
    return out + legend(entries, TOP_PANEL[0])


def ratio_panel(rows, xs):
    ratios = {k: [(b, 100 * v) for b, v in points(rows, k, "ratio")] for k, *_ in SERIES}
    low = min([v for pts in ratios.values() for _, v in pts] + [97])
    ax = Axes(xs, (math.floor(low / 5) * 5, 100), RATIO_PANEL, False)
    out = vgrid(ax, xs)
    for v in range(int(ax.y0), 101, 5):
        out += hline(ax, v, f"{v}%")
    out += hline(ax, 97, "", cls="goal")
    entries = [("97% goal", "#2ca02c", True)]
    for key, label, colour in SERIES:
        if ratios[key]:
            out += polyline(ax, ratios[key], colour)
            entries.append((label, colour, False))
    out.append(f'<text transform="translate(18,{sum(RATIO_PANEL) / 2}) rotate(-90)" text-anchor="middle">of the line limit</text>')
    return out + legend(entries, RATIO_PANEL[0])


def draw(rows):
    xs = sorted({b for k, *_ in SERIES[:2] for b, _ in points(rows, k, "measured")})
    if not xs:
        sys.exit("plot.py: no throughput rows in the CSV")
    body = rate_panel(rows, xs) + ratio_panel(rows, xs)
    body.append(f'<text x="{(LEFT + W - RIGHT) / 2}" y="{H - 20}" text-anchor="middle">Modbus line speed (bit/s)</text>')
    body.append(f'<text x="{LEFT}" y="{TOP_PANEL[0] - 15}">Virtual-port payload rate against the Modbus line limit</text>')
    style = ("<style>text{font:12px sans-serif}.grid{stroke:#ddd}"
             ".goal{stroke:#2ca02c;stroke-dasharray:6,4;stroke-width:2}</style>")
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" viewBox="0 0 {W} {H}">\n'
            f'{style}<rect width="{W}" height="{H}" fill="white"/>\n' + "\n".join(body) + "\n</svg>\n")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[2], "w") as f:
        f.write(draw(load(sys.argv[1])))


if __name__ == "__main__":
    main()
