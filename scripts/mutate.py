#!/usr/bin/env python3
"""Mutation testing for the C++ sources: single-point changes under src/, each rebuilt
incrementally and run against the pytest suite, with the fate of every mutant and the kill rate.

Not part of CI (a sample of 80 mutants takes tens of minutes); tests/README.md says how to run
it. Everything happens in a scratch copy of the repository (build/mutate/ by default), so the
working tree is never edited: each mutant is written into the copy, built there with CMake and
Ninja, and the copy's file is put back before the next one. The tests run from the copy too, a
snapshot taken at the start, so a run measures one state of the suite.

Mutants come from a list file (--list) or from rules over the sources (--rules, sampled with
--sample/--seed). Fates:
  killed       a test failed (or the interpreter crashed)
  timeout      the suite took far longer than unmutated (counted as killed)
  survived     every test passed
  build-error  the mutant does not compile (not counted)
  same-binary  the built modules are byte for byte the unmutated ones: equivalent by
               construction (code not compiled on this machine, or optimised to the same
               instructions); not counted
  stale        a mutant of a list whose function or text is no longer in its file
"""

from __future__ import annotations

import argparse
import collections
import dataclasses
import hashlib
import os
import pathlib
import random
import re
import shutil
import signal
import subprocess
import sys
import time

REPO = pathlib.Path(__file__).resolve().parents[1]

# The quick first stage: the files that state the loader's behaviour, without their slowest
# tests. Most mutants fail there within seconds; only those that pass it run the whole suite.
QUICK_FILES = ("block_scalars", "structure", "scalars", "quoted", "flow", "keys", "lines",
               "python_surface", "robustness", "conformance")
QUICK_EXCLUDE = "not test_agrees_with_recursive_reference and not test_rest_quoting_every_code_point"

# Mutation rules: name -> what it does. The generator below implements each.
RULES = {
    "relational": "swap <, <=, >, >=, ==, != for a neighbour (a bound moved by one, an equality flipped)",
    "constant": "an integer literal plus or minus one",
    "off-by-one": "drop a '+ 1' or '- 1'",
    "condition": "drop one operand of an && or || (a dropped condition), or a '!'",
    "boolean": "true for false and false for true",
    "arithmetic": "+ for - and - for +",
    "release": "a reference release removed (Py_DECREF/Py_XDECREF, PyRef steal -> borrow)",
    "statement": "a break, continue or ++/-- statement removed",
}


# ---------------------------------------------------------------------------------------------
# Naming a place in a source: its function and the occurrence of the text within it
#
# A list names each mutant by file, function and the n-th occurrence of its text in that
# function (or in the code outside every function), so that edits elsewhere in the file leave
# it valid. The functions are found by a heuristic over the sources of this repository, not by
# a C++ parser:
# - comments and preprocessor lines are blanked first, and the insides of string and character
#   literals for the brace matching; both branches of an #if are read, so a brace opened in
#   one branch and again in the other would break the matching (the sources have none, and
#   Source() raises on unbalanced braces);
# - a `{` opens a function body when the text since the previous `;`, `{` or `}` (its header)
#   has a name before a top-level `(` that is not a keyword, a lambda's `]` or an initialised
#   variable's `=`; the name is qualified by the enclosing classes and structs (from their own
#   headers, or as written before `::`), with template arguments dropped and namespaces left out;
# - a function's text runs from its header's first character (a `template <...>` line
#   included) to its closing brace; lambdas, local classes and their members belong to the
#   enclosing function;
# - functions of the same name in one file (overloads, or one class name in two namespaces,
#   as the three Block classes of text/bytes.hpp) count as one, their bodies in file order;
# - occurrences of the text are counted in the code with comments blanked, so a comment that
#   quotes it does not shift the count, but a string literal that holds it does.

FILE_SCOPE = "-"  # the function column of a mutant outside every function

# Words before a `(` that do not name a function.
NOT_NAMES = {"if", "for", "while", "switch", "catch", "return", "sizeof", "alignof", "decltype", "noexcept",
             "alignas", "__attribute__", "__declspec", "static_assert", "requires", "throw", "new", "delete",
             "typeid", "defined", "explicit"}
# First words of a header that opens a block other than a function or a class.
BLOCK_WORDS = {"if", "for", "while", "switch", "catch", "do", "else", "try", "namespace", "enum", "extern",
               "case", "default"}
NAME = re.compile(r"((?:[A-Za-z_]\w*\s*(?:<[^;{}()<>]*(?:<[^;{}()<>]*>[^;{}()<>]*)*>)?\s*::\s*)*"
                  r"(?:operator\s*(?:\(\)|[^\s\w(]+|\s\w+)|~?[A-Za-z_]\w*))\s*$")
CLASS = re.compile(r"^(?:template\s*<.*?>\s*)?(?:class|struct|union)\s+(?:\[\[.*?\]\]\s*)?"
                   r"(?:alignas\s*\(.*?\)\s*)?([A-Za-z_]\w*)", re.S)


