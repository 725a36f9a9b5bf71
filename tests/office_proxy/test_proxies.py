"""Office.js proxies: the requests they send, what they return, their errors and tracebacks."""

from __future__ import annotations

import gc
import traceback
from typing import Any

import pytest
from office_addin import Addin, result


def w(type_: str, value: Any, spec: bool = False) -> dict[str, Any]:
    return {"type": type_, "value": value, "isSpec": spec}


class TestRequests:
    def test_attribute_read(self, op: Any, addin: Addin) -> None:
        addin.answer = result(w("Workbook", 5, True))
        workbook = op.Excel.workbook
        assert addin.sent("GET") == [{"method": "GET", "name": "workbook", "caller": 1}]
        assert list(addin.requests[0])[:3] == ["method", "name", "caller"]
        assert isinstance(workbook, op.OfficeJsObject) and workbook._internal_id == 5

    def test_internal_attributes_are_local(self, op: Any, addin: Addin) -> None:
        assert (op.Excel._typ, op.Excel._internal_cache, op.Excel._internal_typeName) == (
            "officejs_object", {}, "Excel")
        assert addin.requests == []

    @pytest.mark.parametrize("index,key", [
        (2, "2"), (-1, "-1"), (True, "True"), (slice(1, 3), "1:3:"), (slice(None), "::"),
        (slice(None, 5, 2), ":5:2"),
    ], ids=["int", "negative", "bool", "slice", "full-slice", "stop-step"])
    def test_item_read_keys(self, op: Any, addin: Addin, index: Any, key: str) -> None:
        addin.answer = result(w("Int", 1))
        assert op.Context[index] == 1
        assert addin.sent("GETITEM") == [{"method": "GETITEM", "name": key, "caller": 0}]

    def test_bad_index_sends_nothing(self, op: Any, addin: Addin) -> None:
        with pytest.raises(TypeError, match="^Index must be an integer or a slice$"):
            op.Context["a"]
        assert addin.requests == []

    def test_assignment(self, op: Any, addin: Addin) -> None:
        assert op.Excel.__setattr__("values", [[1]]) is None
        assert addin.sent("SET") == [{"method": "SET", "name": "values",
                                      "value": w("Array", [w("Array", [w("Int", 1)])]),
                                      "caller": 1}]
        assert list(addin.requests[0])[:4] == ["method", "name", "value", "caller"]

    def test_assigning_a_callable_registers_it(self, op: Any, addin: Addin) -> None:
        op.Excel.onChanged = print
        cid = addin.sent("SET")[0]["value"]["value"]
        assert op.messaging.get_callable(cid) is print

    def test_call_records(self, op: Any, addin: Addin) -> None:
        addin.answer = result(w("String", "done"))
        fn = op.OfficeJsObject(object_id=20, type_name="Function")
        assert fn(1, x=2) == "done"
        assert addin.sent("CALL") == [{"method": "CALL", "name": "__call__", "args": [
            {"arg_type": "PLACED", "value": w("Int", 1)},
            {"arg_type": "NAMED", "name": "x", "value": w("Int", 2)}], "caller": 20}]

    def test_release_on_drop(self, op: Any, addin: Addin) -> None:
        proxy = op.OfficeJsObject(33, "Range")
        rows = op.Serializer.from_wire({"type": "Array", "id": 34, "value": []})
        del proxy, rows
        gc.collect()
        assert addin.sent("DEL") == [{"method": "DEL", "name": "__del__", "caller": 33},
                                     {"method": "DEL", "name": "__del__", "caller": 34}]

    def test_release_errors_are_ignored(self, op: Any, addin: Addin) -> None:
        addin.answer = lambda request: {"ok": False}
        op.OfficeJsObject(1, "Range").__del__()
        op.messaging.set_send_handler(None)
        op.OfficeJsObject(1, "Range").__del__()


