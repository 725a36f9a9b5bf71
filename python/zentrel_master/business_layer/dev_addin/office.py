"""The Office.js side of the proxy protocol: objects with Office.js names, their id table, and
wire values.

Each object class lists the members it models; a request for any other member is refused with
a message naming it. Reads are always live, so `load(...)` only returns its object and
`context.sync()` does nothing, as code written for the real add-in expects to call them.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from .addresses import AddressError, Rect, format_address, parse_address
from .formulas import CellError
from .workbook import MAX_CELLS, Workbook, WorkbookError, Worksheet, display_text

if TYPE_CHECKING:
    from .addin import DevAddin

__all__ = [
    "CallableRef",
    "ObjectTable",
    "OfficeError",
    "OfficeObject",
    "from_wire",
    "to_wire",
]


class OfficeError(Exception):
    """A request the add-in refuses; the text becomes the response's `error.message`."""


@dataclass(frozen=True)
class CallableRef:
    """A Python callable of the kernel, known by its callable id."""

    callable_id: str


class ObjectTable:
    """Ids of the objects handed to the kernel; ids 0-4 are the roots and are never freed."""

    ROOTS = 5

    def __init__(self, roots: list[Any]) -> None:
        self._objects: dict[int, Any] = dict(enumerate(roots))
        self._next = self.ROOTS

    def __len__(self) -> int:
        return len(self._objects)

    def add(self, obj: Any) -> int:
        object_id = self._next
        self._next += 1
        self._objects[object_id] = obj
        return object_id

    def get(self, object_id: Any) -> Any:
        if isinstance(object_id, bool) or not isinstance(object_id, int):
            raise OfficeError(f"Object id {object_id!r} is not an integer")
        try:
            return self._objects[object_id]
        except KeyError:
            raise OfficeError(f"Object id {object_id} is unknown or was released") from None

    def free(self, object_id: Any) -> None:
        self.get(object_id)
        if object_id >= self.ROOTS:
            del self._objects[object_id]


def to_wire(value: Any, table: ObjectTable) -> dict[str, Any]:
    """The wire value of `value`; arrays, maps and objects get ids in `table`."""
    if value is None:
        return {"type": "Null", "value": None, "isSpec": False}
    if isinstance(value, bool):
        return {"type": "Bool", "value": value, "isSpec": False}
    if isinstance(value, int):
        return {"type": "Int", "value": value, "isSpec": False}
    if isinstance(value, float):
        return {"type": "Float", "value": value, "isSpec": False}
    if isinstance(value, (str, CellError)):
        return {"type": "String", "value": str(value), "isSpec": False}
    if isinstance(value, (list, tuple)):
        items = [to_wire(item, table) for item in value]
        return {"type": "Array", "value": items, "isSpec": False, "id": table.add(value)}
    if isinstance(value, dict):
        entries = {key: to_wire(item, table) for key, item in value.items()}
        return {"type": "Dict", "value": entries, "isSpec": False, "id": table.add(value)}
    if isinstance(value, OfficeObject):
        return {"type": value.TYPE, "value": table.add(value), "isSpec": True}
    return {"type": "String", "value": str(value), "isSpec": False}


def from_wire(wire: Any, table: ObjectTable) -> Any:
    """The value of a wire value from the kernel; references resolve through `table`."""
    if not isinstance(wire, dict):
        raise OfficeError(f"Expected a wire value, got {type(wire).__name__}")
    kind, value = wire.get("type"), wire.get("value")
    if kind == "Null":
        return None
    if kind in ("Bool", "Int", "Float", "String", "Date", "Bytes"):
        return value
    if kind == "Array":
        return [from_wire(item, table) for item in value or []]
    if kind == "Dict":
        return {key: from_wire(item, table) for key, item in (value or {}).items()}
    if kind == "Python_Function":
        return CallableRef(str(value))
    if wire.get("isSpec"):
        return table.get(value)
    return str(value)


