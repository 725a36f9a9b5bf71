"""Debug runs under ZentrelDebugger through the Business Layer: breakpoints, steps, evaluation,
sessions that are stopped, refused or cut off."""

from __future__ import annotations

from pathlib import Path
from typing import Any

import pytest

from support.console import streams
from support.debugging import DebugClient, bp
from support.invocation import Invoker

LOOPS = '''\
import json
import threading

gate = threading.Event()

def square(v):
    w = v * v
    return w

def total(n):
    acc = 0
    for i in range(n):
        acc += square(i)
    return acc

def counter():
    for i in range(3):
        yield i

def waiter():
    gate.wait(30)
    after = "gate open"
    return after

def guarded(path):
    try:
        marker = "paused here"
        return marker
    finally:
        with open(path, "w") as f:
            f.write("unwound")

def uses_library():
    data = json.dumps({"a": 1})
    return data

class Shy:
    def __repr__(self):
        raise RuntimeError("no repr")

def odd_locals():
    shy = Shy()
    long_text = "x" * 5000
    return shy, long_text
'''


def line_of(fragment: str) -> int:
    """The line number of the first line of LOOPS that contains `fragment`."""
    for number, text in enumerate(LOOPS.splitlines(), start=1):
        if fragment in text:
            return number
    raise AssertionError(fragment)


ACC_LINE = line_of("acc += square(i)")
FOR_LINE = line_of("for i in range(n)")
SQUARE_LINE = line_of("w = v * v")


@pytest.fixture
def debug(invoker: Invoker) -> DebugClient:
    invoker.push("loops", LOOPS)
    return DebugClient(invoker)


def local(pause: dict[str, Any], name: str) -> dict[str, Any]:
    return next(v for v in pause["locals"] if v["name"] == name)


def where(pause: dict[str, Any]) -> tuple[str, int]:
    return pause["function"], pause["line"]


class TestBreakpoints:
    def test_pause_message_describes_the_frame(self, debug: DebugClient) -> None:
        rid = debug.start("loops", "total", 3, breakpoints=[bp("loops", SQUARE_LINE)])
        pause = debug.paused()
        assert list(pause) == [
            "type", "workbook_id", "request_id", "reason", "module", "line", "file", "function",
            "locals", "call_stack",
        ]
        assert (pause["workbook_id"], pause["request_id"], pause["reason"]) == (
            debug.workbook_id, rid, "breakpoint",
        )
        assert (pause["module"], pause["file"]) == ("loops", "<virtual:loops>")
        assert where(pause) == ("square", SQUARE_LINE)
        assert pause["locals"] == [{"name": "v", "type": "int", "repr": "0"}]
        assert pause["call_stack"] == [
            {"module": "loops", "function": "square", "line": SQUARE_LINE,
             "file": "<virtual:loops>"},
            {"module": "loops", "function": "total", "line": ACC_LINE, "file": "<virtual:loops>"},
        ]
        debug.command("continue")
        assert debug.next("debug_resumed") == {"type": "debug_resumed"}
        assert local(debug.paused(), "v")["repr"] == "1"

    @pytest.mark.parametrize(
        ("record", "pauses_at_i"),
        [
            ({"condition": "i == 2"}, ["2"]),
            ({"hit_count": 2}, ["1"]),
            ({"condition": "i > 0", "hit_count": 2}, ["2"]),
            ({"condition": "", "hit_count": None}, ["0", "1", "2"]),
        ],
        ids=["condition", "hit-count", "hit-count-counts-true-conditions", "empty-means-none"],
    )
    def test_conditions_and_hit_counts_choose_the_pauses(
        self, debug: DebugClient, record: dict[str, Any], pauses_at_i: list[str]
    ) -> None:
        rid = debug.start("loops", "total", 3, breakpoints=[bp("loops", ACC_LINE, **record)])
        seen = []
        for _ in pauses_at_i:
            seen.append(local(debug.paused(), "i")["repr"])
            debug.command("continue")
        assert seen == pauses_at_i
        assert [m["type"] for m in debug.finish(rid)][-2:] == ["result_output", "debug_terminated"]

    def test_condition_that_raises_pauses_and_says_why(self, debug: DebugClient) -> None:
        debug.start("loops", "total", 2,
                    breakpoints=[bp("loops", ACC_LINE, condition="missing_name > 1")])
        pause = debug.paused()
        assert (pause["reason"], pause["error"]) == (
            "condition_error", "NameError: name 'missing_name' is not defined",
        )

    def test_log_point_writes_a_line_instead_of_pausing(self, debug: DebugClient) -> None:
        rid = debug.start("loops", "total", 3, breakpoints=[
            bp("loops", ACC_LINE, log_message="i={i} sq={square(i)} {nope}"),
        ])
        messages = debug.finish(rid)
        # Lines waiting together leave as one "stdout" message: compare the text, in order.
        assert streams(messages) == [("stdout", "".join(
            f"i={i} sq={i * i} <NameError: name 'nope' is not defined>\n" for i in range(3)))]
        assert [(m["type"], m.get("content")) for m in messages if m["type"] != "stdout"] == [
            ("result_output", "Out: 5\n"), ("debug_terminated", None)]
        assert messages[-3]["type"] == "stdout"
        assert all(m["request_id"] == rid for m in messages)

    @pytest.mark.off_protocol("incoming")
    def test_malformed_records_are_skipped_and_the_rest_apply(self, debug: DebugClient) -> None:
        debug.start("loops", "total", 1, breakpoints=[
            {"module": "loops"}, bp("loops", "12"), "line 3", bp("loops", 0),
            bp("loops", ACC_LINE, hit_count=True), bp("loops", SQUARE_LINE),
        ])
        assert where(debug.paused()) == ("square", SQUARE_LINE)
        debug.session.wait_for_log("Skipped breakpoint record ('line' must be a positive integer)")
        debug.session.wait_for_log("Skipped breakpoint record (a breakpoint must be an object)")

    def test_locals_with_failing_or_long_reprs(self, debug: DebugClient) -> None:
        debug.start("loops", "odd_locals", breakpoints=[bp("loops", line_of("return shy,"))])
        pause = debug.paused()
        assert local(pause, "shy") == {
            "name": "shy", "type": "Shy",
            "repr": "<Shy object (repr failed: RuntimeError: no repr)>",
        }
        assert local(pause, "long_text")["repr"] == "'" + "x" * 999


