"""Memory held for a run's output: every piece is streamed, what the run keeps is bounded."""

from __future__ import annotations

import time

import pytest
from test_output_coalescing import needs_plain_allocator, resident_mb

from support.console import Console, streams
from support.invocation import Invoker
from support.timing import units
from zentrel_master.python_server import kernel

#: Characters a capture with a callback keeps at least (and less than twice that).
KEPT = 1 << 20

LINES = 300_000
PRINT_LOOP = f"for i in range({LINES}):\n    print(f'{{i:09d}}')"
WHOLE = "".join(f"{i:09d}\n" for i in range(LINES))


class TestStreamedCaptureKeepsItsTail:
    def test_every_piece_streamed_and_the_tail_kept_from_a_line_start(self) -> None:
        pieces: list[str] = []
        record = kernel.CodeExecutor().execute(PRINT_LOOP, stdout_callback=pieces.append)
        assert "".join(pieces) == WHOLE
        kept = record["stdout"]
        assert KEPT <= len(kept) < 2 * KEPT
        assert WHOLE.endswith(kept)
        assert WHOLE[len(WHOLE) - len(kept) - 1] == "\n"

    def test_capture_without_callback_keeps_everything(self) -> None:
        assert kernel.CodeExecutor().execute(PRINT_LOOP)["stdout"] == WHOLE

    def test_text_without_line_ends_is_cut_anywhere(self) -> None:
        capture = kernel.StreamCapture(lambda text: None)
        for i in range(3):
            capture.write(str(i) * KEPT)
        kept = capture.getvalue()
        assert KEPT <= len(kept) < 2 * KEPT
        assert kept == "2" * KEPT

    @pytest.mark.parametrize("callback", [None, ""], ids=["none", "falsy"])
    def test_capture_whose_pieces_go_nowhere_is_not_cut(self, callback: object) -> None:
        capture = kernel.StreamCapture(callback)
        capture.write("a" * (3 * KEPT))
        assert len(capture.getvalue()) == 3 * KEPT


class TestFunctionLogs:
    def test_logs_carry_the_tail_of_a_long_output_that_was_streamed_whole(
        self, invoker: Invoker
    ) -> None:
        invoker.push("chatty", f"def talk():\n    {PRINT_LOOP.replace(chr(10), chr(10) + '    ')}\n"
                     "    return 1\n")
        messages = invoker.call("chatty", "talk")
        assert streams(messages) == [("stdout", WHOLE)]
        logs = messages[-1]["logs"]
        assert (messages[-1]["type"], messages[-1]["status"]) == ("function_execution_result", "success")
        assert KEPT <= len(logs) < 2 * KEPT and WHOLE.endswith(logs)
        assert WHOLE[len(WHOLE) - len(logs) - 1] == "\n"


@needs_plain_allocator
class TestFloodMemory:
    def test_flood_read_by_the_business_layer_stays_bounded(self, console: Console) -> None:
        console.run("import time\nsent = 0")
        idle = resident_mb(console.session)
        console.session.send({
            "type": "execution_request", "request_id": "flood",
            "code": (
                "end = time.monotonic() + 2\n"
                "while time.monotonic() < end:\n    print('x' * 99)\n    sent += 1"
            ),
        })
        peak = idle
        deadline = time.monotonic() + units(1)
        text: list[str] = []
        while True:
            message = console.session.receive()
            if message["type"] == "stdout":
                text.append(message["content"])
            elif message["type"] in ("execution_result", "execution_error"):
                break
            if time.monotonic() < deadline:
                peak = max(peak, resident_mb(console.session))
        assert message["type"] == "execution_result"
        assert peak - idle < 20, f"kernel grew {peak - idle:.1f} MB while its output was read"
        assert "".join(text) == ("x" * 99 + "\n") * console.value("sent")
