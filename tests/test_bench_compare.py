"""The benchmark's helpers: what it calls equal, and where it says two values differ, as the
report prints it for a peer whose typing is not Corvane's; the collector modes of its timing;
and which differences fail a run."""

import gc
import pathlib
import sys

import pytest

BENCH = pathlib.Path(__file__).resolve().parents[1] / "bench"
sys.path.insert(0, str(BENCH))
import bench  # noqa: E402

DIFFERENT = [
    (1, True, "value: 1 != True"),
    (1, 1.0, "value: 1 != 1.0"),
    ({"a": [1, "017"]}, {"a": [1, 17]}, "['a'][1]: '017' != 17"),
    ({"a": 1, "b": 2}, {"b": 2, "a": 1}, "[key 0]: 'a' != 'b'"),
    ({"a": {"b": [1, 2]}}, {"a": {"b": [1]}}, "['a']['b']: 2 != 1 items"),
    ({"a": 1}, {"a": 1, "b": 2}, "value: 1 != 2 entries"),
    ([0.0], [-0.0], "[0]: 0.0 != -0.0"),
    (["2001-01-01"], [None], "[0]: '2001-01-01' != None"),
    ("x" * 50, "y", "value: '" + "x" * 36 + "... != 'y'"),
]


@pytest.mark.parametrize("a, b, where", DIFFERENT)
def test_first_difference_names_the_path_and_both_values(a, b, where):
    assert not bench.same_value(a, b)
    assert bench.first_difference(a, b) == where


@pytest.mark.parametrize("value", [{"a": [1, 2.5, None, True, "x"]}, [float("nan")], {}, [], {1: {"b": []}}])
def test_equal_values_have_no_difference(value):
    assert bench.same(value, value)
    assert bench.first_difference(value, value) is None


# ---- timing with the collector off and on ----

@pytest.mark.parametrize("collector", [False, True])
def test_timed_rep_runs_the_calls_with_the_collector_as_asked_and_enables_it_after(collector):
    seen = []
    _, kept = bench.timed_rep(lambda: seen.append(gc.isenabled()) or len(seen), 3, collector)
    assert seen == [collector] * 3
    assert kept == [1, 2, 3]  # every value kept until the clock stopped
    assert gc.isenabled()


class FakeArgs:
    min_reps, min_time = 4, 0.0


# (modes of each figure) -> every (figure, mode) unit gets the figure's repetitions, in its mode
@pytest.mark.parametrize("modes", [[("off", "on"), ("off",)], [("on",), ("on",), ("off", "on")], [("off",)]])
def test_rounds_time_every_figure_in_each_of_its_collector_modes(modes):
    calls = []
    figures = []
    for index, figure_modes in enumerate(modes):
        rep = lambda inner, collector, index=index: calls.append((index, collector)) or 1000.0  # noqa: E731
        figure = bench.Figure(f"f{index}", rep, 1, 1, figure_modes)
        figure.once = 1000.0
        figures.append(figure)
    bench.time_rounds(figures, FakeArgs)
    for index, figure in enumerate(figures):
        assert {mode: len(samples) for mode, samples in figure.samples.items()} == {m: 4 for m in modes[index]}
        timed = [collector for i, collector in calls if i == index][1:]  # after the warm-up call
        assert sorted(timed) == sorted([mode == "on" for mode in modes[index]] * 4)


# (corpus, figure, whether its value differs) -> whether the run fails for it
MISMATCHES = [
    ("config_1KB", "json.loads", True, True),
    ("config_1KB", "yaml_rs", True, False),  # its own typing
    ("real_world", "json.loads", True, False),  # integer keys become strings
    ("real_world", "replay", True, True),
    ("real_world", "load_with_lines", True, True),
    ("real_world", "dump", True, True),
    ("config_1KB", "PyYAML", False, False),
]


@pytest.mark.parametrize("corpus, name, differs, fails", MISMATCHES)
def test_a_differing_value_fails_the_run_where_the_value_must_be_corvanes(corpus, name, differs, fails):
    figure = bench.Figure(name, None, 1, 2, ("off",))
    figure.equal = 1 if differs else 2
    assert bench.mismatches(bench.Corpus(corpus, [], []), {name: figure}) == ([name] if fails else [])


# ---- the chart ----

import chart  # noqa: E402
import xml.etree.ElementTree as ElementTree  # noqa: E402

SVG = "{http://www.w3.org/2000/svg}"


@pytest.mark.parametrize("series, bars", [
    # A bar starts at 1× and runs left for a faster loader, right for a slower one; a corpus a
    # loader has no figure for gets no bar.
    ({"Corvane load": {"a": 0.5, "b": 2.0}}, {("Corvane load", "a"): "left", ("Corvane load", "b"): "right"}),
    ({"x": {"a": 1.0}, "PyYAML": {"a": 40.0, "b": 250.0}, "orjson.loads": {"b": 0.3}},
     {("x", "a"): "none", ("PyYAML", "a"): "right", ("PyYAML", "b"): "right", ("orjson.loads", "b"): "left"}),
])
def test_the_chart_draws_a_bar_per_figure_from_one_times(series, bars):
    root = ElementTree.fromstring(chart.svg("title & more", ["a", "b"], series))
    one = [float(line.get("x1")) for line in root.iter(SVG + "line") if line.get("stroke") == "#000"]
    assert len(one) == 1
    drawn = {}
    for rect in root.iter(SVG + "rect"):
        title = rect.find(SVG + "title")
        if title is None:
            continue
        name, rest = title.text.split(" on ")
        corpus = rest.split(":")[0]
        start, width = float(rect.get("x")), float(rect.get("width"))
        side = "none" if width <= 1 else "left" if start < one[0] else "right"
        assert side == "none" or min(abs(start - one[0]), abs(start + width - one[0])) < 0.1
        drawn[name, corpus] = side
    assert drawn == bars
    # Longer ratios get longer bars on the logarithmic axis.
    widths = {(r.find(SVG + "title").text.split(":")[0]): float(r.get("width"))
              for r in root.iter(SVG + "rect") if r.find(SVG + "title") is not None}
    if "PyYAML on b" in widths:
        assert widths["PyYAML on b"] > widths["PyYAML on a"]


@pytest.mark.parametrize("ratio, text", [(0.34, "0.34"), (2.74, "2.7"), (9.96, "10"), (113.0, "113"), (1730.4, "1730")])
def test_bar_labels_are_plain_numbers(ratio, text):
    assert chart.ratio_text(ratio) == text