class TestSteps:
    @pytest.mark.parametrize(
        ("steps", "expected"),
        [
            (["step_over"], [("total", FOR_LINE)]),
            (["step_over", "step_over"], [("total", FOR_LINE), ("total", ACC_LINE)]),
            (["step_into"], [("square", SQUARE_LINE)]),
            (["step_into", "step_into", "step_into"],
             [("square", SQUARE_LINE), ("square", SQUARE_LINE + 1), ("total", FOR_LINE)]),
            (["step_into", "step_out"], [("square", SQUARE_LINE), ("total", FOR_LINE)]),
        ],
        ids=["over", "over-twice", "into", "into-to-the-caller", "out"],
    )
    def test_each_step_stops_where_an_editor_would(
        self, debug: DebugClient, steps: list[str], expected: list[tuple[str, int]]
    ) -> None:
        debug.start("loops", "total", 3, breakpoints=[bp("loops", ACC_LINE)])
        assert where(debug.paused()) == ("total", ACC_LINE)
        seen = []
        for step in steps:
            debug.command(step)
            pause = debug.paused()
            # A step that lands on a breakpoint's line pauses for the breakpoint.
            assert pause["reason"] == ("breakpoint" if pause["line"] == ACC_LINE else "step")
            seen.append(where(pause))
        assert seen == expected

    def test_step_into_library_code_stays_in_user_code(self, debug: DebugClient) -> None:
        debug.start("loops", "uses_library", breakpoints=[bp("loops", line_of("json.dumps"))])
        debug.paused()
        debug.command("step_into")
        pause = debug.paused()
        assert where(pause) == ("uses_library", line_of("return data"))
        assert local(pause, "data")["repr"] == repr('{"a": 1}')


class TestEvaluate:
    def test_expression_sees_the_paused_frame(self, debug: DebugClient) -> None:
        debug.start("loops", "total", 3, breakpoints=[bp("loops", ACC_LINE, condition="i == 1")])
        debug.paused()
        assert debug.evaluate("(acc, i, n, square(4))") == {
            "type": "debug_evaluate_result", "workbook_id": debug.workbook_id,
            "request_id": "eval", "expression": "(acc, i, n, square(4))", "result": "(0, 1, 3, 16)",
        }

    @pytest.mark.parametrize(
        ("expression", "error"),
        [
            ("i / 0", "ZeroDivisionError: division by zero"),
            ("acc +", "SyntaxError: "),
            ("__import__('zentrel').excel.workbook", "RuntimeError: "),
        ],
        ids=["raises", "syntax", "workbook-read-on-listener"],
    )
    def test_failing_expression_gives_an_error(
        self, debug: DebugClient, expression: str, error: str
    ) -> None:
        debug.start("loops", "total", 2, breakpoints=[bp("loops", ACC_LINE)])
        debug.paused()
        reply = debug.evaluate(expression)
        assert reply["error"].startswith(error), reply
        # The session still answers: the listener was never blocked.
        assert debug.evaluate("n")["result"] == "2"

    def test_evaluation_while_running_is_an_error(self, debug: DebugClient) -> None:
        rid = debug.start_running("loops", "waiter")
        assert debug.evaluate("1 + 1")["error"] == "No paused frame: the debugged code is running"
        debug.run_code("import loops; loops.gate.set()")
        assert debug.finish(rid)[-2]["content"] == "Out: 'gate open'\n"


