"""Streaming (generator) functions through the Business Layer on a real kernel process."""

from __future__ import annotations

from typing import Any

import pytest

from support.business_layer import Session
from support.console import Console
from support.events import assert_serving, collect_until, push_module, wire

STREAMS = '''
import sys
import threading

gate = threading.Event()
closed = threading.Event()

def count(n):
    for i in range(1, n + 1):
        yield i

def paused():
    yield 1
    yield 2
    gate.wait(30)
    yield 3

def endless():
    try:
        i = 0
        while True:
            i += 1
            yield i
            if i == 1:
                gate.wait(30)
    finally:
        closed.set()

def chatty():
    print("hello")
    yield "a"

def fails_after_two():
    yield 1
    yield 2
    raise RuntimeError("broken stream")

def plain():
    return [1, 2, 3]
'''


def start(session: Session, function_name: str, request_id: str, **fields: Any) -> None:
    session.send({
        "type": "execute_streaming_function",
        "request_id": request_id,
        "module_name": "wb_streams",
        "function_name": function_name,
        "args": [],
        **fields,
    })


def stream(session: Session, function_name: str, request_id: str, **fields: Any) -> list[dict]:
    start(session, function_name, request_id, **fields)
    return collect_until(session, request_id, lambda m: m.get("done") is True)


def open_gate(session: Session) -> None:
    """Release a blocked generator from another request (whose replies the collectors skip)."""
    session.send({
        "type": "execution_request", "code": "import wb_streams; wb_streams.gate.set()",
        "request_id": "gate",
    })


@pytest.fixture
def streams(kernel: Session) -> Session:
    push_module(kernel, "wb_streams", STREAMS)
    return kernel


class TestValues:
    def test_values_then_completed_message(self, streams: Session) -> None:
        workbook_id = streams.session.workbook_id
        messages = stream(streams, "count", "s1", args=[wire(3)], workbook_id="wb-other")
        assert messages == [
            *(
                {"type": "streaming_function_result", "request_id": "s1", "result": wire(i),
                 "done": False, "workbook_id": workbook_id}
                for i in (1, 2, 3)
            ),
            {"type": "streaming_function_result", "request_id": "s1", "done": True,
             "workbook_id": workbook_id},
        ]
        assert [list(m) for m in messages[-2:]] == [
            ["type", "request_id", "result", "done", "workbook_id"],
            ["type", "request_id", "done", "workbook_id"],
        ]
        streams.wait_for_log("ms, results=3")

    def test_each_value_arrives_before_the_generator_ends(self, streams: Session) -> None:
        start(streams, "paused", "s2")
        first = [streams.receive() for _ in range(2)]
        assert [m["result"] for m in first] == [wire(1), wire(2)]
        # The generator is now blocked before its third value; release it from another request.
        open_gate(streams)
        rest = collect_until(streams, "s2", lambda m: m.get("done") is True)
        assert [m.get("result") for m in rest] == [wire(3), None]

    def test_output_is_streamed_with_the_requests_fields(self, streams: Session) -> None:
        messages = stream(streams, "chatty", "s3", workbook_id="wb-x", source="ide")
        assert {**messages[0], "content": messages[0]["content"][:5]} == {
            "type": "stdout", "content": "hello", "request_id": "s3", "workbook_id": "wb-x",
            "source": "ide",
        }
        assert [m["type"] for m in messages][-2:] == ["streaming_function_result"] * 2


