"""Times Corvane's `load` against json, orjson, marshal, PyYAML (CSafeLoader), ruamel.yaml (safe,
C parser), yaml-rs, ryaml and rapidyaml (a C++ tree, no Python objects) on the same data, side by
side in one process, then `load_with_lines` against `load`, and prints the tables.

    python bench/bench.py [--quick] [--corpora NAME,...] [--details] [--markdown FILE] ...

Every loader is first run once and its value compared with Corvane's (exact types, dict order);
only then is anything timed. A difference fails the run only for json, orjson, marshal, PyYAML
and ruamel, on whose typing the generated corpora agree by design; yaml-rs's and ryaml's typing
is their own, and a difference is only marked. See bench/README.md for what each corpus and column means.
"""

import argparse
import ctypes
import datetime
import functools
import gc
import json
import marshal
import math
import os
import pathlib
import platform
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(HERE))

import make_corpora  # noqa: E402

import _corvane  # noqa: E402

# The shared data beside the repository, or where CORVANE_SHARED points (as the tests read it).
REAL = pathlib.Path(os.environ.get("CORVANE_SHARED") or REPO.parent / "shared") / "corpus" / "real"
REAL_NAME = "real_world"

REP_TARGET_S = 0.020  # one repetition runs enough calls to last this long
SLOW_CALL_S = 1.0  # a call longer than this gets SLOW_REPS repetitions only
SLOW_REPS = 3
SINGLE_CALL_S = 10.0  # a call longer than this is timed once, without warm-up

MEMORY_MIN_BYTES = 64 * 1024  # smaller documents are left out of the memory pass
LINES_LARGE_BYTES = 10 << 20  # larger corpora get LINES_REPS_LARGE repetitions of the line-map timing
LINES_REPS_LARGE = 5

LOADERS = ["corvane", "json", "orjson", "marshal", "PyYAML", "ruamel", "yaml_rs", "ryaml", "rapidyaml"]
SLOW_PEERS = ("PyYAML", "ruamel")
OWN_TYPING = ("yaml_rs", "ryaml")  # YAML peers whose typing may differ from Corvane's: marked, never failed
TREE_ONLY = ("rapidyaml",)  # builds a C++ tree and no Python objects: nothing to compare
YAML_PEERS = ("PyYAML", "ruamel") + OWN_TYPING + TREE_ONLY
# What a repetition is timed with: the wall clock, or with --clock cpu the process's CPU time,
# which other programs on a shared machine disturb far less (bench/README.md compares them).
CLOCKS = {"wall": time.perf_counter_ns, "cpu": time.process_time_ns}
CLOCK = CLOCKS["wall"]
REFUSED = {}  # (corpus, loader) -> why a loader that raised was not timed
MISSING = {}  # loader -> why it could not be imported


# ---- values ----

