#!/usr/bin/env python3
"""Draws write and read throughput against the Modbus line speed, with the
line's own limit beside them, from the benchmark's CSV.  Plain SVG, no
packages beyond the standard library.

    plot.py results.csv throughput.svg
"""
import csv
import math
import sys

W, H = 760, 480
LEFT, RIGHT, TOP, BOTTOM = 80, 200, 40, 60
SERIES = [
    # key, label, colour, dashed
    ("write_line", "snSerWrite, measured", "#1f77b4", False),
    ("read_line", "snSerRead, measured", "#d62728", False),
]


def load(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def points(rows, key, field):
    pts = [(int(r["baud"]), float(r[field])) for r in rows if r["key"] == key]
    return sorted(pts)


class Axes:
    """Log-log mapping from (baud, bytes/s) to the plot area."""

    def __init__(self, xs, ys):
        self.x0, self.x1 = math.log10(min(xs) / 1.2), math.log10(max(xs) * 1.2)
        self.y0 = math.floor(math.log10(min(ys)) * 2) / 2
        self.y1 = math.ceil(math.log10(max(ys)) * 2) / 2

    def x(self, v):
        return LEFT + (math.log10(v) - self.x0) / (self.x1 - self.x0) * (W - LEFT - RIGHT)

    def y(self, v):
        return H - BOTTOM - (math.log10(v) - self.y0) / (self.y1 - self.y0) * (H - TOP - BOTTOM)


def grid(ax, bauds):
    out = []
    for b in bauds:
        out.append(f'<line x1="{ax.x(b):.1f}" y1="{TOP}" x2="{ax.x(b):.1f}" y2="{H - BOTTOM}" class="grid"/>')
        out.append(f'<text x="{ax.x(b):.1f}" y="{H - BOTTOM + 18}" text-anchor="middle">{b}</text>')
    exp = math.floor(ax.y0)
    while exp <= ax.y1:
        for m in (1, 2, 5):
            v = m * 10 ** exp
            if ax.y0 <= math.log10(v) <= ax.y1:
                out.append(f'<line x1="{LEFT}" y1="{ax.y(v):.1f}" x2="{W - RIGHT}" y2="{ax.y(v):.1f}" class="grid"/>')
                out.append(f'<text x="{LEFT - 6}" y="{ax.y(v) + 4:.1f}" text-anchor="end">{v:g}</text>')
        exp += 1
    return out


def polyline(ax, pts, colour, dashed, markers):
    path = " ".join(f"{ax.x(b):.1f},{ax.y(v):.1f}" for b, v in pts)
    dash = ' stroke-dasharray="6,4"' if dashed else ""
    out = [f'<polyline points="{path}" fill="none" stroke="{colour}" stroke-width="2"{dash}/>']
    if markers:
        out += [f'<circle cx="{ax.x(b):.1f}" cy="{ax.y(v):.1f}" r="4" fill="{colour}"/>' for b, v in pts]
    return out


def legend(entries):
    out = []
    for i, (label, colour, dashed) in enumerate(entries):
        y = TOP + 10 + i * 22
        dash = ' stroke-dasharray="6,4"' if dashed else ""
        out.append(f'<line x1="{W - RIGHT + 15}" y1="{y}" x2="{W - RIGHT + 45}" y2="{y}" stroke="{colour}" stroke-width="2"{dash}/>')
        out.append(f'<text x="{W - RIGHT + 50}" y="{y + 4}">{label}</text>')
    return out


def draw(rows):
    measured = {k: points(rows, k, "measured") for k, *_ in SERIES}
    limits = {k: points(rows, k, "reference") for k, *_ in SERIES}
    xs = [b for pts in measured.values() for b, _ in pts]
    ys = [v for d in (measured, limits) for pts in d.values() for _, v in pts]
    if not xs:
        sys.exit("plot.py: no throughput rows in the CSV")
    ax = Axes(xs, ys)
    body = grid(ax, sorted(set(xs)))
    entries = []
    for key, label, colour, _ in SERIES:
        body += polyline(ax, limits[key], colour, True, False)
        body += polyline(ax, measured[key], colour, False, True)
        entries += [(label, colour, False), (label.split(",")[0] + ", line limit", colour, True)]
    body += legend(entries)
    body.append(f'<text x="{(LEFT + W - RIGHT) / 2}" y="{H - 15}" text-anchor="middle">Modbus line speed (bit/s)</text>')
    body.append(f'<text transform="translate(18,{(TOP + H - BOTTOM) / 2}) rotate(-90)" text-anchor="middle">payload (bytes/s)</text>')
    body.append(f'<text x="{LEFT}" y="{TOP - 15}">Virtual-port throughput against the Modbus line limit (log-log)</text>')
    style = "<style>text{font:12px sans-serif}.grid{stroke:#ddd}</style>"
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" viewBox="0 0 {W} {H}">'
            f'{style}<rect width="{W}" height="{H}" fill="white"/>' + "\n".join(body) + "</svg>\n")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[2], "w") as f:
        f.write(draw(load(sys.argv[1])))


if __name__ == "__main__":
    main()
