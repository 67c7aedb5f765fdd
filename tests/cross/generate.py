"""Generates documents for the cross check, deterministically (fixed seed), as one bundle:
the documents separated by NUL bytes, which no document holds.

    python tests/cross/generate.py OUT [COUNT]

The documents mix what the byte searches meet in real input (indentation of every depth,
keys and values on both sides of the 4, 8, 16, 32 and 64-byte steps, comments, quotes with
escapes, flow collections, Unicode whitespace, carriage returns) with small corruptions,
so that errors and their messages are compared as well as values.
"""

import random
import sys

SEED = 20261209

WORDS = (
    "a b key value name list x1 long_key_name_that_spans_blocks host port true false yes no on "
    "off null ~ 0 1 -7 0x1F 0o17 1.5 -0.0 1e3 .inf .nan 3.14159265358979 12345678901234567890 "
    "2001-01-01 hello:world a#b path/to/file C:\\dir"
).split()

UNICODE = ["\u00e9", "\u00a0", "\u2003", "\u3000", "\u2028", "\U0001f600", "\u0085", "\u202f"]


def word(rng):
    w = rng.choice(WORDS)
    roll = rng.random()
    if roll < 0.15:
        w = w * rng.randint(2, 12)  # long enough for the block steps
    elif roll < 0.22:
        w += rng.choice(UNICODE) + rng.choice(WORDS)
    elif roll < 0.27:
        w += " " * rng.randint(1, 3) + rng.choice(WORDS)
    return w


def scalar(rng):
    roll = rng.random()
    if roll < 0.55:
        return word(rng)
    if roll < 0.7:
        body = word(rng).replace("\\", "\\\\").replace('"', '\\"')
        escape = rng.choice(["", "\\n", "\\t", "\\x41", "\\u00e9", "\\U0001F600", "\\\\", "\\q"])
        return '"' + body + escape + word(rng) * rng.randint(0, 2) + '"'
    if roll < 0.8:
        return "'" + word(rng).replace("'", "''") + "''" * rng.randint(0, 2) + "'"
    if roll < 0.9:
        return flow(rng, 0)
    return word(rng) + rng.choice([" # note", "#no", " #", "\t# tab", ": x", " :y"])


def flow(rng, depth):
    if depth > 2 or rng.random() < 0.3:
        return rng.choice([word(rng), '"' + word(rng) + '"', "'q'"])
    if rng.random() < 0.5:
        items = [flow(rng, depth + 1) for _ in range(rng.randint(0, 5))]
        return "[" + ", ".join(items) + rng.choice(["]", "]", " ]", ",]"])
    items = [word(rng) + ": " + flow(rng, depth + 1) for _ in range(rng.randint(0, 4))]
    return "{" + ", ".join(items) + rng.choice(["}", "}", " }"])


def block(rng, indent, depth, out):
    """One block mapping or sequence at `indent`, appended to `out` line by line."""
    pad = " " * indent
    is_map = rng.random() < 0.6
    entry = (lambda: pad + word(rng) + ":") if is_map else (lambda: pad + "-")
    for _ in range(rng.randint(1, 5)):
        roll = rng.random()
        if roll < 0.08:
            out.append(pad + rng.choice(["# ", "#", "  # "]) + word(rng))
        elif roll < 0.12:
            out.append(rng.choice(["", " " * rng.randint(0, 40)]))
        elif roll < 0.4 and depth < 6:
            out.append(entry() + (" # nested" if rng.random() < 0.03 else ""))
            block(rng, indent + rng.choice([2, 2, 4, 8, 16, 34, 70]), depth + 1, out)
        elif roll < 0.5:
            out.append(entry() + " " + rng.choice(["|", ">", "|-", ">+", "|2", "| # note"]))
            for _ in range(rng.randint(0, 3)):
                words = " ".join(word(rng) for _ in range(rng.randint(0, 8)))
                out.append(pad + "  " + words)
        else:
            out.append(entry() + " " + scalar(rng))


def corrupt(rng, text):
    if not text:
        return text
    at = rng.randrange(len(text))
    roll = rng.random()
    if roll < 0.3:
        return text[:at] + text[at + 1 :]
    if roll < 0.6:
        return text[:at] + rng.choice("\t:#'\"[]{},-? !&*|>%\r") + text[at:]
    return text[:at] + text[at:].replace("  ", " ", 1)


def document(rng):
    lines = []
    block(rng, 0, 0, lines)
    text = "\n".join(lines) + rng.choice(["\n", "", "\n\n"])
    if rng.random() < 0.1:
        text = text.replace("\n", "\r\n")
    if rng.random() < 0.25:
        text = corrupt(rng, text)
    return text


def main(argv):
    if not argv:
        sys.exit(__doc__)
    count = int(argv[1]) if len(argv) > 1 else 4000
    rng = random.Random(SEED)
    documents = [document(rng) for _ in range(count)]
    with open(argv[0], "wb") as out:
        out.write(b"\0".join(d.encode("utf-8") for d in documents))


if __name__ == "__main__":
    main(sys.argv[1:])