class TestBreakpointUpdates:
    def test_update_while_paused_applies_on_continue(self, debug: DebugClient) -> None:
        debug.start("loops", "total", 3, breakpoints=[bp("loops", ACC_LINE)])
        debug.paused()
        debug.command("update_breakpoints", breakpoints=[bp("loops", SQUARE_LINE)])
        debug.command("continue")
        pause = debug.paused()
        assert (where(pause), local(pause, "v")["repr"]) == (("square", SQUARE_LINE), "0")
        debug.command("continue")
        assert local(debug.paused(), "v")["repr"] == "1"

    def test_breakpoint_added_while_running_is_reached(self, debug: DebugClient) -> None:
        rid = debug.start_running("loops", "waiter")
        debug.command("update_breakpoints", breakpoints=[bp("loops", line_of("after = "))])
        debug.run_code("import loops; loops.gate.set()")
        assert where(debug.paused()) == ("waiter", line_of("after = "))
        debug.command("update_breakpoints", breakpoints=[])
        debug.command("continue")
        assert debug.finish(rid)[-2]["content"] == "Out: 'gate open'\n"


class TestSessionEnds:
    def test_stop_while_paused_unwinds_the_call(self, debug: DebugClient, tmp_path: Path) -> None:
        marker = tmp_path / "marker"
        rid = debug.start("loops", "guarded", str(marker),
                          breakpoints=[bp("loops", line_of("marker = "))])
        debug.paused()
        debug.command("stop")
        messages = debug.finish(rid)
        # The dispatcher's answer to the command, then the run's own end.
        assert {"type": "debug_terminated", "workbook_id": debug.workbook_id} in messages
        assert [m["content"] for m in messages if m["type"] == "result_output"] == ["Out: None\n"]
        assert marker.read_text() == "unwound"

    def test_stop_inside_a_generator_reports_the_stopped_count(self, debug: DebugClient) -> None:
        rid = debug.start("loops", "counter", breakpoints=[bp("loops", line_of("yield i"))])
        debug.paused()
        debug.command("continue")
        messages = debug.until("debug_paused")
        debug.command("stop")
        messages += debug.finish(rid)
        contents = [m["content"] for m in messages if m["type"] == "result_output"]
        assert contents == ["Yield [1]: 0\n", "Out: Generator stoped before ending\n"]

    def test_stop_while_running_ends_at_the_next_user_line(self, debug: DebugClient) -> None:
        rid = debug.start_running("loops", "waiter")
        debug.command("stop")
        debug.next("debug_terminated")
        debug.run_code("import loops; loops.gate.set()")
        assert debug.finish(rid)[-2]["content"] == "Out: None\n"

    def test_second_session_is_refused_while_one_is_active(self, debug: DebugClient) -> None:
        first = debug.start("loops", "total", 2, breakpoints=[bp("loops", ACC_LINE)])
        debug.paused()
        second = debug.start("loops", "total", 2, breakpoints=[bp("loops", ACC_LINE)])
        assert debug.next("execution_error", request_id=second) == {
            "type": "execution_error", "success": False,
            "error": {"type": "RuntimeError",
                      "message": f"A debug session is already active (request_id={first})",
                      "traceback": ""},
            "request_id": second, "workbook_id": debug.workbook_id, "source": "ide",
        }
        # The first session is untouched: it still takes commands and ends normally.
        debug.command("update_breakpoints", breakpoints=[])
        debug.command("continue")
        assert debug.finish(first)[-2]["content"] == "Out: 1\n"
        third = debug.start("loops", "total", 2)
        assert debug.finish(third)[-2]["content"] == "Out: 1\n"

    def test_closed_connection_frees_the_paused_worker(
        self, debug: DebugClient, tmp_path: Path
    ) -> None:
        marker = tmp_path / "marker"
        debug.start("loops", "guarded", str(marker),
                    breakpoints=[bp("loops", line_of("marker = "))])
        debug.paused()

        async def close() -> None:
            await debug.session.session.connection.close()

        debug.session.layer.call(close())
        assert debug.session.wait_exit() == 0
        assert marker.read_text() == "unwound"
        assert "Debug session ended with the kernel" in debug.session.log_text()
