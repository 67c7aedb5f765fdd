"""The files the command reads: standard input or a file, read whole, decoded and loaded, and the
YAML files under a folder."""

from __future__ import annotations

import os
import subprocess
import sys
from collections.abc import Iterator, Sequence
from typing import Any

from corvane import CorvaneError, InternalError, Value
from corvane._files import decode_utf8, load_text, load_with_lines_text
from corvane.cli.problems import Failed, Problem

STDIN = "-"
STDIN_NAME = "<stdin>"
YAML_SUFFIXES = (".yaml", ".yml")
NOT_ENOUGH_MEMORY = "not enough memory"


def display_name(path: str) -> str:
    return STDIN_NAME if path == STDIN else path


def read_text(path: str) -> str:
    """The file's text, decoded as UTF-8 without newline translation (load handles CR LF)."""
    name = display_name(path)
    try:
        if path == STDIN:
            if sys.stdin is None:
                raise Failed(Problem.with_file(name, "cannot read: standard input is closed"))
            data = sys.stdin.buffer.read()
        else:
            with open(path, "rb") as file:
                data = file.read()
        return decode_utf8(data, name)
    except OSError as exc:
        raise Failed(Problem.with_file(name, f"cannot read: {exc.strerror or exc}")) from None
    except MemoryError:
        raise Failed(Problem.with_file(name, f"cannot read: {NOT_ENOUGH_MEMORY}")) from None
    except CorvaneError as exc:
        raise Failed(Problem.of_error(name, exc)) from None


def load_text_of(path: str, text: str, strict: bool, yaml_1_1_bools: bool, with_lines: bool = False) -> Any:
    """The value of a file's text (with its Lines, when asked for); Failed with the problem
    otherwise."""
    name = display_name(path)
    try:
        if with_lines:
            return load_with_lines_text(text, name, strict, yaml_1_1_bools)
        return load_text(text, name, strict, yaml_1_1_bools)
    except CorvaneError as exc:
        raise Failed(Problem.of_error(name, exc)) from None
    except MemoryError:
        raise Failed(Problem.with_file(name, f"cannot load: {NOT_ENOUGH_MEMORY}")) from None
    except InternalError:
        # The interpreter could not build the value, which only memory running out causes: one
        # more problem with the file, not the end of the command.
        raise Failed(Problem.with_file(name, f"cannot load: {NOT_ENOUGH_MEMORY}")) from None


def load_path(path: str, strict: bool, yaml_1_1_bools: bool) -> Value:
    """The value of the file at `path` (or standard input); Failed with the problem otherwise."""
    value: Value = load_text_of(path, read_text(path), strict, yaml_1_1_bools)
    return value


def folder_listing(path: str) -> list[os.DirEntry[str]]:
    try:
        with os.scandir(path) as entries:
            return sorted(entries, key=lambda entry: entry.name)
    except OSError as exc:
        raise Failed(Problem.with_file(path, f"cannot read: {exc.strerror or exc}")) from None


def yaml_files_under(folder: str) -> Iterator[str | Problem]:
    """The *.yaml and *.yml files under `folder`, depth first in name order, and a problem for
    each folder that cannot be listed. Symbolic links are not followed and hidden folders
    (.git, .venv) are skipped: only a folder named on the command line is walked whatever its
    name."""
    try:
        stack = [iter(folder_listing(folder))]
    except Failed as failed:
        yield failed.problem
        return
    while stack:
        entry = next(stack[-1], None)
        if entry is None:
            stack.pop()
        elif entry.is_symlink():
            continue
        elif entry.is_dir(follow_symlinks=False):
            if entry.name.startswith("."):
                continue
            try:
                stack.append(iter(folder_listing(entry.path)))
            except Failed as failed:
                yield failed.problem
        elif entry.name.endswith(YAML_SUFFIXES) and entry.is_file(follow_symlinks=False):
            yield entry.path


def git_listing(folder: str) -> list[str] | None:
    """The files git would list under `folder` (tracked and untracked, less what the ignore rules
    exclude), or None when the folder is not in a git work tree or git is not at hand."""
    try:
        run = subprocess.run(["git", "-C", folder, "ls-files", "-z", "--cached", "--others", "--exclude-standard",
                              "--", "."], capture_output=True, timeout=600)
    except (OSError, subprocess.SubprocessError):
        return None
    if run.returncode != 0:
        return None
    return [os.fsdecode(name) for name in run.stdout.split(b"\0") if name]


def yaml_files_listed_by_git(folder: str, listed: list[str]) -> Iterator[str]:
    """The *.yaml and *.yml files among those git lists, in the walk's order: depth first in name
    order. Symbolic links are not followed, and a tracked file that is gone is no longer there."""
    names = sorted((name for name in listed if name.endswith(YAML_SUFFIXES)), key=lambda name: name.split("/"))
    for name in names:
        path = os.path.join(folder, name)
        if not os.path.islink(path) and os.path.isfile(path):
            yield path


def files_to_check(paths: Sequence[str], follow_ignore_rules: bool = True) -> Iterator[str | Problem]:
    """The files the arguments of --check stand for, a folder for the YAML files under it (in a
    git work tree, those git would list), and a problem for each folder that cannot be listed."""
    for path in paths:
        if path != STDIN and os.path.isdir(path):
            listed = git_listing(path) if follow_ignore_rules else None
            if listed is None:
                yield from yaml_files_under(path)
            else:
                yield from yaml_files_listed_by_git(path, listed)
        else:
            yield path