class OfficeObject:
    """An Office.js object: `PROPERTIES` readable, `SETTABLE` assignable, `METHODS` callable."""

    TYPE = "Object"
    PROPERTIES: tuple[str, ...] = ()
    SETTABLE: tuple[str, ...] = ()
    METHODS: tuple[str, ...] = ()

    def __init__(self, addin: DevAddin) -> None:
        self.addin = addin

    @property
    def book(self) -> Workbook:
        return self.addin.workbook

    def get_member(self, name: str) -> Any:
        if name in self.METHODS or name == "load":
            return BoundMethod(self.addin, self, name)
        if name in self.PROPERTIES:
            return getattr(self, name)
        raise OfficeError(f"{self.TYPE}.{name} is not modelled by the development add-in")

    def set_member(self, name: str, value: Any) -> None:
        if name not in self.SETTABLE:
            if name in self.PROPERTIES or name in self.METHODS:
                raise OfficeError(f"{self.TYPE}.{name} cannot be assigned")
            raise OfficeError(f"{self.TYPE}.{name} is not modelled by the development add-in")
        setattr(self, name, value)

    def get_item(self, key: str) -> Any:
        raise OfficeError(f"{self.TYPE} does not support item access ([{key}])")

    def load(self, *args: Any, **kwargs: Any) -> OfficeObject:
        """Office.js queues the properties to read; every read here is live."""
        return self


class BoundMethod(OfficeObject):
    """A method read from an object: what the kernel calls with CALL."""

    TYPE = "Function"

    def __init__(self, addin: DevAddin, target: Any, name: str) -> None:
        super().__init__(addin)
        self.target, self.name = target, name

    def call(self, args: list[Any], kwargs: dict[str, Any]) -> Any:
        try:
            return getattr(self.target, self.name)(*args, **kwargs)
        except TypeError as error:
            raise OfficeError(f"{self.target.TYPE}.{self.name}: {error}") from None


class RootFunction(OfficeObject):
    """The global functions the proxies know by id (GetSetting, Union, Intersect)."""

    TYPE = "Function"

    def __init__(self, addin: DevAddin, name: str) -> None:
        super().__init__(addin)
        self.name = name

    def call(self, args: list[Any], kwargs: dict[str, Any]) -> Any:
        if self.name == "Intersect" and len(args) == 2 and all(isinstance(a, Range) for a in args):
            first, second = args
            if first.sheet is not second.sheet or not first.rect.intersects(second.rect):
                return None
            a, b = first.rect, second.rect
            rect = Rect(max(a.top, b.top), max(a.left, b.left), min(a.bottom, b.bottom),
                        min(a.right, b.right))
            return Range(self.addin, first.sheet, rect)
        raise OfficeError(f"{self.name} is not modelled by the development add-in")


class ExcelNamespace(OfficeObject):
    """The `Excel` namespace (root id 1); none of its members is modelled."""

    TYPE = "Excel"


class RequestContext(OfficeObject):
    """The request context (root id 0): the way to the workbook."""

    TYPE = "RequestContext"
    PROPERTIES = ("workbook",)
    METHODS = ("sync",)

    @property
    def workbook(self) -> WorkbookObject:
        return WorkbookObject(self.addin)

    def sync(self) -> None:
        """Office.js sends the queued commands here; every request was answered already."""


class WorkbookObject(OfficeObject):
    """`context.workbook`."""

    TYPE = "Workbook"
    PROPERTIES = ("worksheets", "name")

    @property
    def worksheets(self) -> WorksheetCollection:
        return WorksheetCollection(self.addin)

    @property
    def name(self) -> str:
        return self.addin.name


class EventHandlers(OfficeObject):
    """`onChanged` of a worksheet (or of every worksheet, for `sheet` None)."""

    TYPE = "EventHandlers"
    METHODS = ("add",)

    def __init__(self, addin: DevAddin, sheet: Worksheet | None) -> None:
        super().__init__(addin)
        self.sheet = sheet

    def add(self, handler: Any) -> EventHandlerResult:
        if not isinstance(handler, CallableRef):
            raise OfficeError("onChanged.add takes a Python function")
        return EventHandlerResult(self.addin, self.addin.add_handler(self.sheet, handler))


class EventHandlerResult(OfficeObject):
    """What `onChanged.add` returns: `remove()` ends the registration."""

    TYPE = "EventHandlerResult"
    METHODS = ("remove",)

    def __init__(self, addin: DevAddin, registration: int) -> None:
        super().__init__(addin)
        self.registration = registration

    def remove(self) -> None:
        self.addin.remove_handler(self.registration)


