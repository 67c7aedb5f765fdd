"""The mutant lists of scripts/mutate.py: a place in a C++ source named by its function and the
occurrence of its text there, so that a list survives edits elsewhere in the file."""

import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "scripts"))
import mutate  # noqa: E402

# (source, the text marked, the function that holds it); the text occurs once in each source.
NAMED = [
    ("int f(int x) {\n  return x < 1;\n}\n", " < ", "f"),
    ("class A {\n public:\n  int g() const { return 2; }\n};\n", "2", "A::g"),
    ("template <typename S>\nbool Parser<S>::parse(int x) noexcept {\n  return x > 3;\n}\n", " > ", "Parser::parse"),
    ("template <class U = int>\n  requires(sizeof(U) > 1)\nconstexpr explicit(true) T::T(U u) { v = 4; }\n", "4", "T::T"),
    ("Foo::Foo(int a) : a_{a}, b_(a) {\n  x = a - 5;\n}\n", " - ", "Foo::Foo"),
    ("struct H {\n  bool operator()(int a) const { return a == 6; }\n};\n", " == ", "H::operator()"),
    ("X::operator bool() const {\n  return v != 7;\n}\n", " != ", "X::operator bool"),
    ("R& R::operator=(R&& o) noexcept {\n  n = o.n + 8;\n  return *this;\n}\n", " + ", "R::operator="),
    ("void run() {\n  auto f = [&](int a) { return a <= 9; };\n  struct L { int m() { return 0; } };\n}\n",
     " <= ", "run"),
    ("void loop() {\n  for (int i = 0; i < n; i = next(i)) {\n    if (i) { ++k; }\n  }\n}\n", "++k;", "loop"),
    ("namespace a {\nnamespace {\nint p() { return 10; }\n}  // namespace\n}  // namespace a\n", "10", "p"),
    ("int k() {\n  // } a brace in a comment\n  const char* s = \"}\";\n  char c = '{';\n  return 11;\n}\n",
     "11", "k"),
    ("#define OPEN {\nint m() {\n  return 1'000 + 12;\n}\n", "12", "m"),
    ("constexpr int kLimit = 13;\nint h() { return 0; }\n", "13", mutate.FILE_SCOPE),
    ("const auto kTable = [] {\n  int t = 14;\n  return t;\n}();\n", "14", mutate.FILE_SCOPE),
    ("enum class E : int { A = 15 };\nstruct S {\n  int x_ = 16;\n};\n", "15", mutate.FILE_SCOPE),
    ("struct S {\n  int f() { return 0; }\n  int x_ = 17;\n};\n", "17", mutate.FILE_SCOPE),
]


@pytest.mark.parametrize("text, old, function", NAMED)
def test_place_is_named_by_its_function_and_found_again(text, old, function):
    source = mutate.Source(text)
    at = text.index(old)
    assert source.name(at, old) == (function, 1)
    assert source.find(function, old, 1) == at


# (source, the offset's text and which of its occurrences in the whole source, expected naming)
OCCURRENCES = [
    # A comment that quotes the text does not count.
    ("int f() {\n  // a < b\n  return a < b;\n}\n", " < ", 2, ("f", 1)),
    # Overloads are one function, their bodies in file order.
    ("int f(int a) { return a < 1; }\nint f(long a) { return a < 2; }\n", " < ", 2, ("f", 2)),
    # Outside functions the count skips their bodies.
    ("int a = 1;\nint g() { return 1; }\nint b = 1;\n", "1", 3, (mutate.FILE_SCOPE, 2)),
]


@pytest.mark.parametrize("text, old, nth, named", OCCURRENCES)
def test_occurrences_count_within_the_function(text, old, nth, named):
    at = -1
    for _ in range(nth):
        at = text.index(old, at + 1)
    assert mutate.Source(text).name(at, old) == named


BEFORE = "int first() {\n  return 1;\n}\nint second(int x) {\n  return x < 2 && x < 3;\n}\n"
EDITS = [
    ("lines added to another function", BEFORE.replace("return 1;", "int y = 0;\n  return y < 1;"), True),
    ("a comment added before the function", "// x < 2\n" + BEFORE, True),
    ("the function renamed", BEFORE.replace("second", "third"), False),
    ("the text changed", BEFORE.replace("x < 3", "x <= 3"), False),
]


@pytest.mark.parametrize("edit, after, resolves", EDITS, ids=[e[0] for e in EDITS])
def test_mutant_survives_edits_elsewhere_and_is_stale_when_its_place_is_gone(edit, after, resolves):
    mutant = mutate.Mutant("src/x.cpp", "second", " < ", " <= ", 2)
    assert mutant.apply(BEFORE) == BEFORE.replace("x < 3", "x <= 3")
    if resolves:
        assert mutant.apply(after) == after.replace("x < 3", "x <= 3")
    else:
        assert mutant.locate(mutate.Source(after)) is None
        with pytest.raises(ValueError):
            mutant.apply(after)


def test_list_lines_read_back_and_convert_from_line_numbers(tmp_path):
    (tmp_path / "src").mkdir()
    (tmp_path / "src" / "x.cpp").write_text(BEFORE)
    old = tmp_path / "old.tsv"
    old.write_text("# a comment stays\nsrc/x.cpp:5\t < \t <= \t2\nsrc/x.cpp:2\t1\t0\n")
    converted = mutate.from_lines(old, [tmp_path])
    assert converted == "# a comment stays\nsrc/x.cpp\tsecond\t < \t <= \t2\nsrc/x.cpp\tfirst\t1\t0\n"
    new = tmp_path / "new.tsv"
    new.write_text(converted)
    mutants = mutate.read_list(new)
    assert [m.as_list_line() for m in mutants] == converted.splitlines()[1:]
    mutate.resolve(mutants, tmp_path)
    assert [(m.line, m.fate) for m in mutants] == [(5, ""), (2, "")]


@pytest.mark.parametrize("text", ["int f() {\n", "}\nint f() {}\n"])
def test_unbalanced_braces_are_refused(text):
    with pytest.raises(ValueError):
        mutate.Source(text)
