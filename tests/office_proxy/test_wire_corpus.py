"""Wire output pinned to a recorded corpus: to_wire and from_wire of many values (types, nesting,
numpy and pandas blocks, dates, missing values, big ints, bytes, proxies) must give exactly what
the recorded build gave. Regenerate the record only on purpose:
`python tests/office_proxy/test_wire_corpus.py record`.
"""

from __future__ import annotations

import collections
import datetime as dt
import decimal
import enum
import json
import math
import re
import sys
from pathlib import Path
from typing import Any

import numpy as np
import pandas as pd
import pytest

from zentrel_master.python_server.zentrel import office_proxy

RECORD = Path(__file__).with_name("wire_corpus.json")
CALLABLE_ID = re.compile(r"^pyfunc_[0-9a-f]{8}_\d+$")


class Color(enum.IntEnum):
    RED = 3


class Label(str):
    pass


class Ratio(float):
    pass


class Row(list):
    pass


class Record(dict):
    pass


class Shown:
    def __str__(self) -> str:
        return "shown"


def utc_plus(hours: int) -> dt.timezone:
    return dt.timezone(dt.timedelta(hours=hours))


def frames() -> list[tuple[str, Any]]:
    """pandas blocks of every common column type, with their missing values."""
    n = 7
    mixed = pd.DataFrame({
        "f64": np.linspace(-1.5, 4.5, n),
        "f64_nan": [1.0, np.nan, 3.0, np.inf, -np.inf, -0.0, 7.25],
        "f32": np.arange(n, dtype=np.float32) / 4,
        "i64": np.arange(n, dtype=np.int64) * 1_000_000_007,
        "i32": np.arange(n, dtype=np.int32) - 3,
        "u8": np.arange(n, dtype=np.uint8),
        "big": np.array([2**62, -(2**62), 0, 1, -1, 2**40, 5], dtype=np.int64),
        "bool": [True, False, True, True, False, False, True],
        "obj": ["a", None, 3, 2.5, "ü😀", b"x", (1, 2)],
        "str": [f"s{i}" for i in range(n)],
        "dt": pd.date_range("2024-01-01", periods=n, freq="h"),
        "dt_nat": [pd.Timestamp("2024-02-03"), pd.NaT, pd.Timestamp("2024-02-05 06:07:08.123456"),
                   pd.NaT, pd.Timestamp("1970-01-01"), pd.Timestamp("2262-04-11"),
                   pd.Timestamp("1677-09-22")],
        "dt_tz": pd.date_range("2024-06-01", periods=n, freq="D", tz="Europe/Berlin"),
        "td": pd.to_timedelta(np.arange(n), unit="s"),
        "cat": pd.Categorical(["x", "y", "x", None, "y", "x", "z"]),
        "Int64": pd.array([1, None, 3, None, 5, 6, 7], dtype="Int64"),
        "Float64": pd.array([1.5, None, 3.5, 4.5, None, 6.5, 7.5], dtype="Float64"),
        "boolean": pd.array([True, None, False, True, None, False, True], dtype="boolean"),
        "string": pd.array(["a", None, "c", "d", None, "f", "g"], dtype="string"),
    })
    return [
        ("frame-mixed", mixed),
        ("frame-float-block", pd.DataFrame(np.arange(24, dtype=np.float64).reshape(6, 4) / 7,
                                           columns=["a", "b", "c", "d"])),
        ("frame-int-block", pd.DataFrame(np.arange(12, dtype=np.int64).reshape(4, 3))),
        ("frame-bool-block", pd.DataFrame(np.eye(3, dtype=bool), columns=[1, 2, 3])),
        ("frame-object-block", pd.DataFrame([["a", 1], [None, 2.5]], columns=["x", "y"])),
        ("frame-empty", pd.DataFrame()),
        ("frame-no-rows", pd.DataFrame({"a": pd.Series([], dtype=float)})),
        ("frame-multiindex-columns",
         pd.DataFrame([[1, 2], [3, 4]], columns=pd.MultiIndex.from_tuples([("a", 1), ("b", 2)]))),
        ("frame-with-index", pd.DataFrame({"v": [1, 2]}, index=["r1", "r2"])),
        ("frame-nan-only", pd.DataFrame({"a": [np.nan, np.nan]})),
        ("series-named", pd.Series([5, 6], name="s")),
        ("series-unnamed", pd.Series([1.5, np.nan])),
        ("series-dates", pd.Series(pd.to_datetime(["2024-01-02", None]), name="d")),
        ("series-object", pd.Series(["a", None, 1], name=7)),
    ]


