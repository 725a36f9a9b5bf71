"""The synchronous request channel and the process-wide stream messages, through a real Business
Layer whose add-in end answers "sys_request" payloads, and a real kernel process."""

from __future__ import annotations

import asyncio
import contextlib
import json
import re
import sys
import time
from collections.abc import Iterator
from typing import Any

import pytest

from support.business_layer import Session, ThreadedBusinessLayer, connected_kernel
from support.console import Console
from support.timing import units

HEX32 = re.compile(r"[0-9a-f]{32}")
TOGETHER = 4


def w(type_: str, value: Any) -> dict[str, Any]:
    return {"type": type_, "value": value, "isSpec": False}


class Addin:
    """The add-in end: records every payload and answers it by the requested name.

    "late" is answered only once `release_late` is called; the "together-*" requests are held
    until `TOGETHER` of them have arrived and then answered in reverse order; "decoy" is answered
    for another id (so the test can answer it by hand); "failing" gets a failed response.
    """

    def __init__(self) -> None:
        self.requests: list[dict[str, Any]] = []
        self._late = asyncio.Event()
        self._held: list[asyncio.Future[None]] = []

    def reset(self) -> None:
        self.requests.clear()
        self._late = asyncio.Event()
        self._held = []

    def release_late(self, layer: ThreadedBusinessLayer) -> None:
        layer.loop.call_soon_threadsafe(self._late.set)

    async def __call__(self, payload: dict[str, Any]) -> dict[str, Any]:
        self.requests.append(payload)
        name = str(payload.get("name"))
        if name == "late":
            await self._late.wait()
        elif name == "decoy":
            return {"requestId": "decoy", "ok": True}
        elif name == "failing":
            return {"ok": False, "error": {"message": "No such item"}}
        elif name.startswith("together"):
            held = asyncio.get_running_loop().create_future()
            self._held.append(held)
            if len(self._held) == TOGETHER:
                for future in reversed(self._held):
                    future.set_result(None)
            await held
        return {"ok": True, "result": w("String", "answer to " + name)}


@pytest.fixture(scope="module")
def addin() -> Addin:
    return Addin()


@pytest.fixture(scope="module")
def layer(addin: Addin) -> Iterator[ThreadedBusinessLayer]:
    layer = ThreadedBusinessLayer(addin_handler=addin)
    yield layer
    layer.close()


@pytest.fixture
def session(layer: ThreadedBusinessLayer, addin: Addin, workbook_id: str) -> Iterator[Session]:
    addin.reset()
    with layer.running(workbook_id) as session:
        yield session


@pytest.fixture
def console(session: Session) -> Console:
    return Console(session)


ASK = """
import zentrel
def ask(req, **options):
    try:
        return zentrel.messaging.send_request_sync(req, **options)
    except Exception as e:
        return [type(e).__name__, str(e)]
"""


def statements(console: Console, code: str) -> None:
    """Runs `code` as statements in the kernel's namespace."""
    final = console.run(code)[-1]
    assert final["type"] == "execution_result", final


@pytest.fixture
def asking(console: Console) -> Console:
    """A console whose namespace has ask(req, **options): the response, or [error type, text]."""
    statements(console, ASK)
    return console


def next_of_type(console: Console, kind: str) -> dict[str, Any]:
    """The next message of type `kind` that belongs to no request (others are stashed)."""
    pending = console._stash.get(None, [])
    for message in pending:
        if message["type"] == kind:
            pending.remove(message)
            return message
    while True:
        message = console.session.receive()
        if message["type"] == kind and "request_id" not in message:
            return message
        console._stash.setdefault(message.get("request_id"), []).append(message)


class TestRequests:
    def test_proxy_read_returns_the_addins_answer(self, console: Console, addin: Addin) -> None:
        assert console.value("excel.version") == "answer to version"
        [payload] = addin.requests
        assert list(payload) == ["method", "name", "caller", "requestId", "kind"]
        assert (payload["method"], payload["name"], payload["kind"]) == ("GET", "version", "request")
        assert HEX32.fullmatch(payload["requestId"])

    def test_failed_response_is_returned_whole_and_req_is_left_alone(
        self, console: Console, addin: Addin
    ) -> None:
        statements(console, "req = {'name': 'failing', 'requestId': 'mine', 'kind': 'other'}")
        response, req = console.value("[zentrel.messaging.send_request_sync(req), req]")
        assert req == {"name": "failing", "requestId": "mine", "kind": "other"}
        [payload] = addin.requests
        assert payload["requestId"] != "mine" and payload["kind"] == "request"
        assert response == {"ok": False, "error": {"message": "No such item"},
                            "requestId": payload["requestId"]}

    @pytest.mark.parametrize("wrap", [
        lambda response: response,
        lambda response: {**response, "payload": {}},
    ], ids=["top-level", "empty-payload"])
    def test_whole_message_is_the_response_without_payload(self, asking: Console, wrap: Any) -> None:
        console = asking
        console.session.send({"type": "execution_request", "request_id": "r", "function_name": "f",
                              "code": "ask({'name': 'decoy'})"})
        request_id = next_of_type(console, "sys_request")["payload"]["requestId"]
        message = wrap({"type": "sys_response", "requestId": request_id, "ok": True, "n": 7})
        console.session.send(message)
        assert console.collect("r")[-1]["result"] == message
        console.session.wait_for_log("[Kernel] Received sys_response for unknown request_id: decoy")

    def test_wrong_argument_types(self, asking: Console) -> None:
        assert asking.value("ask([('name', 'x')])") == [
            "TypeError", "Argument 'req' has incorrect type (expected dict, got list)"]
        assert asking.value("ask({}, timeout='soon')") == [
            "TypeError", "Argument 'timeout' has incorrect type (expected float, got str)"]


