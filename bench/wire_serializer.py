"""Wire serializer: ours against a straightforward pure-Python implementation of the same rules.

Run: ./run bench wire_serializer
Prints, for each workload and direction, the best of several runs in ns per cell and the ratio.
Results are kept alive until the clock stops, so proxy finalisers are not part of the timing.
"""

from __future__ import annotations

import base64
import datetime
import gc
import statistics
import subprocess
import sys
import time
from collections.abc import Callable
from typing import Any

import numpy as np
import pandas as pd

from zentrel_master.python_server.zentrel import office_proxy

__all__ = ["PySerializer", "main"]


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


class PyDict(dict):
    """Baseline dict proxy."""

    def __init__(self, object_id: Any) -> None:
        object_id = int(object_id)
        object.__setattr__(self, "_internal_id", object_id or 0)
        object.__setattr__(self, "_internal_typeName", "Dict")
        object.__setattr__(self, "_msg_guid", office_proxy.messaging._guid)
        object.__setattr__(self, "_typ", "officejs_dict")
        object.__setattr__(self, "_internal_cache", {})


class PySerializer:
    """The wire rules written plainly in Python: the baseline."""

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
                value = value.astimezone(datetime.timezone.utc)
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
        return {**wire, "id": 0, "value": [with_ids(x) for x in wire["value"]]}
    if isinstance(wire, dict) and wire.get("type") == "Dict":
        return {**wire, "id": 0, "value": {k: with_ids(x) for k, x in wire["value"].items()}}
    return wire


def timed(fn: Callable[[Any], Any], arg: Any) -> float:
    """Wall time of one call; the result is dropped only after the clock stops."""
    gc.collect()
    gc.disable()
    start = time.perf_counter()
    out = fn(arg)
    elapsed = time.perf_counter() - start
    gc.enable()
    del out
    return elapsed


def best_of(runs: int, fn: Callable[[Any], Any], arg: Any) -> float:
    """Best wall time of `runs` calls."""
    return min(timed(fn, arg) for _ in range(runs))


def best_pair(runs: int, ours: Callable[[Any], Any], base: Callable[[Any], Any],
              arg: Any) -> tuple[float, float]:
    """Best times of both, measured alternately so that drifting machine load hits both alike."""
    t_ours = t_base = float("inf")
    for _ in range(runs):
        t_ours = min(t_ours, timed(ours, arg))
        t_base = min(t_base, timed(base, arg))
    return t_ours, t_base


def workloads() -> list[tuple[str, Any, int]]:
    kinds = [1.5, 7, "text", None]
    table = [[kinds[(r + c) % 4] if kinds[(r + c) % 4] is None else
              (kinds[(r + c) % 4] * 1 if not isinstance(kinds[(r + c) % 4], str) else f"s{r}")
              for c in range(20)] for r in range(1000)]
    floats = [i * 0.5 for i in range(100_000)]
    columns = {}
    for c in range(200):
        if c % 3 == 0:
            columns[f"c{c}"] = np.arange(5000, dtype=np.float64) / 3
        elif c % 3 == 1:
            columns[f"c{c}"] = np.arange(5000, dtype=np.int64)
        else:
            columns[f"c{c}"] = [f"v{i}" for i in range(5000)]
    frame = pd.DataFrame(columns)
    return [("(a) 1000x20 mixed table", table, 20_000),
            ("(b) 100,000 floats", floats, 100_000),
            ("(c) DataFrame 5000x200", frame, 5000 * 200)]


def import_ms(statement: str, runs: int = 7) -> float:
    """Median time of `statement` in fresh interpreters, in milliseconds."""
    code = ("import time; t = time.perf_counter(); " + statement +
            "; print((time.perf_counter() - t) * 1000)")
    samples = [float(subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                    check=True).stdout) for _ in range(runs)]
    return statistics.median(samples)


def main() -> None:
    ours = office_proxy.Serializer
    print(f"{'workload':<26}{'direction':<11}{'ours ns/cell':>14}{'python ns/cell':>16}"
          f"{'ratio':>8}")
    for name, value, cells in workloads():
        runs = 5 if cells > 100_000 else 15
        wire = with_ids(ours.to_wire(value))
        if PySerializer.to_wire(value) != ours.to_wire(value):
            sys.exit(f"{name}: the two implementations disagree")
        for direction, mine, base, arg in (
            ("to_wire", ours.to_wire, PySerializer.to_wire, value),
            ("from_wire", ours.from_wire, PySerializer.from_wire, wire),
        ):
            t_ours, t_base = best_pair(runs, mine, base, arg)
            print(f"{name:<26}{direction:<11}{t_ours / cells * 1e9:>14.1f}"
                  f"{t_base / cells * 1e9:>16.1f}{t_base / t_ours:>7.1f}x")
    floats = workloads()[1][1]
    floor = best_of(7, lambda fl: [{"type": "Float", "value": x, "isSpec": False} for x in fl],
                    floats)
    print(f"\nfloor of to_wire: only building the {len(floats):,} result maps in a comprehension "
          f"costs {floor / len(floats) * 1e9:.1f} ns/cell")
    mine = import_ms("import zentrel_master.python_server.zentrel.office_proxy")
    plain = import_ms("import datetime, uuid, base64, concurrent.futures, threading")
    print(f"import office_proxy: {mine:.2f} ms (median of 7 fresh interpreters); the modules a "
          f"pure-Python version imports (datetime, uuid, base64, concurrent.futures, threading): "
          f"{plain:.2f} ms")


if __name__ == "__main__":
    main()