class TestCancellation:
    def test_cancel_mid_stream_stops_it_and_frees_the_worker(
        self, streams: Session, console: Console
    ) -> None:
        start(streams, "endless", "s4")
        assert streams.receive()["result"] == wire(1)
        streams.send({"type": "cancel_streaming_function", "request_id": "s4"})
        assert_serving(streams)
        open_gate(streams)
        messages = collect_until(streams, "s4", lambda m: m.get("done") is True)
        assert messages[-1] == {
            "type": "streaming_function_result", "request_id": "s4", "result": "Canceled",
            "done": True, "workbook_id": streams.session.workbook_id,
        }
        assert all(m["done"] is False for m in messages[:-1])
        # The generator was closed and its worker went back to the pool.
        assert console.value("import wb_streams; wb_streams.closed.wait(10)") is True

    def test_cancel_before_start_stops_at_first_value(self, streams: Session) -> None:
        streams.send({"type": "cancel_streaming_function", "request_id": "s5"})
        assert stream(streams, "count", "s5", args=[wire(3)]) == [
            {"type": "streaming_function_result", "request_id": "s5", "result": "Canceled",
             "done": True, "workbook_id": streams.session.workbook_id},
        ]
        # The mark is gone once honoured: the same id streams in full next time.
        assert len(stream(streams, "count", "s5", args=[wire(2)])) == 3


@pytest.mark.shared_kernel
class TestFailures:
    def test_exception_after_two_values(self, streams: Session) -> None:
        messages = stream(streams, "fails_after_two", "s6")
        values = [m["result"] for m in messages if m["type"] == "streaming_function_result"
                  and not m["done"]]
        assert values == [wire(1), wire(2)]
        stderr = "".join(m["content"] for m in messages if m["type"] == "stderr")
        assert stderr.startswith("Traceback") and stderr.endswith("RuntimeError: broken stream\n")
        assert messages[-1]["error"] == "broken stream"
        assert list(messages[-1]) == ["type", "request_id", "error", "done", "workbook_id"]

    @pytest.mark.parametrize(
        ("module_name", "function_name", "error"),
        [
            ("wb_streams", "plain", "Function plain is not a generator function"),
            ("wb_streams", "nope", "Function not found: nope"),
            ("wb_streams", "", "Missing function_name"),
            ("", "count", "Missing module_name"),
        ],
        ids=["not-a-generator", "function-missing", "no-function", "no-module"],
    )
    @pytest.mark.off_protocol("incoming")
    def test_failure_is_one_closing_error(
        self, streams: Session, module_name: str, function_name: str, error: str
    ) -> None:
        messages = stream(streams, function_name, "s7", module_name=module_name)
        assert messages[-1]["error"] == error and messages[-1]["done"] is True
        assert all(m["type"] != "request_module_sync" for m in messages)
        assert_serving(streams)


class TestModuleSync:
    def test_missing_module_is_requested_and_waited_for(self, kernel: Session) -> None:
        start(kernel, "count", "s9", module_name="wb_late", args=[wire(1)])
        request = kernel.receive()
        assert request == {
            "type": "request_module_sync", "module_name": "wb_late",
            "workbook_id": kernel.session.workbook_id,
        }
        # The wait does not hold the listener, and the module may arrive while it lasts.
        assert_serving(kernel)
        push_module(kernel, "wb_late", STREAMS)
        messages = collect_until(kernel, "s9", lambda m: m.get("done") is True)
        assert [m.get("result") for m in messages] == [wire(1), None]

    def test_business_layer_answers_with_the_module_it_holds(self, kernel: Session) -> None:
        kernel.session.modules["wb_held"] = STREAMS
        start(kernel, "count", "s10", module_name="wb_held", args=[wire(2)])
        messages = collect_until(kernel, "s10", lambda m: m.get("done") is True)
        assert [m.get("result") for m in messages] == [wire(1), wire(2), None]

    def test_module_never_delivered_ends_with_error(self, kernel: Session) -> None:
        start(kernel, "count", "s11", module_name="wb_never")
        assert kernel.receive()["type"] == "request_module_sync"
        closing = kernel.receive()
        assert closing == {
            "type": "streaming_function_result", "request_id": "s11",
            "error": "Module 'wb_never' not found after sync attempt", "done": True,
            "workbook_id": kernel.session.workbook_id,
        }