def same_value(a, b):
    """Exact equality: types (1, 1.0 and True differ), dict order, NaN equal to NaN."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    if isinstance(a, dict):
        return len(a) == len(b) and all(
            same_value(ka, kb) and same_value(va, vb) for (ka, va), (kb, vb) in zip(a.items(), b.items()))
    if isinstance(a, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    return a == b


def same(a, b):
    # Version 2 of marshal writes types exactly and shares nothing, so equal bytes mean equal
    # values; the slow walk only runs when they differ (NaN payloads, or a real difference).
    try:
        if marshal.dumps(a, 2) == marshal.dumps(b, 2):
            return True
    except ValueError:  # a value marshal cannot write (a peer's date, say)
        return False
    return same_value(a, b)


def first_difference(a, b, path=""):
    """Where two values first differ, as `path: a != b`, or None when same_value holds."""
    if type(a) is not type(b):
        return f"{path or 'value'}: {short(a)} != {short(b)}"
    if isinstance(a, dict):
        for index, ((ka, va), (kb, vb)) in enumerate(zip(a.items(), b.items())):
            if not same_value(ka, kb):
                return f"{path}[key {index}]: {short(ka)} != {short(kb)}"
            found = first_difference(va, vb, f"{path}[{ka!r}]")
            if found:
                return found
        if len(a) != len(b):
            return f"{path or 'value'}: {len(a)} != {len(b)} entries"
        return None
    if isinstance(a, list):
        for index, (x, y) in enumerate(zip(a, b)):
            found = first_difference(x, y, f"{path}[{index}]")
            if found:
                return found
        if len(a) != len(b):
            return f"{path or 'value'}: {len(a)} != {len(b)} items"
        return None
    return None if same_value(a, b) else f"{path or 'value'}: {short(a)} != {short(b)}"


def short(value, limit=40):
    text = repr(value)
    return text if len(text) <= limit else text[:limit - 3] + "..."


def deep_size(value):
    """Bytes of the objects a value holds, each object once (shared keys, small ints)."""
    seen, stack, total = set(), [value], 0
    while stack:
        obj = stack.pop()
        if id(obj) in seen:
            continue
        seen.add(id(obj))
        total += sys.getsizeof(obj)
        if isinstance(obj, dict):
            stack.extend(obj.keys())
            stack.extend(obj.values())
        elif isinstance(obj, list):
            stack.extend(obj)
    return total


# ---- corpora ----

class Corpus:
    """One timed unit: a single document, or many documents loaded one after the other."""

    def __init__(self, name, texts, paths):
        self.name = name
        self.texts = texts
        self.paths = paths
        self.bytes = sum(len(t.encode("utf-8")) for t in texts)


def read_text(path):
    return path.read_bytes().decode("utf-8")  # keeps the line endings as they are


def real_corpus():
    """The real-world files that are valid UTF-8 and that Corvane loads with default flags."""
    if not REAL.is_dir():
        return None, f"no {REAL}"
    texts, paths, skipped = [], [], 0
    for path in sorted(p for p in REAL.rglob("*") if p.is_file() and p.name not in ("MANIFEST.tsv", "README.md")):
        try:
            text = read_text(path)
            _corvane.load(text)
        except (UnicodeDecodeError, _corvane.CorvaneError):
            skipped += 1
            continue
        texts.append(text)
        paths.append(path)
    if not texts:
        return None, f"no loadable file under {REAL}"
    return Corpus(REAL_NAME, texts, paths), f"{len(texts)} files loaded, {skipped} skipped (refused or not UTF-8)"


# ---- loaders ----

def peers():
    """name -> (make the inputs from the texts and Corvane's values, load one input). A peer that
    cannot be imported is left out and noted in MISSING."""
    import orjson
    import yaml
    from ruamel.yaml import YAML

    ruamel = YAML(typ="safe", pure=False)
    ruamel.allow_duplicate_keys = True  # as Corvane's default: the later value wins

    as_yaml = lambda texts, values: list(texts)  # noqa: E731
    as_yaml_bytes = lambda texts, values: [t.encode("utf-8") for t in texts]  # noqa: E731
    # The JSON documents are json.dumps' default output (ASCII, escapes for the rest).
    as_json = lambda texts, values: [json.dumps(v) for v in values]  # noqa: E731
    as_json_bytes = lambda texts, values: [json.dumps(v).encode() for v in values]  # noqa: E731
    as_marshal = lambda texts, values: [marshal.dumps(v) for v in values]  # noqa: E731
    table = {
        "corvane": (as_yaml, _corvane.load),
        "json": (as_json, json.loads),
        # orjson gets bytes, its natural input: given a str that is not ASCII it would reuse the
        # str's cached UTF-8 copy from the second call on, and so skip work the others do.
        "orjson": (as_json_bytes, orjson.loads),
        "marshal": (as_marshal, marshal.loads),
        "PyYAML": (as_yaml, lambda text: yaml.load(text, Loader=yaml.CSafeLoader)),
        "ruamel": (as_yaml, ruamel.load),
    }
    try:
        import yaml_rs

        # As Corvane: the later of two equal keys wins (its default refuses them), and dates
        # stay strings (its default makes datetime objects, work that Corvane does not do).
        table["yaml_rs"] = (as_yaml, functools.partial(
            yaml_rs.loads, parse_datetime=False, duplicate_key_policy=yaml_rs.DuplicateKeyPolicy.LastWins))
    except ImportError as exc:
        MISSING["yaml_rs"] = str(exc)
    try:
        import ryaml

        table["ryaml"] = (as_yaml, ryaml.loads)  # no options: equal keys are refused
    except ImportError as exc:
        MISSING["ryaml"] = str(exc)
    try:
        import ryml

        # bytes, its natural input (a str is encoded first); the text is copied into the tree's
        # arena and parsed there, and the tree is all it makes.
        table["rapidyaml"] = (as_yaml_bytes, ryml.parse_in_arena)
    except ImportError as exc:
        MISSING["rapidyaml"] = str(exc)
    return table


def versions():
    out = {"python": platform.python_version()}
    for module in ("orjson", "yaml", "ruamel.yaml"):
        try:
            out[module] = __import__(module, fromlist=["__version__"]).__version__
        except ImportError:
            pass
    from importlib import metadata

    for package in ("yaml-rs", "ryaml", "rapidyaml"):
        try:
            out[package] = metadata.version(package)
        except metadata.PackageNotFoundError:
            pass
    return out


# ---- timing ----

class Timing:
    def __init__(self, loader, input_bytes):
        self.loader = loader
        self.input_bytes = input_bytes
        self.samples = []  # ns per pass over the corpus
        self.inner = 1
        self.reps = 0
        self.single = False  # one run, no warm-up
        self.slow = False  # SLOW_REPS repetitions only
        self.equal = None  # documents equal to Corvane's value (None: not compared)
        self.docs = 0
        self.difference = None  # where the first unequal document differs

    @property
    def differs(self):
        return self.equal is not None and self.equal != self.docs

    @property
    def median(self):
        return statistics.median(self.samples)


def timed_rep(call, inner):
    """ns per call over `inner` calls. The values are kept until the clock stops, so freeing
    them is not timed; gc is collected before and disabled during, the same for every loader."""
    out = [None] * inner
    gc.collect()
    gc.disable()
    try:
        start = CLOCK()
        for i in range(inner):
            out[i] = call()
        elapsed = CLOCK() - start
    finally:
        gc.enable()
    return elapsed / inner, out


def refusal(exc, load, inputs):
    """Why a loader raised: the exception, and which document when there are several."""
    where = ""
    if len(inputs) > 1:
        for index, document in enumerate(inputs):
            try:
                load(document)
            except Exception:  # noqa: BLE001 - any refusal counts
                where = f"document {index + 1} of {len(inputs)}: "
                break
    return f"{where}{type(exc).__name__}: {short(str(exc), 80)}"


def make_call(load, inputs):
    if len(inputs) == 1:
        only = inputs[0]
        return lambda: load(only)
    return lambda: list(map(load, inputs))


class ParseOnly:
    """The C++ parser over the null sink (bench/parse_only.cpp built as a library), timed in
    this process and in the same rounds as the loaders."""

    def __init__(self, library):
        self.passes = ctypes.CDLL(str(library)).corvane_parse_passes
        self.passes.argtypes = [ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t), ctypes.c_size_t,
                                ctypes.c_long, ctypes.POINTER(ctypes.c_uint64)]
        self.passes.restype = ctypes.c_long

    def rep_function(self, texts):
        """rep(inner) -> ns per pass over `texts`, running the `inner` passes in C++."""
        blobs = [t.encode("utf-8") for t in texts]  # what load() hands the parser
        count = len(blobs)
        pointers = (ctypes.c_char_p * count)(*blobs)
        sizes = (ctypes.c_size_t * count)(*map(len, blobs))
        digest = ctypes.c_uint64()

        def rep(inner):
            gc.collect()
            gc.disable()
            try:
                start = CLOCK()
                failed = self.passes(pointers, sizes, count, inner, ctypes.byref(digest))
                elapsed = CLOCK() - start
            finally:
                gc.enable()
            if failed:
                raise RuntimeError(f"the parser refused document {failed - 1}")
            return elapsed / inner

        rep.blobs = blobs  # the pointers above point into these
        return rep


def balanced_orders(count):
    """Orders of range(count) in which each item comes directly after every other item equally
    often: a Williams design, `count` orders for an even count and twice that for an odd one.
    Turning one order by one place would not do: the predecessor of each item stays the same."""
    if count == 0:
        return [[]]
    first, low, high = [0], 1, count - 1
    for position in range(1, count):
        if position % 2:
            first.append(low)
            low += 1
        else:
            first.append(high)
            high -= 1
    orders = [[(item + shift) % count for item in first] for shift in range(count)]
    if count % 2:
        orders += [order[::-1] for order in orders]
    return orders


def time_corpus(corpus, loaders, parse_only, args, log):
    """Checks every loader's value, then times them in interleaved rounds so that a change in
    the machine's load hits all of them alike, then times the parse-only figure."""
    table = peers()
    reference = [_corvane.load(t) for t in corpus.texts]
    plans = []  # (timing, rep function: inner -> ns per call)
    for name in loaders:
        if name not in table:
            continue
        make_inputs, load = table[name]
        inputs = make_inputs(corpus.texts, reference)
        call = make_call(load, inputs)
        timing = Timing(name, sum(len(x.encode()) if isinstance(x, str) else len(x) for x in inputs))
        timing.docs = len(inputs)
        # First call: the equality check, the warm-up and the size of one call.
        try:
            once, (values,) = timed_rep(call, 1)
        except Exception as exc:  # a peer that refuses a document is reported, not timed
            REFUSED[(corpus.name, name)] = refusal(exc, load, inputs)
            log(f"  {name}: failed on {corpus.name}: {REFUSED[(corpus.name, name)]}")
            continue
        if len(inputs) == 1:
            values = [values]
        if name not in TREE_ONLY:
            timing.equal = sum(same(v, r) for v, r in zip(values, reference))
        if timing.differs:
            timing.difference = next(first_difference(r, v) for v, r in zip(values, reference) if not same(v, r))
        del values
        if timing.differs and corpus.name != REAL_NAME and name not in OWN_TYPING:
            log(f"\n!!! MISMATCH: {name} does not return Corvane's value on {corpus.name} !!!\n")
        plans.append((timing, lambda inner, call=call: timed_rep(call, inner)[0], once))
    del reference
    if parse_only:
        rep = parse_only.rep_function(corpus.texts)
        timing = Timing("parse-only", corpus.bytes)
        timing.docs = len(corpus.texts)
        plans.append((timing, rep, rep(1)))
    for timing, rep, once in plans:
        if once > SINGLE_CALL_S * 1e9:
            timing.samples, timing.reps, timing.single = [once], 1, True
            log(f"  {timing.loader}: one run of {once / 1e9:.1f} s")
            continue
        if once < SLOW_CALL_S * 1e9:
            once = rep(1)  # a second warm-up call, now with warm caches
        timing.inner = max(1, math.ceil(REP_TARGET_S * 1e9 / once))
        if once > SLOW_CALL_S * 1e9:
            timing.reps, timing.slow = SLOW_REPS, True
        else:
            timing.reps = max(args.min_reps, math.ceil(args.min_time * 1e9 / (once * timing.inner)))
    # The loaders run in interleaved rounds. What ran just before changes a timing (a loader
    # that follows PyYAML or ruamel starts with cold caches), so the order changes from round
    # to round such that every loader directly follows each of the others equally often.
    # The parse-only timer runs in rounds of its own afterwards: placed among the loaders, it
    # slowed whichever loader ran right after it (bench/README.md has the figures), and it has
    # no ratio of its own to protect.
    loader_plans = [plan for plan in plans if plan[0].loader != "parse-only"]
    own_plans = [plan for plan in plans if plan[0].loader == "parse-only"]
    for group in (loader_plans, own_plans):
        rounds = max((t.reps for t, _, _ in group if not t.single), default=0)
        orders = balanced_orders(len(group))
        for r in range(rounds):
            for index in orders[r % len(orders)]:
                timing, rep, _ = group[index]
                if not timing.single and r < timing.reps:
                    timing.samples.append(rep(timing.inner))
    return {t.loader: t for t, _, _ in plans}


# ---- memory ----

def _status(field):
    for line in pathlib.Path("/proc/self/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field} in /proc/self/status")


def memory_probe(path, loader):
    """Run in a fresh process: resident memory around one load of `path` with `loader`
    (corvane for YAML, json for a JSON file). Prints a JSON object."""
    trim = ctypes.CDLL("libc.so.6").malloc_trim
    text = read_text(pathlib.Path(path))
    load = {"corvane": _corvane.load, "json": json.loads}[loader]
    input_bytes = len(text.encode("utf-8"))
    text_size = sys.getsizeof(text)
    gc.collect()
    trim(0)
    pathlib.Path("/proc/self/clear_refs").write_text("5")  # resets the high-water mark
    before = _status("VmRSS")
    value = load(text)
    peak = _status("VmHWM")
    del text
    gc.collect()
    trim(0)
    after = _status("VmRSS")
    result = after - (before - text_size)  # what the value keeps, once the input is gone
    print(json.dumps({
        "input_bytes": input_bytes,
        "result_rss": result,
        "result_objects": deep_size(value),
        "transient_peak": peak - before - result,
    }))


def memory(corpora, workdir, log):
    """(corpus, loader) -> probe figures, for corvane and, on the JSON dump, json."""
    rows = {}
    workdir.mkdir(parents=True, exist_ok=True)
    for corpus in corpora:
        if len(corpus.paths) != 1 or corpus.bytes < MEMORY_MIN_BYTES:
            continue  # resident memory moves in pages and pool arenas: noise at this size
        # The JSON text is written here so that the probe's heap holds nothing of the YAML load.
        dump = workdir / f"{corpus.name}.json"
        dump.write_text(json.dumps(_corvane.load(corpus.texts[0])), encoding="utf-8")
        for loader, path in (("corvane", corpus.paths[0]), ("json", dump)):
            cmd = [sys.executable, __file__, "--memory-probe", str(path), loader]
            out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
            rows[(corpus.name, loader)] = json.loads(out)
        dump.unlink()
        log(f"  memory: {corpus.name}")
    return rows


# ---- the line map ----

def time_lines(corpora, args, log):
    """corpus -> `load` and `load_with_lines` in CPU time, by bench/lines.py's method (the two
    alternate within each repetition), after a check that both give the same value."""
    import lines

    rows = {}
    for corpus in corpora:
        log(f"timing load_with_lines on {corpus.name} ...")
        equal = sum(same(lines.load_with_lines(t)[0], _corvane.load(t)) for t in corpus.texts)
        reps = LINES_REPS_LARGE if corpus.bytes > LINES_LARGE_BYTES else args.lines_reps
        (load_median, load_min), (lines_median, lines_min) = lines.measure(corpus.texts, reps)
        rows[corpus.name] = {"load": (load_median, load_min), "load_with_lines": (lines_median, lines_min),
                             "reps": reps, "equal": equal, "docs": len(corpus.texts)}
    return rows


def lines_table(corpora, rows):
    header = ["corpus", "load", "load_with_lines", "load_with_lines/load", "load (fastest)",
              "load_with_lines (fastest)", "ratio (fastest)", "reps", "same value"]
    out = []
    for corpus in corpora:
        r = rows.get(corpus.name)
        if not r:
            continue
        (lm, lf), (wm, wf) = r["load"], r["load_with_lines"]
        out.append([corpus.name, fmt_time(lm * 1e9), fmt_time(wm * 1e9), f"{wm / lm:.2f}", fmt_time(lf * 1e9),
                    fmt_time(wf * 1e9), f"{wf / lf:.2f}", r["reps"], f"{r['equal']}/{r['docs']}"])
    return table(header, out)


# ---- output ----

def fmt_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}" if ns / scale < 100 else f"{ns / scale:.0f} {unit}"
    return f"{ns:.0f} ns"