def to_wire_corpus() -> list[tuple[str, Any]]:
    """(id, value) pairs given to to_wire."""
    nested: Any = [1]
    for depth in range(30):
        nested = {"depth": depth, "next": [nested, (depth, None)]}
    return [
        ("none", None),
        ("true", True),
        ("false", False),
        ("zero", 0),
        ("negative", -17),
        ("big-int", 2**100),
        ("big-negative-int", -(3**70)),
        ("int-enum", Color.RED),
        ("float", 1.5),
        ("negative-zero", -0.0),
        ("nan", math.nan),
        ("inf", math.inf),
        ("minus-inf", -math.inf),
        ("tiny-float", 5e-324),
        ("float-subclass", Ratio(0.25)),
        ("empty-text", ""),
        ("text", "hello"),
        ("unicode-text", "ünï😀\u0000\n"),
        ("text-subclass", Label("lbl")),
        ("decimal", decimal.Decimal("1.10")),
        ("complex", 1 + 2j),
        ("numpy-true", np.bool_(True)),
        ("numpy-false", np.bool_(False)),
        ("numpy-int64", np.int64(5)),
        ("numpy-int8", np.int8(-3)),
        ("numpy-uint64", np.uint64(2**64 - 1)),
        ("numpy-float64", np.float64(2.5)),
        ("numpy-float64-nan", np.float64("nan")),
        ("numpy-float32", np.float32(1.5)),
        ("numpy-float32-nan", np.float32("nan")),
        ("numpy-float16-nan", np.float16("nan")),
        ("numpy-longdouble", np.longdouble(0.5)),
        ("numpy-longdouble-nan", np.longdouble("nan")),
        ("numpy-datetime64-day", np.datetime64("2024-01-02")),
        ("numpy-datetime64-ns", np.datetime64("2024-01-02T03:04:05.123456789")),
        ("numpy-datetime64-seconds", np.datetime64("2024-01-02T10:00:05")),
        ("numpy-datetime64-year", np.datetime64("2024")),
        ("numpy-datetime64-month", np.datetime64("2024-03")),
        ("numpy-datetime64-week", np.datetime64("2024-03-07", "W")),
        ("numpy-datetime64-nat", np.datetime64("NaT", "ns")),
        ("numpy-timedelta64", np.timedelta64(5, "s")),
        ("numpy-timedelta64-nat", np.timedelta64("NaT", "ns")),
        ("numpy-array", np.array([1, 2, 3])),
        ("numpy-2d-array", np.arange(6).reshape(2, 3)),
        ("datetime-naive", dt.datetime(2024, 1, 2, 12, 30)),
        ("datetime-micro", dt.datetime(2024, 1, 2, 12, 30, 1, 5)),
        ("datetime-aware", dt.datetime(2024, 1, 2, 12, 0, tzinfo=utc_plus(2))),
        ("datetime-utc", dt.datetime(2024, 1, 2, 12, 0, tzinfo=dt.UTC)),
        ("date", dt.date(2024, 1, 2)),
        ("time", dt.time(12, 30)),
        ("timedelta", dt.timedelta(days=1, seconds=5)),
        ("pandas-timestamp", pd.Timestamp("2024-01-02 03:04:05")),
        ("pandas-timestamp-ns", pd.Timestamp("2024-01-02 03:04:05.000000007")),
        ("pandas-timestamp-aware", pd.Timestamp("2024-01-02 03:04:05", tz="America/New_York")),
        ("pandas-nat", pd.NaT),
        ("pandas-na", pd.NA),
        ("pandas-timedelta", pd.Timedelta("1h")),
        ("bytes", b"\x00\xffab"),
        ("empty-bytes", b""),
        ("bytearray", bytearray(b"hello")),
        ("memoryview", memoryview(b"hi")),
        ("list", [1, "a", None, 2.5, True]),
        ("tuple", (1, "a")),
        ("empty-list", []),
        ("empty-tuple", ()),
        ("list-subclass", Row([1, 2])),
        ("nested-lists", [[1, [2, [3, [4, []]]]], ((5,),)]),
        ("dict", {"a": 1, "b": [2.0, None]}),
        ("dict-int-and-tuple-keys", {1: None, (1, 2): "t", None: 0, 2.5: "f"}),
        ("empty-dict", {}),
        ("dict-subclass", Record(x=1)),
        ("ordered-dict", collections.OrderedDict([("z", 1), ("a", 2)])),
        ("default-dict", collections.defaultdict(int, {"k": 3})),
        ("deep-nesting", nested),
        ("set", {3}),
        ("frozenset", frozenset()),
        ("range", range(3)),
        ("object", Shown()),
        ("mixed-table", [[(r * 20 + c) * 0.5 if c % 4 == 0 else r * 20 + c if c % 4 == 1
                          else f"s{r}-{c}" if c % 4 == 2 else None for c in range(20)]
                         for r in range(50)]),
        ("floats", [i * 0.1 for i in range(500)]),
        ("proxy-object", office_proxy.OfficeJsObject(17, "Range")),
        ("proxy-function", office_proxy.OfficeJsObject(4, "Function")),
        ("proxy-root", office_proxy.Excel),
        ("callable-builtin", print),
        ("callable-lambda", lambda x: x),
        ("list-with-callable", [len, 1]),
        *frames(),
    ]


