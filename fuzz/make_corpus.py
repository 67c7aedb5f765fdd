"""Builds the fuzzing seed corpus in fuzz/corpus (or the folder given).

Seeds come from the string literals of the test suite, the examples and, where the shared
data sits beside the project, the YAML test suite's inputs and the real-world corpus. Each
seed is written once per flag combination: the first byte of a libFuzzer input picks the
flags (bit 0: yaml_1_1_bools, bit 1: strict); the Python harness reads the same byte.
"""

from __future__ import annotations

import ast
import hashlib
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
MAX_SEED = 64 * 1024  # larger seeds slow every mutation for little gain


def test_literals() -> list[str]:
    texts = []
    for path in sorted((ROOT / "tests").glob("test_*.py")):
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.Constant) and isinstance(node.value, str) and node.value:
                texts.append(node.value)
    return texts


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


def main() -> None:
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "fuzz" / "corpus"
    out.mkdir(parents=True, exist_ok=True)
    seeds = {t.encode("utf-8", "surrogatepass") for t in test_literals() + file_texts()}
    written = 0
    for seed in sorted(seeds):
        if len(seed) > MAX_SEED:
            continue
        for flags in range(4):
            data = bytes([flags]) + seed
            (out / hashlib.sha1(data).hexdigest()).write_bytes(data)
            written += 1
    print(f"{written} seeds in {out}")


if __name__ == "__main__":
    main()
