"""Reassembly of incoming chunk series, including hostile ones."""

from __future__ import annotations

import asyncio
import json
from collections.abc import Iterator

import pytest

from support.business_layer import Session, unconnected_kernel
from support.console import NOT_AN_OBJECT
from zentrel_master.python_server import kernel as kernel_module
from zentrel_master.python_server.kernel import PythonKernel

LOGGER = kernel_module.__name__


def chunk(cid: str = "c1", index=0, total=1, data="", **extra) -> dict:
    return {"type": "chunk", "chunk_id": cid, "chunk_index": index, "total_chunks": total,
            "data": data, **extra}


def feed(pk: PythonKernel, *chunks: dict) -> list:
    """Hands each chunk to the pk's reassembly; the results in order."""

    async def go():
        return [await pk._handle_chunk_message(c) for c in chunks]

    return asyncio.run(go())


@pytest.fixture
def pk() -> Iterator[PythonKernel]:
    with unconnected_kernel("wb-chunks") as kernel:
        yield kernel


def errors(caplog) -> list[str]:
    return [r.getMessage() for r in caplog.records if r.levelname == "ERROR"]


class TestReassembly:
    def test_out_of_order_chunks_reassemble_to_the_same_message(self, pk):
        text = json.dumps({"type": "t", "v": "abcdef"})
        parts = [text[:10], text[10:20], text[20:]]
        results = feed(pk, chunk(index=2, total=3, data=parts[2]),
                       chunk(index=0, total=3, data=parts[0]),
                       chunk(index=1, total=3, data=parts[1]))
        assert results == [None, None, {"type": "t", "v": "abcdef"}]
        assert pk._chunk_buffers == {}

    def test_repeated_chunk_keeps_first_data_and_does_not_complete_early(self, pk):
        results = feed(pk, chunk(index=0, total=2, data='{"a": '),
                       chunk(index=0, total=2, data='{"b": '))
        assert results == [None, None]
        assert pk._chunk_buffers["c1"]["received"] == 1
        assert feed(pk, chunk(index=1, total=2, data="1}")) == [{"a": 1}]

    def test_series_of_an_empty_object_returns_it(self, pk):
        assert feed(pk, chunk(data="{}")) == [{}]

    def test_boolean_positions_count_as_integers(self, pk):
        assert feed(pk, chunk(index=True, total=2, data="}"),
                    chunk(index=False, total=2, data="{")) == [None, {}]

    @pytest.mark.parametrize(
        "bad, log",
        [
            ({"chunk_index": None}, "[Kernel] Invalid chunk message: missing required fields"),
            ({"total_chunks": None}, "[Kernel] Invalid chunk message: missing required fields"),
            ({"chunk_id": None}, "[Kernel] Invalid chunk message: missing required fields"),
            ({"chunk_index": 1.0}, "[Kernel] Invalid chunk message: chunk_index and total_chunks must be integers"),
            ({"total_chunks": "2"}, "[Kernel] Invalid chunk message: chunk_index and total_chunks must be integers"),
            ({"chunk_index": 2}, "[Kernel] Invalid chunk_index 2 for total_chunks 2"),
            ({"chunk_index": -1}, "[Kernel] Invalid chunk_index -1 for total_chunks 2"),
            ({"chunk_index": 10**30}, f"[Kernel] Invalid chunk_index {10**30} for total_chunks 2"),
            ({"chunk_id": ["c1"]}, "[Kernel] Invalid chunk message: chunk_id must be text"),
        ],
        ids=["no-index", "no-total", "no-id", "fraction-index", "text-total", "index-eq-total",
             "negative-index", "huge-index", "list-id"],
    )
    def test_invalid_chunk_is_dropped_and_open_series_stays(self, pk, caplog, bad, log):
        feed(pk, chunk(index=0, total=2, data="{"))
        with caplog.at_level("ERROR", logger=LOGGER):
            assert feed(pk, {**chunk(index=1, total=2, data="}"), **bad}) == [None]
        assert errors(caplog) == [log]
        assert pk._chunk_buffers["c1"]["received"] == 1
        assert feed(pk, chunk(index=1, total=2, data="}")) == [{}]

    @pytest.mark.parametrize(
        "parts, log",
        [
            (['{"type": "chunk", "x"', ": 1}"], "[Kernel] Nested chunk message detected for chunk_id c1, rejecting"),
            (["{", None], "[Kernel] Incomplete chunk buffer for chunk_id c1"),
            (["{not", " json"], "[Kernel] Failed to parse reassembled message: Expecting property name enclosed in double quotes: line 1 column 2 (char 1)"),
            (["[1, ", "2]"], "[Kernel] Reassembled message is not a JSON object for chunk_id c1, dropping it"),
            (["[" * 60000, "]" * 60000], "[Kernel] Failed to parse reassembled message: maximum recursion depth exceeded while decoding a JSON array from a unicode string"),
        ],
        ids=["nested", "null-data", "unparsable", "array", "too-deep"],
    )
    def test_complete_series_that_is_not_a_message_is_dropped(self, pk, caplog, parts, log):
        with caplog.at_level("ERROR", logger=LOGGER):
            results = feed(pk, *(chunk(index=i, total=len(parts), data=p) for i, p in enumerate(parts)))
        assert results == [None, None]
        assert errors(caplog) == [log]
        assert pk._chunk_buffers == {}


