"""Messaging: blocking requests answered from another thread, time-outs, reset, callables."""

from __future__ import annotations

import concurrent.futures
import queue
import re
import threading
from typing import Any

import pytest
from office_addin import Addin


@pytest.fixture
def fresh(op: Any) -> Any:
    """A Messaging instance of its own (the module's instance stays untouched)."""
    return op.Messaging()


class TestState:
    def test_initial_attributes_in_order(self, fresh: Any) -> None:
        assert list(vars(fresh)) == ["waiters", "_waiters_lock", "_guid", "_send_handler", "loop",
                                     "loop_thread", "_callable_registry", "_callable_lock",
                                     "_next_callable_id"]
        assert re.fullmatch(r"[0-9a-f]{32}", fresh._guid)
        assert fresh._guid[12] == "4"  # a version-4 UUID
        assert type(fresh._waiters_lock) is type(threading.Lock())
        assert (fresh.waiters, fresh._next_callable_id, fresh._send_handler) == ({}, 1, None)

    def test_host_can_replace_send_request_sync(self, fresh: Any) -> None:
        fresh.send_request_sync = lambda req, timeout=30.0: {"ok": True, "req": req}
        assert fresh.send_request_sync({"a": 1}) == {"ok": True, "req": {"a": 1}}


class TestRequests:
    def test_no_handler(self, fresh: Any) -> None:
        with pytest.raises(RuntimeError, match="^No send handler registered$"):
            fresh.send_request_sync({"method": "GET"})
        assert fresh.waiters == {}

    def test_answer_from_another_thread(self, op: Any, addin: Addin) -> None:
        req = {"method": "GET", "name": "x", "requestId": "mine", "kind": "other"}
        response = op.messaging.send_request_sync(req)
        sent = addin.requests[0]
        assert req == {"method": "GET", "name": "x", "requestId": "mine", "kind": "other"}
        assert list(sent) == ["method", "name", "requestId", "kind"]
        assert re.fullmatch(r"[0-9a-f]{32}", sent["requestId"]) and sent["kind"] == "request"
        assert response["requestId"] == sent["requestId"] and response["ok"] is True
        assert op.messaging.waiters == {}

    def test_late_response_is_dropped(self, op: Any, addin: Addin) -> None:
        addin.answer = lambda request: None
        with pytest.raises(TimeoutError, match="^Timed out waiting for Office.js response$") as e:
            op.messaging.send_request_sync({"method": "GET"}, timeout=0.05)
        assert isinstance(e.value.__cause__, TimeoutError)
        op.messaging.on_message({"requestId": addin.requests[0]["requestId"], "ok": True})
        assert op.messaging.waiters == {}

    @pytest.mark.parametrize("response,text", [
        ({"ok": False, "error": {"message": "bad range"}}, "bad range"),
        ({"ok": False, "error": {}}, "Remote error"),
        ({"ok": False}, "Remote error"),
        ({"ok": False, "error": "not a map"}, "Remote error"),
    ], ids=["message", "error-without-message", "no-error", "malformed-error"])
    def test_remote_error(self, op: Any, addin: Addin, response: dict[str, Any], text: str) -> None:
        addin.answer = lambda request: response
        with pytest.raises(RuntimeError, match=f"^{text}$"):
            op.messaging.send_request_sync({"method": "GET"})
        assert op.messaging.waiters == {}

    def test_handler_error_reaches_caller(self, fresh: Any) -> None:
        boom = OSError("socket gone")

        def handler(message: dict[str, Any]) -> None:
            raise boom

        fresh.set_send_handler(handler)
        with pytest.raises(OSError) as e:
            fresh.send_request_sync({})
        assert e.value is boom and fresh.waiters == {}

    def test_concurrent_requests_matched_by_id(self, fresh: Any) -> None:
        inbox: queue.Queue[dict[str, Any]] = queue.Queue()
        fresh.set_send_handler(inbox.put)

        def answer_in_reverse() -> None:
            first, second = inbox.get(), inbox.get()
            for message in (second, first):
                fresh.on_message({"requestId": message["requestId"], "ok": True,
                                  "echo": message["name"]})

        results: dict[str, Any] = {}

        def ask(name: str) -> None:
            results[name] = fresh.send_request_sync({"name": name})["echo"]

        threads = [threading.Thread(target=answer_in_reverse)]
        threads += [threading.Thread(target=ask, args=(n,)) for n in ("a", "b")]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert results == {"a": "a", "b": "b"}

    @pytest.mark.parametrize("message", [
        {"ok": True}, {"requestId": "", "ok": True}, {"requestId": ["unhashable"]},
        {"requestId": "unknown", "ok": True},
    ], ids=["no-id", "empty-id", "unhashable-id", "unknown-id"])
    def test_responses_nobody_waits_for_are_ignored(self, fresh: Any, message: Any) -> None:
        fresh.on_message(message)
        assert fresh.waiters == {}

    @pytest.mark.parametrize("call,text", [
        (lambda m: m.send_request_sync([]),
         "Argument 'req' has incorrect type (expected dict, got list)"),
        (lambda m: m.send_request_sync({}, timeout="1"), "Argument 'timeout' has incorrect type"),
        (lambda m: m.on_message("x"),
         "Argument 'message' has incorrect type (expected dict, got str)"),
        (lambda m: m.get_callable(1),
         "Argument 'callable_id' has incorrect type (expected str, got int)"),
        (lambda m: m.unregister_callable(None), "Argument 'callable_id' has incorrect type"),
        (lambda m: m.register_callable(5), "Object must be callable, got int"),
        (lambda m: m.register_callable(type("Ünï", (), {})()),
         "Object must be callable, got Ünï"),
    ], ids=["req", "timeout", "message", "get_callable", "unregister_callable", "register",
            "register-unicode-type"])
    def test_argument_types(self, fresh: Any, call: Any, text: str) -> None:
        with pytest.raises(TypeError, match=re.escape(text)):
            call(fresh)


