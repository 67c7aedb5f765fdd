"""Generates the benchmark documents, deterministically (fixed seed, no hash-order dependence).

    python bench/make_corpora.py OUTDIR [NAME ...]

Writes OUTDIR/NAME.yaml for each corpus (all of them when no NAME is given). A file that is
already there and was made by this same script (recorded in OUTDIR/NAME.yaml.stamp) is kept, so
the 50 MB document is only built once.

The config documents use only what Corvane, PyYAML (YAML 1.1) and JSON type the same way: no
yes/no/on/off, no timestamps, no NaN or infinities, no exponent without a dot, no octal, no
version-like plain scalars, string keys only, and every document ends with a newline. The
benchmark checks that agreement before it times anything.
"""

import hashlib
import pathlib
import random
import sys
import zlib

SEED = 20240611

KB = 1024
MB = 1024 * 1024

WORDS = (
    "alpha beta gamma delta epsilon zeta theta kappa lambda sigma omega cache queue worker "
    "router gateway ingest export import billing search index shard replica primary backup "
    "region zone cluster node pod service daemon agent proxy bucket stream topic consumer "
    "producer ledger account invoice report metric trace span event alert policy quota limit "
    "token secret vault config deploy release canary stable nightly build test lint format "
    "north south east west amber cobalt coral ivory jade olive pearl ruby slate teal violet "
    "fast slow warm cold early late inner outer upper lower local remote public private"
).split()

PROSE = (
    "the service restarts workers when the queue backs up and drains them before shutdown "
    "so that no message is lost while a release rolls out across every region in turn and "
    "each replica reports its health to the router which stops sending traffic to any node "
    "that misses two checks in a row"
).split()


def words(rng, lo, hi, pool=WORDS):
    return " ".join(rng.choice(pool) for _ in range(rng.randint(lo, hi)))


def ident(rng):
    return f"{rng.choice(WORDS)}_{rng.choice(WORDS)}"


def flt(rng):
    """A float written so that every loader reads the same double."""
    kind = rng.randrange(4)
    if kind == 0:
        return f"{rng.uniform(-1000, 1000):.3f}"
    if kind == 1:
        return f"{rng.random():.6f}" if rng.random() < 0.5 else f"{rng.randint(0, 99)}.5"
    if kind == 2:
        return f"{rng.uniform(1, 9):.2f}e-{rng.randint(1, 9):02d}"
    return f"{rng.uniform(1, 9):.3f}e+{rng.randint(1, 30):02d}"


def integer(rng):
    kind = rng.randrange(6)
    if kind == 0:
        return str(rng.randint(-2**62, 2**62))
    if kind == 1:
        return hex(rng.randint(0, 0xFFFFFF))
    return str(rng.randint(-100, 100000))


def double_quoted(rng, lo=3, hi=12):
    """A double-quoted scalar with escapes (and the characters that force quoting)."""
    parts = []
    for _ in range(rng.randint(lo, hi)):
        r = rng.random()
        if r < 0.55:
            parts.append(rng.choice(WORDS))
        elif r < 0.65:
            parts.append(rng.choice(('\\"quoted\\"', "\\\\path\\\\to", "a\\tb", "line\\nbreak")))
        elif r < 0.75:
            parts.append(rng.choice(("caf\\u00e9", "\\u00fcber", "\\u20ac10", "na\\xefve", "\\x41BC")))
        elif r < 0.85:
            parts.append(rng.choice(("key: value", "# not a comment", "[x, y]", "{a: b}", "a, b")))
        else:
            parts.append(rng.choice(("true", "null", "42", "0x1f", "~", "3.14")))
    return '"' + " ".join(parts) + '"'


def single_quoted(rng):
    text = words(rng, 2, 8)
    return "'" + rng.choice(("it''s ", "don''t ", "'' ", "")) + text + rng.choice(("", ": x", " # y", ", z")) + "'"


def plain_text(rng, lo, hi):
    return words(rng, lo, hi, PROSE).capitalize() + rng.choice((".", "", " (see docs).", ", then stop."))


def flow_scalar(rng):
    r = rng.random()
    if r < 0.4:
        return rng.choice(WORDS)
    if r < 0.55:
        return integer(rng)
    if r < 0.65:
        return flt(rng)
    if r < 0.72:
        return rng.choice(("true", "false", "null", "~"))
    if r < 0.86:
        return double_quoted(rng, 1, 3)
    return "'" + words(rng, 1, 3) + "'"


def flow_list(rng, lo, hi):
    return "[" + ", ".join(flow_scalar(rng) for _ in range(rng.randint(lo, hi))) + "]"


def block_lines(rng, indent, lo, hi, deeper=True):
    """Lines of a literal block, some of them more indented, ending with a newline."""
    pad = " " * indent
    out = []
    for i in range(rng.randint(lo, hi)):
        # The first line sets the block's indentation, so only later ones go deeper.
        extra = "  " if deeper and i and rng.random() < 0.25 else ""
        out.append(pad + extra + words(rng, 2, 10, WORDS + ["--flag", "$HOME", "&&", "|", "'x'", '"y"', "#z"]))
    return "\n".join(out) + "\n"


