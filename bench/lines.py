"""Times `load_with_lines` against `load` on the benchmark corpora and prints the ratio.

    python bench/lines.py [--corpora NAME,...] [--data DIR] [--reps N]

Both run in one process on the same text, one after the other within each repetition (the order
turned every other time), for about 20 ms of CPU time per repetition. Times are CPU time of the
process (time.process_time), which other programs on a shared machine disturb far less than the
wall clock; the table gives the median and the fastest repetition of each. gc.collect() runs
between repetitions and gc is disabled while one runs. `real_world` is every file of the shared
real-world corpus that loads, one document after another.
"""

import argparse
import gc
import os
import pathlib
import statistics
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import make_corpora  # noqa: E402

import _corvane  # noqa: E402
from corvane._native import load_with_lines  # noqa: E402

REAL = pathlib.Path(os.environ.get("CORVANE_SHARED") or HERE.parent.parent / "shared") / "corpus" / "real"


def real_world():
    documents = []
    for path in sorted(REAL.rglob("*")) if REAL.is_dir() else []:
        try:
            text = path.read_bytes().decode("utf-8")
            _corvane.load(text)
        except (IsADirectoryError, UnicodeDecodeError, _corvane.CorvaneError):
            continue
        documents.append(text)
    return documents


def run(call, documents, calls):
    start = time.process_time()
    for _ in range(calls):
        for document in documents:
            call(document)
    return (time.process_time() - start) / calls


def measure(documents, reps):
    calls = max(1, int(0.02 / max(run(_corvane.load, documents, 1), 1e-6)))
    samples = {_corvane.load: [], load_with_lines: []}
    gc.disable()
    try:
        for rep in range(reps):
            order = list(samples) if rep % 2 == 0 else list(reversed(samples))
            for call in order:
                gc.collect()
                samples[call].append(run(call, documents, calls))
    finally:
        gc.enable()
    return [(statistics.median(times), min(times)) for times in samples.values()]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--corpora", help="comma-separated names (default: all, and real_world)")
    ap.add_argument("--data", type=pathlib.Path, default=HERE / "data", help="where the corpora are generated")
    ap.add_argument("--reps", type=int, default=15)
    args = ap.parse_args()
    names = args.corpora.split(",") if args.corpora else [*make_corpora.CORPORA, "real_world"]
    print("| corpus | load (median) | load_with_lines (median) | ratio | load (fastest) | load_with_lines (fastest) | ratio |")
    print("|---|--:|--:|--:|--:|--:|--:|")
    for name in names:
        if name == "real_world":
            documents = real_world()
            if not documents:
                continue
        else:
            documents = [make_corpora.write(args.data, [name])[0].read_text(encoding="utf-8")]
        (load_median, load_min), (lines_median, lines_min) = measure(documents, args.reps if name != "config_50MB" else 5)
        print(f"| {name} | {load_median * 1e3:.3f} ms | {lines_median * 1e3:.3f} ms | {lines_median / load_median:.2f} "
              f"| {load_min * 1e3:.3f} ms | {lines_min * 1e3:.3f} ms | {lines_min / load_min:.2f} |", flush=True)


if __name__ == "__main__":
    main()
