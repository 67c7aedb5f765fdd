"""Counts instructions and cache misses per corpus, under valgrind's cachegrind, for the C++ parser
alone (parse-only: the null sink of libparse_only.so, built as bench/bench.py builds it),
Corvane's `load` and `orjson.loads` on the same value written as JSON, and prints a table.

    python bench/lab/counters.py [--corpora NAME,...] [--real DIR] [--markdown FILE]

(run from the environment that bench/run.sh makes, .venv-bench). Each figure is a small Python program
that loads the corpus once, minus the same program without that load, so that the interpreter's
start-up, the imports and the reading of the input cancel. Both exit with os._exit, so freeing the
value is not counted either; gc is disabled in both, as during the timings. The cache simulated is
the one given by --cache (default: 32 KB 8-way L1 for instructions and data, 32 MB 16-way last
level, 64-byte lines); cachegrind has no second level.
"""

import argparse
import datetime
import json
import marshal
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

BENCH = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(BENCH))

import bench  # noqa: E402
import make_corpora  # noqa: E402

import _corvane  # noqa: E402

KINDS = ["parse-only", "load", "orjson"]

# The program that cachegrind runs: argv is KIND INPUT LIBRARY RUN. INPUT holds, in marshal form,
# the YAML texts and the JSON bytes of one corpus; RUN is 1 for the load, 0 for the baseline.
PROGRAM = r"""
import ctypes, gc, marshal, os, sys
kind, path, library, run = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4] == "1"
with open(path, "rb") as file:
    texts, json_docs = marshal.load(file)
if kind == "load":
    import _corvane
    load, inputs = _corvane.load, texts
elif kind == "orjson":
    import orjson
    load, inputs = orjson.loads, json_docs
else:
    passes = ctypes.CDLL(library).corvane_parse_passes
    passes.argtypes = [ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t), ctypes.c_size_t,
                       ctypes.c_long, ctypes.POINTER(ctypes.c_uint64)]
    blobs = [t.encode("utf-8") for t in texts]
    pointers = (ctypes.c_char_p * len(blobs))(*blobs)
    sizes = (ctypes.c_size_t * len(blobs))(*map(len, blobs))
    digest = ctypes.c_uint64()
    load = None
gc.disable()
if run:
    if load is None:
        if passes(pointers, sizes, len(blobs), 1, ctypes.byref(digest)):
            raise SystemExit("the parser refused a document")
    else:
        values = [load(x) for x in inputs]
sys.stdout.flush()
os._exit(0)
"""

def cachegrind(python, kind, path, library, run, cache, scratch):
    """The summary counts of one program run under cachegrind: event name -> count."""
    out = scratch / f"cg.{kind}.{int(run)}.out"
    cmd = ["valgrind", "--tool=cachegrind", "--cache-sim=yes", *cache, f"--cachegrind-out-file={out}",
           python, "-c", PROGRAM, kind, str(path), str(library), "1" if run else "0"]
    env = dict(os.environ, PYTHONHASHSEED="0")
    subprocess.run(cmd, check=True, capture_output=True, env=env)
    events = summary = None
    for line in out.read_text().splitlines():
        if line.startswith("events:"):
            events = line.split()[1:]
        elif line.startswith("summary:"):
            summary = [int(x) for x in line.split()[1:]]
    out.unlink()
    return dict(zip(events, summary))


def difference(with_load, without):
    counts = {k: with_load[k] - without.get(k, 0) for k in with_load}
    return {
        "Ir": counts["Ir"],
        "D1 misses": counts["D1mr"] + counts["D1mw"],
        "LL misses": counts["DLmr"] + counts["DLmw"] + counts["ILmr"],
    }


