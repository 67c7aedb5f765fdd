"""The spread of the goal ratios over several runs of bench/bench.py, from their --json files.

    python3 bench/spread.py bench/out/run1.json bench/out/run2.json bench/out/run3.json

For each corpus: corvane/json and corvane/orjson (ratios of the medians) in every run, their
lowest and highest, and the goal each is held to (load at most 0.75 of json.loads everywhere; at
most orjson.loads on the config documents and real_world), then the parse-only GB/s. The rows
are sorted by the worse run against its goal, lowest first: goals met, then the nearest misses. Needs nothing beyond the standard library.
"""

import json
import pathlib
import statistics
import sys

JSON_GOAL = 0.75
ORJSON_GOAL = 1.0


def orjson_goal(corpus):
    return ORJSON_GOAL if corpus.startswith("config_") or corpus == "real_world" else None


def median(samples):
    return statistics.median(samples) if samples else None


def main(paths):
    if not paths:
        sys.exit(__doc__)
    runs = [json.loads(pathlib.Path(p).read_text()) for p in paths]
    corpora = [c for c in runs[0]["timings"] if all(c in r["timings"] for r in runs)]
    rows = []
    for corpus in corpora:
        per_run = {"json": [], "orjson": [], "gbps": []}
        for run in runs:
            t = run["timings"][corpus]
            corvane = median(t["corvane"]["samples_ns"])
            for peer in ("json", "orjson"):
                if peer in t:
                    per_run[peer].append(corvane / median(t[peer]["samples_ns"]))
            if "parse-only" in t:
                per_run["gbps"].append(run["bytes"][corpus] / (1 << 30) / (median(t["parse-only"]["samples_ns"]) / 1e9))
        goals = [(per_run["json"], JSON_GOAL), (per_run["orjson"], orjson_goal(corpus))]
        closeness = max((max(r) / g for r, g in goals if r and g), default=0)
        rows.append((closeness, corpus, per_run))
    header = ["corpus", "corvane/json per run", "lowest–highest", "goal", "corvane/orjson per run",
              "lowest–highest", "goal", "worst ÷ goal", "parse-only GB/s"]
    lines = []
    for closeness, corpus, r in sorted(rows, key=lambda row: row[0]):
        span = lambda v: f"{min(v):.2f}–{max(v):.2f}" if v else "–"  # noqa: E731
        each = lambda v: " ".join(f"{x:.2f}" for x in v) or "–"  # noqa: E731
        goal = orjson_goal(corpus)
        lines.append([corpus, each(r["json"]), span(r["json"]), f"≤ {JSON_GOAL}", each(r["orjson"]),
                      span(r["orjson"]), f"≤ {goal:.0f}" if goal else "–", f"{closeness:.2f}", span(r["gbps"])])
    widths = [max(len(str(c)) for c in col) for col in zip(header, *lines)]
    fmt = lambda cells: "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"  # noqa: E731
    print(f"{len(runs)} runs: " + ", ".join(paths))
    print()
    print(fmt(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for line in lines:
        print(fmt(line))
    print()
    print("worst ÷ goal: the higher of the two ratios' highest run against its goal; above 1, a run missed it.")


if __name__ == "__main__":
    main(sys.argv[1:])