def record(rng, n):
    """One list item of the config document, at indent 2 under `records:`."""
    p = "    "
    out = [
        f"  - id: {n}",
        f"{p}name: {rng.choice(WORDS)}-{rng.choice(WORDS)}-{n:05d}",
        f"{p}enabled: {rng.choice(('true', 'false', 'True', 'FALSE'))}",
        f"{p}owner: {rng.choice(('~', 'null', '', ident(rng)))}".rstrip(),
        f"{p}weight: {flt(rng)}",
        f"{p}priority: {integer(rng)}",
        f"{p}url: https://{rng.choice(WORDS)}.example.com/{rng.choice(WORDS)}/{n}?page={rng.randint(1, 9)}&sort=asc",
        f"{p}title: {plain_text(rng, 3, 9)}",
        f"{p}description: {double_quoted(rng)}",
        f"{p}note: {single_quoted(rng)}",
        f"{p}tags: {flow_list(rng, 0, 7)}",
        f"{p}ports: [{', '.join(str(rng.randint(1, 65535)) for _ in range(rng.randint(1, 4)))}]",
    ]
    if rng.random() < 0.3:
        out.append(f"{p}# {words(rng, 3, 8)}")
    out.append(f"{p}endpoints:")
    for _ in range(rng.randint(1, 3)):
        out += [
            f"{p}  - host: {rng.choice(WORDS)}-{rng.randint(0, 99)}.{rng.choice(WORDS)}.internal",
            f"{p}    port: {rng.randint(1024, 65535)}",
            f"{p}    tls: {rng.choice(('true', 'false'))}  # {words(rng, 1, 3)}",
        ]
    out += [
        f"{p}limits:",
        f"{p}  cpu: {flt(rng)}",
        f"{p}  memory_mb: {rng.randint(64, 65536)}",
        f"{p}  labels: {{tier: {rng.choice(WORDS)}, zone: {rng.choice(WORDS)}-{rng.randint(1, 3)}a, "
        f"canary: {rng.choice(('true', 'false'))}, weight: {rng.randint(0, 100)}}}",
        f"{p}env:",
    ]
    keys = []
    for _ in range(rng.randint(1, 5)):
        key = "_".join(rng.choice(WORDS).upper() for _ in range(rng.randint(1, 3)))
        if key in keys:  # unique, so that no loader's handling of repeated keys matters
            continue
        keys.append(key)
        out.append(f"{p}  {key}: {rng.choice((rng.choice(WORDS), str(rng.randint(0, 9999)), double_quoted(rng, 1, 3)))}")
    if rng.random() < 0.2:
        out.append(f'{p}"{rng.choice(WORDS)} header": {rng.choice(WORDS)}')
    out.append(f"{p}long_text: {plain_text(rng, 30, 80)}")
    if rng.random() < 0.5:
        out.append(f"{p}long_quoted: {double_quoted(rng, 30, 60)}")
    chomp = rng.choice(("|", "|", "|-", "|+"))
    out.append(f"{p}script: {chomp}")
    out.append(block_lines(rng, 6, 1, 8).rstrip("\n"))
    if chomp == "|+":
        out.append("")
    if rng.random() < 0.5:
        out.append(f"{p}summary: {rng.choice(('>', '>-'))}")
        out.append(block_lines(rng, 6, 1, 4, deeper=False).rstrip("\n"))
    out.append(f"{p}retired:")
    return "\n".join(out) + "\n"


def config(target, rng):
    """A config-like document: a header, then records until `target` bytes are reached."""
    parts = [
        "# Services and their settings, generated for benchmarking.\n",
        'schema: "2.1"\n',
        "generated: true\n",
        "defaults:\n",
        "  retries: 3\n",
        "  timeout: 2.5\n",
        "  regions: [eu-west-1, us-east-2, ap-south-1]\n",
        "records:\n",
    ]
    size = sum(map(len, parts))
    n = 0
    while size < target:
        n += 1
        parts.append(record(rng, n))
        size += len(parts[-1])
    return "".join(parts)


def flow_long_lines(target, rng):
    """Keys whose values are single flow lines of tens of kilobytes."""
    parts, size, n = [], 0, 0
    while size < target:
        n += 1
        items = []
        for _ in range(rng.randint(2000, 6000)):
            r = rng.random()
            if r < 0.1:
                items.append(f"{{id: {rng.randint(0, 10**6)}, name: {rng.choice(WORDS)}, ok: {rng.choice(('true', 'false'))}}}")
            elif r < 0.18:
                items.append(flow_list(rng, 1, 4))
            else:
                items.append(flow_scalar(rng))
        parts.append(f"line_{n}: [{', '.join(items)}]\n")
        size += len(parts[-1])
    return "".join(parts)


