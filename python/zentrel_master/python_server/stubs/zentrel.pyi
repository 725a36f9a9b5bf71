"""The workbook package: reach the live Excel workbook from Python.

`context` and `excel` are proxies of live Office.js objects. Every attribute read, assignment,
item read and call on a proxy (or on any proxy reached through it) is one request to the add-in,
answered before your code continues; there is no `load()`/`sync()` step and no caching, so each
read sees the workbook as it is now. Method calls work as in Office.js:
``context.workbook.worksheets.getItem("Sheet1").getRange("A1:B2").values``.

Values cross as plain Python data: numbers, text, booleans, None, datetimes, bytes, lists
(`OfficeJsArray`) and dicts (`OfficeJsDict`); pandas DataFrames and Series are sent as rows with
the column labels first; a Python function passed to the workbook is registered so the add-in
can call it back.

Objects kept with `save_object` survive between runs of your code until cleared, and the editor
lists them.
"""

from collections.abc import Callable
from typing import Any

__all__ = [
    "excel",
    "context",
    "messaging",
    "Serializer",
    "Messaging",
    "OfficeJsObject",
    "OfficeJsArray",
    "OfficeJsDict",
    "save_object",
    "get_object",
    "clear_object",
    "clear_all_objects",
    "get_object_registry",
    "set_enable_events",
    "show_message_box",
]

class OfficeJsObject:
    """A live Office.js object held by the add-in.

    Reading an attribute, assigning one, indexing with an int or a slice and calling (for
    objects of type "Function", such as methods read from another object) each send one request.
    Errors of the add-in arrive as AttributeError (reads, assignments) or RuntimeError (calls);
    a proxy from before a reset of the connection raises RuntimeError "Excel Object used after
    messaging context was stopped".
    """

    _internal_id: int
    _internal_typeName: str
    def __init__(self, object_id: int, type_name: str) -> None: ...
    def __getattr__(self, name: str) -> Any: ...
    def __setattr__(self, name: str, value: Any) -> None: ...
    def __getitem__(self, index: int | slice) -> Any: ...
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...

class OfficeJsArray(list[Any]):
    """An array returned by the workbook: a real list holding the values locally."""

    _internal_id: int
    def __init__(self, object_id: int) -> None: ...
    def __getattr__(self, name: str) -> Any: ...

class OfficeJsDict(dict[Any, Any]):
    """A map returned by the workbook: a real dict; its keys also read as attributes."""

    _internal_id: int
    def __init__(self, object_id: int) -> None: ...
    def __getattr__(self, name: str) -> Any: ...

class Range(OfficeJsObject):
    """A cell range (Office.js Excel.Range)."""

    address: str
    values: list[list[Any]]
    formulas: list[list[Any]]
    numberFormat: list[list[Any]]
    text: list[list[str]]
    rowCount: int
    columnCount: int
    format: OfficeJsObject
    def getCell(self, row: int, column: int) -> Range: ...
    def getOffsetRange(self, rowOffset: int, columnOffset: int) -> Range: ...
    def getResizedRange(self, deltaRows: int, deltaColumns: int) -> Range: ...
    def getUsedRange(self, valuesOnly: bool = ...) -> Range: ...
    def clear(self, applyTo: str = ...) -> None: ...
    def select(self) -> None: ...

class Worksheet(OfficeJsObject):
    """A worksheet (Office.js Excel.Worksheet)."""

    name: str
    position: int
    visibility: str
    tables: OfficeJsObject
    charts: OfficeJsObject
    def getRange(self, address: str = ...) -> Range: ...
    def getUsedRange(self, valuesOnly: bool = ...) -> Range: ...
    def getCell(self, row: int, column: int) -> Range: ...
    def activate(self) -> None: ...
    def delete(self) -> None: ...

class WorksheetCollection(OfficeJsObject):
    """The workbook's worksheets (Office.js Excel.WorksheetCollection)."""

    def getItem(self, key: str) -> Worksheet: ...
    def getItemOrNullObject(self, key: str) -> Worksheet: ...
    def getActiveWorksheet(self) -> Worksheet: ...
    def add(self, name: str = ...) -> Worksheet: ...
    def getCount(self) -> int: ...

class Workbook(OfficeJsObject):
    """The open workbook (Office.js Excel.Workbook)."""

    name: str
    worksheets: WorksheetCollection
    tables: OfficeJsObject
    names: OfficeJsObject
    def getSelectedRange(self) -> Range: ...
    def getActiveCell(self) -> Range: ...

class RequestContext(OfficeJsObject):
    """The request context: the entry point to the workbook (`context.workbook`)."""

    workbook: Workbook

class ExcelNamespace(OfficeJsObject):
    """The Office.js `Excel` namespace: enumerations and helpers, e.g. `excel.ChartType`."""

#: The request context (proxy id 0): ``context.workbook`` is the open workbook. Stays usable
#: across resets of the connection.
context: RequestContext
#: The Office.js `Excel` namespace (proxy id 1). Stays usable across resets of the connection.
excel: ExcelNamespace

class Messaging:
    """Synchronous requests to the add-in and the registry of Python callables it may call."""

    waiters: dict[str, Any]
    loop: Any
    loop_thread: Any
    def __init__(self) -> None: ...
    def set_send_handler(self, handler: Callable[[dict[str, Any]], Any] | None) -> None: ...
    def send_request_sync(self, req: dict[str, Any], timeout: float = 30.0) -> dict[str, Any]: ...
    def on_message(self, message: dict[str, Any]) -> None: ...
    def reset(self) -> None: ...
    def register_callable(self, callable_obj: Any) -> str: ...
    def get_callable(self, callable_id: str) -> Any: ...
    def unregister_callable(self, callable_id: str) -> None: ...

#: The one messaging instance; the kernel connects it to the workbook.
messaging: Messaging

class Serializer:
    """Converts values to and from the wire format in which they cross to the workbook."""

    @staticmethod
    def to_wire(value: Any) -> dict[str, Any]: ...
    @staticmethod
    def from_wire(wire: dict[str, Any]) -> Any: ...

def save_object(key: str, obj: Any) -> None:
    """Keep `obj` under `key` (a non-empty str) between runs; the editor lists it."""

def get_object(key: str) -> Any:
    """The object kept under `key`, or None."""

def clear_object(key: str) -> None:
    """Forget the object kept under `key`."""

def clear_all_objects() -> None:
    """Forget every kept object."""

def get_object_registry() -> list[dict[str, str]]:
    """One {"key", "type", "repr"} description per kept object, in the order they were saved."""

def set_enable_events(enable: bool) -> None:
    """Switch the workbook's event handling on or off."""

def show_message_box(message: str, title: str = "Zentrel", type: str = "Info") -> None:
    """Show a message box in the add-in; `type` is "Info", "Warning" or "Error"."""

