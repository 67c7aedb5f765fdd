"""A/B of `load` between two builds: the `_corvane` module of a git revision (default HEAD,
the last commit) and of the working tree, both built here with g++ and the release flags,
loaded side by side into one process and timed in interleaved rounds.

    python bench/ab.py [--base REV] [--corpora A,B] [--rounds N] [--real DIR]
    python bench/ab.py --instructions [--base REV] [--corpora A,B]

Times are CPU-time medians (and the fastest round) per load of the whole corpus; the order of
the two builds alternates from round to round. --instructions counts the instructions of
loading each corpus three times with each build instead (valgrind --tool=cachegrind
--cache-sim=no, PYTHONHASHSEED=0, collector off: a run of three loads minus a run of one, so
two loads without the start-up).
"""

import argparse
import gc
import importlib.machinery
import importlib.util
import os
import pathlib
import re
import statistics
import subprocess
import sys
import sysconfig
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parent.parent
OUT = REPO / "bench" / "out" / "ab"
SOURCES = ["src/text/utf8.cpp", "src/scalar/scalar.cpp", "src/flow/flow.cpp",
           "src/parser/feed/feed.cpp", "src/parser/scan/scan.cpp", "src/parser/block/block.cpp",
           "src/python/builder.cpp", "src/python/entry.cpp", "src/python/python.cpp"]

sys.path.insert(0, str(REPO / "bench"))
from replay import corpora  # noqa: E402


def compile_module(root, target):
    include = sysconfig.get_paths()["include"]
    target.parent.mkdir(parents=True, exist_ok=True)
    command = [os.environ.get("CXX", "g++"), "-std=c++23", "-O3", "-DNDEBUG", "-fPIC", "-shared",
               "-fvisibility=hidden", "-fno-plt", "-DPy_LIMITED_API=0x030A0000", f"-I{include}",
               f"-I{root / 'src'}", *[str(root / s) for s in SOURCES],
               f"-Wl,--version-script={root / 'src/python/exports.map'}", "-o", str(target)]
    print("building", target, file=sys.stderr)
    subprocess.run(command, check=True)


def build_revision(rev):
    commit = subprocess.run(["git", "-C", str(REPO), "rev-parse", rev], check=True,
                            capture_output=True, text=True).stdout.strip()
    target = OUT / commit[:12] / "_corvane.abi3.so"
    if not target.exists():
        with tempfile.TemporaryDirectory() as tree:
            archive = subprocess.run(["git", "-C", str(REPO), "archive", commit], check=True,
                                     capture_output=True).stdout
            subprocess.run(["tar", "-x", "-C", tree], input=archive, check=True)
            compile_module(pathlib.Path(tree), target)
    return target


def build_worktree():
    target = OUT / "worktree" / "_corvane.abi3.so"
    deps = [REPO / s for s in SOURCES] + list((REPO / "src").rglob("*.hpp"))
    if not target.exists() or any(d.stat().st_mtime > target.stat().st_mtime for d in deps):
        compile_module(REPO, target)
    return target


def load_module(label, path):
    # The initialisation function is PyInit__corvane: the last part of the name must match.
    name = f"{label}._corvane"
    loader = importlib.machinery.ExtensionFileLoader(name, str(path))
    spec = importlib.util.spec_from_file_location(name, str(path), loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def time_ab(a, b, texts, rounds):
    loads = {"A": a.load, "B": b.load}
    for load in loads.values():
        for t in texts:
            load(t)
    start = time.process_time()
    for t in texts:
        a.load(t)
    calls = max(1, int(0.02 / max(time.process_time() - start, 1e-6)))
    samples = {"A": [], "B": []}
    for r in range(rounds):
        for label in ("AB" if r % 2 == 0 else "BA"):
            load = loads[label]
            gc.collect()
            gc.disable()
            kept = []
            start = time.process_time()
            for _ in range(calls):
                kept.append([load(t) for t in texts])
            elapsed = time.process_time() - start
            gc.enable()
            del kept
            samples[label].append(elapsed / calls)
    return {k: (statistics.median(v), min(v)) for k, v in samples.items()}


def instructions(module_path, corpus, names, real, repeat):
    script = f"""
import gc, sys
gc.disable()
sys.path.insert(0, {str(REPO / 'bench')!r})
import importlib.machinery, importlib.util, pathlib
from replay import corpora
texts = corpora([{corpus!r}], pathlib.Path({str(real)!r}))[{corpus!r}]
loader = importlib.machinery.ExtensionFileLoader('x._corvane', {str(module_path)!r})
spec = importlib.util.spec_from_file_location('x._corvane', {str(module_path)!r}, loader=loader)
m = importlib.util.module_from_spec(spec); loader.exec_module(m)
for _ in range({repeat}):
    for t in texts:
        m.load(t)
"""
    with tempfile.TemporaryDirectory() as tmp:
        out = pathlib.Path(tmp) / "cg.out"
        env = dict(os.environ, PYTHONHASHSEED="0")
        run = subprocess.run(["valgrind", "--tool=cachegrind", "--cache-sim=no",
                              f"--cachegrind-out-file={out}", sys.executable, "-c", script],
                             capture_output=True, text=True, env=env)
        match = re.search(r"I\s+refs:\s+([\d,]+)", run.stderr)
        if not match:
            sys.exit(run.stderr)
        return int(match.group(1).replace(",", ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--base", default="HEAD")
    parser.add_argument("--corpora", default="config_1KB,config_100KB,config_1MB,real_world")
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--real", type=pathlib.Path,
                        default=REPO.parent / "shared" / "corpus" / "real")
    parser.add_argument("--instructions", action="store_true")
    args = parser.parse_args()
    path_a, path_b = build_revision(args.base), build_worktree()
    names = args.corpora.split(",")
    if args.instructions:
        print("| corpus | A (Ir, 2 loads) | B (Ir, 2 loads) | B/A |")
        print("|---|--:|--:|--:|")
        for name in names:
            # Two runs per build: three loads and one; the difference is two loads' worth.
            a = instructions(path_a, name, names, args.real, 3) - instructions(
                path_a, name, names, args.real, 1)
            b = instructions(path_b, name, names, args.real, 3) - instructions(
                path_b, name, names, args.real, 1)
            print(f"| {name} | {a:,} | {b:,} | {b / a:.3f} |", flush=True)
        return
    a, b = load_module("a", path_a), load_module("b", path_b)
    print(f"A = {args.base}, B = working tree; {args.rounds} rounds")
    print("| corpus | A median | B median | B/A median | A fastest | B fastest | B/A fastest |")
    print("|---|--:|--:|--:|--:|--:|--:|")
    for name, texts in corpora(names, args.real).items():
        for t in texts:
            if a.load(t) != b.load(t):
                sys.exit(f"{name}: the two builds disagree")
        r = time_ab(a, b, texts, args.rounds)
        (am, af), (bm, bf) = r["A"], r["B"]
        print(f"| {name} | {am * 1e6:.1f} µs | {bm * 1e6:.1f} µs | {bm / am:.3f} | "
              f"{af * 1e6:.1f} µs | {bf * 1e6:.1f} µs | {bf / af:.3f} |", flush=True)


if __name__ == "__main__":
    main()
