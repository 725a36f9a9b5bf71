"""The editor's Run and Debug of a module function through the Business Layer: run_module."""

from __future__ import annotations

import re
from typing import Any

import pytest

from support.console import streams
from support.debugging import DebugClient
from support.invocation import FUNCTION_FINAL, Invoker, wire

TOOLS = '''\
def five():
    return 5

def add(a, b):
    return a + b

def talk():
    print("hello")
    return None

def two():
    yield "a"
    yield 2

def fails(x):
    y = x + 1
    raise ValueError(f"bad {y}")

def outer():
    return inner()

def inner():
    return {}["missing"]
'''


@pytest.fixture
def runs(invoker: Invoker) -> Invoker:
    invoker.push("tools", TOOLS)
    return invoker


@pytest.fixture
def debug(runs: Invoker) -> DebugClient:
    return DebugClient(runs)


def run_module(invoker: Invoker, request_id: str, **fields: Any) -> list[dict[str, Any]]:
    message = {"type": "run_module", "request_id": request_id, **fields}
    return invoker.send(message, FUNCTION_FINAL)


def joined(messages: list[dict[str, Any]]) -> list[dict[str, Any]]:
    """The messages with consecutive output of one stream joined (how the kernel cuts output
    into messages depends on timing) and object addresses in displayed values blanked (two
    calls make two objects, which the allocator may or may not place at the same address)."""
    out: list[dict[str, Any]] = []
    for message in messages:
        if message["type"] == "result_output":
            message = {**message, "content": re.sub(r" at 0x[0-9a-f]+>", " at 0x>",
                                                    message["content"])}
        if out and message["type"] in ("stdout", "stderr") and out[-1]["type"] == message["type"]:
            out[-1] = {**out[-1], "content": out[-1]["content"] + message["content"]}
        else:
            out.append(message)
    return out


class TestPlainRun:
    @pytest.mark.parametrize(
        ("function", "args"),
        [("add", [wire(2), wire(3)]), ("talk", []), ("two", []), ("fails", [wire(1)]),
         ("absent", [])],
        ids=["value", "output", "generator", "raises", "missing-function"],
    )
    def test_messages_are_those_of_the_custom_function_call(
        self, runs: Invoker, function: str, args: list[dict[str, Any]]
    ) -> None:
        fields = {"module_name": "tools", "function_name": function, "args": args,
                  "workbook_id": runs.workbook_id, "source": "ide"}
        call = runs.send({"type": "custom_function_call", "request_id": "same", **fields},
                         FUNCTION_FINAL)
        run = run_module(runs, "same", debug=False, **fields)
        assert joined(run) == joined(call)

    def test_defaults_are_those_of_the_editor(self, runs: Invoker) -> None:
        display, general, reply = run_module(runs, "d", module_name="tools", function_name="five")
        assert display["content"] == "Out: 5\n"
        assert (general["workbook_id"], general["source"]) == ("", "ide")
        assert reply["result"] == wire(5)

    @pytest.mark.off_protocol("incoming")
    def test_malformed_field_is_answered_like_a_custom_function_call(self, runs: Invoker) -> None:
        general, reply = run_module(runs, "m", module_name="tools", function_name="five", args={})
        assert general["error"]["type"] == reply["error"]["type"] == "ValidationError"
        assert general["error"]["message"] == "field 'args' must be a list or null, got dict"


class TestDebugRunOutcomes:
    def test_plain_function_displays_its_value_then_terminates(self, debug: DebugClient) -> None:
        rid = debug.start("tools", "five")
        assert debug.finish(rid) == [
            {"type": "result_output", "content": "Out: 5\n", "request_id": rid,
             "workbook_id": debug.workbook_id, "source": "ide"},
            {"type": "debug_terminated", "request_id": rid, "workbook_id": debug.workbook_id},
        ]

    def test_output_is_streamed_and_none_is_displayed(self, debug: DebugClient) -> None:
        rid = debug.start("tools", "talk", source="addin")
        messages = debug.finish(rid)
        # Pieces waiting together leave as one message: the text and its order are what count.
        assert streams(messages) == [("stdout", "hello\n")]
        assert all(m["source"] == "addin" for m in messages if m["type"] == "stdout")
        assert [(m["type"], m.get("content"), m.get("source")) for m in messages
                if m["type"] != "stdout"] == [
            ("result_output", "Out: None\n", "addin"), ("debug_terminated", None, None),
        ]

    def test_generator_values_are_numbered_then_counted(self, debug: DebugClient) -> None:
        rid = debug.start("tools", "two")
        contents = [m.get("content") for m in debug.finish(rid)]
        assert contents == [
            "Yield [1]: 'a'\n", "Yield [2]: 2\n", "Out: Generator completed with 2 yields\n", None,
        ]

    def test_exception_is_reported_at_its_line_in_user_code(self, debug: DebugClient) -> None:
        rid = debug.start("tools", "fails", 1)
        report, terminated = debug.finish(rid)
        assert list(report) == [
            "type", "workbook_id", "module", "line", "file", "exception_type",
            "exception_message", "exception_traceback", "locals", "globals", "call_stack",
        ]
        assert (report["type"], report["module"], report["line"], report["file"]) == (
            "debug_exception", "tools", 17, "<virtual:tools>",
        )
        assert (report["exception_type"], report["exception_message"]) == ("ValueError", "bad 2")
        assert report["exception_traceback"].endswith("ValueError: bad 2\n")
        assert report["locals"] == report["globals"] == report["call_stack"] == []
        assert terminated == {"type": "debug_terminated", "request_id": rid,
                              "workbook_id": debug.workbook_id}

    def test_innermost_user_frame_is_the_location(self, debug: DebugClient) -> None:
        report = debug.finish(debug.start("tools", "outer"))[0]
        assert (report["line"], report["exception_type"]) == (23, "KeyError")

    @pytest.mark.parametrize(
        ("module", "function", "error_type", "message"),
        [
            ("nowhere", "f", "ModuleNotFoundError", "No module named 'nowhere'"),
            ("tools", "absent", "AttributeError",
             "Function 'absent' not found in module 'tools'"),
        ],
        ids=["missing-module", "missing-function"],
    )
    def test_missing_target_is_a_debug_exception_at_the_requested_module(
        self, debug: DebugClient, module: str, function: str, error_type: str, message: str
    ) -> None:
        report, terminated = debug.finish(debug.start(module, function))
        assert (report["type"], report["exception_type"], report["exception_message"]) == (
            "debug_exception", error_type, message,
        )
        assert (report["module"], report["line"], report["file"]) == (module, 1, "")
        assert terminated["type"] == "debug_terminated"

    def test_kernel_serves_a_plain_run_after_a_debug_run(self, debug: DebugClient) -> None:
        debug.finish(debug.start("tools", "fails", 1))
        assert debug.invoker.call("tools", "five")[-1]["result"] == wire(5)