def w(type_: str, value: Any, spec: bool = False, **extra: Any) -> dict[str, Any]:
    return {"type": type_, "value": value, "isSpec": spec, **extra}


def from_wire_corpus() -> list[tuple[str, Any]]:
    """(id, wire) pairs given to from_wire: the add-in's shapes and odd ones."""
    table = w("Array", [w("Array", [w("Int", r), w("Float", r / 2), w("String", f"r{r}"),
                                    w("Null", None), w("Bool", r % 2 == 0)], id=100 + r)
                        for r in range(20)], id=99)
    return [
        ("null", w("Null", None)),
        ("null-with-payload", w("Null", 5)),
        ("bool-true", w("Bool", True)),
        ("bool-from-zero", w("Bool", 0)),
        ("bool-from-text", w("Bool", "x")),
        ("int", w("Int", 42)),
        ("int-big", w("Int", 2**90)),
        ("int-from-float", w("Int", 3.7)),
        ("int-from-text", w("Int", "12")),
        ("int-from-none", w("Int", None)),
        ("int-from-bad-text", w("Int", "x")),
        ("float", w("Float", 2.5)),
        ("float-from-int", w("Float", 3)),
        ("float-from-text", w("Float", "nan")),
        ("float-from-bool", w("Float", True)),
        ("string", w("String", "héllo")),
        ("string-from-int", w("String", 5)),
        ("string-from-none", w("String", None)),
        ("date", w("Date", "2024-01-02T10:00:00+00:00")),
        ("date-naive", w("Date", "2024-01-02T10:00:00")),
        ("date-only", w("Date", "2024-01-02")),
        ("date-bad-text", w("Date", "not a date")),
        ("date-number", w("Date", 45000)),
        ("date-none", w("Date", None)),
        ("bytes", w("Bytes", "AP9hYg==")),
        ("bytes-none", w("Bytes", None)),
        ("bytes-missing", {"type": "Bytes"}),
        ("bytes-bad", w("Bytes", "@@@")),
        ("array", w("Array", [w("Int", 1)], id=9)),
        ("array-empty", w("Array", [], id=3)),
        ("array-none-payload", w("Array", None, id=3)),
        ("array-float-id", w("Array", [], id=4.0)),
        ("array-zero-id", w("Array", [], id=0)),
        ("array-no-id", w("Array", [])),
        ("array-text-id", w("Array", [], id="5")),
        ("array-is-spec", w("Array", [w("Int", 1)], True, id=2)),
        ("array-nested", w("Array", [w("Array", [w("Dict", {"k": w("Int", 1)}, id=7)], id=6)],
                           id=5)),
        ("array-element-not-map", w("Array", [1], id=1)),
        ("dict", w("Dict", {"a": w("Int", 1), "b": w("Array", [], id=12)}, id=11)),
        ("dict-none-payload", w("Dict", None, id=1)),
        ("dict-no-id", w("Dict", {})),
        ("table-with-ids", table),
        ("special", w("Range", 17, True)),
        ("special-text-id", w("Range", "18", True)),
        ("special-bad-id", w("Range", "x", True)),
        ("special-type-not-text", w(5, 1, True)),
        ("not-special", w("Range", 17, False)),
        ("unknown-plain", w("Error", "#DIV/0!")),
        ("empty-map", {}),
        ("lowercase-tag", w("int", 5)),
        ("not-a-dict", [w("Int", 1)]),
    ]


