"""A/B of `load` between two builds: the `_corvane` module of a git revision (default HEAD,
the last commit) and of the working tree, each built with CMake (target _corvane, Release),
loaded side by side into one process and timed in interleaved rounds.

    python bench/lab/ab.py [--base REV] [--corpora A,B] [--rounds N]
    python bench/lab/ab.py --instructions [--base REV] [--corpora A,B]

Times are CPU-time medians (and the fastest round) per load of the whole corpus, the collector
off; the order of the two builds alternates from round to round. --instructions counts the
instructions of loading each corpus three times with each build instead (valgrind
--tool=cachegrind --cache-sim=no, PYTHONHASHSEED=0, collector off: a run of three loads minus
a run of one, so two loads without the start-up).
"""

import argparse
import gc
import importlib.machinery
import importlib.util
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
BENCH = HERE.parent
REPO = BENCH.parent
OUT = BENCH / "out" / "ab"
sys.path.insert(0, str(BENCH))

import bench  # noqa: E402
import make_corpora  # noqa: E402


def build(source, folder):
    """The _corvane module of the sources under `source`, built with CMake in `folder`."""
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    quiet = dict(check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "-S", str(source), "-B", str(folder), *generator, "-DCMAKE_BUILD_TYPE=Release",
                    f"-DPython_EXECUTABLE={sys.executable}"], **quiet)
    subprocess.run(["cmake", "--build", str(folder), "-j2", "--target", "_corvane"], **quiet)
    return next(folder.glob("_corvane*.so"))


def build_revision(rev):
    commit = subprocess.run(["git", "-C", str(REPO), "rev-parse", rev], check=True,
                            capture_output=True, text=True).stdout.strip()
    folder = OUT / commit[:12]
    if not list(folder.glob("_corvane*.so")):
        with tempfile.TemporaryDirectory() as tree:
            archive = subprocess.run(["git", "-C", str(REPO), "archive", commit], check=True,
                                     capture_output=True).stdout
            subprocess.run(["tar", "-x", "-C", tree], input=archive, check=True)
            build(pathlib.Path(tree), folder)
            (folder / "CMakeCache.txt").unlink()  # the sources it names are gone
    return next(folder.glob("_corvane*.so"))


def load_module(label, path):
    # The initialisation function is PyInit__corvane: the last part of the name must match.
    name = f"{label}._corvane"
    loader = importlib.machinery.ExtensionFileLoader(name, str(path))
    module = importlib.util.module_from_spec(importlib.util.spec_from_file_location(name, str(path), loader=loader))
    loader.exec_module(module)
    return module


def corpora(names):
    generated = [n for n in names if n in make_corpora.CORPORA]
    found = {p.stem: [bench.read_text(p)] for p in make_corpora.write(BENCH / "data", generated)} if generated else {}
    if bench.REAL_NAME in names:
        real, _ = bench.real_corpus()
        if real:
            found[real.name] = real.texts
    return found


def time_ab(a, b, texts, rounds):
    loads = {"A": a.load, "B": b.load}
    one = lambda load: [load(t) for t in texts]  # noqa: E731
    for load in loads.values():
        one(load)
    start = time.process_time()
    one(a.load)
    calls = max(1, int(0.02 / max(time.process_time() - start, 1e-6)))
    samples = {"A": [], "B": []}
    for r in range(rounds):
        for label in ("AB" if r % 2 == 0 else "BA"):
            gc.collect()
            gc.disable()
            start = time.process_time()
            kept = [one(loads[label]) for _ in range(calls)]
            elapsed = time.process_time() - start
            gc.enable()
            del kept
            samples[label].append(elapsed / calls)
    return {k: (statistics.median(v), min(v)) for k, v in samples.items()}


def instructions(module_path, corpus, repeat):
    script = f"""
import gc, importlib.machinery, importlib.util, sys
gc.disable()
sys.path.insert(0, {str(HERE)!r})
from ab import corpora
texts = corpora([{corpus!r}])[{corpus!r}]
loader = importlib.machinery.ExtensionFileLoader('x._corvane', {str(module_path)!r})
m = importlib.util.module_from_spec(importlib.util.spec_from_file_location('x._corvane', {str(module_path)!r}, loader=loader))
loader.exec_module(m)
for _ in range({repeat}):
    for t in texts:
        m.load(t)
"""
    with tempfile.TemporaryDirectory() as tmp:
        out = pathlib.Path(tmp) / "cg.out"
        run = subprocess.run(["valgrind", "--tool=cachegrind", "--cache-sim=no", f"--cachegrind-out-file={out}",
                              sys.executable, "-c", script],
                             capture_output=True, text=True, env=dict(os.environ, PYTHONHASHSEED="0"))
        match = re.search(r"I\s+refs:\s+([\d,]+)", run.stderr)
        if not match:
            sys.exit(run.stderr)
        return int(match.group(1).replace(",", ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--base", default="HEAD")
    parser.add_argument("--corpora", default="config_1KB,config_100KB,config_1MB,real_world")
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--instructions", action="store_true")
    args = parser.parse_args()
    path_a, path_b = build_revision(args.base), build(REPO, OUT / "worktree")
    names = args.corpora.split(",")
    if args.instructions:
        print("| corpus | A (Ir, 2 loads) | B (Ir, 2 loads) | B/A |")
        print("|---|--:|--:|--:|")
        for name in names:
            # Two runs per build: three loads and one; the difference is two loads' worth.
            a = instructions(path_a, name, 3) - instructions(path_a, name, 1)
            b = instructions(path_b, name, 3) - instructions(path_b, name, 1)
            print(f"| {name} | {a:,} | {b:,} | {b / a:.3f} |", flush=True)
        return
    a, b = load_module("a", path_a), load_module("b", path_b)
    print(f"A = {args.base}, B = working tree; {args.rounds} rounds")
    print("| corpus | A median | B median | B/A median | A fastest | B fastest | B/A fastest |")
    print("|---|--:|--:|--:|--:|--:|--:|")
    for name, texts in corpora(names).items():
        if any(a.load(t) != b.load(t) for t in texts):
            sys.exit(f"{name}: the two builds disagree")
        (am, af), (bm, bf) = time_ab(a, b, texts, args.rounds).values()
        print(f"| {name} | {am * 1e6:.1f} µs | {bm * 1e6:.1f} µs | {bm / am:.3f} | "
              f"{af * 1e6:.1f} µs | {bf * 1e6:.1f} µs | {bf / af:.3f} |", flush=True)


if __name__ == "__main__":
    main()
