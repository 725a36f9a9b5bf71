"""What a careless user prints or a hostile peer sends never ends a kernel process."""

from __future__ import annotations

import json
import os
import re
import signal
import time
from collections.abc import Iterator
from pathlib import Path
from typing import Any

import pytest

from support.business_layer import Session, ThreadedBusinessLayer
from support.console import Console
from support.timing import units

REPLACEMENT = "\ufffd"


def decoy(payload: dict[str, Any]) -> dict[str, Any]:
    """The add-in end: answers every request for another id, so the test answers by hand."""
    return {"requestId": "decoy", "ok": True}


@pytest.fixture(scope="module")
def layer() -> Iterator[ThreadedBusinessLayer]:
    layer = ThreadedBusinessLayer(addin_handler=decoy)
    yield layer
    layer.close()


@pytest.fixture
def session(layer: ThreadedBusinessLayer, workbook_id: str) -> Iterator[Session]:
    with layer.running(workbook_id) as session:
        yield session


@pytest.fixture
def console(session: Session) -> Console:
    return Console(session)


def strict(frame: str | bytes) -> Any:
    """A frame parsed as JSON, checked to hold no surrogate any peer would refuse."""
    assert isinstance(frame, str)
    frame.encode("utf-8")  # raises on a surrogate
    return json.loads(frame, parse_constant=lambda c: pytest.fail(f"not JSON: {c}"))


def next_of_type(console: Console, kind: str, within: float | None = None) -> dict[str, Any]:
    """The next message of type `kind`; others are stashed for their requests."""
    deadline = time.monotonic() + (units() if within is None else within)
    while True:
        message = console.session.receive(max(deadline - time.monotonic(), 0.1))
        if message["type"] == kind:
            return message
        console._stash.setdefault(message.get("request_id"), []).append(message)


class TestSurrogates:
    @pytest.mark.parametrize(
        ("code", "expected"),
        [
            pytest.param("print('bad \\ud800 char')", f"bad {REPLACEMENT} char\n", id="lone"),
            pytest.param("print(b'caf\\xe9.txt'.decode('utf-8', 'surrogateescape'))",
                         f"caf{REPLACEMENT}.txt\n", id="surrogateescape-file-name"),
            pytest.param("print('\\ud83d\\ude00')", "\U0001f600\n", id="pair-joined"),
        ],
    )
    def test_printed_text_arrives_repaired(self, console: Console, code: str, expected: str):
        messages = console.run(code)
        assert "".join(m["content"] for m in messages if m["type"] == "stdout") == expected
        assert messages[-1]["type"] == "execution_result"
        assert console.value("40 + 2") == 42

    def test_results_errors_and_echoed_fields_stay_sendable(self, console: Console):
        console.run("kept = 'namespace'")
        console.session.send_raw(
            '{"type": "execution_request", "request_id": "id-\\udc80", '
            '"code": "raise ValueError(\'\\\\ud800 in error\')"}'
        )
        final = console.collect("id-" + REPLACEMENT)[-1]
        assert final["type"] == "execution_error"
        assert f"{REPLACEMENT} in error" in final["error"]["message"]
        assert console.value("'result \\udfff'") == f"result {REPLACEMENT}"
        # An echoed field of a row that refuses its input.
        console.session.send_raw('{"type": "update_module", "module_name": 5, "request_id": "\\ud800"}')
        assert console.session.receive()["type"] == "error"
        assert console.value("kept") == "namespace"
        for frame in console.session.frames:
            strict(frame)

    def test_chunked_output_with_surrogates(self, console: Console):
        final = console.run("print('\\ud800' * 70000, end='')")
        content = "".join(m["content"] for m in final if m["type"] == "stdout")
        assert content == REPLACEMENT * 70000


class TestFrameLimits:
    def test_frame_of_five_mebibytes_is_answered_too_large(self, console: Console):
        console.session.send_raw("x" * (5 * 1024 * 1024))
        assert console.session.receive() == {"type": "error", "message": "Message too large"}
        assert console.value("1 + 1") == 2

    def test_frame_beyond_the_connection_limit_logs_the_close_and_its_reason(
        self, session: Session
    ):
        session.send_raw("x" * (64 * 1024 * 1024 + 1))
        assert session.wait_exit() == 0
        line = session.wait_for_log("[Kernel] Connection closed: ")
        assert "1009" in line and "message too big" in line


