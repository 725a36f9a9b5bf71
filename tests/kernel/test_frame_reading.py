"""The kernel reads its connection itself: every shape of frame a Business Layer may send still
arrives whole and in order, and what the library must refuse still ends the connection."""

from __future__ import annotations

import json

import pytest

from support.business_layer import Session, ThreadedBusinessLayer


def hover(mode: str) -> str:
    """A frame the kernel answers on its receive loop, in order, echoing `mode`."""
    return json.dumps({"type": "set_hover_mode", "mode": mode})


def modes_answered(kernel: Session, count: int) -> list[str]:
    return [kernel.receive()["mode"] for _ in range(count)]


@pytest.mark.off_protocol("incoming")
class TestShapes:
    def test_every_shape_of_message_arrives_whole_and_in_order(
        self, business_layer: ThreadedBusinessLayer, kernel: Session
    ):
        connection = kernel.session.connection
        big = json.dumps({"type": "set_hover_mode", "mode": "big", "pad": "é" * 100_000})

        async def burst() -> None:
            await connection.send(hover("text"))
            # A message in three fragments, and one in a binary frame: the library's to read.
            text = hover("fragments")
            await connection.send([text[:10], text[10:20], text[20:]])
            await connection.send(hover("binary").encode())
            pong = await connection.ping()
            await connection.send(big)  # 64-bit length, arriving in several reads
            # More than the queue holds before reading pauses.
            for i in range(40):
                await connection.send(hover(f"m{i}"))
            await pong

        business_layer.call(burst())
        expected = ["text", "fragments", "binary", "big"] + [f"m{i}" for i in range(40)]
        assert modes_answered(kernel, len(expected)) == expected
        assert kernel.probe()["type"] == "error"

    def test_a_text_frame_that_is_not_utf8_fails_the_connection_after_what_came_before(
        self, business_layer: ThreadedBusinessLayer, kernel: Session
    ):
        connection = kernel.session.connection

        async def send() -> None:
            await connection.send(hover("before"))
            await connection.send(b'{"type": "\xff"}', text=True)
            await connection.send(hover("after"))

        business_layer.call(send())
        assert modes_answered(kernel, 1) == ["before"]
        assert kernel.wait_exit() == 0
        assert "1007" in kernel.log_text()  # invalid data: the library's own close
        assert "Received set_hover_mode: after" not in kernel.log_text()
