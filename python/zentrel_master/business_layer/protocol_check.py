"""Checks the frames between a Business Layer and a kernel against the protocol's JSON Schemas.

The schemas live in `docs/schemas/` of the source tree (`kernel-incoming.schema.json` for what a
kernel receives, `kernel-outgoing.schema.json` for what it sends); `docs/protocol.md` explains
them. Each is compiled once per process. A `ProtocolChecker` records every frame that leaves its
schema as a `Violation` instead of raising, so that the peer keeps serving and whoever owns the
checker (a test, a developer's console) decides what a violation means.

Speed: each message is checked against the definition its `type` selects, compiled to Python by
`fastjsonschema` (a few microseconds a message); only a message that fails there is checked
against the whole document by `jsonschema`, the reference implementation of draft 2020-12, which
gives the verdict and its explanation. The schemas therefore use only keywords that both
understand (no `unevaluatedProperties`, `dependentRequired` or `prefixItems`). Validation needs
both packages (the `test` extra); importing this module does not.
"""

from __future__ import annotations

import functools
import json
import threading
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Any, Literal

if TYPE_CHECKING:
    from collections.abc import Callable

    import jsonschema

__all__ = [
    "INCOMING",
    "OUTGOING",
    "SCHEMA_DIR",
    "Direction",
    "ProtocolChecker",
    "Violation",
    "problem",
    "schema",
]

#: `docs/schemas/` of the source tree this package is run from.
SCHEMA_DIR = Path(__file__).resolve().parents[3] / "docs" / "schemas"

Direction = Literal["incoming", "outgoing"]
#: Messages the kernel receives, and messages it sends.
INCOMING: Direction = "incoming"
OUTGOING: Direction = "outgoing"

#: Characters of a frame quoted in a violation.
EXCERPT_CHARS = 300


@functools.cache
def schema(direction: Direction) -> dict[str, Any]:
    """The parsed schema of `direction`."""
    path = SCHEMA_DIR / f"kernel-{direction}.schema.json"
    if not path.is_file():
        raise FileNotFoundError(f"protocol schema not found: {path} (a source checkout has it)")
    return json.loads(path.read_text(encoding="utf-8"))


@functools.cache
def _validator(direction: Direction) -> jsonschema.Draft202012Validator:
    import jsonschema

    document = schema(direction)
    jsonschema.Draft202012Validator.check_schema(document)
    return jsonschema.Draft202012Validator(document)


@functools.cache
def _definitions(direction: Direction) -> dict[str, str]:
    """Message type -> name of the definition its `allOf` branch applies."""
    document = schema(direction)
    selected: dict[str, str] = {}
    for branch in document["allOf"]:
        condition = document["$defs"]["is"][branch["if"]["$ref"].rsplit("/", 1)[-1]]
        test = condition["properties"]["type"]
        for kind in test.get("enum", [test.get("const")]):
            selected[kind] = branch["then"]["$ref"].rsplit("/", 1)[-1]
    return selected


@functools.cache
def _fast(direction: Direction, kind: str) -> Callable[[Any], Any] | None:
    """The compiled check of one message type (None: nothing beyond its type to check)."""
    import fastjsonschema

    name = _definitions(direction).get(kind)
    if name is None:
        return None
    document = schema(direction)
    # use_default=False: the check must never fill in defaults in the message it reads.
    return fastjsonschema.compile(
        {"$defs": document["$defs"], "$ref": f"#/$defs/{name}"}, use_default=False
    )


def _quick_verdict(direction: Direction, message: Any) -> bool:
    """True when `message` surely fits; False when the whole document must decide."""
    import fastjsonschema

    if not isinstance(message, dict):
        return False
    kind = message.get("type")
    # A batch holds whole messages, which only the whole document describes.
    if not isinstance(kind, str) or kind not in _types(direction) or kind == "batch":
        return False
    check = _fast(direction, kind)
    if check is None:
        return True
    try:
        check(message)
    except fastjsonschema.JsonSchemaException:
        return False
    return True


@functools.cache
def _types(direction: Direction) -> frozenset[str]:
    return frozenset(schema(direction)["properties"]["type"]["enum"])


def problem(direction: Direction, message: Any, thorough: bool = False) -> str | None:
    """Why `message` leaves the schema of `direction` (the most relevant error), or None.

    `thorough` skips the compiled per-type check and asks the whole document at once.
    """
    from jsonschema.exceptions import best_match

    if not thorough and _quick_verdict(direction, message):
        return None
    error = best_match(_validator(direction).iter_errors(message))
    if error is None:
        return None
    where = "/".join(str(part) for part in error.absolute_path) or "(message)"
    return f"{where}: {error.message}"


@dataclass(frozen=True)
class Violation:
    """One frame that left its schema."""

    direction: Direction
    workbook_id: str
    problem: str
    excerpt: str

    def __str__(self) -> str:
        return f"{self.direction} frame of {self.workbook_id}: {self.problem}\n    {self.excerpt}"


def _excerpt(message: Any) -> str:
    text = message if isinstance(message, str) else json.dumps(message, default=repr)
    return text if len(text) <= EXCERPT_CHARS else text[:EXCERPT_CHARS] + "..."


class ProtocolChecker:
    """Validates messages in both directions and keeps the violations (thread-safe)."""

    def __init__(self) -> None:
        # Loaded here, so that a broken schema shows at start and not at the first frame.
        _validator(INCOMING)
        _validator(OUTGOING)
        self._lock = threading.Lock()
        self._violations: list[Violation] = []

    def check(self, direction: Direction, workbook_id: str, message: Any) -> bool:
        """Validate one parsed message; record and return False when it leaves the schema."""
        found = problem(direction, message)
        if found is None:
            return True
        self.record(direction, workbook_id, found, message)
        return False

    def check_frame(self, direction: Direction, workbook_id: str, frame: str | bytes) -> Any:
        """Parse and validate one text frame; the parsed message, or None when unreadable."""
        try:
            message = json.loads(frame)
        except ValueError as exc:
            self.record(direction, workbook_id, f"not JSON text: {exc}", _text(frame))
            return None
        self.check(direction, workbook_id, message)
        return message

    def record(self, direction: Direction, workbook_id: str, found: str, message: Any) -> None:
        """Keep a violation found elsewhere (for example in a reassembled chunk series)."""
        with self._lock:
            self._violations.append(Violation(direction, workbook_id, found, _excerpt(message)))

    def take(self) -> list[Violation]:
        """The violations recorded so far, emptying the record."""
        with self._lock:
            taken, self._violations = self._violations, []
        return taken


def _text(frame: str | bytes) -> str:
    return frame if isinstance(frame, str) else frame.decode("utf-8", "replace")
