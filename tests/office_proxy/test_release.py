"""Releasing proxies without waiting: stand-alone transport, hosts that replaced only the
waiting send, and the root proxies."""

from __future__ import annotations

from typing import Any

from office_addin import Addin, null_answer


def table_wire(rows: int) -> dict[str, Any]:
    cell = {"type": "Int", "value": 1, "isSpec": False}
    return {"type": "Array", "isSpec": False, "id": 500,
            "value": [{"type": "Array", "value": [cell], "isSpec": False, "id": 1000 + r}
                      for r in range(rows)]}


class TestRelease:
    def test_drop_sends_each_release_once_without_waiting(self, op: Any, addin: Addin) -> None:
        # Releases are never answered: a drop that waited would hang here.
        addin.answer = lambda r: None if r["method"] == "DEL" else null_answer(r)
        table = op.Serializer.from_wire(table_wire(200))
        del table
        assert op.Excel.version is None
        assert [r["method"] for r in addin.requests] == ["DEL"] * 201 + ["GET"]
        assert sorted(r["caller"] for r in addin.requests[:-1]) == [500, *range(1000, 1200)]
        assert len({r["requestId"] for r in addin.requests}) == 202
        assert all(r["kind"] == "request" for r in addin.requests)
        assert op.messaging.waiters == {}

    def test_late_release_answer_is_dropped(self, op: Any, addin: Addin) -> None:
        addin.answer = lambda r: None
        op.OfficeJsObject(9, "Range").__del__()
        request = addin.requests[0]
        op.messaging.on_message({"requestId": request["requestId"], "ok": True})
        assert op.messaging.waiters == {}

    def test_host_that_replaced_only_the_waiting_send_carries_releases(self, op: Any,
                                                                       addin: Addin) -> None:
        seen: list[dict[str, Any]] = []
        op.messaging.send_request_sync = lambda req, timeout=30.0: seen.append(req) or {"ok": 1}
        proxy = op.OfficeJsObject(8, "Range")
        del proxy
        assert seen == [{"method": "DEL", "name": "__del__", "caller": 8}]
        assert addin.requests == []

    def test_root_proxies_are_never_released(self, op: Any, addin: Addin) -> None:
        for root in (op.Context, op.Excel, op.GetSetting, op.Union, op.Intersect):
            op._cw__del__(root)
            root.__del__()
        assert addin.requests == []

    def test_nowait_send_stamps_a_copy(self, op: Any, addin: Addin) -> None:
        req = {"method": "DEL", "name": "__del__", "caller": 3, "kind": "mine"}
        assert op.messaging.send_request_nowait(req) is None
        assert req == {"method": "DEL", "name": "__del__", "caller": 3, "kind": "mine"}
        [sent] = addin.requests
        assert (sent["kind"], len(sent["requestId"])) == ("request", 32)
