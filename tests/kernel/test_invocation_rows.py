"""What every path that calls user code shares, as one table: custom functions, registered
callables, event handlers and streaming functions each survive an exit request of the code they
run, fail a call whose argument is no wire value, and refuse a malformed field without running
anything; after each row the same path still answers a good call."""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

import pytest

from support.events import assert_serving, collect_until
from support.invocation import Invoker, wire

MODULE = "wb_rows"
SOURCE = '''
import sys

def answer(*args):
    return 42

def leave():
    sys.exit(3)

def interrupt():
    raise KeyboardInterrupt

def numbers(*args):
    yield 42

def stream_leave():
    yield 1
    sys.exit(4)
'''


def custom_refusal(sent: dict[str, Any], messages: list[dict[str, Any]]) -> str:
    general, reply = messages
    record = general["error"]
    assert list(general.items()) == [
        ("type", "execution_error"), ("success", False), ("error", record),
        ("request_id", sent["request_id"]), ("module_name", sent.get("module_name", "")),
        ("function_name", sent.get("function_name", "")), ("workbook_id", None),
        ("source", sent.get("source", "addin")),
    ]
    assert list(reply.items()) == [
        ("type", "function_execution_result"), ("request_id", sent["request_id"]),
        ("status", "error"), ("error", record),
    ]
    assert (record["type"], record["traceback"]) == ("ValidationError", "")
    return record["message"]


def callable_refusal(sent: dict[str, Any], messages: list[dict[str, Any]]) -> str:
    (reply,) = messages
    record = reply["error"]
    assert list(reply.items()) == [
        ("type", "python_function_result"), ("success", False), ("error", record),
        ("request_id", sent["request_id"]), ("workbook_id", sent.get("workbook_id")),
    ]
    assert (record["type"], record["traceback"]) == ("ValidationError", "")
    return record["message"]


def error_refusal(sent: dict[str, Any], messages: list[dict[str, Any]]) -> str:
    (reply,) = messages
    # The request id is echoed when it is one; a malformed id is not sent back.
    echoed = isinstance(sent["request_id"], str)
    assert list(reply) == ["type", "message", "request_id"][: 3 if echoed else 2]
    assert reply["type"] == "error" and reply.get("request_id") == (sent["request_id"] if echoed else None)
    prefix = sent["type"] + ": "
    assert reply["message"].startswith(prefix)
    return reply["message"][len(prefix):]


@dataclass(frozen=True)
class Path:
    """How one kind of call is sent, which message closes it and how it reads."""

    message_type: str
    is_final: Callable[[dict[str, Any]], bool]
    #: The error text of the closing message; None when the call succeeded.
    failure: Callable[[dict[str, Any]], str | None]
    #: The text of the refusal of a malformed call, its shape checked.
    refusal: Callable[[dict[str, Any], list[dict[str, Any]]], str]
    #: Whether a refusal is a call's own closing messages (else one "error" message).
    refused_by_closing: bool
    good_function: str

    def target(self, calls: Invoker, function: str) -> dict[str, Any]:
        if self.message_type == "python_function_call":
            expression = f"import {MODULE}; zentrel.Serializer.to_wire({MODULE}.{function})"
            return {"callable_id": calls.register(expression)}
        return {"module_name": MODULE, "function_name": function}

    def send(self, calls: Invoker, message: dict[str, Any]) -> list[dict[str, Any]]:
        message = {"type": self.message_type, **message}
        calls.session.send(message)
        return collect_until(calls.session, message.get("request_id"), self.is_final)

    def call(self, calls: Invoker, function: str, args: list[Any], **fields: Any) -> str | None:
        """The failure of one call (None if it succeeded)."""
        message = {"request_id": "row", **self.target(calls, function), "args": args, **fields}
        return self.failure(self.send(calls, message)[-1])

    def refuse(self, calls: Invoker, fields: dict[str, Any]) -> str:
        sent = {"type": self.message_type, "request_id": "v1", **fields}
        calls.session.send(sent)
        if self.refused_by_closing:
            messages = collect_until(calls.session, "v1", self.is_final)
            messages = [m for m in messages if m["type"] not in ("stdout", "stderr")]
        else:
            messages = [calls.session.receive()]
        return self.refusal(sent, messages)

    def assert_serving(self, calls: Invoker) -> None:
        assert_serving(calls.session)
        assert self.call(calls, self.good_function, [wire(1)]) is None


PATHS = {
    "custom": Path(
        "custom_function_call", lambda m: m["type"] == "function_execution_result",
        lambda m: m["error"] if m["status"] == "error" else None, custom_refusal, True, "answer",
    ),
    "callable": Path(
        "python_function_call", lambda m: m["type"] == "python_function_result",
        lambda m: None if m["success"] else m["error"], callable_refusal, True, "answer",
    ),
    "event": Path(
        "event_execution", lambda m: m["type"] == "event_execution_result",
        lambda m: m["error"] if m["status"] == "error" else None, error_refusal, False, "answer",
    ),
    "streaming": Path(
        "execute_streaming_function", lambda m: m.get("done") is True,
        lambda m: m.get("error"), error_refusal, False, "numbers",
    ),
}