def blank(text: str) -> tuple[str, str]:
    """(code, masked): `text` with comments and preprocessor lines turned to spaces (line feeds
    kept, so offsets and lines stay), and that again with the insides of literals blanked."""
    code, masked = list(text), list(text)
    i, n, line_start = 0, len(text), True

    def clear(start, end, *outs):
        for out in outs:
            for k in range(start, end):
                if text[k] != "\n":
                    out[k] = " "

    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
        elif c in " \t\r":
            i += 1
        elif line_start and c == "#":  # a directive, with its continuation lines
            end = i
            while True:
                end = text.find("\n", end)
                if end < 0 or text[end - 1] != "\\":
                    break
                end += 1
            end = n if end < 0 else end
            clear(i, end, code, masked)
            i = end
        elif text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            clear(i, end, code, masked)
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            clear(i, end, code, masked)
            i = end
        elif c == '"' or (c == "'" and not re.search(r"(?<![\w'])[0-9][\w']*$", text[max(0, i - 40):i])):
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            clear(i + 1, min(j, n), masked)
            line_start = False
            i = j + 1
        else:
            line_start = False
            i += 1
    return "".join(code), "".join(masked)


def top_level_parens(header: str) -> list[int]:
    """Offsets of the `(` in `header` that are not inside (), [] or {}; [] when it does not
    balance (the tail of a for header, say)."""
    depth, found = 0, []
    for k, c in enumerate(header):
        if c in "([{":
            if c == "(" and depth == 0:
                found.append(k)
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth < 0:
                return []
    return found if depth == 0 else []


def tidy(name: str) -> str:
    """A written name without template arguments or spaces (`Parser<Sink> :: value` ->
    `Parser::value`), but for the one after a conversion `operator`."""
    while True:
        shorter = re.sub(r"<[^<>;{}()]*>", "", name)
        if shorter == name:
            break
        name = shorter
    return re.sub(r"\s+", "", re.sub(r"\boperator\s+(?=\w)", "operator\0", name)).replace("\0", " ")


def function_name(header: str) -> str | None:
    """The name of the function whose body the `{` after `header` opens, or None."""
    first = re.match(r"\s*(\w+)", header)
    if first and first.group(1) in BLOCK_WORDS:
        return None
    for paren in top_level_parens(header):
        before = header[:paren].rstrip()
        if before.endswith("]"):
            return None  # a lambda
        if before.endswith("operator") and header.startswith("()", paren):
            before += "()"  # operator(): its parameters follow
        match = NAME.search(before)
        if not match or match.group(1).split("::")[-1].strip() in NOT_NAMES:
            continue
        if re.search(r"(?<![=!<>])=(?!=)", tidy(before[:match.start()])):
            return None  # a variable initialised by a call or a lambda
        return tidy(match.group(1))
    return None


@dataclasses.dataclass
class Body:
    name: str
    start: int  # offset of the header's first character
    end: int  # offset past the closing brace


def find_functions(masked: str) -> list[Body]:
    """The function bodies of a masked source, outside any other function, in file order."""
    bodies, stack, start = [], [], 0  # stack: (kind, name, start) per open brace
    for i, c in enumerate(masked):
        if c == ";":
            start = i + 1
        elif c == "{":
            header = re.sub(r"^\s*(?:(?:public|private|protected)\s*:\s*)+", "", masked[start:i])
            begin = i - len(header.lstrip())
            in_function = any(kind == "function" for kind, _, _ in stack)
            first = re.match(r"\s*(\w+)", header)
            cls = CLASS.match(header.strip())
            name = None if in_function or cls else function_name(header)
            if cls:
                kind, name = "class", cls.group(1)
            elif re.search(r"(?:,|(?<!:):(?!:))\s*[A-Za-z_]\w*\s*$", header):
                kind = "init"  # a member initialised by braces, in a constructor's list
            elif name:
                kind = "function"
                name = "::".join([n for k, n, _ in stack if k == "class"] + [name])
            elif (first and first.group(1) in BLOCK_WORDS) or re.search(r"(^|[)\]:])\s*$", header):
                kind = "block"
            else:
                kind = "init"  # a braced initialiser, part of its statement
            stack.append((kind, name, begin))
            if kind != "init":
                start = i + 1
        elif c == "}":
            if not stack:
                raise ValueError(f"unbalanced }} at offset {i}")
            kind, name, begin = stack.pop()
            if kind == "function" and not any(k == "function" for k, _, _ in stack):
                bodies.append(Body(name, begin, i + 1))
            if kind != "init":
                start = i + 1
    if stack:
        raise ValueError(f"{len(stack)} unclosed {{")
    return bodies


