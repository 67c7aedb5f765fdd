"""The benchmark's chart: each loader's time against json.loads's, per corpus, as an SVG of
horizontal bars on a logarithmic axis (the YAML peers are tens of times slower, orjson a few times
faster). Plain SVG text, so that drawing it needs nothing beyond Python."""

import math
from xml.sax.saxutils import escape

BAR, GAP, LABEL, PLOT, RIGHT = 14, 10, 150, 520, 70
COLOURS = ["#d62728", "#1f77b4", "#2ca02c", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22"]


def axis_range(ratios):
    """Powers of ten around every ratio and 1."""
    low = min([1.0] + ratios)
    high = max([1.0] + ratios)
    return math.floor(math.log10(low)), math.ceil(math.log10(high)) or 1


def ratio_text(ratio):
    """Two significant digits below 10 (0.84, 2.7), whole numbers above (26, 110)."""
    return f"{ratio:.2g}" if ratio < 9.95 else f"{ratio:.0f}"


def svg(title, corpora, series):
    """`series` maps a loader's name to {corpus: time / json.loads's time}; a corpus a loader has
    no figure for gets no bar. Returns the SVG text."""
    names = list(series)
    ratios = [r for by_corpus in series.values() for r in by_corpus.values()]
    low, high = axis_range(ratios)
    x = lambda ratio: LABEL + PLOT * (math.log10(ratio) - low) / (high - low)  # noqa: E731
    group = len(names) * BAR + GAP
    top = 50
    height = top + len(corpora) * group + 30 + 20 * ((len(names) + 2) // 3)
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{LABEL + PLOT + RIGHT}" height="{height}" '
             'font-family="sans-serif" font-size="11">',
             f'<rect width="100%" height="100%" fill="white"/>',
             f'<text x="10" y="20" font-size="14" font-weight="bold">{escape(title)}</text>']
    bottom = top + len(corpora) * group
    for power in range(low, high + 1):
        at = x(10.0 ** power)
        parts.append(f'<line x1="{at:.1f}" y1="{top - 8}" x2="{at:.1f}" y2="{bottom}" '
                     f'stroke="{"#000" if power == 0 else "#ddd"}"/>')
        parts.append(f'<text x="{at:.1f}" y="{top - 12}" text-anchor="middle">{10.0 ** power:g}×</text>')
    for row, corpus in enumerate(corpora):
        y = top + row * group
        parts.append(f'<text x="{LABEL - 6}" y="{y + len(names) * BAR / 2 + 4:.1f}" '
                     f'text-anchor="end">{escape(corpus)}</text>')
        for index, name in enumerate(names):
            ratio = series[name].get(corpus)
            if ratio is None:
                continue
            start, end = sorted((x(1.0), x(ratio)))
            bar_y = y + index * BAR
            parts.append(f'<rect x="{start:.1f}" y="{bar_y}" width="{max(end - start, 1):.1f}" height="{BAR - 2}" '
                         f'fill="{COLOURS[index % len(COLOURS)]}"><title>{escape(name)} on {escape(corpus)}: '
                         f'{ratio:.2f}× json.loads</title></rect>')
            parts.append(f'<text x="{max(end, x(1.0)) + 3:.1f}" y="{bar_y + BAR - 4}">{ratio_text(ratio)}</text>')
    for index, name in enumerate(names):
        lx, ly = 10 + (index % 3) * 220, bottom + 22 + 20 * (index // 3)
        parts.append(f'<rect x="{lx}" y="{ly - 10}" width="12" height="12" fill="{COLOURS[index % len(COLOURS)]}"/>')
        parts.append(f'<text x="{lx + 18}" y="{ly}">{escape(name)}</text>')
    parts.append("</svg>")
    return "\n".join(parts) + "\n"
