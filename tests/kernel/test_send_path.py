"""The send path: serialisation, framing, chunking and the lock, seen by a real server."""

from __future__ import annotations

import asyncio
import json
import math

import pytest

from support.business_layer import ThreadedBusinessLayer, connected_kernel, unconnected_kernel
from support.timing import units
from zentrel_master.python_server import kernel as kernel_module
from zentrel_master.python_server.kernel import CHUNK_SIZE, json_dumps


def strict_loads(text: str):
    """json.loads that refuses NaN and infinities."""

    def refuse(constant: str):
        raise ValueError(f"not JSON: {constant}")

    return json.loads(text, parse_constant=refuse)


def message_of_length(length: int, **fields) -> dict:
    """A message whose serialized text has exactly `length` characters."""
    message = {"type": "big", **fields, "pad": ""}
    message["pad"] = "a" * (length - len(json_dumps(message)))
    assert len(json_dumps(message)) == length
    return message


def chunks_id(chunks: list[dict]) -> str:
    return chunks[0]["chunk_id"]


def run(coro):
    return asyncio.run(coro)


@pytest.mark.off_protocol("outgoing")
class TestChunking:
    def test_exactly_chunk_size_goes_whole_and_one_more_goes_as_two_chunks(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str, caplog
    ):
        whole = message_of_length(CHUNK_SIZE, request_id="r1")
        split = message_of_length(CHUNK_SIZE + 1, request_id="r2")

        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                await kernel.send_message(whole)
                assert await session.areceive() == whole
                assert len(session.frames) == 1
                await kernel.send_message(split)
                assert await session.areceive() == split
                return [json.loads(f) for f in session.frames[1:]]

        with caplog.at_level("DEBUG", logger=kernel_module.__name__):
            chunks = run(scenario())
        logs = [r.getMessage() for r in caplog.records if r.name == kernel_module.__name__]
        assert f"[Kernel] Chunking large message: type=big, size={CHUNK_SIZE + 1}, chunks=2" in logs
        assert f"[Kernel] Sent 2 chunks for message: type=big, chunk_id={chunks_id(chunks)}" in logs
        assert "[TIMING] Message sent: type=big, request_id=r1" in logs
        assert "[TIMING] Message sent: type=big, request_id=r2" not in logs
        assert [c["chunk_index"] for c in chunks] == [0, 1]
        assert {c["total_chunks"] for c in chunks} == {2}
        assert len({c["chunk_id"] for c in chunks}) == 1
        assert len(chunks[0]["chunk_id"]) == 36 and chunks[0]["chunk_id"][14] == "4"
        assert [len(c["data"]) for c in chunks] == [CHUNK_SIZE, 1]
        assert [list(c) for c in chunks] == [
            ["type", "chunk_id", "chunk_index", "total_chunks", "data", "original_type", "request_id"]
        ] * 2
        assert {(c["original_type"], c["request_id"]) for c in chunks} == {("big", "r2")}

    def test_message_without_type_and_request_id_chunks_as_unknown_and_na(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        message = {"payload": "z" * (3 * CHUNK_SIZE)}

        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                await kernel.send_message(message)
                assert await session.areceive() == message
                return [json.loads(f) for f in session.frames]

        chunks = run(scenario())
        assert len(chunks) == 4
        assert {(c["original_type"], c["request_id"]) for c in chunks} == {("unknown", "N/A")}

    def test_chunks_count_characters_not_bytes(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        message = {"type": "text", "content": "\u00e9\U0001f600" * CHUNK_SIZE}

        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                await kernel.send_message(message)
                assert await session.areceive() == message
                return [json.loads(f) for f in session.frames]

        chunks = run(scenario())
        raw = json_dumps(message)
        assert len(chunks) == math.ceil(len(raw) / CHUNK_SIZE)
        assert "".join(c["data"] for c in chunks) == raw

    def test_concurrent_sends_never_interleave_with_a_chunk_series(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        big = {"type": "big", "data": "b" * (5 * CHUNK_SIZE)}

        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                sends = [kernel.send_message(big)] + [
                    kernel.send_message({"type": "small", "i": i}) for i in range(20)
                ]
                await asyncio.gather(*sends)
                for _ in range(21):
                    await session.areceive()
                return [json.loads(f) for f in session.frames]

        frames = run(scenario())
        positions = [i for i, f in enumerate(frames) if f["type"] == "chunk"]
        assert positions == list(range(positions[0], positions[0] + 6))
        assert sorted(f["i"] for f in frames if f["type"] == "small") == list(range(20))


class TestSerialisation:
    @pytest.mark.parametrize(
        "value, expected",
        [
            ({3: "a", 2.5: "b", False: "c", None: "d"}, {"3": "a", "2.5": "b", "false": "c", "null": "d"}),
            ({"n": 2**64, "m": -(2**100)}, {"n": 2**64, "m": -(2**100)}),
            ({7: 2**70}, {"7": 2**70}),
            ({"x": [float("nan"), float("inf"), -float("inf"), 1.5]}, {"x": [None, None, None, 1.5]}),
            ({"big": 2**65, "bad": float("nan"), "t": (1, float("inf"))}, {"big": 2**65, "bad": None, "t": [1, None]}),
            ({"text": "caf\u00e9 \u2603"}, {"text": "caf\u00e9 \u2603"}),
        ],
        ids=["non-text-keys", "big-ints", "big-int-under-int-key", "non-finite", "fallback-non-finite", "unicode"],
    )
    def test_json_dumps_writes_strict_json_for_what_orjson_refuses(self, value, expected):
        text = json_dumps(value)
        assert isinstance(text, str)
        assert strict_loads(text) == expected

    @pytest.mark.off_protocol("outgoing")
    def test_unencodable_message_raises_type_error_and_sends_nothing(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                with pytest.raises(TypeError):
                    await kernel.send_message({"type": "bad", "value": object()})
                assert not kernel._socket_lock.locked()
                await kernel.send_message({"type": "after", "n": 2**80, "v": float("nan")})
                return await session.areceive(), list(session.frames)

        received, frames = run(scenario())
        assert received == {"type": "after", "n": 2**80, "v": None}
        assert len(frames) == 1 and strict_loads(frames[0]) == received


def kernel_messages(caplog) -> list[str]:
    return [r.getMessage() for r in caplog.records if r.name == kernel_module.__name__]


class TestWithoutConnection:
    def test_send_before_connect_logs_and_drops(self, caplog):
        with unconnected_kernel("wb-offline") as kernel, caplog.at_level(
            "WARNING", logger=kernel_module.__name__
        ):
            assert run(kernel.send_message({"type": "hello"})) is None
            assert run(kernel._send_chunked_message("x" * 70000, "big", "r")) is None
        assert kernel_messages(caplog) == [
            "[Kernel] Cannot send message type 'hello': WebSocket not connected",
            "[Kernel] Cannot send message type 'big': WebSocket not connected",
        ]

    def test_connection_without_socket_lock_logs_and_drops(self, caplog):
        with unconnected_kernel("wb-nolock") as kernel, caplog.at_level(
            "WARNING", logger=kernel_module.__name__
        ):
            kernel.websocket = object()
            run(kernel.send_message({}))
        assert kernel_messages(caplog) == [
            "[Kernel] Cannot send message type 'unknown': Socket lock not initialized"
        ]

    @pytest.mark.parametrize(
        "call",
        [
            lambda k: k.send_message([1]),
            lambda k: k._send_chunked_message(b"x", "t", "r"),
            lambda k: k._send_chunked_message("x", None, "r"),
            lambda k: k._handle_chunk_message("chunk"),
        ],
        ids=["send-list", "chunk-bytes", "chunk-type-none", "handle-str"],
    )
    def test_wrong_argument_types_raise_before_any_coroutine(self, call):
        with unconnected_kernel("wb-args") as kernel, pytest.raises(
            TypeError, match="has incorrect type"
        ):
            call(kernel)


def message_of_utf8_size(size: int, char: str, **fields) -> dict:
    """A message whose serialized text is exactly `size` bytes of UTF-8, mostly `char`."""
    message = {"type": "big", **fields, "pad": ""}
    room = size - len(json_dumps(message).encode())
    width = len(char.encode())
    message["pad"] = char * (room // width) + "a" * (room % width)
    assert len(json_dumps(message).encode()) == size
    return message


@pytest.mark.off_protocol("outgoing")
class TestFraming:
    """The kernel frames its messages itself while the library's connection is open and idle."""

    def test_every_length_encoding_and_multibyte_text_arrive_whole_and_in_order(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        # Around the 7-bit, 16-bit and 64-bit payload lengths, with 2-, 3- and 4-byte characters
        # (the mask runs eight bytes at a time, so every remainder of eight comes up too).
        sent = [
            message_of_utf8_size(size, char, request_id=f"r{i}")
            for i, (size, char) in enumerate(
                (size, char)
                for size in (60, 125, 126, 127, 133, 65535, 65536, 65537, 150_003)
                for char in ("é", "中", "😀")
                if size < 100_000 or len(char.encode()) > 2  # below the chunk size in characters
            )
        ]

        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                assert type(kernel.websocket).__name__ == "ClientConnection"
                for message in sent:
                    await kernel.send_message(message)
                received = [await session.areceive() for _ in sent]
                return received, list(session.frames)

        received, frames = run(scenario())
        assert received == sent
        assert len(frames) == len(sent)  # none of them chunked

    def test_a_stand_in_socket_sends_through_its_own_send(self):
        class StandIn:
            def __init__(self):
                self.texts = []

            async def send(self, text):
                self.texts.append(text)

        async def scenario(kernel):
            kernel.websocket = StandIn()
            kernel._socket_lock = asyncio.Lock()
            await kernel.send_message({"type": "hello", "text": "é"})
            return kernel.websocket.texts

        with unconnected_kernel("wb-stand-in") as kernel:
            assert run(scenario(kernel)) == ['{"type":"hello","text":"é"}']

    def test_frames_written_directly_and_the_librarys_own_frames_share_the_connection(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        async def scenario():
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                pongs = []
                for i in range(20):
                    await kernel.send_message({"type": "n", "request_id": str(i)})
                    pongs.append(await kernel.websocket.ping())
                await asyncio.wait_for(asyncio.gather(*pongs), units())
                return [(await session.areceive())["request_id"] for _ in range(20)]

        assert run(scenario()) == [str(i) for i in range(20)]