class TestWaiting:
    def test_timeout_then_late_response_only_warns(
        self, layer: ThreadedBusinessLayer, asking: Console, addin: Addin
    ) -> None:
        console = asking
        kind, text = console.value("ask({'name': 'late'}, timeout=0.5)")
        request_id = addin.requests[0]["requestId"]
        assert (kind, text) == ("TimeoutError", f"sys_request timeout after 0.5s: {request_id}")
        console.session.wait_for_log(f"] sys_request timeout: {request_id}")
        addin.release_late(layer)
        console.session.wait_for_log(
            f"[Kernel] Received sys_response for unknown request_id: {request_id}")
        # Nothing is left behind for the request that gave up.
        assert console.value("[zentrel._kernel_instance._response_futures, "
                             "zentrel._kernel_instance._response_data]") == [{}, {}]

    def test_registered_waiter_answers_as_an_event(
        self, layer: ThreadedBusinessLayer, asking: Console, addin: Addin
    ) -> None:
        console = asking
        console.session.send({"type": "execution_request", "request_id": "held",
                              "function_name": "f", "code": "ask({'name': 'late'}, timeout=10)"})
        deadline = time.monotonic() + units(10)
        while not console.value("len(zentrel._kernel_instance._response_futures)"):
            assert time.monotonic() < deadline, "the request never registered its waiter"
            time.sleep(0.02)
        console.run("seen = next(iter(zentrel._kernel_instance._response_futures.values()))")
        assert console.value("[seen.is_set(), seen.wait(0), seen.wait(timeout=0.01)]") == [
            False, False, False]
        addin.release_late(layer)
        assert console.collect("held")[-1]["type"] == "execution_result"
        assert console.value("[seen.is_set(), seen.wait(), seen.wait(1)]") == [True, True, True]
        console.run("seen.clear()")
        assert console.value("seen.is_set()") is False

    def test_integer_timeout_prints_as_float(self, layer: ThreadedBusinessLayer,
                                             asking: Console, addin: Addin) -> None:
        kind, text = asking.value("ask({'name': 'late'}, timeout=0)")
        assert text == "sys_request timeout after 0.0s: " + addin.requests[0]["requestId"]
        addin.release_late(layer)

    def test_several_workers_wait_at_once(self, asking: Console) -> None:
        console = asking
        for i in range(TOGETHER):
            console.session.send({"type": "execution_request", "request_id": f"w{i}",
                                  "function_name": "f", "code": f"ask({{'name': 'together-{i}'}})"})
        for i in range(TOGETHER):
            final = console.collect(f"w{i}")[-1]
            assert final["result"]["result"] == w("String", f"answer to together-{i}")

    def test_threads_asking_at_once_each_get_their_own_answers(self, asking: Console) -> None:
        statements(asking, (
            "import threading\n"
            "wrong = []\n"
            "def asker(t):\n"
            "    for i in range(40):\n"
            "        name = f'{t}-{i}'\n"
            "        got = ask({'name': name})\n"
            "        if got.get('result') != {'type': 'String', 'value': 'answer to ' + name,\n"
            "                                 'isSpec': False}:\n"
            "            wrong.append((name, got))\n"
            "threads = [threading.Thread(target=asker, args=(t,)) for t in range(4)]\n"
            "for t in threads: t.start()\n"
            "for t in threads: t.join()"
        ))
        assert asking.value("[len(wrong), wrong[:3]]") == [0, []]
        assert asking.value("zentrel._kernel_instance._response_futures") == {}

    def test_lone_worker_asking_in_a_row_then_timing_out(
        self, layer: ThreadedBusinessLayer, asking: Console, addin: Addin
    ) -> None:
        # Quick answers in a row make a lone worker watch for the next one before it sleeps;
        # every answer must still reach the right call, and a slow one must still time out on
        # time, whatever the watching.
        statements(asking, (
            "import time\n"
            "wrong = [i for i in range(300)\n"
            "         if ask({'name': f'row-{i}'}).get('result', {}).get('value') != f'answer to row-{i}']\n"
            "start = time.monotonic()\n"
            "late = ask({'name': 'late'}, timeout=0.2)\n"
            "took = time.monotonic() - start\n"
            "again = ask({'name': 'again'}, timeout=5)"
        ))
        assert asking.value("wrong") == []
        assert asking.value("late[0]") == "TimeoutError"
        assert 0.19 <= asking.value("took") < 0.2 + units(1)
        assert asking.value("again['result']['value']") == "answer to again"
        addin.release_late(layer)
        assert asking.value("zentrel._kernel_instance._response_futures") == {}

    @pytest.mark.parametrize(("timeout", "expected"), [
        ("1e300", ["OverflowError", "timeout value is too large"]),
        ("float('inf')", ["OverflowError", "timeout value is too large"]),
        ("-1", ["TimeoutError", "sys_request timeout after -1.0s: {}"]),
        ("float('nan')", ["TimeoutError", "sys_request timeout after nans: {}"]),
    ], ids=["huge", "infinite", "negative", "nan"])
    def test_unusable_timeouts_leave_no_waiter(self, layer: ThreadedBusinessLayer, asking: Console,
                                               addin: Addin, timeout: str,
                                               expected: list[str]) -> None:
        kind, text = asking.value(f"ask({{'name': 'late'}}, timeout={timeout})")
        request_id = addin.requests[0]["requestId"] if addin.requests else ""
        assert [kind, text] == [expected[0], expected[1].format(request_id)]
        addin.release_late(layer)
        assert asking.value("zentrel._kernel_instance._response_futures") == {}

    def test_output_written_before_a_request_reaches_the_wire_first(
        self, asking: Console
    ) -> None:
        asking.session.frames.clear()
        final = asking.run("print('before') or ask({'name': 'after'})", function_name="f")[-1]
        assert final["result"]["result"] == w("String", "answer to after")
        kinds = [json.loads(frame)["type"] for frame in asking.session.frames]
        assert kinds.index("stdout") < kinds.index("sys_request")

    def test_refused_on_the_event_loop_thread(self, console: Console, addin: Addin) -> None:
        statements(console, (
            "import concurrent.futures\n"
            "done = concurrent.futures.Future()\n"
            "def on_loop():\n"
            "    try:\n"
            "        zentrel.messaging.send_request_sync({'name': 'x'})\n"
            "    except Exception as e:\n"
            "        done.set_result([type(e).__name__, str(e)])\n"
            "zentrel._kernel_instance._loop.call_soon_threadsafe(on_loop)"
        ))
        assert console.value(f"done.result({units()})") == [
            "RuntimeError",
            "send_sys_request must not be called from the async event loop thread to avoid deadlock",
        ]
        assert addin.requests == []
        assert console.value("zentrel._kernel_instance._response_futures") == {}