class Source:
    """A C++ source read for naming places: its code without comments and its functions."""

    def __init__(self, text: str):
        self.text = text
        self.code, masked = blank(text)
        self.functions = find_functions(masked)
        self.names = {body.name for body in self.functions}

    def spans(self, function: str) -> list[tuple[int, int]]:
        if function != FILE_SCOPE:
            return [(b.start, b.end) for b in self.functions if b.name == function]
        spans, at = [], 0
        for body in self.functions:
            spans.append((at, body.start))
            at = body.end
        return spans + [(at, len(self.text))]

    def function_at(self, offset: int) -> str:
        return next((b.name for b in self.functions if b.start <= offset < b.end), FILE_SCOPE)

    def occurrences(self, function: str, old: str):
        for start, end in self.spans(function):
            at = self.code.find(old, start)
            while 0 <= at and at + len(old) <= end:
                if self.text.startswith(old, at):
                    yield at
                at = self.code.find(old, at + 1)

    def name(self, offset: int, old: str) -> tuple[str, int] | None:
        """(function, occurrence) of the text `old` at `offset`, or None if it is not there."""
        function = self.function_at(offset)
        for occurrence, at in enumerate(self.occurrences(function, old), 1):
            if at == offset:
                return function, occurrence
        return None

    def find(self, function: str, old: str, occurrence: int) -> int | None:
        """The offset of that occurrence, or None when the function or the text is gone."""
        for count, at in enumerate(self.occurrences(function, old), 1):
            if count == occurrence:
                return at
        return None

    def line_of(self, offset: int) -> int:
        return self.text.count("\n", 0, offset) + 1


@dataclasses.dataclass
class Mutant:
    path: str  # relative to the repository, e.g. src/scalar/scalar.cpp
    function: str  # as Source names it, or FILE_SCOPE
    old: str
    new: str
    occurrence: int = 1  # which occurrence of `old` in the function (or outside every function)
    rule: str = "list"
    line: int = 0  # where it stands in the sources at hand; 0 when stale
    fate: str = ""
    detail: str = ""
    seconds: float = 0.0

    @property
    def module(self) -> str:
        parts = pathlib.PurePosixPath(self.path).parts[1:-1]
        return "/".join(parts) or "."

    def label(self) -> str:
        where = self.function if self.function != FILE_SCOPE else "outside functions"
        return f"{self.path}:{self.line or '?'} ({where})"

    def change(self) -> str:
        return f"`{self.old.strip()}` -> `{self.new.strip() or '(nothing)'}`"

    def as_list_line(self) -> str:
        occurrence = f"\t{self.occurrence}" if self.occurrence != 1 else ""
        return f"{self.path}\t{self.function}\t{self.old}\t{self.new}{occurrence}"

    def locate(self, source: Source) -> int | None:
        """The offset of the text to change in `source`, or None when the mutant is stale."""
        return source.find(self.function, self.old, self.occurrence)

    def apply(self, text: str) -> str:
        at = self.locate(Source(text))
        if at is None:
            raise ValueError(f"{self.old!r} (occurrence {self.occurrence}) not in "
                             f"{self.function if self.function != FILE_SCOPE else 'the code outside functions'}")
        return text[:at] + self.new + text[at + len(self.old):]


# ---------------------------------------------------------------------------------------------
# Reading mutants

def read_list(path: pathlib.Path) -> list[Mutant]:
    """One mutant per line: `PATH<TAB>FUNCTION<TAB>OLD<TAB>NEW[<TAB>OCCURRENCE]`, FUNCTION being
    `-` for code outside every function; `#` starts a comment line. OLD and NEW are taken
    exactly (NEW may be empty: the text is deleted)."""
    mutants = []
    rule = "list"
    for number, raw in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if raw.lstrip().startswith("#"):
            # A comment that names a rule (as --dry-run writes them) labels the mutants after it.
            rule = raw.strip("# ").strip() if raw.strip("# ").strip() in RULES else rule
            continue
        if not raw.strip():
            continue
        fields = raw.split("\t")
        if len(fields) not in (4, 5) or not fields[1] or not fields[2]:
            sys.exit(f"{path}:{number}: expected PATH<TAB>FUNCTION<TAB>OLD<TAB>NEW[<TAB>OCCURRENCE]")
        mutants.append(Mutant(*fields[:4], int(fields[4]) if len(fields) == 5 else 1, rule))
    return mutants


def from_lines(path: pathlib.Path, roots: list[pathlib.Path]) -> str:
    """A list file of the older form, `PATH:LINE<TAB>OLD<TAB>NEW[<TAB>OCCURRENCE]` (OCCURRENCE
    on the line), in the form above, each line resolved in the sources under the first of
    `roots` where that line holds its text; comments are kept. A line that holds its text
    under none of them stops the conversion."""
    sources: dict[pathlib.Path, Source] = {}
    out = []
    for number, raw in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        fields = raw.split("\t")
        if raw.lstrip().startswith("#") or not raw.strip() or ":" not in fields[0]:
            out.append(raw)
            continue
        file, line = fields[0].rsplit(":", 1)
        old, new = fields[1], fields[2]
        for root in roots:
            if not (root / file).is_file():
                continue
            source = sources.setdefault(root / file, Source((root / file).read_text(encoding="utf-8")))
            offset = sum(len(text) + 1 for text in source.text.split("\n")[:int(line) - 1]) - 1
            for _ in range(int(fields[3]) if len(fields) == 4 else 1):
                offset = source.text.find(old, offset + 1)
            named = source.name(offset, old) if 0 <= offset and source.line_of(offset) == int(line) else None
            if named:
                out.append(Mutant(file, named[0], old, new, named[1]).as_list_line())
                break
        else:
            sys.exit(f"{path}:{number}: {old!r} is not on line {line} of {file} under "
                     + ", ".join(map(str, roots)))
    return "\n".join(out) + "\n"