def fmt_count(n):
    for unit, scale in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if abs(n) >= scale:
            return f"{n / scale:.3g}{unit}"
    return f"{n:.0f}"


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    names = list(make_corpora.CORPORA) + [bench.REAL_NAME]
    ap.add_argument("--corpora", default=",".join(names), help=f"comma-separated subset of: {', '.join(names)}")
    ap.add_argument("--data", type=pathlib.Path, default=BENCH / "data", help="where the corpora are generated")
    ap.add_argument("--real", type=pathlib.Path, default=bench.REAL, help="the real-world files")
    ap.add_argument("--out", type=pathlib.Path, default=BENCH / "out", help="the C++ build (as bench/bench.py's)")
    ap.add_argument("--cache", default="--I1=32768,8,64 --D1=32768,8,64 --LL=33554432,16,64",
                    help="cachegrind's cache options (size,associativity,line)")
    ap.add_argument("--markdown", type=pathlib.Path, help="also write the report to this file")
    ap.add_argument("--json", type=pathlib.Path, help="also write the counts to this file")
    args, _ = ap.parse_known_args(argv)
    selected = [n.strip() for n in args.corpora.split(",") if n.strip() in names]
    library = bench.build_native(args.out) / "libparse_only.so"
    if not shutil.which("valgrind"):
        sys.exit("no valgrind on PATH (Debian: apt-get install valgrind)")

    def log(text=""):
        print(text, file=sys.stderr, flush=True)

    generated = [n for n in selected if n in make_corpora.CORPORA]
    paths = make_corpora.write(args.data, generated) if generated else []
    corpora = [bench.Corpus(p.stem, [bench.read_text(p)], [p]) for p in paths]
    if bench.REAL_NAME in selected:
        bench.REAL = args.real
        real, found = bench.real_corpus()
        log(f"{bench.REAL_NAME}: {found}")
        if real:
            corpora.append(real)

    rows, raw = [], {}
    with tempfile.TemporaryDirectory(dir=args.out) as scratch:
        scratch = pathlib.Path(scratch)
        for corpus in corpora:
            json_docs = [json.dumps(_corvane.load(t)).encode() for t in corpus.texts]
            path = scratch / f"{corpus.name}.marshal"
            path.write_bytes(marshal.dumps((corpus.texts, json_docs)))
            counts = {}
            for kind in KINDS:
                log(f"cachegrind: {corpus.name}, {kind}")
                with_load, without = (cachegrind(sys.executable, kind, path, library, run, args.cache.split(), scratch)
                                      for run in (True, False))
                counts[kind] = difference(with_load, without)
            path.unlink()
            json_bytes = sum(map(len, json_docs))
            raw[corpus.name] = {"yaml_bytes": corpus.bytes, "json_bytes": json_bytes, "counts": counts}
            per = lambda kind, key: counts[kind][key] / corpus.bytes  # noqa: E731
            p, lo, o = counts["parse-only"], counts["load"], counts["orjson"]
            rows.append([
                corpus.name, bench.fmt_bytes(corpus.bytes),
                f"{per('parse-only', 'Ir'):.1f}", f"{per('load', 'Ir'):.1f}",
                f"{(lo['Ir'] - p['Ir']) / corpus.bytes:.1f}", f"{per('orjson', 'Ir'):.1f}",
                f"{o['Ir'] / json_bytes:.1f}", f"{lo['Ir'] / o['Ir']:.2f}",
                fmt_count(p["LL misses"]), fmt_count(lo["LL misses"]), fmt_count(o["LL misses"]),
                fmt_count(p["D1 misses"]), fmt_count(lo["D1 misses"]), fmt_count(o["D1 misses"]),
            ])

    header = ["corpus", "size", "parse-only Ir/B", "load Ir/B", "building Ir/B", "orjson Ir/B",
              "orjson Ir/JSON B", "load/orjson Ir", "parse-only LL miss", "load LL miss", "orjson LL miss",
              "parse-only D1 miss", "load D1 miss", "orjson D1 miss"]
    report = [
        "## Corvane instruction and cache-miss counts (cachegrind)",
        "",
        f"- machine: {bench.machine()}",
        f"- date: {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}",
        f"- valgrind: {subprocess.run(['valgrind', '--version'], capture_output=True, text=True).stdout.strip()}; "
        f"cache: {args.cache}",
        f"- command: bench/lab/counters.py {' '.join(argv)}".rstrip(),
        "",
        bench.table(header, rows),
        "",
        "Ir/B: instructions per byte of YAML input (orjson Ir/JSON B: per byte of its own JSON input), one load "
        "of the corpus, minus the same program without it. building: load minus parse-only, i.e. the input's "
        "UTF-8 conversion and the Python objects. LL miss: last-level misses (data reads, data writes and "
        "instruction reads); D1 miss: first-level data misses.",
    ]
    print("\n".join(report), flush=True)
    if args.markdown:
        args.markdown.write_text("\n".join(report) + "\n")
    if args.json:
        args.json.write_text(json.dumps(raw, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
