"""A console face over a kernel process: execution requests and their answers."""

from __future__ import annotations

import itertools
from typing import Any

from .business_layer import Session

__all__ = ["Console", "FINAL", "NOT_AN_OBJECT", "streams"]

FINAL = {"execution_result", "execution_error"}
NOT_AN_OBJECT = {"type": "error", "message": "Invalid message: expected a JSON object"}


def streams(messages: list[dict[str, Any]]) -> list[tuple[str, str]]:
    """(type, text) of the "stdout"/"stderr" messages, consecutive ones of a stream joined.

    The kernel merges pieces of one stream that wait together into one message, so how a run's
    output is cut into messages depends on timing; what it says, and in which order, does not.
    """
    merged: list[tuple[str, str]] = []
    for message in messages:
        kind = message.get("type")
        if kind not in ("stdout", "stderr"):
            continue
        if merged and merged[-1][0] == kind:
            merged[-1] = (kind, merged[-1][1] + message["content"])
        else:
            merged.append((kind, message["content"]))
    return merged


class Console:
    """Sends messages to one kernel process and collects what answers them."""

    def __init__(self, session: Session) -> None:
        self.session = session
        self._ids = itertools.count(1)
        #: Messages received for other requests while collecting one, by request id.
        self._stash: dict[Any, list[dict[str, Any]]] = {}

    def run(self, code: str, **fields: Any) -> list[dict[str, Any]]:
        """Every message of one execution request, up to its final message."""
        fields.setdefault("request_id", f"req-{next(self._ids)}")
        self.session.send({"type": "execution_request", "code": code, **fields})
        return self.collect(fields["request_id"])

    def collect(self, request_id: str | None) -> list[dict[str, Any]]:
        """The messages of `request_id` up to its final one; others are kept for their turn."""
        seen: list[dict[str, Any]] = []
        pending = self._stash.pop(request_id, [])
        while True:
            message = pending.pop(0) if pending else self.session.receive()
            if message.get("request_id") != request_id:
                self._stash.setdefault(message.get("request_id"), []).append(message)
                continue
            seen.append(message)
            if message["type"] in FINAL:
                if pending:
                    self._stash[request_id] = pending
                return seen

    def value(self, code: str) -> Any:
        """The raw value of an expression evaluated in the kernel (JSON-encodable)."""
        final = self.run(code, function_name="probe")[-1]
        assert final["type"] == "execution_result", final
        return final["result"]

    def exchange(self, message: dict[str, Any]) -> dict[str, Any]:
        """Send `message` and return the kernel's next message."""
        self.session.send(message)
        return self.session.receive()

    def assert_silent(self, message: dict[str, Any]) -> None:
        """Send `message` and check that the kernel answered nothing to it."""
        self.session.send(message)
        assert self.session.probe() == NOT_AN_OBJECT
