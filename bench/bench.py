"""The benchmark: Corvane's `load`, `load_with_lines` and `dump` beside json, orjson, marshal,
PyYAML, ruamel.yaml, yaml-rs, ryaml and rapidyaml on the same data, with two figures of Corvane's
own: the C++ parser alone (parse-only) and the Python builder alone (replay).

    python bench/bench.py [--quick] [--corpora NAME,...] [--gc on|off|both] [--clock wall|cpu] ...

bench/run.sh installs the peers and Corvane and runs this. Every value is checked before
anything is timed; bench/README.md says what each figure measures and how to read the tables.
"""

import argparse
import ctypes
import datetime
import functools
import gc
import importlib.machinery
import importlib.util
import json
import marshal
import math
import os
import pathlib
import platform
import shutil
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(HERE))

import chart  # noqa: E402
import make_corpora  # noqa: E402

import _corvane  # noqa: E402
from corvane import _native  # noqa: E402

# The shared data beside the repository, or where CORVANE_SHARED points (as the tests read it).
REAL = pathlib.Path(os.environ.get("CORVANE_SHARED") or REPO.parent / "shared") / "corpus" / "real"
REAL_NAME = "real_world"

REP_TARGET_S = 0.020  # one repetition runs enough calls to last this long
SLOW_CALL_S = 1.0  # a call longer than this gets SLOW_REPS repetitions
SLOW_REPS = 3
LONE_CALL_S = 10.0  # and one longer than this a single one
MEMORY_MIN_BYTES = 64 * 1024  # smaller documents are left out of the memory pass
PYYAML_DUMP_MAX_BYTES = 10 << 20  # PyYAML's writer is left out above this size

# What a repetition is timed with: the wall clock, or the process's CPU time, which other
# programs on a shared machine disturb far less.
CLOCKS = {"wall": time.perf_counter_ns, "cpu": time.process_time_ns}
CLOCK = CLOCKS["wall"]
# The cyclic garbage collector during a timed repetition: "off" (disabled) or "on" (as a
# program has it by default). Every figure that makes Python objects is timed in each mode
# asked for, as a unit of its own in the rounds; "on" comes first in the tables, as it is what
# programs see.
GC_MODES = ("on", "off")

LOADERS = ["json.loads", "orjson.loads", "marshal.loads", "PyYAML", "ruamel", "yaml_rs", "ryaml", "rapidyaml"]
SLOW_PEERS = ("PyYAML", "ruamel", "PyYAML dump")
OWN_TYPING = ("yaml_rs", "ryaml")  # YAML peers whose typing may differ from Corvane's: marked, never failed
TREE_ONLY = ("rapidyaml",)  # builds a C++ tree and no Python objects: nothing to compare
WRITERS = ["json.dumps", "orjson.dumps", "PyYAML dump"]
REFUSED = {}  # (corpus, figure) -> why a peer that raised was not timed
MISSING = {}  # peer -> why it could not be imported
NOTES = []  # what the report should say about particular figures


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


# ---- corpora ----

class Corpus:
    """One timed unit: a single document, or many documents loaded one after the other."""

    def __init__(self, name, texts, paths):
        self.name, self.texts, self.paths = name, texts, paths
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


# ---- what is timed ----

def build_native(out):
    """Builds the C++ parts (bench/CMakeLists.txt) with CMake into OUT/build, with this
    interpreter, and returns the folder that holds them; CMake rebuilds only what changed."""
    build = out / "build"
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    quiet = dict(check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "-S", str(REPO), "-B", str(build), *generator, "-DCMAKE_BUILD_TYPE=Release",
                    "-DCORVANE_BENCH=ON", f"-DPython_EXECUTABLE={sys.executable}"], **quiet)
    subprocess.run(["cmake", "--build", str(build), "-j2", "--target", "parse_only", "parse_only_library",
                    "_replay"], **quiet)
    return build / "bench"