@pytest.mark.off_protocol("incoming")
class TestDebugRunFields:
    @pytest.mark.parametrize(
        ("fields", "problem"),
        [
            ({"args": None, "breakpoints": None}, None),
            ({"args": {"a": 1}}, "field 'args' must be a list or null, got dict"),
            ({"breakpoints": {"line": 1}}, "field 'breakpoints' must be a list or null, got dict"),
            ({"module_name": 7}, "field 'module_name' must be text, got int"),
            ({"request_id": 5}, "field 'request_id' must be text or null, got int"),
            ({"debug": "yes"}, "field 'debug' must be true, false or null, got str"),
        ],
        ids=["nulls-are-empty", "args-object", "breakpoints-object", "module-number",
             "request-id-number", "debug-text"],
    )
    def test_wrong_type_gets_a_validation_error(
        self, debug: DebugClient, fields: dict[str, Any], problem: str | None
    ) -> None:
        message = {"type": "run_module", "module_name": "tools", "function_name": "five",
                   "debug": True, "request_id": "v", "workbook_id": debug.workbook_id, **fields}
        debug.session.send(message)
        reply = debug.session.receive()
        if problem is None:
            assert reply["content"] == "Out: 5\n"
            return
        assert reply == {
            "type": "execution_error", "success": False,
            "error": {"type": "ValidationError", "message": problem, "traceback": ""},
            "request_id": message["request_id"], "workbook_id": debug.workbook_id,
            "source": "ide",
        }
        assert debug.invoker.call("tools", "five")[-1]["result"] == wire(5)


class TestDirectEntry:
    def test_debug_entry_refuses_wrong_types_before_any_session(self, runs: Invoker) -> None:
        text = runs.console.run(
            "import zentrel\n"
            "try:\n"
            "    zentrel._kernel_instance._handle_debug_run_module('tools', 'five', None, [], "
            "None, '')\n"
            "except TypeError as e:\n"
            "    print(e)\n"
            "print(zentrel._kernel_instance.has_active_debugger())"
        )
        printed = "".join(m["content"] for m in text if m["type"] == "stdout")
        assert "Argument 'args' has incorrect type" in printed
        assert printed.endswith("False\n")


class TestErrorLocation:
    @pytest.mark.parametrize(
        ("text", "modules", "location"),
        [
            ('  File "<virtual:a>", line 3, in f\n  File "<virtual:b>", line 9, in g\n', [],
             {"module": "b", "line": 9, "file": "<virtual:b>"}),
            ("  File '<virtual:a>', line 12, in f\n", [],
             {"module": "a", "line": 12, "file": "<virtual:a>"}),
            ('  File "<virtual:a>", line 3\n  File "<virtual:pkg.util>", line 7, in h\n', [],
             {"module": "pkg.util", "line": 7, "file": "<virtual:pkg.util>"}),
            ('  File "/srv/x/report_tools.py", line 4\n  File "/srv/y/report_tools.py", line 8\n',
             ["other", "report_tools"],
             {"module": "report_tools", "line": 4, "file": "<virtual:report_tools>"}),
            ('  File "<frozen importlib._bootstrap>", line 1\nValueError: x\n', ["finance"], {}),
            ("", ["finance"], {}),
        ],
        ids=["last-virtual-frame", "single-quotes", "dotted-name", "path-contains-name",
             "no-user-frame", "empty"],
    )
    def test_location_rule(self, text: str, modules: list[str], location: dict[str, Any]) -> None:
        from zentrel_master.python_server import kernel

        assert kernel._parse_error_location(text, set(modules)) == location