def fmt_bytes(n):
    for unit, scale in (("MB", 1 << 20), ("KB", 1 << 10)):
        if n >= scale:
            return f"{n / scale:.3g} {unit}" if n / scale < 100 else f"{n / scale:.0f} {unit}"
    return f"{n} B"


def fmt_ratio(x):
    return "–" if x is None else (f"{x:.2f}" if x < 10 else f"{x:.0f}")


def table(header, rows):
    widths = [max(len(str(c)) for c in col) for col in zip(header, *rows)]
    right = [i > 0 for i in range(len(header))]
    line = lambda cells: "| " + " | ".join(  # noqa: E731
        str(c).rjust(w) if r else str(c).ljust(w) for c, w, r in zip(cells, widths, right)) + " |"
    sep = "|" + "|".join(("-" * (w + 1) + ":") if r else ("-" * (w + 2)) for w, r in zip(widths, right)) + "|"
    return "\n".join([line(header), sep] + [line(r) for r in rows])


def main_table(corpora, results):
    # Time columns for every loader that ran on some corpus; ratio columns: corvane/x for the
    # JSON loaders and marshal (below 1: Corvane is faster), x/corvane for the YAML peers (how
    # many times slower they are).
    ran = {n for r in results.values() for n in r}
    json_side = [n for n in ("json", "orjson", "marshal") if n in ran]
    yaml_side = [n for n in YAML_PEERS if n in ran or n in MISSING]
    title = lambda n: f"{n} (tree only)" if n in TREE_ONLY else n  # noqa: E731
    header = (["corpus", "size", "corvane", "spread", "MB/s", "parse-only", "share", "parse GB/s"]
              + json_side + [title(n) for n in yaml_side]
              + [f"corvane/{n}" for n in json_side] + [f"{n}/corvane" for n in yaml_side])
    rows = []
    for corpus in corpora:
        res = results[corpus.name]
        c = res["corvane"]
        med = lambda n: res[n].median if n in res else None  # noqa: E731

        def cell(n):
            if n not in res:
                return "refused" if (corpus.name, n) in REFUSED else "–"
            t = res[n]
            mark = ("¹" if t.single else "") + ("≠" if t.differs else "")
            return fmt_time(t.median) + mark

        lo, hi = min(c.samples), max(c.samples)
        spread = f"-{100 * (1 - lo / c.median):.0f}/+{100 * (hi / c.median - 1):.0f}%"
        p = res.get("parse-only")
        ratio = lambda a, b: None if a is None or b is None else a / b  # noqa: E731
        rows.append([
            corpus.name, fmt_bytes(corpus.bytes), fmt_time(c.median), spread,
            f"{corpus.bytes / (1 << 20) / (c.median / 1e9):.0f}",
            fmt_time(p.median) if p else "–", f"{100 * p.median / c.median:.0f}%" if p else "–",
            f"{corpus.bytes / (1 << 30) / (p.median / 1e9):.2f}" if p else "–",
        ] + [cell(n) for n in json_side + yaml_side]
            + [fmt_ratio(ratio(c.median, med(n))) for n in json_side]
            + [fmt_ratio(ratio(med(n), c.median)) for n in yaml_side])
    return table(header, rows)