def deep_nesting(target, rng, depth=48):
    """Trees of block mappings and sequences nested `depth` levels, with flow nesting at the leaves."""
    def tree(level, indent, out):
        pad = " " * indent
        out.append(f"{pad}v{level}: {flow_scalar(rng)}")
        if level == depth:
            k = rng.randint(4, 16)
            out.append(f"{pad}leaf: " + "[" * k + flow_scalar(rng) + "]" * k)
            return
        if rng.random() < 0.3:
            out.append(f"{pad}items:")
            out.append(f"{pad}  - {flow_scalar(rng)}")
            out.append(f"{pad}  - k{level}: {flow_scalar(rng)}")
            out.append(f"{pad}    child:")
            tree(level + 1, indent + 6, out)
        else:
            out.append(f"{pad}child:")
            tree(level + 1, indent + 2, out)

    parts, size, n = [], 0, 0
    while size < target:
        n += 1
        out = [f"tree_{n}:"]
        tree(1, 2, out)
        parts.append("\n".join(out) + "\n")
        size += len(parts[-1])
    return "".join(parts)


def long_block_scalars(target, rng):
    """A few keys holding literal and folded blocks of thousands of lines."""
    parts, size, n = [], 0, 0
    while size < target:
        n += 1
        style = rng.choice(("|", "|-", ">", ">-"))
        body = block_lines(rng, 2, 1500, 3000, deeper=style.startswith("|"))
        parts.append(f"block_{n}: {style}\n{body}")
        size += len(parts[-1])
    return "".join(parts)


def quoted_escapes(target, rng):
    """Many short double- and single-quoted scalars full of escapes, in a sequence of mappings."""
    parts, size = [], 0
    while size < target:
        q = double_quoted(rng, 2, 8) if rng.random() < 0.75 else single_quoted(rng)
        parts.append(f"- {ident(rng)}: {q}\n  text: {double_quoted(rng, 2, 6)}\n")
        size += len(parts[-1])
    return "".join(parts)


UNICODE_WORDS = (
    "café naïve über straße garçon résumé Zürich Ελλάδα καλημέρα Москва привет данные "
    "東京 大阪 設定 サービス 서울 설정 mañana façade Ångström ½ € → ✓"
).split()


def unicode_text(target, rng):
    """Mostly non-ASCII text (Basic Multilingual Plane), plain and quoted."""
    parts, size = [], 0
    while size < target:
        phrase = " ".join(rng.choice(UNICODE_WORDS + WORDS) for _ in range(rng.randint(3, 12)))
        line = rng.choice((
            f"- name: {phrase}\n",
            f'- label: "{phrase} \\u00e9"\n',
            f"- title: '{phrase}'\n",
            f"- {rng.choice(WORDS)}: [{', '.join(rng.sample(UNICODE_WORDS, 4))}]\n",
        ))
        parts.append(line)
        size += len(line.encode("utf-8"))
    return "".join(parts)


# name -> (maker, target size in bytes); the order is the order of the benchmark table.
CORPORA = {
    "config_1KB": (config, 1 * KB),
    "config_100KB": (config, 100 * KB),
    "config_1MB": (config, 1 * MB),
    "config_50MB": (config, 50 * MB),
    "flow_long_lines": (flow_long_lines, 1 * MB),
    "deep_nesting": (deep_nesting, 1 * MB),
    "long_block_scalars": (long_block_scalars, 1 * MB),
    "quoted_escapes": (quoted_escapes, 1 * MB),
    "unicode_text": (unicode_text, 1 * MB),
}


def generate(name):
    """The text of corpus `name`; the same on every run and every Python process."""
    maker, target = CORPORA[name]
    return maker(target, random.Random(SEED ^ zlib.crc32(name.encode())))


def stamp():
    return hashlib.sha256(pathlib.Path(__file__).read_bytes()).hexdigest()


def write(outdir, names=None):
    """Writes the named corpora (all by default) into `outdir`; returns their paths."""
    outdir = pathlib.Path(outdir)
    outdir.mkdir(parents=True, exist_ok=True)
    paths = []
    for name in names or CORPORA:
        path = outdir / f"{name}.yaml"
        mark = outdir / f"{name}.yaml.stamp"
        if not (path.exists() and mark.exists() and mark.read_text() == stamp()):
            path.write_bytes(generate(name).encode("utf-8"))
            mark.write_text(stamp())
        paths.append(path)
    return paths


def main(argv):
    if not argv or argv[0].startswith("-"):
        sys.exit(__doc__)
    unknown = [n for n in argv[1:] if n not in CORPORA]
    if unknown:
        sys.exit(f"unknown corpus: {', '.join(unknown)} (known: {', '.join(CORPORA)})")
    for path in write(argv[0], argv[1:]):
        print(f"{path}  {path.stat().st_size:,} bytes")


if __name__ == "__main__":
    main(sys.argv[1:])
