"""Worksheet custom function calls through the Business Layer: results, output, errors."""

from __future__ import annotations

from typing import Any

import pytest

from support.console import streams
from support.invocation import Invoker, wire

FUNCS = '''
import sys
import threading

gate = threading.Event()
not_a_function = 5

def answer():
    return 42

def add(a, b):
    return a + b

def greet(name):
    print("hi")
    print("oops", file=sys.stderr)
    return "hello " + name

def counts():
    yield 1
    yield 2
    yield 3

def fails():
    print("before")
    raise ValueError("bad")

def broken_generator():
    yield 1
    raise RuntimeError("midway")

def wait_for_gate():
    print("a")
    gate.wait(30)
    print("a2")
    return "A"

def open_gate():
    print("b")
    gate.set()
    return "B"

def total(rows):
    return sum(sum(row) for row in rows)

class Shy:
    def __init__(self, error):
        self.error = error
    def __str__(self):
        return "shy"
    def __repr__(self):
        raise self.error

def shy_value():
    return Shy(ValueError("no repr"))

def shy_exit():
    return Shy(SystemExit(4))
'''


@pytest.fixture
def calls(invoker: Invoker) -> Invoker:
    invoker.push("funcs", FUNCS)
    return invoker


def wire_array(*items: dict[str, Any]) -> dict[str, Any]:
    return {"type": "Array", "value": list(items), "isSpec": False}


@pytest.mark.shared_kernel
class TestResults:
    def test_success_sends_display_then_both_replies_with_all_fields(self, calls: Invoker) -> None:
        display, general, reply = calls.call("funcs", "add", 2, 3, request_id="r1", source="ide")
        wb = calls.workbook_id
        five = wire(5)
        assert list(display.items()) == [
            ("type", "result_output"), ("content", "Out: 5\n"), ("request_id", "r1"),
            ("workbook_id", wb), ("source", "ide"),
        ]
        assert list(general.items()) == [
            ("type", "execution_result"), ("success", True), ("result", five), ("logs", ""),
            ("request_id", "r1"), ("module_name", "funcs"), ("function_name", "add"),
            ("workbook_id", wb), ("source", "ide"),
        ]
        assert list(reply.items()) == [
            ("type", "function_execution_result"), ("request_id", "r1"), ("status", "success"),
            ("result", five), ("logs", ""),
        ]

    @pytest.mark.parametrize(
        ("code", "result", "shown"),
        [
            ("7", wire(7), "7"),
            ("2.5", wire(2.5), "2.5"),
            ("'text'", wire("text"), "'text'"),
            ("True", wire(True), "True"),
            ("None", wire(None), "None"),
            (
                "[[1, 'x'], [2.5, None]]",
                wire_array(wire_array(wire(1), wire("x")), wire_array(wire(2.5), wire(None))),
                "[[1, 'x'], [2.5, None]]",
            ),
        ],
        ids=["int", "float", "str", "bool", "none", "2d-list"],
    )
    def test_return_value_is_sent_as_wire_value(
        self, invoker: Invoker, code: str, result: dict[str, Any], shown: str
    ) -> None:
        invoker.push("values", f"def value():\n    return {code}\n")
        display, general, reply = invoker.call("values", "value")
        assert display["content"] == f"Out: {shown}\n"
        assert general["result"] == reply["result"] == result

    def test_array_argument_arrives_as_rows(self, calls: Invoker) -> None:
        rows = {
            "type": "Array", "id": 7, "isSpec": False,
            "value": [
                {"type": "Array", "id": 8, "isSpec": False, "value": [wire(1), wire(2)]},
                {"type": "Array", "id": 9, "isSpec": False, "value": [wire(3), wire(4.5)]},
            ],
        }
        messages = calls.send(
            {"type": "custom_function_call", "module_name": "funcs", "function_name": "total",
             "args": [rows], "request_id": "rows"},
            "function_execution_result",
        )
        assert messages[-1]["result"] == wire(10.5)

    def test_generator_is_run_to_the_end_into_one_result(self, calls: Invoker) -> None:
        messages = calls.call("funcs", "counts")
        assert [m["type"] for m in messages] == [
            "result_output", "execution_result", "function_execution_result",
        ]
        assert messages[-1]["result"] == [wire(1), wire(2), wire(3)]

    def test_output_is_streamed_then_carried_in_logs(self, calls: Invoker) -> None:
        messages = calls.call("funcs", "greet", "Ann", request_id="g", source="addin")
        assert streams(messages) == [("stdout", "hi\n"), ("stderr", "oops\n")]
        assert all(
            list(m) == ["type", "content", "request_id", "workbook_id", "source"]
            and (m["request_id"], m["source"]) == ("g", "addin")
            for m in messages[:-3]
        )
        assert messages[-2]["logs"] == messages[-1]["logs"] == "hi\noops\n"
        assert messages[-1]["result"] == wire("hello Ann")

    def test_updated_source_is_used_by_the_next_call(self, invoker: Invoker) -> None:
        invoker.push("versioned", "def version():\n    return 1\n")
        assert invoker.call("versioned", "version")[-1]["result"] == wire(1)
        invoker.push("versioned", "def version():\n    return 2\n")
        assert invoker.call("versioned", "version")[-1]["result"] == wire(2)

    def test_overlapping_calls_keep_their_own_output(self, calls: Invoker) -> None:
        calls.session.send(
            {"type": "custom_function_call", "module_name": "funcs",
             "function_name": "wait_for_gate", "request_id": "slow"}
        )
        fast = calls.call("funcs", "open_gate", request_id="fast")
        slow = calls.collect("slow", "function_execution_result")
        assert streams(fast) == [("stdout", "b\n")]
        assert streams(slow) == [("stdout", "a\na2\n")]
        assert (fast[-1]["logs"], slow[-1]["logs"]) == ("b\n", "a\na2\n")
        assert (fast[-1]["result"], slow[-1]["result"]) == (wire("B"), wire("A"))