def rows(table: list[tuple[Any, ...]]) -> list[Any]:
    """pytest params with ids "<path>-<row name>" from (path, name, *values) tuples."""
    return [pytest.param(PATHS[p], *values, id=f"{p}-{name}") for p, name, *values in table]


EXITS = rows([
    ("custom", "sys-exit", "leave", "SystemExit: 3"),
    ("custom", "keyboard-interrupt", "interrupt", "KeyboardInterrupt"),
    ("callable", "sys-exit", "leave", "SystemExit: 3"),
    ("callable", "keyboard-interrupt", "interrupt", "KeyboardInterrupt"),
    ("event", "sys-exit", "leave", "SystemExit: 3"),
    ("event", "keyboard-interrupt", "interrupt", "KeyboardInterrupt"),
    ("streaming", "sys-exit", "stream_leave", "4"),
])

# The event row names a module that does not exist: the argument fails before any import.
NOT_WIRE = rows([
    ("custom", "bare-numbers", [1, 2], {}, "TypeError: Argument 'wire' has incorrect type"),
    ("callable", "bare-text", ["x"], {}, "TypeError: Argument 'wire' has incorrect type"),
    ("event", "before-import", [5], {"module_name": "wb_absent"}, "expected dict, got int"),
    ("streaming", "bare-number", [5], {}, "Argument 'wire' has incorrect type"),
])

GOOD = {"module_name": MODULE, "function_name": "answer"}
MALFORMED = rows([
    ("custom", "no-module", {"function_name": "answer"}, "Missing module_name"),
    ("custom", "empty-module", {**GOOD, "module_name": ""}, "Missing module_name"),
    ("custom", "no-function", {"module_name": MODULE}, "Missing function_name"),
    ("custom", "null-function", {**GOOD, "function_name": None}, "Missing function_name"),
    ("custom", "module-not-text", {**GOOD, "module_name": 5},
     "field 'module_name' must be text, got int"),
    ("custom", "function-not-text", {**GOOD, "function_name": ["answer"]},
     "field 'function_name' must be text, got list"),
    ("custom", "args-not-list", {**GOOD, "args": {"a": 1}},
     "field 'args' must be a list or null, got dict"),
    ("custom", "source-not-text", {**GOOD, "source": 1}, "field 'source' must be text, got int"),
    ("callable", "no-id", {}, "Missing callable_id"),
    ("callable", "empty-id", {"callable_id": ""}, "Missing callable_id"),
    ("callable", "id-not-text", {"callable_id": 12}, "field 'callable_id' must be text, got int"),
    ("callable", "args-not-list", {"callable_id": "c", "args": "x"},
     "field 'args' must be a list or null, got str"),
    ("callable", "workbook-not-text", {"callable_id": "c", "workbook_id": 3},
     "field 'workbook_id' must be text or null, got int"),
    ("event", "module-not-text", {**GOOD, "module_name": 5},
     "TypeError: field 'module_name' must be text, got int"),
    ("event", "request-id-list", {**GOOD, "request_id": ["r"]},
     "TypeError: field 'request_id' must be text or null, got list"),
    ("event", "args-dict", {**GOOD, "args": {"a": 1}},
     "TypeError: field 'args' must be a list, got dict"),
    ("streaming", "args-dict", {**GOOD, "args": {"n": 1}},
     "TypeError: Argument 'args' has incorrect type (expected list, got dict)"),
    ("streaming", "module-not-text", {**GOOD, "module_name": 3},
     "TypeError: Argument 'module_name' has incorrect type (expected str, got int)"),
])


@pytest.fixture
def calls(invoker: Invoker) -> Invoker:
    invoker.push(MODULE, SOURCE)
    return invoker


@pytest.mark.shared_kernel
@pytest.mark.off_protocol("incoming")
class TestEveryCallPath:
    @pytest.mark.parametrize(("path", "function", "ending"), EXITS)
    def test_exit_request_fails_the_call_and_the_kernel_keeps_serving(
        self, calls: Invoker, path: Path, function: str, ending: str
    ) -> None:
        failure = path.call(calls, function, [])
        assert failure is not None and failure.rstrip("\n").endswith(ending)
        path.assert_serving(calls)

    @pytest.mark.parametrize(("path", "args", "fields", "problem"), NOT_WIRE)
    def test_argument_that_is_not_a_wire_value_fails_the_call(
        self, calls: Invoker, path: Path, args: list[Any], fields: dict[str, Any], problem: str
    ) -> None:
        failure = path.call(calls, path.good_function, args, **fields)
        assert failure is not None and problem in failure
        assert "wb_absent" not in failure
        path.assert_serving(calls)

    @pytest.mark.parametrize(("path", "fields", "problem"), MALFORMED)
    def test_malformed_field_is_refused_and_the_kernel_keeps_serving(
        self, calls: Invoker, path: Path, fields: dict[str, Any], problem: str
    ) -> None:
        assert path.refuse(calls, fields) == problem
        path.assert_serving(calls)
