"""Times Corvane's `dump` against json.dumps, orjson.dumps and PyYAML's CSafeDumper on the value
of each benchmark corpus, side by side in one process, and prints the table.

    python bench/bench_dump.py [--quick] [--corpora NAME,...] [--real DIR] [--markdown FILE]

Every writer's output is first read back by its own reader (dump by corvane.load with
strict=True, json and orjson by json.loads and orjson.loads, PyYAML by its CSafeLoader) and
compared with the value (exact types, dict order); only then is anything timed. bench/run.sh
runs this after bench.py with the same arguments; arguments that only bench.py knows are
ignored here.
"""

import argparse
import datetime
import json
import math
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import bench  # noqa: E402
import make_corpora  # noqa: E402

import corvane  # noqa: E402

WRITERS = ["dump", "json", "orjson", "PyYAML"]
# PyYAML needs about 30 times json.dumps's time: past this size it is left out.
PYYAML_MAX_BYTES = 10 << 20
NON_STR_KEYS = set()  # corpora on which orjson needed OPT_NON_STR_KEYS


def writers():
    """name -> (write one value, read one output back)."""
    import orjson
    import yaml

    def pyyaml_dump(value):
        return yaml.dump(value, Dumper=yaml.CSafeDumper, sort_keys=False, allow_unicode=True)

    return {
        "dump": (corvane.dump, lambda text: corvane.load(text, strict=True)),
        "json": (json.dumps, json.loads),
        "orjson": (orjson.dumps, orjson.loads),
        "PyYAML": (pyyaml_dump, lambda text: yaml.load(text, Loader=yaml.CSafeLoader)),
    }


def time_corpus(corpus, names, args, log):
    """Checks what every writer gives back, then times the writers in interleaved rounds."""
    table = writers()
    values = [corvane.load(t) for t in corpus.texts]
    plans = []
    for name in names:
        write, read = table[name]
        call = bench.make_call(write, values)
        timing = bench.Timing(name, corpus.bytes)
        timing.docs = len(values)
        try:
            once, (outputs,) = bench.timed_rep(call, 1)
        except TypeError as exc:
            if name != "orjson":
                raise
            # orjson writes keys that are not strings only when asked to.
            import orjson
            log(f"  orjson on {corpus.name}: {exc}; timed with OPT_NON_STR_KEYS")
            call = bench.make_call(lambda v: orjson.dumps(v, option=orjson.OPT_NON_STR_KEYS), values)
            once, (outputs,) = bench.timed_rep(call, 1)
            NON_STR_KEYS.add(corpus.name)
        if len(values) == 1:
            outputs = [outputs]
        timing.equal = sum(bench.same(read(out), value) for out, value in zip(outputs, values))
        del outputs
        if name == "dump" and timing.equal != len(values):
            log(f"\n!!! MISMATCH: dump does not round-trip {corpus.name} !!!\n")
        plans.append((timing, lambda inner, call=call: bench.timed_rep(call, inner)[0], once))
    for timing, rep, once in plans:
        if once > bench.SINGLE_CALL_S * 1e9:
            timing.samples, timing.reps, timing.single = [once], 1, True
            continue
        if once < bench.SLOW_CALL_S * 1e9:
            once = rep(1)
        timing.inner = max(1, math.ceil(bench.REP_TARGET_S * 1e9 / once))
        if once > bench.SLOW_CALL_S * 1e9:
            timing.reps, timing.slow = bench.SLOW_REPS, True
        else:
            timing.reps = max(args.min_reps, math.ceil(args.min_time * 1e9 / (once * timing.inner)))
    rounds = max((t.reps for t, _, _ in plans if not t.single), default=0)
    orders = bench.balanced_orders(len(plans))
    for r in range(rounds):
        for index in orders[r % len(orders)]:
            timing, rep, _ = plans[index]
            if not timing.single and r < timing.reps:
                timing.samples.append(rep(timing.inner))
    return {t.loader: t for t, _, _ in plans}


