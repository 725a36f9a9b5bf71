"""Driving debug runs in a kernel process as the editor does: run_module with debug, commands."""

from __future__ import annotations

import itertools
from typing import Any

from .console import FINAL
from .invocation import Invoker, wire

__all__ = ["DebugClient", "bp"]


def bp(module: str, line: int, **extra: Any) -> dict[str, Any]:
    """A breakpoint record."""
    return {"module": module, "line": line, **extra}


class DebugClient:
    """Starts debug runs on one kernel and reads what they send, in the order it comes."""

    def __init__(self, invoker: Invoker) -> None:
        self.invoker = invoker
        self.session = invoker.session
        self._ids = itertools.count(1)
        #: Every message received so far that a wait has not consumed yet.
        self.inbox: list[dict[str, Any]] = []

    @property
    def workbook_id(self) -> str:
        return self.invoker.workbook_id

    def start(
        self,
        module: str,
        function: str,
        *args: Any,
        breakpoints: list[dict[str, Any]] | None = None,
        request_id: str | None = None,
        **fields: Any,
    ) -> str:
        """Send a debug run_module; return its request id."""
        request_id = request_id or f"dbg-{next(self._ids)}"
        self.session.send(
            {
                "type": "run_module",
                "module_name": module,
                "function_name": function,
                "args": [wire(a) for a in args],
                "debug": True,
                "breakpoints": breakpoints or [],
                "request_id": request_id,
                "workbook_id": self.workbook_id,
                **fields,
            }
        )
        return request_id

    def start_running(self, module: str, function: str, *args: Any, **fields: Any) -> str:
        """`start`, then wait until the kernel has the session (commands sent earlier could
        overtake the session's task, which sets the debugger up)."""
        request_id = self.start(module, function, *args, **fields)
        self.session.wait_for_log(f"debug=True, source=ide, request_id={request_id})")
        return request_id

    def command(self, kind: str, **fields: Any) -> None:
        """Send a debug command ("continue", "step_over", ..., "update_breakpoints")."""
        self.session.send({"type": f"debug_{kind}", **fields})

    def until(self, kind: str, **expected: Any) -> list[dict[str, Any]]:
        """Messages up to and including the first of type `kind` whose fields match `expected`."""
        seen: list[dict[str, Any]] = []
        while True:
            message = self.inbox.pop(0) if self.inbox else self.session.receive()
            seen.append(message)
            if message.get("type") == kind and all(
                message.get(k) == v for k, v in expected.items()
            ):
                return seen

    def next(self, kind: str, **expected: Any) -> dict[str, Any]:
        """The next message of type `kind` (matching `expected`); the ones before are dropped."""
        return self.until(kind, **expected)[-1]

    def paused(self) -> dict[str, Any]:
        """The next pause message."""
        return self.next("debug_paused")

    def finish(self, request_id: str) -> list[dict[str, Any]]:
        """The messages up to the run's own "debug_terminated"."""
        return self.until("debug_terminated", request_id=request_id)

    def run_code(self, code: str) -> list[dict[str, Any]]:
        """The messages of an execution request; the others stay in the inbox, in order."""
        request_id = f"code-{next(self._ids)}"
        self.session.send({"type": "execution_request", "code": code, "request_id": request_id})
        mine: list[dict[str, Any]] = []
        kept: list[dict[str, Any]] = []
        while not mine or mine[-1]["type"] not in FINAL:
            message = self.inbox.pop(0) if self.inbox else self.session.receive()
            (mine if message.get("request_id") == request_id else kept).append(message)
        self.inbox[:0] = kept
        return mine

    def evaluate(self, expression: str) -> dict[str, Any]:
        """The evaluation result of `expression`."""
        self.command("evaluate", expression=expression, request_id="eval")
        return self.next("debug_evaluate_result", request_id="eval")