class TestFailures:
    @pytest.mark.parametrize("operation,error,text", [
        (lambda op: op.Excel.sheet, AttributeError, "GET failed for sheet"),
        (lambda op: op.Excel[4], AttributeError, "GET ITEM failed for 4"),
        (lambda op: op.Excel[1:2], AttributeError, "GET ITEM failed for slice(1, 2, None)"),
        (lambda op: setattr(op.Excel, "name", "x"), AttributeError, "SET failed for name"),
        (lambda op: op.OfficeJsObject(9, "Function")(), RuntimeError, "CALL failed"),
    ], ids=["get", "getitem", "getitem-slice", "set", "call"])
    def test_default_texts(self, op: Any, addin: Addin, operation: Any, error: type,
                           text: str) -> None:
        # The kernel's transport returns failed responses instead of raising.
        op.messaging.send_request_sync = lambda req, timeout=30.0: {"ok": False}
        with pytest.raises(error) as e:
            operation(op)
        assert str(e.value) == text

    @pytest.mark.parametrize("operation,text", [
        (lambda op: getattr(op.Excel, "fé\udc80"), "GET failed for fé\udc80"),
        (lambda op: op.Excel[slice("\ud800", None)],
         "GET ITEM failed for slice('\\ud800', None, None)"),
        (lambda op: setattr(op.Excel, "ñ\udfff", 1), "SET failed for ñ\udfff"),
    ], ids=["get", "getitem-slice", "set"])
    def test_default_texts_keep_every_character(self, op: Any, addin: Addin, operation: Any,
                                                text: str) -> None:
        op.messaging.send_request_sync = lambda req, timeout=30.0: {"ok": False}
        with pytest.raises(AttributeError) as e:
            operation(op)
        assert str(e.value) == text

    def test_item_key_and_repr_keep_every_character(self, op: Any, addin: Addin) -> None:
        op.messaging.send_request_sync = lambda req, timeout=30.0: (
            addin.requests.append(req) or {"ok": True, "result": w("Int", 1)})
        assert op.Context[slice("é\ud800", 2)] == 1
        assert addin.requests[-1]["name"] == "é\ud800:2:"
        proxy = op.OfficeJsObject(3, "Täbelle\udc80")
        assert repr(proxy) == "<OfficeJsObject Täbelle\udc80 id=3>"

    def test_add_in_message_wins(self, op: Any, addin: Addin) -> None:
        op.messaging.send_request_sync = lambda req, timeout=30.0: {
            "ok": False, "error": {"message": "The sheet does not exist"}}
        with pytest.raises(AttributeError, match="^The sheet does not exist$"):
            op.Context.sheet

    def test_stand_alone_transport_raises_remote_error(self, op: Any, addin: Addin) -> None:
        addin.answer = lambda request: {"ok": False, "error": {"message": "nope"}}
        with pytest.raises(RuntimeError, match="^nope$"):
            op.Excel.whatever

    def test_only_functions_are_callable(self, op: Any, addin: Addin) -> None:
        array = op.Serializer.from_wire({"type": "Array", "id": 3, "value": []})
        for target in (op.Excel, array):
            with pytest.raises(TypeError, match="^Only Function-typed SpecialObjects are"):
                target()
        assert addin.sent("CALL") == []

    def test_constructor_argument_types(self, op: Any) -> None:
        with pytest.raises(TypeError, match="Argument 'object_id' has incorrect type"):
            op.OfficeJsObject("1", "Range")
        with pytest.raises(TypeError, match="Argument 'type_name' has incorrect type"):
            op.OfficeJsObject(1, b"Range")
        assert op.OfficeJsObject(2.7, "Range")._internal_id == 2

    def test_name_must_be_text(self, op: Any) -> None:
        with pytest.raises(TypeError, match="Argument 'name' has incorrect type"):
            op._cw__getattr__(op.Excel, 5)