def main_table(corpora, results):
    header = ["corpus", "size", "dump", "spread", "json.dumps", "orjson.dumps", "PyYAML dump",
              "dump/json", "dump/orjson", "PyYAML/dump", "dump/json fastest"]
    rows = []
    for corpus in corpora:
        res = results[corpus.name]
        d = res["dump"]
        med = lambda n: res[n].median if n in res else None  # noqa: E731
        ratio = lambda a, b: None if a is None or b is None else a / b  # noqa: E731

        def cell(n):
            if n not in res:
                return "–"
            t = res[n]
            return (bench.fmt_time(t.median) + ("¹" if t.single else "") + ("≠" if t.differs else "")
                    + ("²" if n == "orjson" and corpus.name in NON_STR_KEYS else ""))

        lo, hi = min(d.samples), max(d.samples)
        rows.append([corpus.name, bench.fmt_bytes(corpus.bytes), cell("dump"),
                     f"-{100 * (1 - lo / d.median):.0f}/+{100 * (hi / d.median - 1):.0f}%",
                     cell("json"), cell("orjson"), cell("PyYAML"),
                     bench.fmt_ratio(ratio(d.median, med("json"))), bench.fmt_ratio(ratio(d.median, med("orjson"))),
                     bench.fmt_ratio(ratio(med("PyYAML"), d.median)),
                     bench.fmt_ratio(ratio(min(d.samples), min(res["json"].samples)) if "json" in res else None)])
    return bench.table(header, rows)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    names = list(make_corpora.CORPORA) + [bench.REAL_NAME]
    ap.add_argument("--corpora", default=",".join(names), help=f"comma-separated subset of: {', '.join(names)}")
    ap.add_argument("--quick", action="store_true", help="skip config_50MB and PyYAML; shorter timings")
    ap.add_argument("--no-slow-peers", action="store_true", help="leave PyYAML out")
    ap.add_argument("--min-time", type=float, default=0.2, help="seconds of timed calls per writer and corpus")
    ap.add_argument("--min-reps", type=int, default=5, help="repetitions per writer and corpus, at least")
    ap.add_argument("--data", type=pathlib.Path, default=HERE / "data", help="where the corpora are generated")
    ap.add_argument("--real", type=pathlib.Path, default=bench.REAL, help="the real-world files")
    ap.add_argument("--clock", choices=list(bench.CLOCKS), default="wall",
                    help="time repetitions by the wall clock (default) or by the process's CPU time")
    ap.add_argument("--markdown", type=pathlib.Path, help="also append the report to this file")
    args, _ = ap.parse_known_args(argv)
    bench.CLOCK = bench.CLOCKS[args.clock]
    selected = [n.strip() for n in args.corpora.split(",") if n.strip() in names]
    if args.quick:
        selected = [n for n in selected if n != "config_50MB"]
        args.no_slow_peers = True
        args.min_time, args.min_reps = min(args.min_time, 0.1), min(args.min_reps, 3)

    def log(text=""):
        print(text, file=sys.stderr, flush=True)

    generated = [n for n in selected if n in make_corpora.CORPORA]
    paths = make_corpora.write(args.data, generated) if generated else []  # write() takes [] as all
    corpora = [bench.Corpus(p.stem, [bench.read_text(p)], [p]) for p in paths]
    notes = []
    if bench.REAL_NAME in selected:
        bench.REAL = args.real
        real, found = bench.real_corpus()
        notes.append(f"{bench.REAL_NAME}: {found}; written as a whole, one document after another"
                     if real else f"{bench.REAL_NAME} skipped: {found}")
        if real:
            corpora.append(real)
    results = {}
    for corpus in corpora:
        log(f"timing dump on {corpus.name} ({bench.fmt_bytes(corpus.bytes)}) ...")
        chosen = [n for n in WRITERS if not (n == "PyYAML" and (args.no_slow_peers or corpus.bytes > PYYAML_MAX_BYTES))]
        results[corpus.name] = time_corpus(corpus, chosen, args, log)
        if "PyYAML" not in chosen and not args.no_slow_peers:
            notes.append(f"PyYAML left out on {corpus.name} (over {PYYAML_MAX_BYTES >> 20} MB)")

    report = []

    def out(text=""):
        print(text, flush=True)
        report.append(text)

    v = bench.versions()
    out("## Corvane dump benchmark")
    out()
    out(f"- machine: {bench.machine()}")
    out(f"- date: {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}")
    out(f"- Python {v['python']}; orjson {v.get('orjson', '–')}, PyYAML {v.get('yaml', '–')} "
        "(CSafeDumper, sort_keys=False, allow_unicode=True)")
    out(f"- command: bench/bench_dump.py {' '.join(argv)}".rstrip())
    out(f"- clock: {'wall clock' if args.clock == 'wall' else 'CPU time of the process'}")
    out()
    out(main_table(corpora, results))
    out()
    out("Each writer writes the value that corvane.load gives for the corpus; size is the YAML corpus. "
        "json.dumps: default arguments (no indent, ASCII). dump/x below 1 means dump is faster; "
        "PyYAML/dump: how many times slower PyYAML is. dump/json fastest: the fastest repetition of each, "
        "which a busy machine disturbs least.")
    for corpus in corpora:
        for name, t in results[corpus.name].items():
            if t.differs:
                notes.append(f"≠ {name} on {corpus.name}: {t.equal} of {t.docs} values read back equal")
            if t.single:
                notes.append(f"¹ {name} on {corpus.name}: one run")
    notes += [f"² orjson on {name}: with OPT_NON_STR_KEYS (some keys are not strings)" for name in sorted(NON_STR_KEYS)]
    for note in notes:
        out(f"- {note}")
    if args.markdown:
        with args.markdown.open("a") as file:
            file.write("\n" + "\n".join(report) + "\n")
    failed = [c.name for c in corpora if results[c.name]["dump"].differs]
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