def resolve(mutants: list[Mutant], root: pathlib.Path) -> None:
    """Sets each mutant's line in the sources under `root`, or its fate to stale with the
    reason (and the files that hold a function of that name, when it has moved)."""
    sources: dict[str, Source | None] = {}

    def read(rel: str) -> Source | None:
        if rel not in sources:
            file = root / rel
            sources[rel] = Source(file.read_text(encoding="utf-8")) if file.is_file() else None
        return sources[rel]

    for m in mutants:
        source = read(m.path)
        at = m.locate(source) if source else None
        if at is not None:
            m.line = source.line_of(at)
            continue
        m.fate, m.line = "stale", 0
        if source is None:
            m.detail = f"no {m.path}"
        elif m.function != FILE_SCOPE and m.function not in source.names:
            m.detail = f"no {m.function}"
        else:
            m.detail = f"no occurrence {m.occurrence} of the text"
        if m.function != FILE_SCOPE and m.function not in (source.names if source else ()):
            rels = [p.relative_to(root).as_posix() for p in source_files(root)]
            found = [rel for rel in rels if m.function in read(rel).names]
            if found:
                m.detail += f" (a {m.function} is in {', '.join(found)})"


def mask_literals(line: str) -> str:
    """The line with string and character literals and a trailing // comment blanked out
    (same length), so that rules only see code."""
    out, i, n = [], 0, len(line)
    while i < n:
        c = line[i]
        if c == "/" and line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if c == "'" and 0 < i < n - 1 and line[i - 1].isalnum() and line[i + 1].isalnum():
            out.append(c)  # a digit separator, as in 1'000'000
            i += 1
            continue
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + (c if j - i >= 2 else ""))
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out)[:n]


def compiled_lines(text: str) -> list[tuple[int, str, str]]:
    """(number, line, masked line) for every line of code that this machine compiles: not a
    comment or a preprocessor line, not an assert, not in the #else branch of an SSE2 block
    (only that condition is known to hold on x86-64; other branches are all kept)."""
    result = []
    stack: list[list[bool]] = []  # per open #if: [tests __SSE2__, branch compiled here]
    in_block_comment = False
    for number, line in enumerate(text.split("\n"), 1):
        stripped = line.strip()
        if in_block_comment or stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if stripped.startswith("#"):
            directive = stripped[1:].strip()
            if directive.startswith("if"):
                sse2 = "defined(__SSE2__)" in directive and "!" not in directive
                stack.append([sse2, True])
            elif directive.startswith(("else", "elif")) and stack:
                stack[-1][1] = not stack[-1][0]
            elif directive.startswith("endif") and stack:
                stack.pop()
            continue
        if not all(branch for _, branch in stack) or not stripped or stripped.startswith("//"):
            continue
        if stripped.startswith(("assert(", "static_assert(")):
            continue
        result.append((number, line, mask_literals(line)))
    return result


RELATIONAL = {" < ": [" <= "], " <= ": [" < "], " > ": [" >= "], " >= ": [" > "],
              " == ": [" != "], " != ": [" == "]}
NUMBER = re.compile(r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)(?:ULL|ull|UL|U|u|L)?(?![\w.])")


def operand_drops(masked: str) -> list[tuple[int, int, str]]:
    """(start, end, replacement) spans that drop one operand of an && / || inside one pair of
    parentheses on the line."""
    drops = []
    opens = []
    for i, c in enumerate(masked):
        if c == "(":
            opens.append(i)
        elif c == ")" and opens:
            group = opens.pop() + 1
            # The group's top-level parts: the clauses of a for header, or the whole group.
            depth, parts, cuts, begin = 0, [], [], 0
            for k, ch in enumerate(masked[group:i] + ";"):
                if ch in "([{":
                    depth += 1
                elif ch in ")]}":
                    depth -= 1
                elif depth == 0 and ch == ";":
                    parts.append((begin, k, cuts))
                    begin, cuts = k + 1, []
                elif depth == 0 and masked.startswith((" && ", " || "), group + k):
                    cuts.append(k)
            for begin, end, cuts in parts:
                if not cuts:
                    continue
                # Leading spaces of a clause stay where they are.
                while begin < end and masked[group + begin] == " ":
                    begin += 1
                bounds = [begin] + cuts + [end]
                for j in range(len(bounds) - 1):
                    # Operand j goes with the operator after it (the first) or before it.
                    if j == 0:
                        drops.append((group + begin, group + bounds[1] + 4, ""))
                    else:
                        drops.append((group + bounds[j], group + bounds[j + 1], ""))
    return drops


