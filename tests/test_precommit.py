"""The pre-commit hook as another repository meets it: `pre-commit try-repo` installs Corvane
from a commit of this repository (uncommitted changes included) into an environment of its
own and runs the hook on small repositories of good and bad YAML files.

try-repo builds that environment in a store of its own every time, compiling the extension
from scratch: 30 seconds to two minutes a case on two cores (marked `slow`; deselect with
`-m "not slow"`)."""

import os
import re
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

pytestmark = pytest.mark.slow


def git(*args, cwd):
    return subprocess.run(["git", "-c", "user.name=Corvane tests", "-c", "user.email=tests@corvane.invalid",
                           "-c", "commit.gpgsign=false", *args],
                          cwd=cwd, check=True, capture_output=True, timeout=300).stdout


@pytest.fixture(scope="module")
def hook_repository(tmp_path_factory):
    """A clone of this repository with one more commit holding its uncommitted state."""
    if shutil.which("git") is None:
        pytest.skip("git is not installed")
    try:
        top = git("rev-parse", "--show-toplevel", cwd=ROOT).decode().strip()
    except subprocess.CalledProcessError:
        top = None
    if top is None or os.path.realpath(top) != os.path.realpath(ROOT):
        pytest.skip(f"{ROOT} is not a git checkout")
    clone = tmp_path_factory.mktemp("hook") / "corvane"
    git("clone", "-q", ROOT, str(clone), cwd=ROOT)
    git("rm", "-rq", "--cached", ".", cwd=clone)
    listed = git("ls-files", "-z", "--cached", "--others", "--exclude-standard", cwd=ROOT).decode().split("\0")
    for name in filter(None, listed):
        source, target = os.path.join(ROOT, name), clone / name
        if target.exists():
            target.unlink()
        if os.path.isfile(source):
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, target)
    git("add", "-A", cwd=clone)
    if git("status", "--porcelain", cwd=clone):
        git("commit", "-qm", "uncommitted changes", cwd=clone)
    return clone


def try_repo(hook_repository, tmp_path, files):
    for name, text in files.items():
        path = tmp_path / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(text if isinstance(text, bytes) else text.encode())
    git("init", "-q", cwd=tmp_path)
    git("add", "-A", cwd=tmp_path)
    env = dict(os.environ, PRE_COMMIT_HOME=str(tmp_path / ".cache"))
    result = subprocess.run([sys.executable, "-m", "pre_commit", "try-repo", "--color", "never", str(hook_repository),
                             "corvane", "--all-files"], cwd=tmp_path, env=env, capture_output=True, timeout=1800)
    lines = result.stdout.decode().splitlines()
    # The hook's result line, its run of dots shortened: "corvane...Passed".
    outcome = [re.sub(r"\.{3,}", "...", line) for line in lines if line.startswith("corvane...")]
    problems = [line for line in lines if re.match(r"\S+\.ya?ml:", line)]
    return result.returncode, outcome, problems, result


GOOD = {
    "app.yaml": "name: app\nports: [80, 443]\n",
    "ci/workflow.yml": "on: push\njobs:\n  test:\n    steps:\n      - run: make\n",
    # Not YAML by its name, so not checked.
    "notes.txt": "a: &anchor 1\n",
}


def test_hook_passes_a_repository_whose_yaml_files_load(hook_repository, tmp_path):
    status, outcome, problems, result = try_repo(hook_repository, tmp_path, GOOD)
    assert (status, outcome, problems) == (0, ["corvane...Passed"], []), result


def test_hook_fails_on_each_bad_file_and_refuses_duplicate_keys(hook_repository, tmp_path):
    files = {**GOOD, "twice.yaml": "a: 1\nb: 2\na: 3\n", "deploy/anchor.yml": "base: &b 1\n",
             "latin1.yaml": b"name: caf\xe9\n"}
    status, outcome, problems, result = try_repo(hook_repository, tmp_path, files)
    assert (status, outcome) == (1, ["corvane...Failed"]), result
    assert sorted(problems) == [
        "deploy/anchor.yml:1: Anchors are not supported in Corvane",
        "latin1.yaml:1: not valid UTF-8: invalid continuation byte (byte 0xe9)",
        "twice.yaml:3: Duplicate key: 'a'",
    ], result
