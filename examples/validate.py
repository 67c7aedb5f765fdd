"""Checks a service configuration against a pydantic model and reports every problem with the
line it is on, in the form editors and CI annotators jump from:

    python examples/validate.py [FILE]        (default: examples/service.yaml)

prints `PATH:LINE: dotted.path: message` for each problem and exits with 1, or prints
`PATH: valid` and exits with 0. pydantic is needed for this example only, not by Corvane.
"""

import pathlib
import sys

from pydantic import BaseModel, ConfigDict, ValidationError

import corvane


class Model(BaseModel):
    # Unknown keys are mistakes too (a misspelt key would otherwise be ignored), and values are
    # not converted: "8080" is not a port.
    model_config = ConfigDict(extra="forbid", strict=True)


class Listen(Model):
    host: str
    port: int
    timeout_seconds: float


class Service(Model):
    name: str
    version: str
    debug: bool
    listen: Listen
    allowed_origins: list[str]
    headers: dict[str, str]


class Pool(Model):
    min: int
    max: int


class Database(Model):
    url: str
    pool: Pool
    replica: str | None


class Worker(Model):
    name: str
    schedule: str
    queues: list[str] = []
    command: str | None = None
    enabled: bool = True
    description: str | None = None


class FeatureFlags(Model):
    new_checkout: bool
    beta_regions: list[str]


class Limits(Model):
    max_upload_bytes: int
    file_mode: int
    retry_backoff: float


class Config(Model):
    service: Service
    database: Database
    workers: list[Worker]
    feature_flags: FeatureFlags
    limits: Limits


def problems(path: str) -> list[str]:
    """One `PATH:LINE: dotted.path: message` line per problem of the file."""
    with open(path, encoding="utf-8", newline="") as file:
        text = file.read()
    try:
        value, lines = corvane.load_with_lines(text, strict=True)
    except corvane.CorvaneError as exc:
        return [f"{path}:{exc.line}: {exc.message}"]
    try:
        Config.model_validate(value)
    except ValidationError as exc:
        # A missing key's path ends in a key the document lacks: find gives the line of the
        # mapping that should hold it.
        return [f"{path}:{lines.find(error['loc'])}: {'.'.join(map(str, error['loc']))}: {error['msg']}"
                for error in exc.errors()]
    return []


def main(argv: list[str]) -> int:
    path = argv[1] if len(argv) > 1 else str(pathlib.Path(__file__).with_name("service.yaml"))
    found = problems(path)
    for problem in found:
        print(problem)
    if not found:
        print(f"{path}: valid")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