class Native:
    """The C++ parts: parse-only as a library, and the replay module."""

    def __init__(self, folder):
        self.library = ctypes.CDLL(str(folder / "libparse_only.so"))
        self.library.corvane_parse_passes.argtypes = [
            ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t), ctypes.c_size_t, ctypes.c_long,
            ctypes.POINTER(ctypes.c_uint64)]
        self.library.corvane_parse_passes.restype = ctypes.c_long
        path = next(folder.glob("_replay*.so"))
        loader = importlib.machinery.ExtensionFileLoader("_replay", str(path))
        self.replay = importlib.util.module_from_spec(
            importlib.util.spec_from_file_location("_replay", str(path), loader=loader))
        loader.exec_module(self.replay)


def peers():
    """name -> (make the inputs from the texts and Corvane's values, load one input). A peer that
    cannot be imported is left out and noted in MISSING."""
    import orjson
    import yaml
    from ruamel.yaml import YAML

    ruamel = YAML(typ="safe", pure=False)
    ruamel.allow_duplicate_keys = True  # as Corvane's default: the later value wins
    as_yaml = lambda texts, values: list(texts)  # noqa: E731
    table = {
        # The JSON documents are json.dumps' default output (ASCII, escapes for the rest).
        "json.loads": (lambda texts, values: [json.dumps(v) for v in values], json.loads),
        # orjson gets bytes, its natural input: given a str that is not ASCII it would reuse the
        # str's cached UTF-8 copy from the second call on, and so skip work the others do.
        "orjson.loads": (lambda texts, values: [json.dumps(v).encode() for v in values], orjson.loads),
        "marshal.loads": (lambda texts, values: [marshal.dumps(v) for v in values], marshal.loads),
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

        # bytes, its natural input; the text is copied into the tree's arena and parsed there,
        # and the tree is all it makes.
        table["rapidyaml"] = (lambda texts, values: [t.encode() for t in texts], ryml.parse_in_arena)
    except ImportError as exc:
        MISSING["rapidyaml"] = str(exc)
    return table


def writers():
    """name -> (write one value, read one output back)."""
    import orjson
    import yaml

    def pyyaml_dump(value):
        return yaml.dump(value, Dumper=yaml.CSafeDumper, sort_keys=False, allow_unicode=True)

    return {
        "dump": (_native.dump, lambda text: _corvane.load(text, strict=True)),
        "json.dumps": (json.dumps, json.loads),
        "orjson.dumps": (orjson.dumps, orjson.loads),
        "PyYAML dump": (pyyaml_dump, lambda text: yaml.load(text, Loader=yaml.CSafeLoader)),
    }


class Figure:
    """One thing timed on one corpus: `rep(inner, collector)` gives ns per pass over the corpus."""

    def __init__(self, name, rep, input_bytes, docs, modes):
        self.name, self.rep, self.input_bytes, self.docs = name, rep, input_bytes, docs
        self.samples = {mode: [] for mode in modes}
        self.once = None  # ns of the first call
        self.inner, self.reps = 1, 0
        self.equal = None  # documents whose value is Corvane's (None: not compared)
        self.difference = None  # where the first unequal document differs

    @property
    def differs(self):
        return self.equal is not None and self.equal != self.docs

    def median(self, mode):
        samples = self.samples.get(mode) or next(iter(self.samples.values()))
        return statistics.median(samples)


class Figures(dict):
    """A corpus's figures by name; `corpus` is its name."""

    corpus = ""


def timed_rep(call, inner, collector):
    """ns per call over `inner` calls. The values are kept until the clock stops, so freeing
    them is not timed; gc.collect() runs before, and the collector is off during unless
    `collector`."""
    kept = [None] * inner
    gc.collect()
    if not collector:
        gc.disable()
    try:
        start = CLOCK()
        for i in range(inner):
            kept[i] = call()
        elapsed = CLOCK() - start
    finally:
        gc.enable()
    return elapsed / inner, kept


def python_figure(corpus, name, function, inputs, modes, expected, read=lambda output: output):
    """The figure of `function` over `inputs`, after one checked call: each output, through
    `read`, against `expected` (None: not compared). None when the call raises."""
    only = inputs[0]
    call = (lambda: function(only)) if len(inputs) == 1 else (lambda: list(map(function, inputs)))
    try:
        once, (outputs,) = timed_rep(call, 1, False)
    except Exception as exc:  # noqa: BLE001 - a peer that refuses a document is reported, not timed
        bad = next((i for i, x in enumerate(inputs) if raises(function, x)), None)
        where = f"document {bad + 1} of {len(inputs)}: " if len(inputs) > 1 and bad is not None else ""
        REFUSED[(corpus.name, name)] = f"{where}{type(exc).__name__}: {short(str(exc), 80)}"
        return None
    size = (sum(len(x.encode()) if isinstance(x, str) else len(x) for x in inputs)
            if isinstance(only, (str, bytes)) else corpus.bytes)  # a value or a recording: the YAML's size
    figure = Figure(name, lambda inner, collector: timed_rep(call, inner, collector)[0], size, len(inputs), modes)
    if expected is not None:
        outputs = [read(o) for o in (outputs if len(inputs) > 1 else [outputs])]
        figure.equal = sum(same(o, e) for o, e in zip(outputs, expected))
        if figure.differs:
            figure.difference = next(first_difference(e, o) for o, e in zip(outputs, expected) if not same(o, e))
    figure.once = once
    return figure


def raises(function, argument):
    try:
        function(argument)
    except Exception:  # noqa: BLE001
        return True
    return False


def parse_only_figure(corpus, library):
    """The C++ parser over the null sink, as a library: its passes run in C++, and build no
    Python object, so the collector does not matter: timed with it off only."""
    passes = library.corvane_parse_passes
    blobs = [t.encode("utf-8") for t in corpus.texts]  # what load() hands the parser
    pointers = (ctypes.c_char_p * len(blobs))(*blobs)
    sizes = (ctypes.c_size_t * len(blobs))(*map(len, blobs))
    digest = ctypes.c_uint64()

    def rep(inner, collector):
        gc.collect()
        gc.disable()
        try:
            start = CLOCK()
            failed = passes(pointers, sizes, len(blobs), inner, ctypes.byref(digest))
            elapsed = CLOCK() - start
        finally:
            gc.enable()
        if failed:
            raise RuntimeError(f"the parser refused document {failed} of {corpus.name}")
        return elapsed / inner

    figure = Figure("parse-only", rep, corpus.bytes, len(blobs), ("off",))
    figure.blobs = blobs  # the pointers above point into these
    figure.once = rep(1, False)
    return figure


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


def time_rounds(figures, args):
    """Times the figures in interleaved rounds, each (figure, collector mode) a unit, so that a
    change in the machine's load hits them all alike. What ran just before changes a timing (a
    loader that follows PyYAML starts with cold caches), so the order changes from round to
    round such that every unit directly follows each of the others equally often."""
    for figure in figures:
        once = figure.once
        if once < SLOW_CALL_S * 1e9:
            once = figure.rep(1, False)  # a second warm-up call, now with warm caches
        figure.inner = max(1, math.ceil(REP_TARGET_S * 1e9 / once))
        figure.reps = (1 if once > LONE_CALL_S * 1e9 else SLOW_REPS if once > SLOW_CALL_S * 1e9 else
                       max(args.min_reps, math.ceil(args.min_time * 1e9 / (once * figure.inner))))
    units = [(figure, mode) for figure in figures for mode in figure.samples]
    orders = balanced_orders(len(units))
    for r in range(max((f.reps for f in figures), default=0)):
        for index in orders[r % len(orders)]:
            figure, mode = units[index]
            if r < figure.reps:
                figure.samples[mode].append(figure.rep(figure.inner, mode == "on"))


def time_corpus(corpus, args, native):
    """corpus -> figure name -> Figure: the loaders, load_with_lines and the replay in one set
    of rounds, the writers in a second and parse-only in a third. Parse-only has rounds of its
    own because, placed among the loaders, it slowed whichever loader ran right after it."""
    modes = args.modes
    values = [_corvane.load(t) for t in corpus.texts]
    loads = [python_figure(corpus, "load", _corvane.load, corpus.texts, modes, values),
             python_figure(corpus, "load_with_lines", _native.load_with_lines, corpus.texts, modes, values,
                           read=lambda output: output[0])]
    recordings = [native.replay.record(t) for t in corpus.texts]
    loads.append(python_figure(corpus, "replay", native.replay.replay, recordings, modes, values))
    table = peers()
    for name in args.loaders:
        if name in table:
            make_inputs, load = table[name]
            loads.append(python_figure(corpus, name, load, make_inputs(corpus.texts, values), modes,
                                       None if name in TREE_ONLY else values))
    writes = []
    for name, (write, read) in writers().items():
        if name not in args.writers or (name == "PyYAML dump" and corpus.bytes > PYYAML_DUMP_MAX_BYTES):
            continue
        figure = python_figure(corpus, name, write, values, modes, values, read)
        if figure is None and name == "orjson.dumps":  # orjson writes keys that are not str only when asked
            import orjson

            del REFUSED[(corpus.name, name)]
            NOTES.append(f"orjson.dumps on {corpus.name}: with OPT_NON_STR_KEYS (some keys are not strings)")
            figure = python_figure(corpus, name, functools.partial(orjson.dumps, option=orjson.OPT_NON_STR_KEYS),
                                   values, modes, values, read)
        writes.append(figure)
    del values
    groups = [[f for f in group if f] for group in (loads, writes, [parse_only_figure(corpus, native.library)])]
    for group in groups:
        time_rounds(group, args)
    figures = Figures({f.name: f for group in groups for f in group})
    figures.corpus = corpus.name
    NOTES.extend(f"{f.name} on {corpus.name}: {f.reps} repetition(s) per collector mode (a call takes over "
                 f"{SLOW_CALL_S:.0f} s)" for f in figures.values() if f.reps < args.min_reps)
    return figures


def mismatches(corpus, figures):
    """The figures whose values must be Corvane's and are not: every check but the YAML
    peers' of their own typing, and on the real-world files only Corvane's own figures."""
    own = ("load_with_lines", "replay", "dump")
    return [name for name, f in figures.items() if f.differs and name not in OWN_TYPING
            and (corpus.name != REAL_NAME or name in own)]


# ---- memory ----

def memory_probe(path, loader):
    """Run in a fresh process: resident memory around one load of `path` with `loader`
    (`load` for YAML, `json` for a JSON file). Prints a JSON object."""

    def status(field):
        line = next(x for x in pathlib.Path("/proc/self/status").read_text().splitlines() if x.startswith(field + ":"))
        return int(line.split()[1]) * 1024

    trim = ctypes.CDLL("libc.so.6").malloc_trim
    text = read_text(pathlib.Path(path))
    load = {"load": _corvane.load, "json": json.loads}[loader]
    input_bytes, text_size = len(text.encode("utf-8")), sys.getsizeof(text)
    gc.collect()
    trim(0)
    pathlib.Path("/proc/self/clear_refs").write_text("5")  # resets the high-water mark
    before = status("VmRSS")
    value = load(text)
    peak = status("VmHWM")
    del text
    gc.collect()
    trim(0)
    kept = status("VmRSS") - (before - text_size)  # what the value keeps, once the input is gone
    print(json.dumps({"input_bytes": input_bytes, "kept": kept, "working": peak - before - kept}))
    del value


def memory(corpora, workdir, log):
    """(corpus, loader) -> the probe's figures, for `load` and, on the JSON dump, json.loads."""
    rows = {}
    workdir.mkdir(parents=True, exist_ok=True)
    for corpus in corpora:
        if len(corpus.paths) != 1 or corpus.bytes < MEMORY_MIN_BYTES:
            continue  # resident memory moves in pages and pool arenas: noise at this size
        # The JSON text is written here so that the probe's heap holds nothing of the YAML load.
        dump = workdir / f"{corpus.name}.json"
        dump.write_text(json.dumps(_corvane.load(corpus.texts[0])), encoding="utf-8")
        for loader, path in (("load", corpus.paths[0]), ("json", dump)):
            out = subprocess.run([sys.executable, __file__, "--memory-probe", str(path), loader],
                                 check=True, capture_output=True, text=True).stdout
            rows[(corpus.name, loader)] = json.loads(out)
        dump.unlink()
        log(f"  memory: {corpus.name}")
    return rows


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


def table(header, rows, left=1):
    """A Markdown table, its first `left` columns aligned left and the others right."""
    widths = [max(len(str(c)) for c in col) for col in zip(header, *rows)]
    line = lambda cells: "| " + " | ".join(  # noqa: E731
        str(c).rjust(w) if i >= left else str(c).ljust(w) for i, (c, w) in enumerate(zip(cells, widths))) + " |"
    sep = "|" + "|".join(("-" * (w + 1) + ":") if i >= left else ("-" * (w + 2)) for i, w in enumerate(widths)) + "|"
    return "\n".join([line(header), sep] + [line(r) for r in rows])


class Report:
    """The tables, one row per corpus and collector mode."""

    def __init__(self, corpora, results, modes):
        self.corpora, self.results, self.modes = corpora, results, modes

    def rows(self, header, cells):
        """A table of `cells(figures, mode)` per corpus and mode, led by the corpus and mode."""
        rows = [[c.name, mode] + cells(self.results[c.name], mode) for c in self.corpora for mode in self.modes]
        return table(["corpus", "gc"] + header, rows, left=2)

    @staticmethod
    def time(figures, name, mode):
        if name not in figures:
            return "refused" if (figures.corpus, name) in REFUSED else "–"
        figure = figures[name]
        return fmt_time(figure.median(mode)) + ("≠" if figure.differs else "")

    @staticmethod
    def ratio(figures, a, b, mode):
        if a not in figures or b not in figures:
            return "–"
        return fmt_ratio(figures[a].median(mode) / figures[b].median(mode))

    def glance(self):
        return self.rows(
            ["size", "load/json.loads", "load/orjson.loads", "replay/load", "load_with_lines/load", "dump/json.dumps"],
            lambda f, m: [fmt_bytes(f["load"].input_bytes)]
            + [self.ratio(f, a, b, m) for a, b in (("load", "json.loads"), ("load", "orjson.loads"),
                                                   ("replay", "load"), ("load_with_lines", "load"),
                                                   ("dump", "json.dumps"))])

    def loaders(self, names):
        def spread(figure, mode):
            samples, median = figure.samples[mode], figure.median(mode)
            return f"-{100 * (1 - min(samples) / median):.0f}/+{100 * (max(samples) / median - 1):.0f}%"

        title = lambda n: f"{n} (tree only)" if n in TREE_ONLY else n  # noqa: E731
        return self.rows(
            ["size", "load", "spread", "MB/s"] + [title(n) for n in names],
            lambda f, m: [fmt_bytes(f["load"].input_bytes), self.time(f, "load", m), spread(f["load"], m),
                          f"{f['load'].input_bytes / (1 << 20) / (f['load'].median(m) / 1e9):.0f}"]
            + [self.time(f, n, m) for n in names])

    def loader_ratios(self, names):
        faster = [n for n in names if n in ("json.loads", "orjson.loads", "marshal.loads")]
        slower = [n for n in names if n not in faster]
        return self.rows(
            [f"load/{n}" for n in faster] + [f"{n}/load" for n in slower],
            lambda f, m: [self.ratio(f, "load", n, m) for n in faster] + [self.ratio(f, n, "load", m) for n in slower])

    def where(self):
        def parse(f, m):
            if "parse-only" not in f:
                return ["–"] * 3
            p = f["parse-only"].median(m)
            return [fmt_time(p), f"{100 * p / f['load'].median(m):.0f}%",
                    f"{f['load'].input_bytes / (1 << 30) / (p / 1e9):.2f}"]

        return self.rows(["load", "parse-only", "share", "parse GB/s", "replay", "replay/load", "replay/orjson.loads"],
                         lambda f, m: [self.time(f, "load", m)] + parse(f, m)
                         + [self.time(f, "replay", m), self.ratio(f, "replay", "load", m),
                            self.ratio(f, "replay", "orjson.loads", m)])

    def lines(self):
        return self.rows(["load", "load_with_lines", "load_with_lines/load", "same value"],
                         lambda f, m: [self.time(f, "load", m), self.time(f, "load_with_lines", m),
                                       self.ratio(f, "load_with_lines", "load", m),
                                       f"{f['load_with_lines'].equal}/{f['load_with_lines'].docs}"])

    def writers(self, names):
        return self.rows(["dump"] + names + ["dump/json.dumps", "dump/orjson.dumps", "PyYAML dump/dump"],
                         lambda f, m: [self.time(f, "dump", m)] + [self.time(f, n, m) for n in names]
                         + [self.ratio(f, "dump", "json.dumps", m), self.ratio(f, "dump", "orjson.dumps", m),
                            self.ratio(f, "PyYAML dump", "dump", m)])

    def scaling(self):
        sizes = [c for c in self.corpora if c.name.startswith("config_")]
        names = ("load", "parse-only", "json.loads")
        rows = [[c.name, mode] + [f"{self.results[c.name][n].median(mode) / c.bytes:.2f}"
                                  if n in self.results[c.name] else "–" for n in names]
                for c in sizes for mode in self.modes]
        return table(["corpus", "gc"] + [f"{n} ns/B" for n in names], rows, left=2) if len(sizes) > 1 else None

    def details(self):
        rows = [[c.name, mode, name, fmt_bytes(f.input_bytes), fmt_time(f.median(mode)), fmt_time(min(f.samples[mode])),
                 fmt_time(max(f.samples[mode])), f"{f.reps} × {f.inner}", "–" if f.equal is None else f"{f.equal}/{f.docs}"]
                for c in self.corpora for name, f in self.results[c.name].items() for mode in f.samples]
        return table(["corpus", "gc", "figure", "input", "median", "min", "max", "reps × calls", "equal"], rows, left=3)


def memory_table(corpora, mem):
    rows = []
    for corpus in corpora:
        c, j = mem.get((corpus.name, "load")), mem.get((corpus.name, "json"))
        if c and j:
            rows.append([corpus.name, fmt_bytes(c["input_bytes"]), fmt_bytes(max(c["kept"], 0)),
                         fmt_bytes(max(c["working"], 0)), f"{max(c['working'], 0) / c['input_bytes']:.2f}",
                         fmt_bytes(max(j["working"], 0)), f"{max(j['working'], 0) / j['input_bytes']:.2f}"])
    return table(["corpus", "input", "value", "load working", "÷ input", "json.loads working", "÷ JSON input"], rows)


def versions():
    from importlib import metadata

    found = {}
    for package in ("orjson", "PyYAML", "ruamel.yaml", "yaml-rs", "ryaml", "rapidyaml"):
        try:
            found[package] = metadata.version(package)
        except metadata.PackageNotFoundError:
            found[package] = "–"
    return found


def machine():
    info = {}
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            key, _, value = line.partition(":")
            info[key.strip()] = value.strip()
    except OSError:
        pass
    model = info.get("Model name", "unknown CPU")
    if "Hypervisor vendor" in info:
        model += f", virtual machine ({info['Hypervisor vendor']})"
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}"