class WorksheetCollection(OfficeObject):
    """`workbook.worksheets`."""

    TYPE = "WorksheetCollection"
    PROPERTIES = ("items", "onChanged")
    METHODS = ("getItem", "add", "getActiveWorksheet", "getCount")

    @property
    def items(self) -> list[WorksheetObject]:
        return [WorksheetObject(self.addin, sheet) for sheet in self.book.sheets]

    @property
    def onChanged(self) -> EventHandlers:
        return EventHandlers(self.addin, None)

    def getItem(self, key: str) -> WorksheetObject:
        try:
            return WorksheetObject(self.addin, self.book.sheet(str(key)))
        except WorkbookError as error:
            raise OfficeError(str(error)) from None

    def add(self, name: str | None = None) -> WorksheetObject:
        try:
            return WorksheetObject(self.addin, self.book.add_sheet(name))
        except WorkbookError as error:
            raise OfficeError(str(error)) from None

    def getActiveWorksheet(self) -> WorksheetObject:
        return WorksheetObject(self.addin, self.book.active)

    def getCount(self) -> int:
        return len(self.book.sheets)

    def get_item(self, key: str) -> Any:
        if key.isdigit() and int(key) < len(self.book.sheets):
            return WorksheetObject(self.addin, self.book.sheets[int(key)])
        raise OfficeError(f"No worksheet at index {key}")


class WorksheetObject(OfficeObject):
    """One worksheet."""

    TYPE = "Worksheet"
    PROPERTIES = ("name", "onChanged")
    SETTABLE = ("name",)
    METHODS = ("getRange", "getUsedRange", "getCell", "activate")

    def __init__(self, addin: DevAddin, sheet: Worksheet) -> None:
        super().__init__(addin)
        self.sheet = sheet

    @property
    def name(self) -> str:
        return self.sheet.name

    @name.setter
    def name(self, value: Any) -> None:
        try:
            self.book.rename(self.sheet, str(value))
        except WorkbookError as error:
            raise OfficeError(str(error)) from None

    @property
    def onChanged(self) -> EventHandlers:
        return EventHandlers(self.addin, self.sheet)

    def getRange(self, address: str | None = None) -> Range:
        if address is None:
            return Range(self.addin, self.sheet, parse_address("1:1048576")[1])
        try:
            sheet, rect = parse_address(str(address))
        except AddressError as error:
            raise OfficeError(str(error)) from None
        if sheet is not None and sheet.lower() != self.sheet.name.lower():
            raise OfficeError(f"The address {address} is not on worksheet {self.sheet.name}")
        return Range(self.addin, self.sheet, rect)

    def getUsedRange(self, valuesOnly: bool = False) -> Range:
        used = self.sheet.used_rect(bool(valuesOnly))
        return Range(self.addin, self.sheet, used or Rect(0, 0, 0, 0))

    def getCell(self, row: int, column: int) -> Range:
        return Range(self.addin, self.sheet, Rect(0, 0, 0, 0)).getOffsetRange(row, column)

    def activate(self) -> None:
        self.book.activate(self.sheet)


def _checked(action: Any) -> Any:
    try:
        return action()
    except (AddressError, WorkbookError) as error:
        raise OfficeError(str(error)) from None


