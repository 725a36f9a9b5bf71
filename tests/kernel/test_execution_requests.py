"""Execution requests through the Business Layer: output, value display, results and errors."""

from __future__ import annotations

import pytest

from support.console import Console, streams


@pytest.mark.shared_kernel
class TestResults:
    def test_expression_sends_value_display_then_result_text(self, console: Console) -> None:
        display, final = console.run("1 + 1", request_id="r1")
        assert list(display.items()) == [
            ("type", "result_output"),
            ("content", "Out: 2\n"),
            ("request_id", "r1"),
            ("workbook_id", console.session.session.workbook_id),
            ("source", "ide"),
        ]
        assert list(final.items()) == [
            ("type", "execution_result"),
            ("success", True),
            ("result", "2"),
            ("request_id", "r1"),
            ("function_name", None),
            ("workbook_id", console.session.session.workbook_id),
            ("source", "ide"),
        ]

    @pytest.mark.parametrize(
        ("function_name", "result"), [("f", 2), ("", "2")], ids=["named-raw", "empty-name-repr"]
    )
    def test_function_name_selects_raw_value(
        self, console: Console, function_name: str, result: object
    ) -> None:
        final = console.run("1 + 1", function_name=function_name)[-1]
        assert final["result"] == result
        assert final["function_name"] == function_name

    def test_statement_sends_no_value_display(self, console: Console) -> None:
        (final,) = console.run("x = 41")
        assert final["type"] == "execution_result" and final["result"] is None
        assert console.value("x + 1") == 42

    def test_output_arrives_in_order_with_request_fields(self, console: Console) -> None:
        messages = console.run(
            "import sys\nprint('a')\nprint('b', file=sys.stderr)", request_id="p", source="addin"
        )
        assert streams(messages) == [("stdout", "a\n"), ("stderr", "b\n")]
        assert all(m["request_id"] == "p" and m["source"] == "addin" for m in messages)
        assert messages[-1]["type"] == "execution_result"

    def test_chunked_request_runs_like_a_whole_one(self, console: Console) -> None:
        console.session.send_chunked(
            {"type": "execution_request", "code": "'x' * 3", "request_id": "c1"}, chunk_size=16
        )
        assert [m["type"] for m in console.collect("c1")] == ["result_output", "execution_result"]


@pytest.mark.shared_kernel
class TestFailures:
    def test_error_of_user_code_sends_one_execution_error(self, console: Console) -> None:
        (final,) = console.run("raise ValueError('bad')", request_id="e1", function_name="f")
        assert final["type"] == "execution_error" and final["success"] is False
        assert list(final) == [
            "type", "success", "error", "request_id", "function_name", "workbook_id", "source",
        ]
        error = final["error"]
        assert (error["type"], error["message"]) == ("ValueError", "bad")
        assert error["traceback"].endswith("ValueError: bad\n")

    def test_output_before_failure_is_still_streamed(self, console: Console) -> None:
        messages = console.run("print('partial')\n1 / 0")
        assert streams(messages) == [("stdout", "partial\n")]
        assert messages[-1]["type"] == "execution_error"
        assert messages[-1]["error"]["type"] == "ZeroDivisionError"

    @pytest.mark.parametrize(
        ("code", "kind"),
        [
            ("import sys; sys.exit(3)", "SystemExit"),
            ("raise SystemExit", "SystemExit"),
            ("raise KeyboardInterrupt", "KeyboardInterrupt"),
            ("class Stop(BaseException): pass\nraise Stop('halt')", "Stop"),
            ("raise GeneratorExit", "GeneratorExit"),
        ],
        ids=["sys-exit", "bare-system-exit", "keyboard-interrupt", "own-base-exception",
             "generator-exit"],
    )
    def test_exit_of_user_code_is_reported_and_kernel_keeps_namespace(
        self, console: Console, code: str, kind: str
    ) -> None:
        console.run("kept = 'still here'")
        (final,) = console.run(code, function_name="f")
        assert final["type"] == "execution_error"
        assert final["error"]["type"] == kind
        assert final["function_name"] == "f"
        assert console.value("kept") == "still here"

    def test_value_whose_repr_raises_gives_machinery_failure(self, console: Console) -> None:
        console.run("class Bad:\n    def __repr__(self):\n        raise RuntimeError('no repr')")
        (final,) = console.run("Bad()", request_id="m1")
        assert list(final) == ["type", "success", "error", "request_id", "source"]
        assert final["error"]["type"] == "RuntimeError"
        assert final["error"]["message"] == "no repr"
        assert console.value("1") == 1

    def test_unencodable_raw_value_fails_after_value_display(self, console: Console) -> None:
        display, final = console.run("object()", function_name="f", request_id="u1")
        assert display["type"] == "result_output"
        assert display["content"].startswith("Out: <object object at")
        assert final["type"] == "execution_error" and "function_name" not in final

    @pytest.mark.parametrize(
        ("fields", "problem"),
        [
            ({"code": 5}, "field 'code' must be text, got int"),
            ({"code": "1", "request_id": 7}, "field 'request_id' must be text or null, got int"),
            ({"code": "1", "function_name": []}, "field 'function_name' must be text or null"),
            ({"code": "1", "source": None}, "field 'source' must be text, got NoneType"),
        ],
        ids=["code-int", "request-id-int", "function-name-list", "source-null"],
    )
    @pytest.mark.off_protocol("incoming")
    def test_malformed_request_is_refused_without_running(
        self, console: Console, fields: dict, problem: str
    ) -> None:
        console.run("ran = 0")
        reply = console.exchange({"type": "execution_request", **fields, "code2": "ran = 1"})
        assert reply["type"] == "error"
        assert reply["message"].startswith("execution_request: " + problem)
        assert console.value("ran") == 0


class TestConcurrency:
    def test_second_request_runs_while_first_waits(self, console: Console) -> None:
        console.run("import threading; gate = threading.Event()")
        console.session.send(
            {"type": "execution_request", "code": "gate.wait(30)", "request_id": "waiting"}
        )
        opener = console.run("gate.set()", request_id="opener")
        assert opener[-1]["type"] == "execution_result"
        display, final = console.collect("waiting")
        assert display["content"] == "Out: True\n"

    def test_overlapping_runs_keep_their_own_output(self, console: Console) -> None:
        console.run("import threading; gate = threading.Event()")
        console.session.send(
            {
                "type": "execution_request",
                "code": "print('first'); gate.wait(30); print('first again')",
                "request_id": "one",
            }
        )
        second = console.run("print('second'); gate.set()", request_id="two")
        assert streams(second) == [("stdout", "second\n")]
        first = console.collect("one")
        assert "".join(m["content"] for m in first[:-1]) == "first\nfirst again\n"
