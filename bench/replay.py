"""The floor of object building: how long the Python builder alone takes for a corpus, against
orjson.loads, json.loads and marshal.loads of the same value, and against load itself.

bench/replay.cpp is built (with g++, from the extension's own sources) into bench/out/replay/;
it records the sink calls of one parse, and replays them into the builder without scanning.
The replay's own cost (one switch and a few vector slots per call) is included, so the
build-only time is a little above the builder's true share of load.

    python bench/replay.py [--corpora A,B] [--rounds N] [--real DIR]

Times are CPU-time medians per load of the whole corpus, over N interleaved rounds (each
round runs every loader once, for at least 20 ms, in a rotating order). Run from a venv where
corvane (or PYTHONPATH=build dir) and orjson can be imported.
"""

import argparse
import gc
import importlib.machinery
import importlib.util
import json
import marshal
import os
import pathlib
import statistics
import subprocess
import sys
import sysconfig
import time

REPO = pathlib.Path(__file__).resolve().parent.parent
OUT = REPO / "bench" / "out" / "replay"
SOURCES = ["src/text/utf8.cpp", "src/scalar/scalar.cpp", "src/flow/flow.cpp",
           "src/parser/feed/feed.cpp", "src/parser/scan/scan.cpp", "src/parser/block/block.cpp",
           "src/python/builder.cpp", "bench/replay.cpp"]
CONFIGS = ["config_1KB", "config_100KB", "config_1MB", "config_50MB", "flow_long_lines",
           "deep_nesting", "long_block_scalars", "quoted_escapes", "unicode_text"]


def build():
    target = OUT / "_replay.abi3.so"
    deps = [REPO / s for s in SOURCES] + list((REPO / "src").rglob("*.hpp"))
    if target.exists() and all(d.stat().st_mtime <= target.stat().st_mtime for d in deps):
        return target
    OUT.mkdir(parents=True, exist_ok=True)
    include = sysconfig.get_paths()["include"]
    command = [os.environ.get("CXX", "g++"), "-std=c++23", "-O3", "-DNDEBUG", "-fPIC", "-shared",
               "-fvisibility=hidden", "-fno-plt", "-DPy_LIMITED_API=0x030A0000", f"-I{include}",
               f"-I{REPO / 'src'}", *[str(REPO / s) for s in SOURCES], "-o", str(target)]
    print("building", target, file=sys.stderr)
    subprocess.run(command, check=True)
    return target


def load_module(name, path):
    loader = importlib.machinery.ExtensionFileLoader(name, str(path))
    spec = importlib.util.spec_from_file_location(name, str(path), loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def corpora(names, real_dir):
    data = REPO / "bench" / "data"
    wanted = [n for n in names if n != "real_world"]
    missing = [n for n in wanted if not (data / f"{n}.yaml").exists()]
    if missing:
        subprocess.run([sys.executable, str(REPO / "bench" / "make_corpora.py"), str(data),
                        *missing], check=True)
    result = {n: [(data / f"{n}.yaml").read_bytes().decode("utf-8")] for n in wanted}
    if "real_world" in names and real_dir.is_dir():
        import _corvane
        texts = []
        for path in sorted(p for p in real_dir.rglob("*") if p.is_file()
                           and p.name not in ("MANIFEST.tsv", "README.md")):
            try:
                text = path.read_bytes().decode("utf-8")
                _corvane.load(text)
            except (UnicodeDecodeError, _corvane.CorvaneError):
                continue
            texts.append(text)
        result["real_world"] = texts
    return result


def time_rounds(loaders, rounds):
    """name -> median CPU seconds per call of `fn(all inputs)`."""
    samples = {name: [] for name in loaders}
    calls = {}
    for name, fn in loaders.items():
        fn()
        start = time.process_time()
        fn()
        one = max(time.process_time() - start, 1e-6)
        calls[name] = max(1, int(0.02 / one))
    names = list(loaders)
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            fn, n = loaders[name], calls[name]
            gc.collect()
            gc.disable()
            kept = []
            start = time.process_time()
            for _ in range(n):
                kept.append(fn())
            elapsed = time.process_time() - start
            gc.enable()
            del kept
            samples[name].append(elapsed / n)
    return {name: statistics.median(s) for name, s in samples.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--corpora", default=",".join(CONFIGS[:3] + ["real_world"]))
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--real", type=pathlib.Path,
                        default=REPO.parent / "shared" / "corpus" / "real")
    parser.add_argument("--counts", action="store_true", help="print the sink calls per corpus")
    args = parser.parse_args()
    import _corvane
    import orjson
    replay = load_module("_replay", build())
    names = args.corpora.split(",")
    print("| corpus | load | build-only | orjson | json | marshal | build/orjson | build/json "
          "| load/orjson | load/json |")
    print("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    for name, texts in corpora(names, args.real).items():
        values = [_corvane.load(t) for t in texts]
        recordings = [replay.record(t) for t in texts]
        for recording, value in zip(recordings, values):
            if replay.replay(recording) != value:
                sys.exit(f"{name}: the replay built a different value")
        if args.counts:
            total = {}
            for recording in recordings:
                for k, v in replay.counts(recording).items():
                    total[k] = total.get(k, 0) + v
            print(name, total, file=sys.stderr)
        json_texts = [json.dumps(v) for v in values]
        json_bytes = [orjson.dumps(v, option=orjson.OPT_NON_STR_KEYS) for v in values]
        marshals = [marshal.dumps(v) for v in values]
        load, do_replay = _corvane.load, replay.replay
        loaders = {
            "load": lambda: [load(t) for t in texts],
            "build": lambda: [do_replay(r) for r in recordings],
            "orjson": lambda: [orjson.loads(b) for b in json_bytes],
            "json": lambda: [json.loads(t) for t in json_texts],
            "marshal": lambda: [marshal.loads(m) for m in marshals],
        }
        t = time_rounds(loaders, args.rounds)
        us = {k: f"{v * 1e6:.1f} µs" for k, v in t.items()}
        print(f"| {name} | {us['load']} | {us['build']} | {us['orjson']} | {us['json']} | "
              f"{us['marshal']} | {t['build'] / t['orjson']:.2f} | {t['build'] / t['json']:.2f} | "
              f"{t['load'] / t['orjson']:.2f} | {t['load'] / t['json']:.2f} |", flush=True)


if __name__ == "__main__":
    main()
