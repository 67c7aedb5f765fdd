"""Strings are the same whichever way the loader makes them: cut out of the input str (ASCII
input, or input dense with non-ASCII text, where the character index of each piece is counted
along the document, backwards too when a flow line is read a second time) or decoded from its
UTF-8 bytes (text with escapes, input with a few non-ASCII characters far apart)."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import load

# Letters of one, two, three and four UTF-8 bytes, none of which YAML treats specially or
# trims as white space.
LETTERS = "abcxyzéßÑΩЖж漢字한글😀🎉"
word = st.text(alphabet=LETTERS, min_size=1, max_size=12)


def quoted(text):
    return '"' + text + '"'


@settings(max_examples=300, deadline=None)
@given(st.lists(st.tuples(word, word, st.lists(word, max_size=5)), min_size=1, max_size=12),
       st.sampled_from(["block", "flow", "quoted"]))
def test_strings_of_any_width_load_as_written(entries, layout):
    # Keys are prefixed so that they stay distinct and are never typed as anything but str.
    expected = {f"k{i}{key}": [f"v{value}", *(f"i{item}" for item in items)]
                for i, (key, value, items) in enumerate(entries)}
    lines = []
    for key, values in expected.items():
        if layout == "block":
            lines.append(f"{key}:")
            lines.extend(f"  - {v}" for v in values)
        elif layout == "flow":
            lines.append(f"{key}: [{', '.join(values)}]")
        else:
            lines.append(f"{quoted(key)}: [{', '.join(quoted(v) for v in values)}]")
    assert load("\n".join(lines)) == expected


@pytest.mark.parametrize("text, expected", [
    # Mostly non-ASCII: pieces are cut out of the input.
    ("ключ: значение\nдругой: [один, два, {три: четыре}]",
     {"ключ": "значение", "другой": ["один", "два", {"три": "четыре"}]}),
    # ASCII text among non-ASCII text.
    ("名前: abc\n説明: [x, 値, \"y\", 'z']", {"名前": "abc", "説明": ["x", "値", "y", "z"]}),
    # A trailing comma sends the line to the second flow reader, which reads it again from the
    # start: the character count goes back.
    ("列: [é, ü, {ä: ö}, [漢, x], ]\n次: [ß, 😀]",
     {"列": ["é", "ü", {"ä": "ö"}, ["漢", "x"]], "次": ["ß", "😀"]}),
    # Four-byte characters before the pieces: indices are counted in characters, not bytes.
    ("😀😀: 🎉a🎉\nb: [😀, c😀d, 'e😀']", {"😀😀": "🎉a🎉", "b": ["😀", "c😀d", "e😀"]}),
    # Escapes are decoded, among pieces cut out of the input.
    ('ä: "\\u00e9x"\nö: [ü, "\\t漢"]', {"ä": "éx", "ö": ["ü", "\t漢"]}),
    # One non-ASCII character in a long ASCII document: its text is decoded.
    ("a: " + "x" * 2000 + "\nb: é\nc: [d, ü]", {"a": "x" * 2000, "b": "é", "c": ["d", "ü"]}),
    # Block scalars own their text.
    ("ä: |\n  ö\n  ü\nß: [é]", {"ä": "ö\nü\n", "ß": ["é"]}),
])
def test_non_ascii_documents(text, expected):
    value = load(text)
    assert value == expected
    assert repr(value) == repr(expected)
