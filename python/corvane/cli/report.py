"""The formats the command reports problems in: one small renderer per format over the same list
of problems. `text` and `github` write a line per problem as it is found; `json`, `sarif` and
`gitlab` write one document when the run ends."""

from __future__ import annotations

import hashlib
import json
import os
from collections import Counter
from collections.abc import Callable
from urllib.parse import quote

from corvane import __version__
from corvane.cli.problems import KINDS, Problem, report_line, shortened

FORMATS = ("text", "github", "json", "sarif", "gitlab")
SARIF_SCHEMA = "https://json.schemastore.org/sarif-2.1.0.json"
# Code Quality severities: a file that does not load at all weighs most, a value that another
# reader reads differently least.
GITLAB_SEVERITY = {"syntax": "critical", "unsupported": "critical", "file": "critical",
                   "duplicate-key": "major", "schema": "major", "portability": "minor"}


def relative(path: str) -> str:
    """The path as CI systems name files: relative to the working folder where it lies inside
    it, without a leading `./`, with forward slashes."""
    if os.path.isabs(path):
        inside = os.path.relpath(path)
        if not inside.startswith(os.pardir):
            path = inside
    path = path.replace(os.sep, "/")
    while path.startswith("./"):
        path = path[2:]
    return path


def github_escape(text: str, is_property: bool) -> str:
    """GitHub's escaping of a workflow command's message, and of its property values, which
    also may not hold the `:` and `,` that separate them."""
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    if is_property:
        text = text.replace(":", "%3A").replace(",", "%2C")
    return text


def github_line(problem: Problem) -> str:
    properties = [f"file={github_escape(relative(problem.path), True)}"]
    if problem.line is not None:
        properties.append(f"line={problem.line}")
    properties.append(f"title={github_escape(f'corvane ({problem.kind})', True)}")
    return f"::error {','.join(properties)}::{github_escape(shortened(problem.message), False)}"


def json_document(problems: list[Problem], checked: int, failed: int) -> object:
    return {
        "files_checked": checked,
        "files_failed": failed,
        "problems": [{"path": problem.path, "line": problem.line, "kind": problem.kind,
                      "message": shortened(problem.message)} for problem in problems],
    }


def sarif_document(problems: list[Problem], checked: int, failed: int) -> object:
    rules = [{"id": kind, "name": name, "shortDescription": {"text": text}} for kind, (name, text) in KINDS.items()]
    index = {kind: position for position, kind in enumerate(KINDS)}
    results = []
    for problem in problems:
        location: dict[str, object] = {"artifactLocation": {"uri": quote(relative(problem.path))}}
        if problem.line is not None:
            location["region"] = {"startLine": problem.line}
        results.append({"ruleId": problem.kind, "ruleIndex": index[problem.kind], "level": "error",
                        "message": {"text": shortened(problem.message)},
                        "locations": [{"physicalLocation": location}]})
    driver = {"name": "corvane", "version": __version__, "rules": rules}
    return {"version": "2.1.0", "$schema": SARIF_SCHEMA, "runs": [{"tool": {"driver": driver}, "results": results}]}


def gitlab_document(problems: list[Problem], checked: int, failed: int) -> object:
    issues = []
    seen: Counter[tuple[str, str, str]] = Counter()
    for problem in problems:
        # What the problem is and where, not its line, so that it keeps its fingerprint when
        # lines are added above it; the same problem twice in a file is told apart by its rank.
        path = relative(problem.path)
        what = (path, problem.kind, problem.message)
        seen[what] += 1
        fingerprint = hashlib.sha256("\0".join([*what, str(seen[what])]).encode("utf-8", "surrogateescape"))
        issues.append({"type": "issue", "description": shortened(problem.message), "check_name": problem.kind,
                       "fingerprint": fingerprint.hexdigest(), "severity": GITLAB_SEVERITY[problem.kind],
                       "location": {"path": path, "lines": {"begin": problem.line or 1}}})
    return issues


DOCUMENTS: dict[str, Callable[[list[Problem], int, int], object]] = {
    "json": json_document, "sarif": sarif_document, "gitlab": gitlab_document}


class Report:
    """Takes the problems of a run in the order they are found and writes them in one format
    through `write_line`."""

    def __init__(self, format: str, write_line: Callable[[str], None]) -> None:
        self.format = format
        self.write_line = write_line
        self.problems: list[Problem] = []
        self.files_checked = 0
        self.files_failed = 0

    def add(self, problem: Problem) -> None:
        if self.format == "text":
            self.write_line(report_line(problem))
        elif self.format == "github":
            self.write_line(github_line(problem))
        else:
            self.problems.append(problem)

    def finish(self) -> None:
        if self.format in DOCUMENTS:
            document = DOCUMENTS[self.format](self.problems, self.files_checked, self.files_failed)
            self.write_line(json.dumps(document, ensure_ascii=False, indent=2))