def detail_table(corpora, results):
    header = ["corpus", "loader", "input", "median", "min", "max", "reps × calls", "MB/s", "equal"]
    rows = []
    for corpus in corpora:
        for name, t in results[corpus.name].items():
            rows.append([corpus.name, name, fmt_bytes(t.input_bytes), fmt_time(t.median), fmt_time(min(t.samples)),
                         fmt_time(max(t.samples)), f"{t.reps} × {t.inner}",
                         f"{t.input_bytes / (1 << 20) / (t.median / 1e9):.1f}",
                         "–" if t.equal is None else f"{t.equal}/{t.docs}"])
    return table(header, rows)


def scaling_table(corpora, results):
    sizes = [c for c in corpora if c.name.startswith("config_")]
    if not sizes:
        return None, []
    header = ["corpus", "size", "corvane ns/B", "parse-only ns/B", "json ns/B (YAML bytes)"]
    rows, per_byte = [], {}
    for corpus in sizes:
        res = results[corpus.name]
        # (median, fastest repetition) ns per byte, per loader
        nsb = {k: (t.median / corpus.bytes, min(t.samples) / corpus.bytes)
               for k, t in res.items() if k in ("corvane", "parse-only", "json")}
        per_byte[corpus.name] = nsb
        rows.append([corpus.name, fmt_bytes(corpus.bytes)] +
                    [f"{nsb[k][0]:.2f}" if k in nsb else "–" for k in ("corvane", "parse-only", "json")])
    notes = []
    big, ref = per_byte.get("config_50MB"), per_byte.get("config_1MB")
    if big and ref:
        for key in ("corvane", "parse-only", "json"):
            if key in big and key in ref:
                notes.append(f"ns/byte at 50 MB ÷ ns/byte at 1 MB, {key}: {big[key][0] / ref[key][0]:.2f}"
                             + (" (limit 1.2)" if key == "corvane" else "")
                             + f"; from the fastest repetitions: {big[key][1] / ref[key][1]:.2f}")
    return table(header, rows), notes