# ---- driver ----

def parse_args(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    names = list(make_corpora.CORPORA) + [REAL_NAME]
    ap.add_argument("--corpora", default=",".join(names), help=f"comma-separated subset of: {', '.join(names)}")
    ap.add_argument("--quick", action="store_true", help="no config_50MB, no PyYAML or ruamel, shorter timings")
    ap.add_argument("--no-slow-peers", action="store_true", help="leave PyYAML and ruamel out")
    ap.add_argument("--no-memory", action="store_true", help="skip the memory pass")
    ap.add_argument("--gc", choices=["off", "on", "both"], default="both",
                    help="the cyclic garbage collector during the timed calls (default both, a row each)")
    ap.add_argument("--clock", choices=list(CLOCKS), default="wall",
                    help="time repetitions by the wall clock (default) or by the process's CPU time")
    ap.add_argument("--details", action="store_true", help="also print every figure's median, min, max and reps")
    ap.add_argument("--min-time", type=float, default=0.2, help="seconds of timed calls per figure and corpus (0.2)")
    ap.add_argument("--min-reps", type=int, default=5, help="repetitions per figure and corpus, at least (5)")
    ap.add_argument("--data", type=pathlib.Path, default=HERE / "data", help="where the corpora are generated")
    ap.add_argument("--real", type=pathlib.Path, default=REAL,
                    help="the real-world files (default: $CORVANE_SHARED/corpus/real, or ../shared/corpus/real)")
    ap.add_argument("--out", type=pathlib.Path, default=HERE / "out", help="the C++ build and scratch files")
    ap.add_argument("--markdown", type=pathlib.Path, help="also write the report to this file")
    ap.add_argument("--json", type=pathlib.Path, help="also write the raw samples to this file")
    ap.add_argument("--chart", type=pathlib.Path,
                    help="also draw each loader's time against json.loads's, collector on, as an SVG")
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
    args.modes = GC_MODES if args.gc == "both" else (args.gc,)
    args.loaders = [n for n in LOADERS if not (args.no_slow_peers and n in SLOW_PEERS)]
    args.writers = ["dump"] + [n for n in WRITERS if not (args.no_slow_peers and n in SLOW_PEERS)]
    return args


def chart_svg(corpora, results, modes):
    """The chart of the loaders (whole loads only) against json.loads, with the collector on
    where that mode ran."""
    mode = "on" if "on" in modes else modes[0]
    names = ["load"] + [n for n in LOADERS if n not in ("json.loads", "marshal.loads") and n not in TREE_ONLY]
    series = {}
    for name in names:
        ratios = {c.name: results[c.name][name].median(mode) / results[c.name]["json.loads"].median(mode)
                  for c in corpora if name in results[c.name] and "json.loads" in results[c.name]}
        if ratios:
            series["Corvane load" if name == "load" else name] = ratios
    title = f"Time against json.loads, collector {mode} (Python {platform.python_version()}; left of 1× is faster)"
    return chart.svg(title, [c.name for c in corpora if "json.loads" in results[c.name]], series)


def main(argv):
    global REAL, CLOCK
    args = parse_args(argv)
    if args.memory_probe:
        return memory_probe(*args.memory_probe)
    report = []

    def log(text=""):
        print(text, file=sys.stderr, flush=True)

    def out(text=""):
        print(text, flush=True)
        report.append(text)

    started, load_start = time.time(), os.getloadavg()
    REAL, CLOCK = args.real, CLOCKS[args.clock]
    log(f"building the C++ parts into {args.out / 'build'} (CMake)")
    native = Native(build_native(args.out))
    log(f"corpora: generating into {args.data} (kept when already up to date)")
    generated = [n for n in args.names if n in make_corpora.CORPORA]
    corpora = [Corpus(p.stem, [read_text(p)], [p]) for p in make_corpora.write(args.data, generated)] if generated else []
    if REAL_NAME in args.names:
        real, found = real_corpus()
        log(f"{REAL_NAME}: {found}")
        NOTES.append(f"{REAL_NAME}: {found}; timed as a whole, one document after another" if real
                     else f"{REAL_NAME} skipped: {found}")
        corpora += [real] if real else []
    results = {}
    for corpus in corpora:
        log(f"timing {corpus.name} ({fmt_bytes(corpus.bytes)}) ...")
        results[corpus.name] = time_corpus(corpus, args, native)
    mem = {}
    if not args.no_memory:
        log("memory pass (one fresh process per figure) ...")
        mem = memory(corpora, args.out / "memory", log)

    v = versions()
    r = Report(corpora, results, args.modes)
    ran = {name for figures in results.values() for name in figures}
    loader_names = [n for n in LOADERS if n in ran or n in MISSING]
    out("## Corvane benchmark")
    out()
    out(f"- machine: {machine()}; Python {platform.python_version()}")
    out(f"- date: {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}; command: bench/run.sh {' '.join(argv)}".rstrip())
    out(f"- load average (1, 5, 15 min): {', '.join(f'{x:.2f}' for x in load_start)} at the start, "
        f"{', '.join(f'{x:.2f}' for x in os.getloadavg())} at the end")
    out("- peers: " + ", ".join(f"{p} {v[p]}" for p in v))
    out(f"- clock: {'wall clock' if args.clock == 'wall' else 'CPU time of the process'}; gc: the cyclic "
        "collector during the timed calls (off: disabled; on: as a program has it), gc.collect() before each "
        "repetition; times are medians per pass over the corpus, values freed after the clock stops")
    sections = [("At a glance", r.glance()), ("Loaders", r.loaders(loader_names)),
                ("Loaders against load", r.loader_ratios(loader_names)), ("Where load's time goes", r.where()),
                ("load_with_lines against load", r.lines()),
                ("Writers", r.writers([n for n in WRITERS if n in ran])), ("Scaling", r.scaling())]
    if mem:
        sections.append(("Memory (resident, one fresh process per figure)", memory_table(corpora, mem)))
    if args.details:
        sections.append(("Every figure", r.details()))
    for title, text in sections:
        if text:
            out()
            out(f"### {title}")
            out()
            out(text)
    notes = list(NOTES)
    for corpus in corpora:
        for name, f in results[corpus.name].items():
            if f.differs:
                notes.append(f"≠ {name} on {corpus.name}: {f.equal} of {f.docs} values equal to Corvane's; first "
                             f"difference (Corvane's first) at {f.difference}")
    notes += [f"refused: {name} on {corpus}, not timed: {why}" for (corpus, name), why in REFUSED.items()]
    notes += [f"{name} left out: cannot be imported ({why})" for name, why in MISSING.items()]
    out()
    for note in notes:
        out(f"- {note}")
    failed = [f"{name} on {c.name}" for c in corpora for name in mismatches(c, results[c.name])]
    if failed:
        out()
        out("**MISMATCH**: " + ", ".join(failed) + " did not give Corvane's value")
    log(f"done in {time.time() - started:.0f} s")
    if args.markdown:
        args.markdown.write_text("\n".join(report) + "\n")
    if args.chart:
        args.chart.write_text(chart_svg(corpora, results, args.modes))
    if args.json:
        args.json.write_text(json.dumps({
            "figures": {c: {n: {"samples_ns": f.samples, "inner": f.inner, "input_bytes": f.input_bytes,
                                "equal": f.equal, "docs": f.docs} for n, f in figures.items()}
                        for c, figures in results.items()},
            "memory": {f"{c}/{n}": m for (c, n), m in mem.items()},
            "bytes": {c.name: c.bytes for c in corpora}, "clock": args.clock,
            "load_average": {"start": load_start, "end": list(os.getloadavg())},
        }, indent=1))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