def series(kind: str, request_id: str, pad: int, size: int) -> list[str]:
    """The frames of one "update_module" chunk series."""
    raw = json.dumps({"type": kind, "module_name": request_id, "code": "x = 1  #" + "p" * pad,
                      "request_id": request_id})
    total = -(-len(raw) // size)
    return [
        json.dumps({"type": "chunk", "chunk_id": f"series-{request_id}", "chunk_index": i,
                    "total_chunks": total, "data": raw[i * size:(i + 1) * size],
                    "original_type": kind, "request_id": request_id})
        for i in range(total)
    ]


class TestChunkSeries:
    def test_more_interleaved_series_than_the_limit_still_answers_the_open_ones(
        self, console: Console
    ):
        all_series = [series("update_module", f"m{i}", 200, 40) for i in range(17)]
        for frames in zip(*all_series, strict=True):
            for frame in frames:
                console.session.send_raw(frame)
        replies = [console.session.receive() for _ in range(17)]
        updated = sorted(r["module_name"] for r in replies if r["type"] == "module_updated")
        assert updated == sorted(f"m{i}" for i in range(16))
        [refused] = [r for r in replies if r["type"] == "error"]
        assert (refused["original_type"], refused["request_id"]) == ("update_module", "m16")
        assert refused["message"].startswith(
            "Chunk series of update_module (request_id m16) dropped: Too many open chunk series"
        )
        # The rest of the refused series is ignored quietly.
        assert console.session.probe()["type"] == "error"
        assert console.value("1") == 1

    @pytest.mark.off_protocol("incoming")
    @pytest.mark.parametrize(
        ("frames", "reason"),
        [
            pytest.param([{"chunk_index": 0, "total_chunks": 2, "data": 7}],
                         "Chunk data must be text or null", id="data-not-text"),
            pytest.param([{"chunk_index": 0, "total_chunks": 2, "data": "{"},
                          {"chunk_index": 1, "total_chunks": 3, "data": "}"}],
                         "Chunk total_chunks 3 differs", id="total-mismatch"),
            pytest.param([{"chunk_index": 0, "total_chunks": 1, "data": "{bad"}],
                         "Failed to parse reassembled message", id="unparsable"),
            pytest.param([{"chunk_index": 0, "total_chunks": 10**9, "data": "{"}],
                         "Chunk series too long", id="too-long"),
        ],
    )
    def test_dropped_series_is_answered_naming_its_type_and_request(
        self, console: Console, frames: list[dict[str, Any]], reason: str
    ):
        for fields in frames:
            console.session.send({"type": "chunk", "chunk_id": "c", "original_type": "hover_request",
                                  "request_id": "h1", **fields})
        reply = console.session.receive()
        assert (reply["type"], reply["original_type"], reply["request_id"]) == (
            "error", "hover_request", "h1")
        assert reply["message"].startswith("Chunk series of hover_request (request_id h1) dropped: ")
        assert reason in reply["message"]
        assert console.session.probe()["type"] == "error"


ASK = """
import zentrel
def ask():
    try:
        return zentrel.messaging.send_request_sync({'name': 'x'})
    except Exception as e:
        return [type(e).__name__, str(e)]
"""


class TestUndecodableResponse:
    @pytest.mark.parametrize(
        ("build", "problem"),
        [
            pytest.param(lambda rid: '{"type": "sys_response", "payload": {"requestId": "%s", '
                         '"result": %s}}' % (rid, "[" * 100000 + "]" * 100000),
                         "maximum recursion depth exceeded", id="nested-too-deep"),
            pytest.param(lambda rid: '{"type": "sys_response", "requestId": "%s", "pad": "%s"}'
                         % (rid, "p" * (1024 * 1024)), "Message too large", id="too-large"),
            pytest.param(lambda rid: '{"type": "sys_response", "payload": {"requestId": "%s", '
                         '"ok": tru' % rid, "Expecting", id="truncated"),
            pytest.param(lambda rid: '{"type": "sys_response", "requestId": "%s", "payload": [1]}'
                         % rid, "field 'payload' must be an object", id="payload-not-a-map"),
        ],
    )
    def test_waiting_worker_gets_the_error_at_once(self, console: Console, build, problem: str):
        assert console.run(ASK)[-1]["type"] == "execution_result"
        console.session.send({"type": "execution_request", "request_id": "r", "code": "ask()",
                              "function_name": "probe"})
        request_id = next_of_type(console, "sys_request")["payload"]["requestId"]
        console.session.send_raw(build(request_id))
        # Well within the channel's 30 second time-out.
        final = [m for m in console.collect("r") if m["type"] == "execution_result"][-1]
        kind, text = final["result"]
        assert kind == "RuntimeError"
        assert text.startswith("sys_response could not be decoded: ") and problem in text


class TestEditorThread:
    def test_sys_response_flows_while_a_long_analysis_runs(self, console: Console):
        console.run(ASK)
        code = "".join(f"name_{i} = [{i}, '{i}']\n" for i in range(28000)) + "name_1."
        console.session.send({"type": "completion_request", "request_id": "slow", "code": code,
                              "line": 28001, "column": 7})
        console.session.send({"type": "execution_request", "request_id": "r", "code": "ask()"})
        request_id = next_of_type(console, "sys_request")["payload"]["requestId"]
        console.session.send({"type": "sys_response",
                              "payload": {"requestId": request_id, "ok": True, "n": 1}})
        order = []
        while len(order) < 2:
            message = console.session.receive(units(6))
            if message["type"] in ("execution_result", "completion_response"):
                order.append(message["type"])
        assert order == ["execution_result", "completion_response"]

    def test_replies_leave_in_request_order(self, console: Console):
        code = "".join(f"item_{i} = {i}\n" for i in range(20000)) + "item_1"
        console.session.send({"type": "diagnostic_request", "request_id": "d", "code": code})
        console.session.send({"type": "hover_request", "request_id": "h", "code": "x"})
        console.session.send({"type": "completion_request", "request_id": "c", "code": "x" * 1_000_001})
        ids = [console.session.receive(units(6))["request_id"] for _ in range(3)]
        assert ids == ["d", "h", "c"]

    def test_oversized_pushed_module_runs_but_is_left_out_of_the_analysis(self, console: Console):
        big = "big_value = 5\n" + "#" * 1_000_001 + "\n"
        console.session.send_chunked({"type": "update_module", "module_name": "wb_big", "code": big})
        assert console.session.receive(units(2))["type"] == "module_updated"
        assert console.value("__import__('wb_big').big_value") == 5
        reply = console.exchange({"type": "completion_request", "code": "import wb_big\nwb_big.",
                                  "line": 2, "column": 7})
        assert reply["type"] == "completion_response" and reply["error"] is None
        console.session.wait_for_log("[LSP] Module left out of the analysis: wb_big")


class TestStartupModules:
    def test_unloading_everything_keeps_what_the_kernel_runs_on(self, console: Console):
        console.run("import colorsys")  # the user's own import, not the kernel's
        reply = console.exchange({"type": "unload_and_clear_paths", "paths": ["/"]})
        assert reply["type"] == "modules_unloaded"
        assert console.value("'colorsys' in __import__('sys').modules") is False
        assert console.value("all(m in __import__('sys').modules for m in "
                             "('jedi', 'parso', 'websockets', 'zentrel'))") is True
        completion = console.exchange({"type": "completion_request", "code": "import os\nos.pa",
                                       "line": 2, "column": 5})
        assert completion["error"] is None
        assert "path" in [c["label"] for c in completion["completions"]]


def temp_dir_of(session: Session) -> Path:
    line = session.wait_for_log("[LSP] CodeInsight initialized")
    return Path(re.search(r"temp_dir=([^,]+),", line).group(1))


class TestEditorDirectory:
    def test_removed_on_shutdown(self, console: Console):
        pushed = console.exchange({"type": "update_module", "module_name": "wb_m", "code": "v = 1\n"})
        assert pushed["type"] == "module_updated"
        reply = console.exchange({"type": "completion_request", "code": "import wb_m\nwb_m.",
                                  "line": 2, "column": 5})
        assert reply["type"] == "completion_response"
        directory = temp_dir_of(console.session)
        assert (directory / "wb_m.py").exists()
        assert console.session.shutdown() == 0
        assert not directory.exists()

    def test_removed_on_sigterm(self, session: Session):
        directory = temp_dir_of(session)
        assert directory.exists()
        assert session.process is not None
        os.kill(session.process.pid, signal.SIGTERM)
        assert session.wait_exit() == 0
        assert not directory.exists()
