"""Proxy releases in a kernel: the dropping thread does not wait for the add-in's answer, yet
every release reaches the add-in once, in order, before the same thread's next request; the
listener thread can drop proxies too; the module's root proxies are never released."""

from __future__ import annotations

import asyncio
import threading
from collections.abc import Iterator
from typing import Any

import pytest

from support.business_layer import ThreadedBusinessLayer
from support.console import Console
from support.timing import units

ROWS = 300


class Addin:
    """Records every payload. Releases are answered only once a request of another kind has
    arrived, so a thread that waited for a release's answer would never get that far."""

    def __init__(self) -> None:
        self.requests: list[dict[str, Any]] = []
        self.released = threading.Condition()
        self._other_arrived = asyncio.Event()

    def reset(self) -> None:
        self.requests.clear()
        self._other_arrived = asyncio.Event()

    def releases(self) -> list[Any]:
        return [p["caller"] for p in self.requests if p.get("method") == "DEL"]

    def wait_for_release(self, caller: int) -> None:
        with self.released:
            assert self.released.wait_for(lambda: caller in self.releases(), units(1)), \
                self.requests

    async def __call__(self, payload: dict[str, Any]) -> dict[str, Any]:
        with self.released:
            self.requests.append(payload)
            self.released.notify_all()
        if payload.get("method") == "DEL":
            await self._other_arrived.wait()
        else:
            self._other_arrived.set()
        return {"ok": True, "result": {"type": "String", "value": "answer", "isSpec": False}}


@pytest.fixture(scope="module")
def addin() -> Addin:
    return Addin()


@pytest.fixture(scope="module")
def layer(addin: Addin) -> Iterator[ThreadedBusinessLayer]:
    layer = ThreadedBusinessLayer(addin_handler=addin)
    yield layer
    layer.close()


@pytest.fixture
def console(layer: ThreadedBusinessLayer, addin: Addin, workbook_id: str) -> Iterator[Console]:
    layer.loop.call_soon_threadsafe(addin.reset)
    with layer.running(workbook_id) as session:
        yield Console(session)


def run(console: Console, code: str) -> None:
    final = console.run(code)[-1]
    assert final["type"] == "execution_result", final


TABLE = f"""
import zentrel
def cell(v): return {{"type": "Int", "value": v, "isSpec": False}}
def table():
    rows = [{{"type": "Array", "value": [cell(r), cell(r + 1)], "isSpec": False, "id": 1000 + r}}
            for r in range({ROWS})]
    return zentrel.Serializer.from_wire({{"type": "Array", "value": rows, "isSpec": False,
                                          "id": 999}})
"""

DRAINED = """
import time
k = zentrel._kernel_instance
deadline = time.monotonic() + {seconds}
while (k._response_futures or k._response_data) and time.monotonic() < deadline:
    time.sleep(0.01)
drained = [len(k._response_futures), len(k._response_data)]; drained
"""


class TestWorkerDrops:
    def test_a_dropped_table_releases_every_array_once_before_the_next_request(
        self, console: Console, addin: Addin
    ) -> None:
        run(console, TABLE)
        assert console.value("t = table()\ndel t; excel.version") == "answer"
        methods = [p["method"] for p in addin.requests]
        assert methods == ["DEL"] * (ROWS + 1) + ["GET"]
        released = addin.releases()
        assert sorted(released) == [999] + list(range(1000, 1000 + ROWS))
        assert all(p["name"] == "__del__" and p["kind"] == "request" for p in addin.requests[:-1])
        assert len({p["requestId"] for p in addin.requests}) == ROWS + 2
        # The answers are taken off the listener's tables quietly.
        assert console.value(DRAINED.format(seconds=units(1))) == [0, 0]
        assert "unknown request_id" not in console.session.log_text()

    def test_releases_keep_the_order_of_the_drops(self, console: Console, addin: Addin) -> None:
        run(console, TABLE)
        code = ("a = zentrel.Serializer.from_wire({'type': 'Range', 'value': 5, 'isSpec': True})\n"
                "b = zentrel.Serializer.from_wire({'type': 'Range', 'value': 6, 'isSpec': True})\n"
                "c = zentrel.Serializer.from_wire({'type': 'Dict', 'value': {}, 'id': 7})\n"
                "del b\ndel c\ndel a\n"
                "version = excel.version; version")
        assert console.value(code) == "answer"
        assert addin.releases() == [6, 7, 5]
        assert addin.requests[-1]["method"] == "GET"

    def test_root_proxies_are_never_released(self, console: Console, addin: Addin) -> None:
        code = ("from zentrel import office_proxy as op\n"
                "for root in (op.Context, op.Excel, op.GetSetting, op.Union, op.Intersect):\n"
                "    op._cw__del__(root)\n"
                "    root.__del__()\n"
                "version = excel.version; version")
        assert console.value(code) == "answer"
        assert [p["method"] for p in addin.requests] == ["GET"]


def test_a_proxy_dropped_on_the_listener_thread_is_released(
    console: Console, addin: Addin
) -> None:
    run(console, "import zentrel\n"
                 "kept = zentrel.Serializer.from_wire({'type': 'Array', 'value': [], 'id': 77})")
    # The namespace is cleared inline, on the event-loop thread.
    assert console.exchange({"type": "reset_namespace"}) == {"type": "namespace_reset"}
    addin.wait_for_release(77)
    assert console.value("excel.version") == "answer"
    assert addin.releases() == [77]