def memory_table(corpora, mem):
    header = ["corpus", "input", "value (RSS)", "value (objects)", "corvane peak above value",
              "÷ input", "− input", "json peak above value", "÷ JSON input"]
    rows = []
    for corpus in corpora:
        c = mem.get((corpus.name, "corvane"))
        if not c:
            continue
        j = mem.get((corpus.name, "json"))
        over = c["transient_peak"] - c["input_bytes"]
        rows.append([corpus.name, fmt_bytes(c["input_bytes"]), fmt_bytes(max(c["result_rss"], 0)),
                     fmt_bytes(c["result_objects"]), fmt_bytes(max(c["transient_peak"], 0)),
                     f"{max(c['transient_peak'], 0) / c['input_bytes']:.2f}",
                     ("+" if over > 0 else "-") + fmt_bytes(abs(over)),
                     fmt_bytes(max(j["transient_peak"], 0)) if j else "–",
                     f"{max(j['transient_peak'], 0) / j['input_bytes']:.2f}" if j else "–"])
    return table(header, rows)


def machine():
    info = {}
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            key, _, value = line.partition(":")
            info[key.strip()] = value.strip()
    except OSError:
        pass
    model = info.get("Model name", "unknown CPU")
    if "CPU family" in info:
        model += f" (family {info['CPU family']}, model {info.get('Model', '?')})"
    if "Hypervisor vendor" in info:
        model += f", virtual machine ({info['Hypervisor vendor']})"
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}"


