"""Byte searches at every length and offset: comments, separators, quotes, indentation, line
feeds and flow items placed on both sides of the 4, 8, 16, 32 and 64-byte steps the searches
take, each checked against a plain reading of the rule it implements."""

import re

from hypothesis import HealthCheck, given, settings, strategies as st

from conftest import ParseError, assert_fails, assert_loads

SETTINGS = settings(max_examples=300, derandomize=True, deadline=None, database=None,
                    suppress_health_check=list(HealthCheck))

# Text after a first letter, over the bytes the searches look for and their neighbours.
tails = st.text(alphabet="ab \t#:", max_size=90)
lengths = st.integers(min_value=0, max_value=140)


def value_of(text):
    """A plain block value read byte by byte: a blank then `#` starts a comment, `: ` inside
    is refused (None), and the rest loses its trailing blanks."""
    for i, c in enumerate(text):
        if c == "#" and i > 0 and text[i - 1] in " \t":
            return text[: i - 1].rstrip(" \t")
        if c == ":" and text[i + 1 : i + 2] == " ":
            return None
    return text.rstrip(" \t")


@SETTINGS
@given(tail=tails)
def test_plain_value_comments_and_separators(tail):
    value = "a" + tail
    expected = value_of(value)
    if expected is None:
        line = ("line 1: Unexpected ':' in a plain scalar value (nested mappings must use quotes "
                "or a new line)")
        assert_fails(f"k: {value}\n", ParseError, line)
    else:
        assert_loads(f"k: {value}\n", {"k": expected})


@SETTINGS
@given(tail=st.text(alphabet="ab \t#", max_size=90))
def test_plain_key_comment(tail):
    key = "a" + tail
    if re.search(r"[ \t]#", key):
        message = "line 1: Mapping key ends in a comment; the ':' separator is inside it"
        assert_fails(f"{key}: 1\n", ParseError, message)
    else:
        assert_loads(f"{key}: 1\n", {key.rstrip(" \t"): 1})


@SETTINGS
@given(before=st.text(alphabet="ab:", max_size=80), after=st.text(alphabet="ab :", max_size=20))
def test_first_colon_space_separates_key(before, after):
    # The key is everything before the first `: `; a colon without a space stays in the key.
    key = "k" + before.rstrip(":")
    text = f"{key}: v{after}\n"
    value = value_of("v" + after)
    if value is None:
        return  # a second separator in the value, refused, as test above checks
    assert_loads(text, {key: value})


@SETTINGS
@given(parts=st.lists(st.sampled_from(["a", "b", " ", "\\\\", '\\"', "\\t", "\\x41", "#"]),
                      max_size=60))
def test_double_quoted_escapes(parts):
    decoded = {"\\\\": "\\", '\\"': '"', "\\t": "\t", "\\x41": "A"}
    expected = "".join(decoded.get(p, p) for p in parts)
    assert_loads('k: "' + "".join(parts) + '" # c\n', {"k": expected})


@SETTINGS
@given(parts=st.lists(st.sampled_from(["a", "b", " ", "''", "#", '"']), max_size=60))
def test_single_quoted_doubled_quotes(parts):
    expected = "".join("'" if p == "''" else p for p in parts)
    assert_loads("k: '" + "".join(parts) + "'\n", {"k": expected})


@SETTINGS
@given(depth=st.integers(min_value=1, max_value=45), odd=st.booleans())
def test_indentation_of_every_depth(depth, odd):
    lines = [" " * (2 * level) + f"k{level}:" for level in range(depth)]
    if odd:
        spaces = 2 * depth + 1
        lines.append(" " * spaces + "x: 1")
        message = f"line {depth + 1}: Invalid indentation: {spaces} spaces (must be a multiple of 2)"
        assert_fails("\n".join(lines) + "\n", ParseError, message)
        return
    lines.append(" " * (2 * depth) + "x: 1")
    expected = {"x": 1}
    for level in reversed(range(depth)):
        expected = {f"k{level}": expected}
    assert_loads("\n".join(lines) + "\n", expected)


@SETTINGS
@given(sizes=st.lists(lengths, min_size=1, max_size=30), crlf=st.booleans())
def test_line_feeds_at_every_offset(sizes, crlf):
    # Each line's value is as long as drawn, so line feeds fall at every offset of a read.
    end = "\r\n" if crlf else "\n"
    text = "".join(f"k{i}: {'v' * size}{end}" for i, size in enumerate(sizes))
    assert_loads(text, {f"k{i}": ("v" * size) or None for i, size in enumerate(sizes)})


@SETTINGS
@given(words=st.lists(st.text(alphabet="abc#.-", min_size=1, max_size=40)
                      .filter(lambda w: w[0] not in "#-."), max_size=12))
def test_flow_sequence_items(words):
    # Plain flow items end only at a stop byte, wherever it falls in a block.
    assert_loads("k: [" + ", ".join(words) + "]\n", {"k": words})


@SETTINGS
@given(entries=st.dictionaries(st.text(alphabet="abc", min_size=1, max_size=40),
                               st.text(alphabet="abc:#", min_size=1, max_size=40)
                               .filter(lambda v: v[0] not in ":#"), max_size=8))
def test_flow_mapping_entries(entries):
    # The first colon ends a flow key; in a value, colons and `#` without a blank are content.
    text = "k: {" + ", ".join(f"{key}: {value}" for key, value in entries.items()) + "}\n"
    assert_loads(text, {"k": entries})