@pytest.mark.shared_kernel
class TestFailures:
    def test_exception_streams_traceback_then_sends_failure_pair(self, calls: Invoker) -> None:
        messages = calls.call("funcs", "fails", request_id="f1")
        general, reply = messages[-2:]
        assert messages[0]["type"] == "stdout"
        streamed = "".join(m["content"] for m in messages if m["type"] == "stderr")
        assert list(general) == [
            "type", "success", "error", "logs", "request_id", "module_name", "function_name",
            "workbook_id", "source",
        ]
        assert (general["type"], general["success"], general["logs"]) == (
            "execution_error", False, "",
        )
        assert list(reply.items()) == [
            ("type", "function_execution_result"), ("request_id", "f1"), ("status", "error"),
            ("result", None), ("logs", ""), ("error", general["error"]),
        ]
        error = general["error"]
        assert 'File "<virtual:funcs>", line 26, in fails\n    raise ValueError("bad")' in error
        assert error.endswith("ValueError: bad\n")
        assert streamed == error

    @pytest.mark.parametrize(
        ("module", "function", "last_line"),
        [
            ("nowhere", "f", "ModuleNotFoundError: No module named 'nowhere'\n"),
            ("funcs", "nope", "AttributeError: Function 'nope' not found in module 'funcs'\n"),
            ("funcs", "not_a_function", "TypeError: 'int' object is not callable\n"),
            ("funcs", "broken_generator", "RuntimeError: midway\n"),
        ],
        ids=["missing-module", "missing-function", "not-callable", "generator-raises"],
    )
    def test_failure_is_reported_through_the_failure_pair(
        self, calls: Invoker, module: str, function: str, last_line: str
    ) -> None:
        general, reply = calls.call(module, function)[-2:]
        assert general["type"] == "execution_error"
        assert reply["status"] == "error"
        assert reply["error"] == general["error"]
        assert general["error"].endswith(last_line)

    @pytest.mark.parametrize(
        ("function", "error_type", "message"),
        [("shy_value", "ValueError", "no repr"), ("shy_exit", "SystemExit", "4")],
        ids=["exception", "exit-request"],
    )
    def test_failure_on_the_loop_side_sends_the_error_record_pair(
        self, calls: Invoker, function: str, error_type: str, message: str
    ) -> None:
        general, reply = calls.call("funcs", function, request_id="m1")
        assert general["type"] == "execution_error"
        record = general["error"]
        assert list(record) == ["type", "message", "traceback"]
        assert (record["type"], record["message"]) == (error_type, message)
        assert list(reply.items()) == [
            ("type", "function_execution_result"), ("request_id", "m1"), ("status", "error"),
            ("error", record),
        ]
        assert calls.call("funcs", "answer")[-1]["result"] == wire(42)