# ---- driver ----

def parse_args(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    names = list(make_corpora.CORPORA) + [REAL_NAME]
    ap.add_argument("--corpora", default=",".join(names),
                    help=f"comma-separated subset of: {', '.join(names)} (default: all)")
    ap.add_argument("--quick", action="store_true", help="skip config_50MB, PyYAML and ruamel; shorter timings")
    ap.add_argument("--no-slow-peers", action="store_true", help="leave PyYAML and ruamel out")
    ap.add_argument("--no-memory", action="store_true", help="skip the memory pass")
    ap.add_argument("--clock", choices=list(CLOCKS), default="wall",
                    help="time repetitions by the wall clock (default) or by the process's CPU time")
    ap.add_argument("--no-lines", action="store_true", help="skip the load_with_lines timing")
    ap.add_argument("--lines-reps", type=int, default=15, help="repetitions of the load_with_lines timing (15)")
    ap.add_argument("--details", action="store_true", help="also print every loader's median, min, max and reps")
    ap.add_argument("--min-time", type=float, default=0.2, help="seconds of timed calls per loader and corpus (0.2)")
    ap.add_argument("--min-reps", type=int, default=5, help="repetitions per loader and corpus, at least (5)")
    ap.add_argument("--data", type=pathlib.Path, default=HERE / "data", help="where the corpora are generated")
    ap.add_argument("--real", type=pathlib.Path, default=REAL,
                    help="the real-world files (default: $CORVANE_SHARED/corpus/real, or ../shared/corpus/real)")
    ap.add_argument("--out", type=pathlib.Path, default=HERE / "out",
                    help="build and scratch folder; the parse-only library is OUT/libparse_only.so")
    ap.add_argument("--markdown", type=pathlib.Path, help="also write the report to this file")
    ap.add_argument("--json", type=pathlib.Path, help="also write the raw figures to this file")
    ap.add_argument("--memory-probe", nargs=2, metavar=("FILE", "LOADER"), help=argparse.SUPPRESS)
    args = ap.parse_args(argv)
    args.names = [n.strip() for n in args.corpora.split(",") if n.strip()]
    unknown = [n for n in args.names if n not in names]
    if unknown:
        ap.error(f"unknown corpus: {', '.join(unknown)}")
    if args.quick:
        args.names = [n for n in args.names if n != "config_50MB"]
        args.no_slow_peers = True
        args.min_time, args.min_reps = min(args.min_time, 0.1), min(args.min_reps, 3)
        args.lines_reps = min(args.lines_reps, 5)
    return args


def main(argv):
    args = parse_args(argv)
    if args.memory_probe:
        return memory_probe(*args.memory_probe)
    report = []

    def log(text=""):
        print(text, file=sys.stderr, flush=True)

    def out(text=""):
        print(text, flush=True)
        report.append(text)

    started = time.time()
    load_start = os.getloadavg()
    generated = [n for n in args.names if n in make_corpora.CORPORA]
    log(f"corpora: generating into {args.data} (kept when already up to date)")
    corpora = [Corpus(p.stem, [read_text(p)], [p]) for p in make_corpora.write(args.data, generated)]
    real_note = None
    global REAL, CLOCK
    REAL = args.real
    CLOCK = CLOCKS[args.clock]
    if REAL_NAME in args.names:
        real, found = real_corpus()
        log(f"{REAL_NAME}: {found}")
        if real:
            corpora.append(real)
            real_note = f"{REAL_NAME}: {found}; timed as a whole, one document after another"
        else:
            real_note = f"{REAL_NAME} skipped: {found}"

    loaders = [n for n in LOADERS if not (args.no_slow_peers and n in SLOW_PEERS)]
    library = args.out / "libparse_only.so"
    parse_only = ParseOnly(library) if library.exists() else None
    if not parse_only:
        log(f"no {library} (bench/run.sh builds it): no parse-only figures")
    results = {}
    for corpus in corpora:
        log(f"timing {corpus.name} ({fmt_bytes(corpus.bytes)}) ...")
        results[corpus.name] = time_corpus(corpus, loaders, parse_only, args, log)
    line_rows = {} if args.no_lines else time_lines(corpora, args, log)
    mem = {}
    if not args.no_memory:
        log("memory pass (one fresh process per measurement) ...")
        mem = memory(corpora, args.out / "memory", log)

    v = versions()
    out("## Corvane benchmark")
    out()
    out(f"- machine: {machine()}")
    out(f"- date: {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}")
    out(f"- Python {v['python']}; orjson {v.get('orjson', '–')}, PyYAML {v.get('yaml', '–')} (CSafeLoader), "
        f"ruamel.yaml {v.get('ruamel.yaml', '–')} (typ='safe', C parser), yaml-rs {v.get('yaml-rs', '–')} "
        f"(loads, last of equal keys wins, dates as strings), ryaml {v.get('ryaml', '–')} (loads), "
        f"rapidyaml {v.get('rapidyaml', '–')} (ryml.parse_in_arena on bytes: a C++ tree, no Python objects)")
    out(f"- load average (1, 5, 15 min): {', '.join(f'{x:.2f}' for x in load_start)} at the start, "
        f"{', '.join(f'{x:.2f}' for x in os.getloadavg())} at the end")
    out(f"- command: bench/run.sh {' '.join(argv)}".rstrip())
    out(f"- clock: {'wall clock' if args.clock == 'wall' else 'CPU time of the process'}")
    out("- times are medians per load of the whole corpus; gc.collect() before and gc disabled during every "
        "timed repetition, for every loader alike; values freed after the clock stops")
    out()
    out(main_table(corpora, results))
    out()
    out("size and MB/s: the YAML input (UTF-8 bytes). spread: min and max repetition against the median. "
        "parse-only: the C++ parser with a sink that builds nothing (bench/parse_only.cpp); share: of the "
        "corvane time. json, orjson, marshal load the same value dumped as JSON (orjson from bytes) or with marshal. "
        "parse GB/s: the YAML input through parse-only (GB = 2^30 bytes). yaml_rs, ryaml: their own typing, a "
        "difference is marked ≠ and does not fail the run; rapidyaml (tree only): builds a C++ tree and no Python "
        "objects, so its value is not compared and its time is not a whole load. "
        "corvane/x: below 1 means corvane is faster; x/corvane: how many times slower x is.")
    notes = []
    for corpus in corpora:
        for name, t in results[corpus.name].items():
            if t.single:
                notes.append(f"¹ {name} on {corpus.name}: one run, not warmed up (a call takes over {SINGLE_CALL_S:.0f} s)")
            if t.differs:
                notes.append(f"≠ {name} on {corpus.name}: {t.equal} of {t.docs} documents equal to Corvane's value"
                             + (f"; first difference (Corvane's first) at {t.difference}" if t.difference else ""))
    for (corpus_name, name), why in REFUSED.items():
        notes.append(f"refused: {name} on {corpus_name}, not timed: {why}")
    for name, why in MISSING.items():
        notes.append(f"{name} left out: cannot be imported ({why})")
    slow = sorted({(c.name, n) for c in corpora for n, t in results[c.name].items()
                   if t.slow})
    if slow:
        notes.append(f"{SLOW_REPS} repetitions only (a call takes over {SLOW_CALL_S:.0f} s): "
                     + ", ".join(f"{n} on {c}" for c, n in slow))
    if real_note:
        notes.append(real_note)
    for note in notes:
        out(f"- {note}")
    if args.details:
        out()
        out("### Every loader")
        out()
        out(detail_table(corpora, results))
    scaling, scaling_notes = scaling_table(corpora, results)
    if scaling:
        out()
        out("### Scaling (config documents)")
        out()
        out(scaling)
        if scaling_notes:
            out()
        for note in scaling_notes:
            out(f"- {note}")
    if line_rows:
        out()
        out("### Line map: load_with_lines against load")
        out()
        out(lines_table(corpora, line_rows))
        out()
        out("CPU time of the process (time.process_time) per load of the whole corpus, load and load_with_lines "
            "taking turns within each repetition (bench/lines.py); median and fastest repetition. same value: "
            "documents whose load_with_lines value equals load's.")
    if mem:
        out()
        out("### Memory (resident, one fresh process per figure)")
        out()
        out(memory_table(corpora, mem))
        out()
        out("value: what the loaded value keeps (RSS after the load with the input freed; objects: sum of "
            "sys.getsizeof). peak above value: the high-water mark during the load above the input and the "
            "finished value, i.e. the loader's working memory; ÷ input and − input: that against the input's size "
            "(the aim: at most the input's size plus a small constant). Documents under "
            f"{MEMORY_MIN_BYTES // 1024} KB and the many-document corpus are left out: resident memory moves in "
            "pages and allocator arenas.")
    mismatched = [(c.name, n) for c in corpora if c.name != REAL_NAME
                  for n, t in results[c.name].items() if t.differs and n not in OWN_TYPING]
    mismatched += [(name, "load_with_lines") for name, r in line_rows.items() if r["equal"] != r["docs"]]
    if mismatched:
        out()
        out("**MISMATCH**: " + ", ".join(f"{n} on {c}" for c, n in mismatched) + " did not return Corvane's value")
    log(f"done in {time.time() - started:.0f} s")
    if args.markdown:
        args.markdown.write_text("\n".join(report) + "\n")
    if args.json:
        args.json.write_text(json.dumps({
            "timings": {c: {n: {"samples_ns": t.samples, "inner": t.inner, "input_bytes": t.input_bytes,
                                "equal": t.equal, "docs": t.docs} for n, t in r.items()} for c, r in results.items()},
            "memory": {f"{c}/{n}": m for (c, n), m in mem.items()},
            "lines": line_rows,
            "clock": args.clock,
            "load_average": {"start": load_start, "end": list(os.getloadavg())},
            "refused": {f"{c}/{n}": why for (c, n), why in REFUSED.items()},
            "bytes": {c.name: c.bytes for c in corpora},
        }, indent=1))
    return 1 if mismatched else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
