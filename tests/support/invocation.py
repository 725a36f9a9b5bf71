"""Calling functions in a kernel process as the add-in does: workbook modules and callables."""

from __future__ import annotations

import itertools
from typing import Any

from .business_layer import Session
from .console import Console

__all__ = ["Invoker", "wire", "FUNCTION_FINAL", "CALLABLE_FINAL"]

FUNCTION_FINAL = "function_execution_result"
CALLABLE_FINAL = "python_function_result"


def wire(value: Any) -> dict[str, Any]:
    """The wire value of a plain scalar, as the add-in sends it."""
    kinds = {type(None): "Null", bool: "Bool", int: "Int", float: "Float", str: "String"}
    return {"type": kinds[type(value)], "value": value, "isSpec": False}


class Invoker:
    """Pushes workbook modules to one kernel and calls their functions and registered callables."""

    def __init__(self, session: Session) -> None:
        self.session = session
        self.console = Console(session)
        self._ids = itertools.count(1)

    @property
    def workbook_id(self) -> str:
        return self.session.session.workbook_id

    def push(self, name: str, code: str) -> None:
        """Sync a module's source, as the editor does on save."""
        reply = self.console.exchange({"type": "update_module", "module_name": name, "code": code})
        assert reply["type"] == "module_updated", reply

    def call(self, module: str, function: str, *args: Any, **fields: Any) -> list[dict[str, Any]]:
        """Every message of one custom function call (plain arguments sent as wire values)."""
        message = {
            "type": "custom_function_call",
            "module_name": module,
            "function_name": function,
            "args": [wire(a) for a in args],
            "workbook_id": self.workbook_id,
            **fields,
        }
        return self.send(message, FUNCTION_FINAL)

    def call_callable(self, callable_id: str, *args: Any, **fields: Any) -> list[dict[str, Any]]:
        """Every message of one registered callable call."""
        message = {
            "type": "python_function_call",
            "callable_id": callable_id,
            "args": [wire(a) for a in args],
            "workbook_id": self.workbook_id,
            **fields,
        }
        return self.send(message, CALLABLE_FINAL)

    def send(self, message: dict[str, Any], final: str) -> list[dict[str, Any]]:
        """Send `message` (given a request id when it has none) and collect up to `final`."""
        message.setdefault("request_id", f"call-{next(self._ids)}")
        self.session.send(message)
        return self.collect(message["request_id"], final)

    def collect(self, request_id: Any, final: str) -> list[dict[str, Any]]:
        """The messages of `request_id` up to its `final` one; others are kept by the console."""
        seen: list[dict[str, Any]] = []
        while True:
            pending = self.console._stash.get(request_id)
            message = pending.pop(0) if pending else self.session.receive()
            if message.get("request_id") != request_id:
                self.console._stash.setdefault(message.get("request_id"), []).append(message)
                continue
            seen.append(message)
            if message["type"] == final:
                return seen

    def register(self, expression: str) -> str:
        """Run `expression` (a wire value of a callable) in the console; return the callable id."""
        value = self.console.value(expression)
        assert value["type"] == "Python_Function" and value["isSpec"] is True, value
        return value["value"]
