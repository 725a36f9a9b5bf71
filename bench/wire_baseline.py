"""The wire rules written plainly in Python: the baseline of the serializer benchmarks.

Its proxies follow the same rules as ours, release included: dropping an array or dict sends DEL
for its id through `messaging.send_request_sync` and waits for the answer (errors ignored).
Also loaded into a kernel process as a workbook module by bench/proxy_release.py.
"""

from __future__ import annotations

import base64
import datetime
from typing import Any

import numpy as np
import pandas as pd

from zentrel_master.python_server.zentrel import office_proxy

__all__ = ["PyArray", "PyDict", "PySerializer", "mixed_table", "with_ids"]


def _release(self: Any) -> None:
    try:
        office_proxy.messaging.send_request_sync(
            {"method": "DEL", "name": "__del__", "caller": self._internal_id})
    except Exception:
        pass


class PyArray(list):
    """Baseline array proxy: the same attributes as OfficeJsArray, set the same way."""

    def __init__(self, object_id: Any) -> None:
        if not isinstance(object_id, (int, float)):
            raise TypeError("object_id")
        object_id = int(object_id)
        object.__setattr__(self, "_internal_id", object_id or 0)
        object.__setattr__(self, "_internal_typeName", "Array")
        object.__setattr__(self, "_msg_guid", office_proxy.messaging._guid)
        object.__setattr__(self, "_typ", "officejs_array")
        object.__setattr__(self, "_internal_cache", {})

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError("Cannot set attributes on OfficeJsArray")

    __del__ = _release


class PyDict(dict):
    """Baseline dict proxy."""

    def __init__(self, object_id: Any) -> None:
        object_id = int(object_id)
        object.__setattr__(self, "_internal_id", object_id or 0)
        object.__setattr__(self, "_internal_typeName", "Dict")
        object.__setattr__(self, "_msg_guid", office_proxy.messaging._guid)
        object.__setattr__(self, "_typ", "officejs_dict")
        object.__setattr__(self, "_internal_cache", {})

    __del__ = _release


class PySerializer:
    """The wire rules written plainly in Python."""

    @staticmethod
    def to_wire(value: Any) -> dict[str, Any]:
        if value is None:
            return {"type": "Null", "value": None, "isSpec": False}
        if isinstance(value, (bool, np.bool_)):
            return {"type": "Bool", "value": bool(value), "isSpec": False}
        if isinstance(value, int):
            return {"type": "Int", "value": int(value), "isSpec": False}
        if isinstance(value, float):
            return {"type": "Float", "value": float(value), "isSpec": False}
        if isinstance(value, str):
            return {"type": "String", "value": value, "isSpec": False}
        if isinstance(value, (datetime.datetime, datetime.date, pd.Timestamp, np.datetime64)):
            if isinstance(value, datetime.datetime) and value.tzinfo:
                value = value.astimezone(datetime.UTC)
            text = value.isoformat() if not isinstance(value, np.datetime64) else str(value)
            return {"type": "Date", "value": text, "isSpec": False}
        if isinstance(value, (bytes, bytearray, memoryview)):
            return {"type": "Bytes", "value": base64.b64encode(bytes(value)).decode("ascii"),
                    "isSpec": False}
        if isinstance(value, (list, tuple)):
            return {"type": "Array", "value": [PySerializer.to_wire(v) for v in value],
                    "isSpec": False}
        if isinstance(value, dict):
            return {"type": "Dict", "value": {k: PySerializer.to_wire(v) for k, v in value.items()},
                    "isSpec": False}
        if isinstance(value, (pd.Series, pd.DataFrame)):
            frame = value.to_frame() if isinstance(value, pd.Series) else value
            rows = [frame.columns.tolist()]
            for row in frame.values:
                rows.append(row.tolist())
            return PySerializer.to_wire(rows)
        if callable(value):
            return {"type": "Python_Function",
                    "value": office_proxy.messaging.register_callable(value), "isSpec": True}
        return {"type": "String", "value": str(value), "isSpec": False}

    @staticmethod
    def from_wire(wire: dict[str, Any]) -> Any:
        if type(wire) is not dict:
            raise TypeError("wire")
        kind = wire.get("type")
        value = wire.get("value")
        is_spec = wire.get("isSpec")
        object_id = wire.get("id")
        if kind == "Null":
            return None
        if kind == "Bool":
            return bool(value)
        if kind in ("Int", "Float"):
            return float(value) if kind == "Float" else int(value)
        if kind == "String":
            return str(value)
        if kind == "Date":
            try:
                return datetime.datetime.fromisoformat(value)
            except Exception:
                return value
        if kind == "Bytes":
            return base64.b64decode(value or "")
        if kind == "Array":
            arr = PyArray(object_id)
            arr.extend(PySerializer.from_wire(x) for x in (value or []))
            return arr
        if kind == "Dict":
            d = PyDict(object_id)
            d.update({k: PySerializer.from_wire(x) for k, x in (value or {}).items()})
            return d
        if is_spec:
            return office_proxy.OfficeJsObject(int(value), kind)
        return str(value)


def with_ids(wire: Any) -> Any:
    """The add-in's shape of a wire value: arrays and dicts carry an id."""
    if isinstance(wire, dict) and wire.get("type") == "Array":
        return {**wire, "id": 7, "value": [with_ids(x) for x in wire["value"]]}
    if isinstance(wire, dict) and wire.get("type") == "Dict":
        return {**wire, "id": 7, "value": {k: with_ids(x) for k, x in wire["value"].items()}}
    return wire


def mixed_table(rows: int = 1000, columns: int = 20) -> list[list[Any]]:
    """Floats, ints, texts and empty cells in turn."""
    kinds = [1.5, 7, "text", None]
    return [[None if kinds[(r + c) % 4] is None else
             f"s{r}" if isinstance(kinds[(r + c) % 4], str) else kinds[(r + c) % 4] * 1
             for c in range(columns)] for r in range(rows)]