def generate(path: pathlib.Path, rel: str) -> list[Mutant]:
    text = path.read_text(encoding="utf-8")
    source = Source(text)
    line_starts = [0]
    for line in text.split("\n"):
        line_starts.append(line_starts[-1] + len(line) + 1)
    mutants = []

    def add(number, line, start, end, new, rule):
        old = line[start:end]
        if not old.strip() and not new:
            return
        named = source.name(line_starts[number - 1] + start, old)
        if named:  # None only for text that the naming reads as a comment
            mutants.append(Mutant(rel, named[0], old, new, named[1], rule, number))

    for number, line, masked in compiled_lines(text):
        code = masked
        for old, news in RELATIONAL.items():
            for m in re.finditer(re.escape(old), code):
                for new in news:
                    add(number, line, m.start(), m.end(), new, "relational")
        for m in NUMBER.finditer(code):
            literal = m.group(1)
            value = int(literal, 16) if literal.startswith("0x") else int(literal)
            for changed in {value + 1, value - 1} - {-1}:
                new = hex(changed) if literal.startswith("0x") else str(changed)
                add(number, line, m.start(1), m.end(1), new, "constant")
        for m in re.finditer(r" [+-] 1(?![\w.])", code):
            add(number, line, m.start(), m.end(), "", "off-by-one")
        for start, end, new in operand_drops(code):
            add(number, line, start, end, new, "condition")
        for m in re.finditer(r"!(?![=])(?=[\w(*])", code):
            add(number, line, m.start(), m.end(), "", "condition")
        for m in re.finditer(r"\b(true|false)\b", code):
            add(number, line, m.start(), m.end(), "false" if m.group(1) == "true" else "true", "boolean")
        for m in re.finditer(r"(?<=\w|\)) ([+-]) (?=[\w(])", code):
            add(number, line, m.start(), m.end(), " - " if m.group(1) == "+" else " + ", "arithmetic")
        for m in re.finditer(r"\bPy_X?DECREF\(", code):
            # Py_DECREF(expr) -> (void)(expr): the expression still runs, the release does not.
            add(number, line, m.start(), m.end(), "(void)(", "release")
        for m in re.finditer(r"PyRef::steal\(", code):
            add(number, line, m.start(), m.end(), "PyRef::borrow(", "release")
        stripped = code.strip()
        if stripped in ("break;", "continue;") or re.fullmatch(r"(\+\+|--)\w+;|\w+(\+\+|--);", stripped):
            start = line.index(stripped)
            add(number, line, start, start + len(stripped), "", "statement")
    return mutants


def source_files(root: pathlib.Path) -> list[pathlib.Path]:
    # nonprintable.inc is a generated table (tools/gen_nonprintable.py), not code.
    return sorted(p for p in (root / "src").rglob("*") if p.suffix in (".cpp", ".hpp"))


def sample_spread(mutants: list[Mutant], size: int, seed: int) -> list[Mutant]:
    """`size` mutants drawn with `seed`: every module gets at least one, the rest in proportion
    to each module's number of candidates, and within a module the files take turns."""
    rng = random.Random(seed)
    by_module: dict[str, list[Mutant]] = collections.defaultdict(list)
    for m in mutants:
        by_module[m.module].append(m)
    modules = sorted(by_module)
    total = len(mutants)
    share = {mod: 1 for mod in modules}
    rest = max(0, size - len(modules))
    exact = {mod: rest * len(by_module[mod]) / total for mod in modules}
    for mod in modules:
        share[mod] += int(exact[mod])
    left = size - sum(share.values())
    for mod in sorted(modules, key=lambda mod: exact[mod] - int(exact[mod]), reverse=True)[:max(0, left)]:
        share[mod] += 1
    picked = []
    for mod in modules:
        by_file: dict[str, list[Mutant]] = collections.defaultdict(list)
        for m in by_module[mod]:
            by_file[m.path].append(m)
        for group in by_file.values():
            rng.shuffle(group)
        files = sorted(by_file)
        rng.shuffle(files)
        taken, k = [], 0
        while len(taken) < min(share[mod], len(by_module[mod])):
            group = by_file[files[k % len(files)]]
            if group:
                taken.append(group.pop())
            k += 1
        picked.extend(taken)
    return picked


# ---------------------------------------------------------------------------------------------
# The scratch copy, the build and the suite

