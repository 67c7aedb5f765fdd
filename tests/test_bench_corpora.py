"""The benchmark corpora: the same bytes on every run, and documents on whose value Corvane, JSON
and PyYAML agree, so that the benchmark compares loaders doing the same work."""

import json
import os
import pathlib
import random
import subprocess
import sys

import pytest

from conftest import load, same_value

BENCH = pathlib.Path(__file__).resolve().parents[1] / "bench"
sys.path.insert(0, str(BENCH))
import make_corpora  # noqa: E402

SMALL = ["config_1KB", "config_100KB"]


def generate_in(tmp_path, hash_seed):
    """Runs the generator as a script in its own interpreter, with the given str hash seed."""
    out = tmp_path / f"seed{hash_seed}"
    env = dict(os.environ, PYTHONHASHSEED=str(hash_seed))
    subprocess.run([sys.executable, str(BENCH / "make_corpora.py"), str(out), *SMALL],
                   check=True, env=env, capture_output=True)
    return {name: (out / f"{name}.yaml").read_bytes() for name in SMALL}


def test_generator_is_deterministic_across_processes(tmp_path):
    first, second = generate_in(tmp_path, 1), generate_in(tmp_path, 2)
    assert first == second
    for name in SMALL:
        assert first[name] == make_corpora.generate(name).encode("utf-8")
        assert len(first[name]) >= make_corpora.CORPORA[name][1]


def test_different_seeds_give_different_documents():
    maker, target = make_corpora.CORPORA["config_1KB"]
    assert maker(target, random.Random(1)) != maker(target, random.Random(2))


def test_config_document_holds_every_kind_of_value():
    value = load(make_corpora.generate("config_100KB"))
    kinds, strings = set(), []

    def walk(v):
        kinds.add(type(v))
        if isinstance(v, dict):
            for k, x in v.items():
                walk(k)
                walk(x)
        elif isinstance(v, list):
            for x in v:
                walk(x)
        elif isinstance(v, str):
            strings.append(v)

    walk(value)
    assert kinds == {dict, list, str, int, float, bool, type(None)}
    assert any("\t" in s for s in strings)  # from double-quoted escapes
    assert any(s.endswith("\n") and s.count("\n") > 1 for s in strings)  # literal blocks
    assert any("é" in s for s in strings)  # \u00e9 and \xe9 escapes
    assert any("it's" in s for s in strings)  # single-quoted ''
    assert len(value["records"]) > 50


# Every maker at a small size (the benchmark's own sizes are too slow for PyYAML in a test run).
@pytest.mark.parametrize("name", SMALL + [n for n in make_corpora.CORPORA if not n.startswith("config_")])
def test_document_equals_its_json_round_trip_and_pyyaml(name):
    maker, target = make_corpora.CORPORA[name]
    text = maker(min(target, 100 * 1024), random.Random(make_corpora.SEED))
    assert text.endswith("\n")
    value = load(text)
    assert same_value(json.loads(json.dumps(value)), value)
    yaml = pytest.importorskip("yaml")
    loader = getattr(yaml, "CSafeLoader", yaml.SafeLoader)
    assert same_value(yaml.load(text, Loader=loader), value)


# The timing rounds: a loader's time depends on what ran just before it, so each loader must
# directly follow every other loader equally often, for any number of loaders.
@pytest.mark.parametrize("count", range(1, 9))
def test_round_orders_give_every_loader_every_predecessor_equally_often(count):
    import bench

    orders = bench.balanced_orders(count)
    assert all(sorted(order) == list(range(count)) for order in orders)
    follows = {}
    for order in orders:
        for before, after in zip(order, order[1:]):
            follows[before, after] = follows.get((before, after), 0) + 1
    assert set(follows) == {(a, b) for a in range(count) for b in range(count) if a != b}
    assert len(set(follows.values())) <= 1
