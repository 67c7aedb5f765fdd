"""Builds the fuzzing seed corpora: fuzz/corpus for the parser and the Python harnesses, and
fuzz/corpus-writer for the writer's target (or the folders given).

    python3 fuzz/make_corpus.py [PARSER_FOLDER [WRITER_FOLDER]]

Parser seeds come from the string literals of the test suite, the examples and, where the
shared data sits beside the project, the YAML test suite's inputs and the real-world corpus.
Each is written once per flag combination: the first byte of a libFuzzer input picks the flags
(bit 0: yaml_1_1_bools, bit 1: strict); the Python harnesses read the same byte.

Writer seeds are strings (first byte 0) and doubles (first byte 1, then the eight bytes of the
double): the test suite's string and float literals, and every string that the real-world
corpus holds as a key or a value (where corvane can be imported to read it).
"""

from __future__ import annotations

import ast
import hashlib
import math
import pathlib
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
MAX_SEED = 64 * 1024  # larger seeds slow every mutation for little gain


def test_literals(kind: type = str) -> list:
    values = []
    for path in sorted((ROOT / "tests").glob("test_*.py")):
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.Constant) and type(node.value) is kind and (node.value or kind is float):
                values.append(node.value)
    return values


def file_texts() -> list[str]:
    paths = sorted((ROOT / "examples").glob("*.yaml"))
    if SHARED.is_dir():
        paths += sorted((SHARED / "yaml-test-suite").rglob("in.yaml"))
        paths += sorted((SHARED / "corpus" / "real").rglob("*.y*ml"))
    texts = []
    for path in paths:
        try:
            texts.append(path.read_text(encoding="utf-8"))
        except UnicodeDecodeError:
            continue
    return texts


def strings_of(value: object) -> list[str]:
    """Every string a loaded value holds, keys included."""
    found, stack = [], [value]
    while stack:
        item = stack.pop()
        if isinstance(item, str):
            found.append(item)
        elif isinstance(item, dict):
            stack.extend(item.keys())
            stack.extend(item.values())
        elif isinstance(item, list):
            stack.extend(item)
    return found


def corpus_strings() -> list[str]:
    try:
        import corvane
    except ImportError:
        return []
    strings = []
    for text in file_texts():
        try:
            strings.extend(strings_of(corvane.load(text)))
        except corvane.CorvaneError:
            continue
    return strings


def write_seeds(out: pathlib.Path, seeds: set[bytes]) -> int:
    out.mkdir(parents=True, exist_ok=True)
    for data in seeds:
        (out / hashlib.sha1(data).hexdigest()).write_bytes(data)
    return len(seeds)


def main() -> None:
    parser_out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "fuzz" / "corpus"
    writer_out = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else ROOT / "fuzz" / "corpus-writer"
    texts = {t.encode("utf-8", "surrogatepass") for t in test_literals() + file_texts()}
    parser_seeds = {bytes([flags]) + text for text in texts if len(text) <= MAX_SEED for flags in range(4)}
    print(f"{write_seeds(parser_out, parser_seeds)} seeds in {parser_out}")
    strings = {b"\0" + t.encode("utf-8", "surrogatepass") for t in test_literals() + corpus_strings()}
    floats = test_literals(float) + [0.0, -0.0, math.inf, -math.inf, math.nan, 5e-324, 1.7976931348623157e308,
                                     0.1, 1e16, 1e-5, 123456789012345.67]
    doubles = {b"\1" + struct.pack("<d", value) for value in floats}
    print(f"{write_seeds(writer_out, {seed for seed in strings if len(seed) <= MAX_SEED} | doubles)} seeds in {writer_out}")


if __name__ == "__main__":
    main()