class TestStaleness:
    def test_reset_makes_old_proxies_stale_but_keeps_roots(self, op: Any, addin: Addin) -> None:
        addin.answer = result(w("Range", 8, True))
        old = op.Context.range
        function = op.OfficeJsObject(4, "Function")
        op.messaging.reset()
        addin.requests.clear()
        uses = (lambda p: p.values, lambda p: p[0], lambda p: setattr(p, "x", 1))
        for use, target in [(u, old) for u in uses] + [(lambda p: p(), function)]:
            with pytest.raises(RuntimeError, match="^Excel Object used after messaging context"):
                use(target)
        assert addin.requests == []
        assert repr(old) == "<OfficeJsObject Range id=8>" and old._internal_id == 8
        assert op.Excel.range._internal_id == 8 and op.Context.range._internal_id == 8
        del old
        gc.collect()
        assert {"method": "DEL", "name": "__del__", "caller": 8} in addin.sent("DEL")

    def test_stale_array_keeps_its_content(self, op: Any, addin: Addin) -> None:
        arr = op.Serializer.from_wire({"type": "Array", "id": 5, "value": [w("Int", 1)]})
        op.messaging.reset()
        assert arr == [1] and arr[0] == 1 and len(arr) == 1
        with pytest.raises(RuntimeError, match="after messaging context was stopped"):
            arr.address


class TestContainers:
    def test_dict_attribute_access(self, op: Any, addin: Addin) -> None:
        addin.answer = result(w("Int", 7))
        d = op.Serializer.from_wire({"type": "Dict", "id": 6, "value": {"a": w("Int", 1)}})
        assert d.a == 1
        d.a = 5
        assert d == {"a": 5} and addin.sent("SET") == []
        with pytest.raises(AttributeError, match="^Cannot set attributes on OfficeJsDict$"):
            d.b = 5
        assert d.b == 7 and addin.sent("GET") == [{"method": "GET", "name": "b", "caller": 6}]

    def test_array_refuses_attributes(self, op: Any) -> None:
        arr = op.OfficeJsArray(0)
        with pytest.raises(AttributeError, match="^Cannot set attributes on OfficeJsArray$"):
            arr.x = 1
        arr.extend([1, 2])
        assert arr.pop() == 2 and arr == [1]

    def test_representations(self, op: Any) -> None:
        arr = op.Serializer.from_wire({"type": "Array", "id": 7, "value": [w("Null", None)] * 3})
        d = op.Serializer.from_wire({"type": "Dict", "id": 0, "value": {"a": w("Null", None)}})
        assert repr(arr) == "<OfficeJsArray id=7 len=3>"
        assert repr(d) == "<OfficeJsDict id=0 keys=['a']>"
        assert repr(op.Context) == "<OfficeJsObject RequestContext id=0>"

    def test_falsy_id_becomes_zero(self, op: Any) -> None:
        assert op.OfficeJsDict(0.0)._internal_id == 0 and op.OfficeJsArray(False)._internal_id == 0


class TestTracebacks:
    def test_error_points_at_user_line(self, op: Any, addin: Addin) -> None:
        class Transport:
            """A transport object: its frame is named __call__, like the proxy layer's."""

            def __call__(self, req: dict[str, Any], timeout: float = 30.0) -> dict[str, Any]:
                raise LookupError("lost")

        op.messaging.send_request_sync = Transport()

        def user_code() -> Any:
            return op.Excel.workbook

        with pytest.raises(LookupError) as e:
            user_code()
        frames = [f.name for f in traceback.extract_tb(e.value.__traceback__)]
        assert frames[-1] == "user_code"
        assert e.value.__suppress_context__ and e.value.__cause__ is None

    def test_transport_frames_of_other_names_stay(self, op: Any, addin: Addin) -> None:
        def send(req: dict[str, Any], timeout: float = 30.0) -> dict[str, Any]:
            raise LookupError("lost")

        op.messaging.send_request_sync = send
        with pytest.raises(LookupError) as e:
            op.Excel.workbook
        assert [f.name for f in traceback.extract_tb(e.value.__traceback__)][-1] == "send"


def test_root_proxies(op: Any) -> None:
    roots = [(op.Context, 0, "RequestContext"), (op.Excel, 1, "Excel"),
             (op.GetSetting, 2, "Function"), (op.Union, 3, "Function"),
             (op.Intersect, 4, "Function")]
    for proxy, oid, name in roots:
        assert (type(proxy), proxy._internal_id, proxy._internal_typeName) == (
            op.OfficeJsObject, oid, name)