class Scratch:
    def __init__(self, root: pathlib.Path, shared: pathlib.Path | None, jobs: int):
        self.root = root
        self.repo = root / "repo"
        self.build = root / "build"
        self.pkg = root / "pkg"
        self.jobs = jobs
        self.root.mkdir(parents=True, exist_ok=True)
        link = root / "shared"  # the tests find their shared data beside the repository
        if link.is_symlink() or link.exists():
            link.unlink()
        if shared is not None:
            link.symlink_to(shared)

    def sync(self) -> None:
        """Brings the copy to the working tree's files, rewriting only those that differ, so
        that the build stays incremental across runs."""
        listed = subprocess.run(["git", "ls-files", "-z", "-co", "--exclude-standard"], cwd=REPO,
                                capture_output=True, check=True).stdout.decode().split("\0")
        wanted = {name for name in listed if name and (REPO / name).is_file()}
        for name in sorted(wanted):
            source, target = REPO / name, self.repo / name
            data = source.read_bytes()
            if not target.is_file() or target.read_bytes() != data:
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_bytes(data)
        for target in list(self.repo.rglob("*")):
            name = target.relative_to(self.repo).as_posix()
            if target.is_file() and name not in wanted and "__pycache__" not in name \
                    and ".hypothesis" not in name and ".pytest_cache" not in name:
                target.unlink()

    def take_tests_from(self, revision: str) -> None:
        """Replaces the copy's tests with those of a git revision (to measure a suite as it was)."""
        shutil.rmtree(self.repo / "tests")
        archive = subprocess.run(["git", "archive", revision, "tests"], cwd=REPO, capture_output=True, check=True)
        subprocess.run(["tar", "-x", "-C", str(self.repo)], input=archive.stdout, check=True)

    def configure(self) -> None:
        if not (self.build / "build.ninja").is_file():
            run = subprocess.run(["cmake", "-S", str(self.repo), "-B", str(self.build), "-G", "Ninja",
                                  f"-DPython_EXECUTABLE={sys.executable}", "-DCMAKE_BUILD_TYPE=Release"],
                                 capture_output=True, text=True)
            if run.returncode != 0:
                sys.exit("cmake configure failed:\n" + run.stdout + run.stderr)

    def compile(self) -> tuple[bool, str]:
        run = subprocess.run(["nice", "cmake", "--build", str(self.build), f"-j{self.jobs}"],
                             capture_output=True, text=True)
        return run.returncode == 0, run.stdout + run.stderr

    def modules(self) -> list[pathlib.Path]:
        return sorted(p for p in self.build.glob("*.so"))

    def fingerprint(self) -> str:
        digest = hashlib.sha256()
        for module in self.modules():
            digest.update(module.name.encode())
            digest.update(module.read_bytes())
        return digest.hexdigest()

    def overlay(self) -> None:
        """The package as installed: python/corvane with the built corvane._native beside it,
        and _corvane on the path."""
        if self.pkg.exists():
            shutil.rmtree(self.pkg)
        shutil.copytree(self.repo / "python", self.pkg)
        for module in self.modules():
            if module.name.startswith("_native"):
                (self.pkg / "corvane" / module.name).symlink_to(module)

    def environment(self) -> dict[str, str]:
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join([str(self.build), str(self.pkg)])
        env["PYTHONDONTWRITEBYTECODE"] = "1"
        return env

    def run_tests(self, args: list[str], timeout: float) -> tuple[str, str, float]:
        """('passed' | 'failed' | 'timeout', first failing test or last output line, seconds)."""
        shutil.rmtree(self.repo / ".hypothesis", ignore_errors=True)
        command = [sys.executable, "-m", "pytest", "-x", "-q", "-rf", "--no-header",
                   "-p", "no:cacheprovider", "--hypothesis-seed=0", *args]
        start = time.monotonic()
        process = subprocess.Popen(command, cwd=self.repo, env=self.environment(), stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, start_new_session=True)
        try:
            output, _ = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            return "timeout", "", time.monotonic() - start
        seconds = time.monotonic() - start
        if process.returncode == 0:
            return "passed", "", seconds
        failed = re.findall(r"^FAILED (\S+)", output, re.M)
        if failed:
            detail = failed[0]
        elif process.returncode < 0:
            detail = f"crashed ({signal.Signals(-process.returncode).name})"
        else:
            lines = [line for line in output.splitlines() if line.strip()]
            crash = [line for line in lines if "Fatal Python error" in line or "Segmentation" in line]
            detail = (crash or lines[-1:] or ["no output"])[0][:120]
        return "failed", detail, seconds


def stages(args) -> list[list[str]]:
    # Extra arguments that name tests replace the whole suite.
    names_tests = any(not arg.startswith("-") and arg.startswith("tests") for arg in args.pytest_args)
    full = ([] if names_tests else ["tests"]) + args.pytest_args
    if args.no_quick:
        return [full]
    quick = [f"tests/test_{name}.py" for name in QUICK_FILES] if not names_tests else list(full)
    return [quick + [a for a in args.pytest_args if a.startswith("-")] + ["-k", args.quick], full]