class TestBounds:
    @pytest.mark.parametrize("total", [10**9, 10**30], ids=["billion", "beyond-64-bits"])
    def test_series_claiming_too_many_chunks_allocates_nothing(self, pk, caplog, total):
        with caplog.at_level("ERROR", logger=LOGGER):
            assert feed(pk, chunk(index=0, total=total, data="{")) == [None]
        assert errors(caplog) == [f"[Kernel] Chunk series too long: total_chunks {total} exceeds the limit of 512"]
        assert pk._chunk_buffers == {}

    def test_later_chunk_with_other_total_drops_the_series(self, pk, caplog):
        feed(pk, chunk(index=0, total=2, data="{"))
        with caplog.at_level("ERROR", logger=LOGGER):
            assert feed(pk, chunk(index=4, total=5, data="}")) == [None]
        assert errors(caplog) == ["[Kernel] Chunk total_chunks 5 differs from the series' 2 for chunk_id c1, dropping the series"]
        assert pk._chunk_buffers == {}

    @pytest.mark.parametrize("data", [5, ["x"], {"a": 1}, True], ids=["int", "list", "dict", "bool"])
    def test_data_that_is_not_text_drops_the_series(self, pk, caplog, data):
        feed(pk, chunk(index=0, total=2, data="{"))
        with caplog.at_level("ERROR", logger=LOGGER):
            assert feed(pk, chunk(index=1, total=2, data=data)) == [None]
        assert errors(caplog) == [
            f"[Kernel] Chunk data must be text or null for chunk_id c1 (got {type(data).__name__}), dropping the series"
        ]
        assert pk._chunk_buffers == {}

    def test_full_table_refuses_a_new_series_until_one_is_idle(self, pk, caplog, monkeypatch):
        with caplog.at_level("ERROR", logger=LOGGER):
            feed(pk, *(chunk(cid=f"s{i}", index=0, total=2, data="{") for i in range(17)))
        assert errors(caplog) == [
            "[Kernel] Too many open chunk series (16), refusing the new chunk_id s16"]
        assert list(pk._chunk_buffers) == [f"s{i}" for i in range(16)]
        # The rest of the refused series is ignored; the open ones still complete.
        assert feed(pk, chunk(cid="s16", index=1, total=2, data="}"),
                    chunk(cid="s0", index=1, total=2, data="}")) == [None, {}]
        assert "s16" not in pk._chunk_buffers
        # A series idle past the limit makes room for a new one (n0 takes the slot s0 left).
        pk._chunk_buffers["s1"]["last"] -= 31.0
        caplog.clear()
        with caplog.at_level("ERROR", logger=LOGGER):
            feed(pk, *(chunk(cid=f"n{i}", index=0, total=2, data="{") for i in range(3)))
        assert errors(caplog) == [
            "[Kernel] Too many open chunk series (16), dropping the idle chunk_id s1",
            "[Kernel] Too many open chunk series (16), refusing the new chunk_id n2",
        ]

    def test_series_larger_than_the_reassembly_limit_is_dropped(self, pk, caplog):
        big = "x" * (17 * 1024 * 1024)
        feed(pk, chunk(index=0, total=3, data=big))
        with caplog.at_level("ERROR", logger=LOGGER):
            assert feed(pk, chunk(index=1, total=3, data=big)) == [None]
        assert errors(caplog) == [
            "[Kernel] Chunk series too large for chunk_id c1 exceeds the limit of 33554432 characters, dropping it"
        ]
        assert pk._chunk_buffers == {}


class TestThroughTheConnection:
    @pytest.mark.off_protocol("incoming")
    def test_business_layer_chunk_series_is_dispatched_like_a_whole_message(self, kernel: Session):
        kernel.send_chunked({"type": "chunked_kind", "request_id": "r9", "pad": "p" * 200}, chunk_size=50)
        kernel.wait_for_log("[TIMING] Message received: type=chunked_kind, request_id=r9")
        kernel.wait_for_log("[Kernel] [Listener Thread] Received message type: chunked_kind")
        assert "Received message type: chunk\n" not in kernel.log_text() + "\n"

    def test_chunked_shutdown_ends_the_kernel(self, kernel: Session):
        kernel.send_chunked({"type": "shutdown"}, chunk_size=4)
        assert kernel.wait_exit() == 0

    @pytest.mark.off_protocol("incoming")
    def test_hostile_series_leave_the_kernel_serving(self, kernel: Session):
        for frame in [
            chunk(total=10**9), chunk(cid="c2", index=0, total=2, data=7),
            chunk(cid="c3", data="[1]"), chunk(cid="c4", data='{"type": "chunk"}'),
            chunk(cid="c5", index=3, total=2),
        ]:
            kernel.send(frame)
        kernel.send_raw("[]")
        messages = [kernel.receive()]
        while messages[-1] != NOT_AN_OBJECT:
            messages.append(kernel.receive())
        kernel.wait_for_log("Reassembled message is not a JSON object")
        # Each dropped series is answered once, naming what it carried; the bad chunk of an
        # open series is not.
        assert len(messages) == 5
        assert [m["message"].split(": ", 1)[0] for m in messages[:4]] == [
            "Chunk series of unknown (request_id N/A) dropped"] * 4
