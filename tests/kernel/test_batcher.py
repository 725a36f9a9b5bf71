"""MessageBatcher: one flush, one frame; a lone message unwrapped; the final flush on stop."""

from __future__ import annotations

import asyncio
import json

import pytest

from support.business_layer import ThreadedBusinessLayer, connected_kernel
from zentrel_master.python_server.kernel import CHUNK_SIZE, MessageBatcher


def run(coro):
    return asyncio.run(coro)


def test_batcher_attributes_in_order():
    batcher = MessageBatcher(object())
    assert list(vars(batcher)) == ["_kernel", "_queue", "_flush_task", "_running"]
    assert MessageBatcher.FLUSH_INTERVAL == 0.01


@pytest.mark.off_protocol("outgoing")
class TestFlushing:
    def test_messages_of_one_interval_leave_as_one_batch_in_order(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        messages = [{"type": "m", "i": i} for i in range(3)]

        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                for m in messages:  # no await yields to the flush loop in between
                    await kernel._batcher.enqueue(m)
                return await session.areceive(), list(session.frames)

        received, frames = run(scenario())
        assert received == {"type": "batch", "messages": messages}
        assert len(frames) == 1

    def test_lone_message_leaves_unwrapped_and_empty_interval_sends_nothing(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                await kernel._batcher._flush_now()  # nothing queued
                await kernel._batcher.enqueue({"type": "alone"})
                first = await session.areceive()
                await kernel._batcher._flush_now()
                await kernel.send_message({"type": "direct"})
                return first, await session.areceive(), len(session.frames)

        assert run(scenario()) == ({"type": "alone"}, {"type": "direct"}, 2)

    def test_large_batch_is_chunked_as_batch(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        messages = [{"type": "m", "data": "d" * CHUNK_SIZE} for _ in range(2)]

        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                kernel._batcher._running = False  # only the explicit flush below sends
                await kernel._batcher._flush_task
                for m in messages:
                    await kernel._batcher.enqueue(m)
                await kernel._batcher._flush_now()
                return await session.areceive(), [json.loads(f) for f in session.frames]

        received, frames = run(scenario())
        assert received == {"type": "batch", "messages": messages}
        assert {f["original_type"] for f in frames} == {"batch"}

    def test_message_enqueued_before_stop_is_sent_by_the_final_flush(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                await kernel._batcher.enqueue({"type": "last"})
                await kernel._batcher.stop()
                await kernel._batcher.stop()  # stopping again is harmless
                return await session.areceive(), kernel._batcher._flush_task.cancelled()

        assert run(scenario()) == ({"type": "last"}, True)

    def test_flush_loop_killed_by_a_failed_send_does_not_break_teardown(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str, caplog
    ):
        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                await kernel._batcher.enqueue({"type": "bad", "v": object()})
                try:
                    await kernel._batcher._flush_task
                except TypeError:
                    pass
                await kernel.disconnect()
                return kernel.running

        import zentrel

        assert run(scenario()) is False
        assert zentrel._kernel_instance is None
        assert any("Batcher flush failed" in r.getMessage() for r in caplog.records)
