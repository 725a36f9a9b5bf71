"""Calls of Python callables that user code handed to the workbook, through the Business Layer."""

from __future__ import annotations

import pytest

from support.console import streams
from support.invocation import Invoker, wire

HELPERS = '''
import sys

def double(x):
    return 2 * x

def chatty(x):
    print("got", x)
    print("warn", file=sys.stderr)
    return None

def fails(x):
    raise ValueError("bad " + str(x))

def leave():
    sys.exit(2)

def make_adder(n):
    return lambda x: x + n
'''


@pytest.fixture
def calls(invoker: Invoker) -> Invoker:
    invoker.push("helpers", HELPERS)
    return invoker


def register(calls: Invoker, name: str) -> str:
    return calls.register(f"import helpers; zentrel.Serializer.to_wire(helpers.{name})")


@pytest.mark.shared_kernel
class TestResults:
    def test_success_sends_display_without_source_then_one_reply(self, calls: Invoker) -> None:
        callable_id = register(calls, "double")
        display, reply = calls.call_callable(callable_id, 21, request_id="c1")
        wb = calls.workbook_id
        assert list(display.items()) == [
            ("type", "result_output"), ("content", "Out: 42\n"), ("request_id", "c1"),
            ("workbook_id", wb),
        ]
        assert list(reply.items()) == [
            ("type", "python_function_result"), ("success", True), ("result", wire(42)),
            ("logs", ""), ("request_id", "c1"), ("workbook_id", wb),
        ]

    def test_console_lambda_is_callable_later(self, calls: Invoker) -> None:
        callable_id = calls.register("zentrel.Serializer.to_wire(lambda s: s.upper())")
        assert calls.call_callable(callable_id, "abc")[-1]["result"] == wire("ABC")

    def test_callable_returned_by_a_custom_function(self, calls: Invoker) -> None:
        made = calls.call("helpers", "make_adder", 10)[-1]["result"]
        assert made["type"] == "Python_Function"
        assert calls.call_callable(made["value"], 5)[-1]["result"] == wire(15)

    def test_output_is_streamed_as_addin_output_and_logged(self, calls: Invoker) -> None:
        messages = calls.call_callable(register(calls, "chatty"), 3, request_id="o1")
        assert streams(messages) == [("stdout", "got 3\n"), ("stderr", "warn\n")]
        assert all(m["source"] == "addin" for m in messages[:-2])
        display, reply = messages[-2:]
        assert display["content"] == "Out: None\n"
        assert (reply["result"], reply["logs"]) == (wire(None), "got 3\nwarn\n")


class TestFailures:
    def test_exception_is_streamed_and_reported_with_logs(self, calls: Invoker) -> None:
        messages = calls.call_callable(register(calls, "fails"), 7, request_id="x1")
        reply = messages[-1]
        streamed = "".join(m["content"] for m in messages[:-1] if m["type"] == "stderr")
        assert list(reply) == ["type", "success", "error", "logs", "request_id", "workbook_id"]
        assert reply["success"] is False
        assert 'File "<virtual:helpers>", line 13, in fails' in reply["error"]
        assert reply["error"].endswith("ValueError: bad 7\n")
        assert streamed == reply["logs"] == reply["error"]

    @pytest.mark.parametrize(
        ("setup", "last_line"),
        [
            (None, "ValueError: Callable 'never-registered' not found in registry\n"),
            (
                "zentrel.messaging._callable_registry['never-registered'] = 5",
                "TypeError: Object with id 'never-registered' is not callable\n",
            ),
        ],
        ids=["unknown-id", "not-callable"],
    )
    def test_lookup_failure_is_reported_without_output(
        self, calls: Invoker, setup: str | None, last_line: str
    ) -> None:
        if setup is not None:
            calls.console.run(setup)
        (reply,) = calls.call_callable("never-registered")
        assert reply["success"] is False and reply["logs"] == ""
        assert reply["error"].endswith(last_line)