class TestStreamMessages:
    @pytest.mark.parametrize("stream", ["stdout", "stderr"])
    def test_thread_outside_a_run_writes_stream_messages(self, console: Console, stream: str) -> None:
        code = (
            "import sys, threading\n"
            f"t = threading.Thread(target=lambda: sys.{stream}.write('from a thread'))\n"
            "t.start(); t.join()"
        )
        final = console.run(code)[-1]
        assert final["type"] == "execution_result"
        assert next_of_type(console, stream) == {
            "type": stream, "content": "from a thread",
            "workbook_id": console.session.session.workbook_id}


def test_connect_installs_and_disconnect_restores(layer: ThreadedBusinessLayer) -> None:
    """An in-process kernel: hooks and request function at connect, streams back at disconnect."""
    from zentrel_master.python_server import kernel as kernel_module
    from zentrel_master.python_server.zentrel import messaging

    async def scenario() -> list[Any]:
        async with connected_kernel(layer, "wb-in-process-channel"):
            hooks = [sys.stdout, sys.stderr]
            name = messaging.send_request_sync.__name__
        return [hooks, name, [sys.stdout, sys.stderr]]

    before = [sys.stdout, sys.stderr]
    try:
        hooks, name, after = asyncio.run(scenario())
    finally:
        # The kernel leaves its request function in place (its process normally ends here).
        with contextlib.suppress(AttributeError):
            del messaging.send_request_sync
    assert all(isinstance(h, kernel_module.KernelStreamHook) for h in hooks)
    assert [h.stream_type for h in hooks] == ["stdout", "stderr"]
    assert name == "new_send_request_sync"
    assert after == before