class Range(OfficeObject):
    """A rectangle of cells on one worksheet."""

    TYPE = "Range"
    PROPERTIES = ("values", "formulas", "text", "numberFormat", "address", "rowCount",
                  "columnCount", "rowIndex", "columnIndex", "format", "worksheet")
    SETTABLE = ("values", "formulas", "numberFormat")
    METHODS = ("getCell", "getOffsetRange", "getResizedRange", "clear")

    def __init__(self, addin: DevAddin, sheet: Worksheet, rect: Rect) -> None:
        super().__init__(addin)
        self.sheet, self.rect = sheet, rect

    def _grid(self, read: Any) -> list[list[Any]]:
        if self.rect.size > MAX_CELLS:
            raise OfficeError(
                f"The range {self.address} has {self.rect.size} cells; the development add-in "
                f"reads at most {MAX_CELLS}"
            )
        cells = self.sheet.cells
        return [
            [read(cells.get((row, column)))
             for column in range(self.rect.left, self.rect.right + 1)]
            for row in range(self.rect.top, self.rect.bottom + 1)
        ]

    def _broadcast(self, value: Any) -> list[list[Any]]:
        if isinstance(value, list):
            return value
        return [[value] * self.rect.columns for _ in range(min(self.rect.rows, MAX_CELLS))]

    @property
    def values(self) -> list[list[Any]]:
        return self._grid(lambda cell: _plain(None if cell is None else cell.value, ""))

    @values.setter
    def values(self, value: Any) -> None:
        _checked(lambda: self.book.write(self.sheet, self.rect, self._broadcast(value)))

    @property
    def formulas(self) -> list[list[Any]]:
        return self._grid(
            lambda cell: "" if cell is None else cell.formula or _plain(cell.value, "")
        )

    @formulas.setter
    def formulas(self, value: Any) -> None:
        self.values = value

    @property
    def text(self) -> list[list[str]]:
        return self._grid(display_text)

    @property
    def numberFormat(self) -> list[list[str]]:
        return self._grid(lambda cell: "General" if cell is None else cell.number_format)

    @numberFormat.setter
    def numberFormat(self, value: Any) -> None:
        if isinstance(value, list):
            rows = value
            if len(rows) != self.rect.rows or any(len(r) != self.rect.columns for r in rows):
                raise OfficeError("The number of rows or columns in the input array doesn't "
                                  "match the size or dimensions of the range.")
            for r, row in enumerate(rows):
                for c, fmt in enumerate(row):
                    cell_rect = Rect(self.rect.top + r, self.rect.left + c,
                                     self.rect.top + r, self.rect.left + c)
                    self.book.set_format(self.sheet, cell_rect, number_format=str(fmt))
        else:
            _checked(lambda: self.book.set_format(self.sheet, self.rect, number_format=str(value)))

    @property
    def address(self) -> str:
        return format_address(self.rect, self.sheet.name)

    @property
    def rowCount(self) -> int:
        return self.rect.rows

    @property
    def columnCount(self) -> int:
        return self.rect.columns

    @property
    def rowIndex(self) -> int:
        return self.rect.top

    @property
    def columnIndex(self) -> int:
        return self.rect.left

    @property
    def format(self) -> RangeFormat:
        return RangeFormat(self)

    @property
    def worksheet(self) -> WorksheetObject:
        return WorksheetObject(self.addin, self.sheet)

    def getCell(self, row: int, column: int) -> Range:
        corner = Rect(self.rect.top, self.rect.left, self.rect.top, self.rect.left)
        return Range(self.addin, self.sheet, _checked(lambda: corner.moved(int(row), int(column))))

    def getOffsetRange(self, rowOffset: int, columnOffset: int) -> Range:
        moved = _checked(lambda: self.rect.moved(int(rowOffset), int(columnOffset)))
        return Range(self.addin, self.sheet, moved)

    def getResizedRange(self, deltaRows: int, deltaColumns: int) -> Range:
        resized = _checked(lambda: self.rect.resized(int(deltaRows), int(deltaColumns)))
        return Range(self.addin, self.sheet, resized)

    def clear(self, applyTo: str = "All") -> None:
        _checked(lambda: self.book.clear(self.sheet, self.rect, str(applyTo)))

    def common(self, attribute: str, default: Any) -> Any:
        """The attribute shared by every cell, or None when the cells differ (as Office.js)."""
        if self.rect.size > MAX_CELLS:
            raise OfficeError(f"The range {self.address} is too large for the development add-in")
        seen = {getattr(cell, attribute) if cell else default for cell in
                (self.sheet.cells.get(key) for key in self.rect.cells())}
        return seen.pop() if len(seen) == 1 else None


def _plain(value: Any, empty: Any) -> Any:
    if value is None:
        return empty
    return str(value) if isinstance(value, CellError) else value


class RangeFormat(OfficeObject):
    """`range.format`."""

    TYPE = "RangeFormat"
    PROPERTIES = ("fill", "font")

    def __init__(self, owner: Range) -> None:
        super().__init__(owner.addin)
        self.owner = owner

    @property
    def fill(self) -> RangeFill:
        return RangeFill(self.owner)

    @property
    def font(self) -> RangeFont:
        return RangeFont(self.owner)


class RangeFill(RangeFormat):
    """`range.format.fill`: the background colour."""

    TYPE = "RangeFill"
    PROPERTIES = ("color",)
    SETTABLE = ("color",)
    METHODS = ("clear",)

    @property
    def color(self) -> str | None:
        return _checked(lambda: self.owner.common("fill", None))

    @color.setter
    def color(self, value: Any) -> None:
        fill = None if value is None else str(value)
        _checked(lambda: self.book.set_format(self.owner.sheet, self.owner.rect, fill=fill))

    def clear(self) -> None:
        _checked(lambda: self.book.set_format(self.owner.sheet, self.owner.rect, fill=None))


class RangeFont(RangeFormat):
    """`range.format.font`: bold only."""

    TYPE = "RangeFont"
    PROPERTIES = ("bold",)
    SETTABLE = ("bold",)

    @property
    def bold(self) -> bool | None:
        return _checked(lambda: self.owner.common("bold", False))

    @bold.setter
    def bold(self, value: Any) -> None:
        _checked(lambda: self.book.set_format(self.owner.sheet, self.owner.rect, bold=bool(value)))