def interleave(mutants: list[Mutant]) -> list[Mutant]:
    """One mutant of each module in turn, so that a run stopped early still covers them all;
    within a module, one file after the other (fewer rebuilds)."""
    by_module: dict[str, list[Mutant]] = collections.defaultdict(list)
    for m in sorted(mutants, key=lambda m: (m.path, m.line)):
        by_module[m.module].append(m)
    queues = [by_module[mod] for mod in sorted(by_module)]
    ordered = []
    while any(queues):
        for queue in queues:
            if queue:
                ordered.append(queue.pop(0))
    return ordered


def run_mutants(mutants: list[Mutant], scratch: Scratch, args) -> None:
    scratch.sync()
    if args.tests_from:
        scratch.take_tests_from(args.tests_from)
    scratch.configure()
    ok, log = scratch.compile()
    if not ok:
        sys.exit("the unmutated sources do not build:\n" + log[-3000:])
    baseline = scratch.fingerprint()
    scratch.overlay()
    limits = []
    for stage in stages(args):
        outcome, detail, seconds = scratch.run_tests(stage, timeout=args.max_seconds)
        if outcome != "passed":
            sys.exit(f"the unmutated suite does not pass ({outcome}: {detail}); nothing to measure")
        limits.append(seconds * args.timeout_factor + 30)
        print(f"unmutated: pytest {' '.join(stage)} passed in {seconds:.1f} s", flush=True)
    if not mutants:
        return
    originals: dict[str, str] = {}
    mutants[:] = interleave(mutants)
    width = len(str(len(mutants)))
    for index, mutant in enumerate(mutants, 1):
        target = scratch.repo / mutant.path
        if mutant.fate == "stale":  # found so by resolve() in the working tree
            print(f"[{index:>{width}}/{len(mutants)}] stale       {mutant.label():<32} "
                  f"{mutant.change()}  {mutant.detail}", flush=True)
            continue
        original = originals.setdefault(mutant.path, target.read_text(encoding="utf-8"))
        start = time.monotonic()
        try:
            try:
                target.write_text(mutant.apply(original), encoding="utf-8")
            except (ValueError, OSError) as error:
                mutant.fate, mutant.detail = "stale", str(error)
                continue
            built, log = scratch.compile()
            if not built:
                first = next((line for line in log.splitlines() if "error" in line), "")
                mutant.fate, mutant.detail = "build-error", first.split("error:")[-1].strip()[:100]
            elif scratch.fingerprint() == baseline:
                mutant.fate = "same-binary"
            else:
                mutant.fate = "survived"
                for stage, limit in zip(stages(args), limits):
                    outcome, detail, _ = scratch.run_tests(stage, timeout=limit)
                    if outcome != "passed":
                        mutant.fate = "killed" if outcome == "failed" else "timeout"
                        mutant.detail = detail
                        break
        finally:
            target.write_text(original, encoding="utf-8")
            mutant.seconds = time.monotonic() - start
            print(f"[{index:>{width}}/{len(mutants)}] {mutant.fate:<11} {mutant.label():<32} "
                  f"{mutant.change()}  {mutant.detail}  ({mutant.seconds:.0f} s)", flush=True)
    # Leave the build matching the unmutated sources.
    scratch.compile()


def summarise(mutants: list[Mutant]) -> str:
    counts = collections.Counter(m.fate for m in mutants)
    killed = counts["killed"] + counts["timeout"]
    judged = killed + counts["survived"]
    lines = ["", "fate counts: " + ", ".join(f"{fate} {counts[fate]}" for fate in
                                            ("killed", "timeout", "survived", "same-binary",
                                             "build-error", "stale") if counts[fate])]
    if judged:
        lines.append(f"kill rate: {killed}/{judged} = {100 * killed / judged:.1f}% "
                     "(killed and timed out over those that built into a different module)")
    per_module: dict[str, collections.Counter] = collections.defaultdict(collections.Counter)
    for m in mutants:
        per_module[m.module][m.fate] += 1
    lines.append("per module: " + "; ".join(
        f"{mod} {c['killed'] + c['timeout']}/{c['killed'] + c['timeout'] + c['survived']}"
        for mod, c in sorted(per_module.items())))
    survivors = [m for m in mutants if m.fate == "survived"]
    if survivors:
        lines.append("survivors:")
        lines.extend(f"  {m.label()}  {m.change()}  [{m.rule}]" for m in survivors)
    return "\n".join(lines)


