"""Checking a loaded file against a JSON Schema (--schema, or the schema a file names in its
leading comments as the YAML language server's modeline does), with the jsonschema package, and
every violation reported on the line of the value at fault."""

from __future__ import annotations

import importlib
import json
import math
import os
import re
from collections.abc import Iterator
from typing import Any

import corvane
from corvane import Lines, Scalar, Value
from corvane.cli.problems import Problem

INSTALL_HINT = "pip install corvane[schema]"
# `# yaml-language-server: $schema=...` among the comments before the document's content.
MODELINE = re.compile(r"#\s*yaml-language-server\s*:\s*\$schema=(\S+)")


class SchemaUnusable(Exception):
    """A schema that cannot be used at all: its file, or the jsonschema package, is missing or
    wrong. A usage error for --schema; a problem with the file for a file's own schema."""


def load_schema_file(path: str) -> Any:
    """The schema in a JSON or YAML file, and a validator made for the draft it names."""
    try:
        jsonschema = importlib.import_module("jsonschema")
    except ImportError:
        raise SchemaUnusable(f"checking a schema needs the jsonschema package: {INSTALL_HINT}") from None
    try:
        with open(path, "rb") as file:
            text = file.read().decode("utf-8-sig")
    except OSError as exc:
        raise SchemaUnusable(f"cannot read the schema {path}: {exc.strerror or exc}") from None
    except UnicodeDecodeError as exc:
        raise SchemaUnusable(f"cannot read the schema {path}: not valid UTF-8 ({exc.reason})") from None
    try:
        schema = json.loads(text) if path.endswith(".json") else corvane.load(text, strict=True)
    except (ValueError, corvane.CorvaneError) as exc:
        raise SchemaUnusable(f"the schema {path} does not load: {exc}") from None
    if not isinstance(schema, (dict, bool)):
        raise SchemaUnusable(f"the schema {path} is not a JSON Schema: it is a {type(schema).__name__}")
    validator_class = jsonschema.validators.validator_for(schema)
    try:
        validator_class.check_schema(schema)
    except jsonschema.SchemaError as exc:
        raise SchemaUnusable(f"the schema {path} is not valid: {exc.message}") from None
    return validator_class(schema)


def named_schema(text: str) -> str | None:
    """The schema named by a modeline in the comments that open the document, if any."""
    for line in text.splitlines():
        stripped = line.strip()
        if stripped and not stripped.startswith("#"):
            return None
        found = MODELINE.match(stripped)
        if found:
            return found.group(1)
    return None


def as_json(key: object) -> str:
    """A key that is not a string, as JSON text writes it (as `corvane FILE` prints it)."""
    if key is None:
        return "null"
    if isinstance(key, bool):
        return "true" if key else "false"
    if isinstance(key, float) and not math.isfinite(key):
        return ".nan" if math.isnan(key) else (".inf" if key > 0 else "-.inf")
    return repr(key)


def json_value(value: Value, paths: dict[tuple[Scalar, ...], tuple[Scalar, ...]],
               path: tuple[Scalar, ...], original: tuple[Scalar, ...]) -> Any:
    """The value as JSON sees it (keys as strings, NaN and infinities as their names), and in
    `paths` the path of each of its parts in the document's own keys."""
    paths[path] = original
    if isinstance(value, dict):
        out = {}
        for key, member in value.items():
            name = key if isinstance(key, str) else as_json(key)
            out[name] = json_value(member, paths, path + (name,), original + (key,))
        return out
    if isinstance(value, list):
        return [json_value(item, paths, path + (index,), original + (index,)) for index, item in enumerate(value)]
    if isinstance(value, float) and not math.isfinite(value):
        return as_json(value)
    return value


def violations(validator: Any, value: Value, lines: Lines, path: str) -> Iterator[Problem]:
    """Every violation of the schema, in the order of the lines they are on."""
    paths: dict[tuple[Scalar, ...], tuple[Scalar, ...]] = {}
    document = json_value(value, paths, (), ())
    found = []
    for error in validator.iter_errors(document):
        at = tuple(error.absolute_path)
        # The longest prefix of the error's path that the document has: a missing key's
        # mapping, for instance.
        while at not in paths:
            at = at[:-1]
        line = lines.find(paths[at])
        found.append((line, error.json_path, error.message))
    for line, where, message in sorted(found, key=lambda item: item[0]):
        yield Problem(path, line, "schema", f"{where}: {message}")


def resolve(named: str, file_path: str) -> str:
    """A schema file a modeline names, relative to the file that names it."""
    return os.path.join(os.path.dirname(file_path), named)


def is_remote(named: str) -> bool:
    return "://" in named
