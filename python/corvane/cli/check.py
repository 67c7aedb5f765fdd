"""`corvane --check`: every file loaded, then checked against its schema, each problem reported."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

from corvane.cli import schema
from corvane.cli.files import display_name, files_to_check, load_text_of, read_text
from corvane.cli.portable import portability_problems
from corvane.cli.problems import Failed, Problem
from corvane.cli.report import Report


class Checker:
    def __init__(self, report: Report, strict: bool, yaml_1_1_bools: bool, portable: bool = False,
                 schema_validator: Any = None) -> None:
        self.report = report
        self.strict = strict
        self.yaml_1_1_bools = yaml_1_1_bools
        self.portable = portable
        self.schema_validator = schema_validator  # from --schema
        self.named_validators: dict[str, Any] = {}  # the schemas that files name, by path

    def validator_for(self, path: str, text: str) -> Any:
        """The validator of the schema the file names in its leading comments (a file's own
        schema comes first), or --schema's; None for no schema. Failed when the file's schema
        cannot be used."""
        named = schema.named_schema(text)
        if named is None:
            return self.schema_validator
        if schema.is_remote(named):
            if self.schema_validator is not None:
                return self.schema_validator
            raise Failed(Problem.with_file(display_name(path), "remote schemas are not fetched: pass --schema"))
        resolved = schema.resolve(named, path)
        if resolved not in self.named_validators:
            try:
                self.named_validators[resolved] = schema.load_schema_file(resolved)
            except schema.SchemaUnusable as unusable:
                raise Failed(Problem.with_file(display_name(path), str(unusable))) from None
        return self.named_validators[resolved]

    def check_file(self, path: str) -> None:
        """Reports every problem of one file; Failed for one that ends its check."""
        text = read_text(path)
        name = display_name(path)
        validator = self.validator_for(path, text)
        found: list[Problem] = []
        if validator is None:
            load_text_of(path, text, self.strict, self.yaml_1_1_bools)
        else:
            value, lines = load_text_of(path, text, self.strict, self.yaml_1_1_bools, with_lines=True)
            found.extend(schema.violations(validator, value, lines, name))
        if self.portable:
            found.extend(portability_problems(text, name, self.strict, self.yaml_1_1_bools))
        # In the order of the lines, each kind of check's problems in their own order.
        for problem in sorted(found, key=lambda problem: problem.line or 0):
            self.report.add(problem)
        if found:
            self.report.files_failed += 1

    def run(self, paths: Sequence[str], follow_ignore_rules: bool) -> int:
        for path in files_to_check(paths, follow_ignore_rules):
            if isinstance(path, Problem):
                self.report.add(path)
                self.report.files_failed += 1
                continue
            self.report.files_checked += 1
            try:
                self.check_file(path)
            except Failed as failure:
                self.report.add(failure.problem)
                self.report.files_failed += 1
        self.report.finish()
        return 1 if self.report.files_failed else 0