def default_shared() -> pathlib.Path | None:
    """The folder `shared` beside the main checkout (the tests look for it beside the
    repository, which a copy under build/ is not)."""
    common = subprocess.run(["git", "rev-parse", "--path-format=absolute", "--git-common-dir"], cwd=REPO,
                            capture_output=True, text=True).stdout.strip()
    for base in ([pathlib.Path(common).parent] if common else []) + [REPO]:
        if (base.parent / "shared").is_dir():
            return (base.parent / "shared").resolve()
    return None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    source = parser.add_argument_group("mutants")
    source.add_argument("--list", type=pathlib.Path, action="append", default=[],
                        help="a list file: PATH<TAB>FUNCTION<TAB>OLD<TAB>NEW[<TAB>OCCURRENCE] per line")
    source.add_argument("--rules", action="store_true", help="generate mutants by rule over src/")
    source.add_argument("--only-rules", default=",".join(RULES),
                        help=f"comma-separated rules to use (default all: {', '.join(RULES)})")
    source.add_argument("--files", default="", help="only sources whose path contains one of these (comma-separated)")
    source.add_argument("--sample", type=int, default=0, help="draw this many generated mutants, spread over every module")
    source.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("--dry-run", action="store_true",
                        help="print the mutants (as a list file), count those that no longer resolve, and stop")
    parser.add_argument("--from-lines", metavar="ROOT", type=pathlib.Path, action="append", default=[],
                        help="rewrite the --list files, whose entries name lines (PATH:LINE) of the sources "
                             "under ROOT, in the function form, and stop; given more than once, each line "
                             "is taken from the first ROOT where it holds its text")
    parser.add_argument("--baseline", action="store_true",
                        help="only build the unmutated copy and run the suite on it (with the shared data)")
    parser.add_argument("--write-list", type=pathlib.Path, help="also write the mutants as a list file")
    parser.add_argument("--results", type=pathlib.Path, help="write each mutant's fate as tab-separated lines")
    parser.add_argument("--scratch", type=pathlib.Path, default=REPO / "build" / "mutate",
                        help="scratch folder: the copy, its build and its tests (default build/mutate)")
    parser.add_argument("--shared", type=pathlib.Path, default=None,
                        help="the shared data folder the corpus tests read (default: found beside the checkout)")
    parser.add_argument("-j", "--jobs", type=int, default=2, help="build jobs (default 2)")
    parser.add_argument("--tests-from", metavar="REV",
                        help="run the tests of this git revision (e.g. main) instead of the working tree's")
    parser.add_argument("--no-quick", action="store_true", help="skip the quick first stage")
    parser.add_argument("--quick", default=QUICK_EXCLUDE, help="pytest -k expression of the quick stage")
    parser.add_argument("--timeout-factor", type=float, default=3.0,
                        help="a stage times out after this many times its unmutated duration, plus 30 s")
    parser.add_argument("--max-seconds", type=float, default=1800, help="limit for the unmutated runs")
    parser.add_argument("pytest_args", nargs="*",
                        help="extra pytest arguments (after --); test paths given here replace tests/")
    args = parser.parse_args()

    if args.from_lines:
        for path in args.list:
            path.write_text(from_lines(path, [root.resolve() for root in args.from_lines]), encoding="utf-8")
            print(f"{path}: rewritten", file=sys.stderr)
        return
    mutants: list[Mutant] = []
    for path in args.list:
        mutants.extend(read_list(path))
    resolve(mutants, REPO)
    if args.rules:
        wanted_rules = set(args.only_rules.split(","))
        unknown = wanted_rules - set(RULES)
        if unknown:
            sys.exit(f"unknown rules: {', '.join(sorted(unknown))}")
        generated = []
        for path in source_files(REPO):
            rel = path.relative_to(REPO).as_posix()
            if args.files and not any(part in rel for part in args.files.split(",")):
                continue
            generated.extend(m for m in generate(path, rel) if m.rule in wanted_rules)
        print(f"{len(generated)} candidate mutants in "
              f"{len({m.module for m in generated})} modules", file=sys.stderr)
        if args.sample:
            generated = sample_spread(generated, args.sample, args.seed)
        mutants.extend(generated)
    if not mutants and not args.baseline:
        parser.error("no mutants: give --list FILE and/or --rules")

    if args.write_list or args.dry_run:
        header = f"# {len(mutants)} mutants" + (f", sample {args.sample} seed {args.seed}" if args.sample else "")
        body = "\n".join([header] + [f"# {m.rule}\n{m.as_list_line()}" for m in mutants]) + "\n"
        if args.write_list:
            args.write_list.write_text(body, encoding="utf-8")
        if args.dry_run:
            sys.stdout.write(body)
            stale = [m for m in mutants if m.fate == "stale"]
            for m in stale:
                print(f"stale: {m.path}\t{m.function}\t{m.change()}\t{m.detail}", file=sys.stderr)
            print(f"{len(mutants) - len(stale)} resolved, {len(stale)} stale", file=sys.stderr)
            return

    shared = args.shared or default_shared()
    if shared is None:
        print("no shared data folder found: the corpus tests will be skipped", file=sys.stderr)
    scratch = Scratch(args.scratch.resolve(), shared, args.jobs)
    try:
        run_mutants(mutants, scratch, args)
    finally:
        if args.results:
            args.results.write_text("".join(
                f"{m.module}\t{m.path}\t{m.function}\t{m.line}\t{m.rule}\t{m.old}\t{m.new}\t{m.fate}\t{m.detail}\n"
                for m in mutants), encoding="utf-8")
    if mutants:
        print(summarise(mutants))


if __name__ == "__main__":
    main()