def describe(value: Any) -> Any:
    """An exact, JSON-able description of a value: its type and its content, recursively."""
    kind = type(value)
    if value is None or kind is bool:
        return value
    if kind is int:
        return ["int", str(value)]
    if kind is float:
        return ["float", repr(value)]
    if kind is str:
        if CALLABLE_ID.match(value):
            return ["callable-id"]
        return ["str", value]
    if kind is bytes:
        return ["bytes", value.hex()]
    if kind is list:
        return ["list", [describe(v) for v in value]]
    if kind is tuple:
        return ["tuple", [describe(v) for v in value]]
    if kind is dict:
        return ["dict", [[describe(k), describe(v)] for k, v in value.items()]]
    if kind is office_proxy.OfficeJsArray:
        return ["OfficeJsArray", value._internal_id, value._internal_typeName, value._typ,
                [describe(v) for v in value]]
    if kind is office_proxy.OfficeJsDict:
        return ["OfficeJsDict", value._internal_id, value._internal_typeName, value._typ,
                [[describe(k), describe(v)] for k, v in value.items()]]
    if kind is office_proxy.OfficeJsObject:
        return ["OfficeJsObject", value._internal_id, value._internal_typeName, value._typ]
    if kind is dt.datetime:
        return ["datetime", value.isoformat(), repr(value.tzinfo)]
    return ["other", kind.__name__, repr(value)]


def outcome(fn: Any, arg: Any) -> Any:
    """What `fn(arg)` gives: the described value, or the exception's type and text."""
    try:
        return {"value": describe(fn(arg))}
    except Exception as exc:  # the corpus includes bad input on purpose
        text = str(exc) if not isinstance(exc, RecursionError) else ""
        return {"error": type(exc).__name__, "text": text}


def current() -> dict[str, dict[str, Any]]:
    """Outcomes of this build over the whole corpus."""
    serializer = office_proxy.Serializer
    return {
        "to_wire": {key: outcome(serializer.to_wire, value) for key, value in to_wire_corpus()},
        "from_wire": {key: outcome(serializer.from_wire, wire)
                      for key, wire in from_wire_corpus()},
    }


@pytest.fixture(scope="module")
def recorded() -> dict[str, dict[str, Any]]:
    return json.loads(RECORD.read_text(encoding="utf-8"))


@pytest.fixture(scope="module")
def outcomes(addin_free_messaging: None) -> dict[str, dict[str, Any]]:
    return json.loads(json.dumps(current()))


@pytest.fixture(scope="module")
def addin_free_messaging() -> Any:
    """Releases of the decoded proxies go nowhere: no handler, errors ignored."""
    office_proxy.messaging.__dict__.pop("send_request_sync", None)
    yield
    office_proxy.messaging.reset()


@pytest.mark.parametrize("key", [k for k, _ in to_wire_corpus()])
def test_to_wire_matches_record(key: str, recorded: Any, outcomes: Any) -> None:
    assert outcomes["to_wire"][key] == recorded["to_wire"][key]


@pytest.mark.parametrize("key", [k for k, _ in from_wire_corpus()])
def test_from_wire_matches_record(key: str, recorded: Any, outcomes: Any) -> None:
    assert outcomes["from_wire"][key] == recorded["from_wire"][key]


def test_record_covers_the_corpus(recorded: Any) -> None:
    assert set(recorded["to_wire"]) == {k for k, _ in to_wire_corpus()}
    assert set(recorded["from_wire"]) == {k for k, _ in from_wire_corpus()}


def dumps(record: dict[str, dict[str, Any]]) -> str:
    """The record as JSON with one case per line (small, and a changed case is one changed line)."""
    def compact(value: Any) -> str:
        return json.dumps(value, separators=(",", ":"), ensure_ascii=False)

    directions = [
        f"{compact(direction)}: {{\n" + ",\n".join(
            f"  {compact(key)}: {compact(value)}" for key, value in cases.items()) + "\n}"
        for direction, cases in record.items()
    ]
    return "{" + ",\n".join(directions) + "}\n"


if __name__ == "__main__" and sys.argv[1:] == ["record"]:
    RECORD.write_text(dumps(current()), encoding="utf-8")
    print(f"recorded {RECORD}")
