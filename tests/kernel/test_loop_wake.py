"""What workers hand to the kernel's event loop wakes it exactly when needed: a run's outcome, the
output of a run or of a thread it left behind, whether the loop was looking for it, asleep, or
in asyncio's debug mode (where other threads may not queue on the loop quietly)."""

from __future__ import annotations

import pytest

from support.business_layer import Session, ThreadedBusinessLayer
from support.console import Console, streams
from support.timing import units

# Quick runs make the loop look for their outcomes; sleeping runs outlast the look, so their
# outcomes and output find the loop asleep; the mix crosses between the two all the time.
MIXED_RUNS = [
    ("1 + 1", [("result_output", "Out: 2\n")]),
    ('print("p")', [("stdout", "p\n")]),
    ("time.sleep(0.003)", []),
    ('print("a"); time.sleep(0.004); print("b")', [("stdout", "a\nb\n")]),
    ("sum(range(20000))", [("result_output", "Out: 199990000\n")]),
    ('time.sleep(0.002); print("late")', [("stdout", "late\n")]),
]


def outputs(messages: list[dict]) -> list[tuple[str, str]]:
    """The run's output in order, "stdout" pieces joined, with its "result_output"."""
    merged = streams(messages)
    merged += [(m["type"], m["content"]) for m in messages if m["type"] == "result_output"]
    return merged


def output_without_request(session: Session, text: str, timeout: float) -> None:
    """Waits until "stdout" messages have brought `text`, sending nothing meanwhile. A print's
    pieces may leave apart: they merge only while the first still waits to be sent."""
    seen = ""
    while text not in seen:
        message = session.receive(timeout)
        if message.get("type") == "stdout":
            seen += message["content"]


def assert_runs_come_back(console: Console, rounds: int) -> None:
    console.run("import time")
    for i in range(rounds):
        code, expected = MIXED_RUNS[i % len(MIXED_RUNS)]
        messages = console.run(code, request_id=f"mixed-{i}")
        assert messages[-1]["type"] == "execution_result", messages
        assert messages[-1]["success"] is True, messages
        assert outputs(messages) == expected, (code, messages)


@pytest.mark.shared_kernel
class TestOutcomesReachTheLoop:
    def test_runs_of_every_length_come_back_whole_and_in_order(self, console: Console) -> None:
        assert_runs_come_back(console, 240)


def test_a_sleeping_loop_is_woken_by_outcomes_and_output(kernel: Session) -> None:
    console = Console(kernel)
    # Quick runs first, so that the loop would look for anything still out.
    for _ in range(20):
        console.run("1 + 1")
    # Nothing else may wake the loop: the message batcher's periodic flush stops, and every
    # wait below ends well before the connection's keepalive ping (every 20 s) would wake it.
    console.run(
        "import gc\n"
        "for o in gc.get_objects():\n"
        "    if type(o).__name__ == 'MessageBatcher':\n"
        "        o._running = False"
    )
    kernel.send({"type": "execution_request", "code": "import time; time.sleep(0.2)",
                 "request_id": "asleep"})
    assert kernel.receive(10)["type"] == "execution_result"
    console.run("import threading\nthreading.Timer(0.3, print, ('idle',)).start()")
    output_without_request(kernel, "idle\n", timeout=10)


def test_a_loop_in_asyncio_debug_mode_is_woken_as_any_other(
    business_layer: ThreadedBusinessLayer, workbook_id: str, monkeypatch: pytest.MonkeyPatch
) -> None:
    monkeypatch.setenv("PYTHONASYNCIODEBUG", "1")
    with business_layer.running(workbook_id) as session:
        console = Console(session)
        console.run("import asyncio, gc")
        running = "[o.get_debug() for o in gc.get_objects() if isinstance(o, asyncio.BaseEventLoop)]"
        assert console.value(running) == [True]
        assert_runs_come_back(console, 24)
        console.run("import threading\nthreading.Timer(0.2, print, ('idle',)).start()")
        output_without_request(session, "idle\n", units(10))
