"""Run output on its way to the Business Layer: merged while it waits, never lost or reordered,
and held back (not buffered without bound) when the Business Layer cannot take it."""

from __future__ import annotations

import os
import time

import pytest

from support.business_layer import Session
from support.console import Console, streams
from support.timing import units


def resident_mb(session: Session) -> float:
    """The kernel process's resident memory."""
    assert session.process is not None
    with open(f"/proc/{session.process.pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    raise AssertionError("no VmRSS line")


class TestOrderAndCompleteness:
    def test_print_loop_arrives_whole_in_order_in_fewer_messages(self, console: Console) -> None:
        messages = console.run("for i in range(20000):\n    print(i)", request_id="loop")
        output = [m for m in messages if m["type"] == "stdout"]
        assert "".join(m["content"] for m in output) == "".join(f"{i}\n" for i in range(20000))
        # Each print writes two pieces; waiting pieces are merged into one message.
        assert len(output) < 20000
        assert all(
            list(m) == ["type", "content", "request_id", "workbook_id", "source"] for m in output
        )
        assert messages[-1]["type"] == "execution_result"

    def test_streams_keep_their_interleaving(self, console: Console) -> None:
        code = (
            "import sys\n"
            "for i in range(300):\n"
            "    print('o', i)\n"
            "    print('e', i, file=sys.stderr)\n"
        )
        expected = []
        for i in range(300):
            expected += [("stdout", f"o {i}\n"), ("stderr", f"e {i}\n")]
        assert streams(console.run(code)) == expected

    def test_threads_of_one_run_each_keep_their_order(self, console: Console) -> None:
        code = (
            "import sys, threading\n"
            "def burst(name):\n"
            "    for i in range(2000):\n"
            "        sys.stdout.write(f'{name}:{i}\\n')\n"
            "threads = [threading.Thread(target=burst, args=(f't{k}',)) for k in range(4)]\n"
            "for t in threads: t.start()\n"
            "for t in threads: t.join()\n"
        )
        messages = console.run(code, request_id="threads")
        # Threads the run starts are not redirected: theirs is process-wide output, which shares
        # the queue and so is all in before the run's result.
        messages += console._stash.pop(None, [])
        text = "".join(m["content"] for m in messages if m["type"] == "stdout")
        lines = [line for line in text.split("\n") if line]
        for k in range(4):
            mine = [line for line in lines if line.startswith(f"t{k}:")]
            assert mine == [f"t{k}:{i}" for i in range(2000)]

    def test_overlapping_runs_keep_their_own_output_before_their_result(
        self, console: Console
    ) -> None:
        for name in ("a", "b"):
            console.session.send({
                "type": "execution_request", "request_id": name,
                "code": f"for i in range(5000):\n    print('{name}', i)",
            })
        for name in ("a", "b"):
            messages = console.collect(name)
            assert messages[-1]["type"] == "execution_result"
            assert streams(messages) == [
                ("stdout", "".join(f"{name} {i}\n" for i in range(5000)))
            ]
        # Nothing of either run trails its result.
        console.run("None")
        assert not console._stash.get("a") and not console._stash.get("b")


class TestRunEnd:
    """Output written as a run starts may wait for the run's end: it must then leave with it,
    whole and ahead of the run's last message, whichever way the run ends."""

    @pytest.mark.parametrize(("code", "expected", "final"), [
        ("print('x')", [("stdout", "x\n")], "execution_result"),
        ("print('x') or 2", [("stdout", "x\n"), ("result_output", "Out: 2\n")], "execution_result"),
        ("import sys\nprint('o')\nprint('e', file=sys.stderr)\nprint('o2')",
         [("stdout", "o\n"), ("stderr", "e\n"), ("stdout", "o2\n")], "execution_result"),
        ("print('x')\nraise ValueError('no')", [("stdout", "x\n")], "execution_error"),
        ("print('x')\nraise SystemExit(3)", [("stdout", "x\n")], "execution_error"),
    ], ids=["print", "print-then-value", "both-streams", "error", "exit-request"])
    def test_short_run_sends_its_output_before_its_last_message(
        self, console: Console, code: str, expected: list[tuple[str, str]], final: str
    ) -> None:
        for attempt in range(30):
            messages = console.run(code, request_id=f"short-{attempt}")
            assert messages[-1]["type"] == final
            shown = [(m["type"], m["content"]) for m in messages if m["type"] == "result_output"]
            assert streams(messages) + shown == expected
        # Nothing of these runs arrived after their last message.
        console.run("None", request_id="after")
        assert not any(key and str(key).startswith("short-") for key in console._stash)

    def test_output_of_a_long_run_leaves_each_time_it_is_written(self, console: Console) -> None:
        console.run("import threading, time\ngate = threading.Event()\nstep = threading.Event()")
        console.session.send({
            "type": "execution_request", "request_id": "long",
            "code": "print('first')\nstep.wait(60)\nprint('second')\ngate.wait(60)",
        })
        for expected, then in (("first\n", "step.set()"), ("second\n", "gate.set()")):
            # Received while the run waits (it may come in while `then` is answered). The line and
            # its end are two writes: when the loop takes the first before the second is made,
            # they leave as two messages.
            text = ""
            while text != expected:
                stashed = console._stash.get("long")
                message = stashed.pop(0) if stashed else console.session.receive(units())
                assert message["type"] == "stdout", message
                text += message["content"]
                assert expected.startswith(text), message
            console.run(then)
        assert console.collect("long")[-1]["type"] == "execution_result"


class TestLatency:
    def test_lone_print_leaves_while_the_run_goes_on(self, console: Console) -> None:
        console.run("import threading\ngate = threading.Event()")
        console.session.send({
            "type": "execution_request", "request_id": "lone",
            "code": "print('lone')\ngate.wait(60)",
        })
        text = ""
        while text != "lone\n":
            message = console.session.receive(units())
            assert message["type"] == "stdout" and message["request_id"] == "lone", message
            text += message["content"]
        console.run("gate.set()")
        assert console.collect("lone")[-1]["type"] == "execution_result"


# Resident memory measures nothing under ASan: freed blocks wait in its quarantine.
needs_plain_allocator = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="resident memory measures nothing under ASan: freed blocks wait in its quarantine",
)


class TestBackPressure:
    @needs_plain_allocator
    def test_flood_is_held_back_while_the_business_layer_does_not_read(
        self, kernel: Session
    ) -> None:
        console = Console(kernel)
        console.run("stop = False\nsent = 0")
        idle = resident_mb(kernel)
        transport = kernel.session.connection.transport

        async def pause() -> None:
            transport.pause_reading()

        async def resume() -> None:
            transport.resume_reading()

        kernel.layer.call(pause())
        try:
            kernel.send({
                "type": "execution_request", "request_id": "flood", "function_name": "f",
                "code": "while not stop:\n    print('x' * 99)\n    sent += 1",
            })
            # Without back-pressure the kernel queues tens of MB a second here.
            deadline = time.monotonic() + 3.0
            peak = idle
            while time.monotonic() < deadline:
                peak = max(peak, resident_mb(kernel))
                time.sleep(0.05)
            assert peak - idle < 20, f"kernel grew {peak - idle:.1f} MB while not read"
            kernel.send({"type": "execution_request", "request_id": "stop", "code": "stop = True"})
        finally:
            kernel.layer.call(resume())
        messages = console.collect("flood")
        final = messages[-1]
        assert final["type"] == "execution_result"
        text = "".join(m["content"] for m in messages if m["type"] == "stdout")
        assert text == ("x" * 99 + "\n") * console.value("sent")