class TestReset:
    def test_reset_wakes_waiters_with_cancelled(self, fresh: Any) -> None:
        sent = threading.Event()
        fresh.set_send_handler(lambda message: sent.set())
        outcome: list[BaseException] = []

        def ask() -> None:
            try:
                fresh.send_request_sync({})
            except BaseException as e:  # noqa: BLE001 - the outcome is what we check
                outcome.append(e)

        worker = threading.Thread(target=ask)
        worker.start()
        sent.wait()
        fresh.reset()
        worker.join()
        assert isinstance(outcome[0], concurrent.futures.CancelledError)
        assert fresh.waiters == {}

    def test_reset_renews_context_and_registry(self, fresh: Any) -> None:
        old_guid = fresh._guid
        first = fresh.register_callable(len)
        second = fresh.register_callable(len)
        assert (first, second) == (f"pyfunc_{old_guid[:8]}_1", f"pyfunc_{old_guid[:8]}_2")
        fresh.reset()
        assert fresh._guid != old_guid and fresh.get_callable(first) is None
        assert fresh.register_callable(print) == f"pyfunc_{fresh._guid[:8]}_1"

    def test_unregister(self, fresh: Any) -> None:
        cid = fresh.register_callable(len)
        fresh.unregister_callable(cid)
        fresh.unregister_callable(cid)
        assert fresh.get_callable(cid) is None

    def test_registry_from_many_threads(self, fresh: Any) -> None:
        ids: list[str] = []
        lock = threading.Lock()

        def register() -> None:
            for _ in range(200):
                cid = fresh.register_callable(len)
                with lock:
                    ids.append(cid)

        threads = [threading.Thread(target=register) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert len(set(ids)) == 800 and fresh._next_callable_id == 801

    def test_finaliser_registering_during_reset_does_not_deadlock(self, fresh: Any) -> None:
        class Callback:
            def __call__(self) -> None:
                pass

            def __del__(self) -> None:
                fresh.register_callable(print)

        fresh.register_callable(Callback())
        fresh.reset()
        assert fresh.get_callable(f"pyfunc_{fresh._guid[:8]}_1") is print


def test_only_the_module_instance_renews_root_proxies(op: Any, fresh: Any) -> None:
    before = op.Excel._msg_guid
    fresh.reset()
    assert op.Excel._msg_guid == before == op.messaging._guid
    op.messaging.reset()
    assert op.Excel._msg_guid == op.Context._msg_guid == op.messaging._guid != before
