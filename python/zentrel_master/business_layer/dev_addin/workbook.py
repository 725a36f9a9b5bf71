"""The workbook in memory: worksheets of cells, change notifications, JSON files, a text grid."""

from __future__ import annotations

import json
import re
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path
from typing import Any

from zentrel_master.logging_config import get_logger

from .addresses import Rect, column_letters, format_address, parse_address
from .formulas import CellError, Formula, FormulaError, parse_formula, round_half_up

__all__ = [
    "MAX_CELLS",
    "Cell",
    "Change",
    "Workbook",
    "WorkbookError",
    "Worksheet",
    "display_text",
    "render",
]

_log = get_logger(__name__)

#: The most cells one read or write may touch (a whole column is a million cells).
MAX_CELLS = 100_000

#: Shown while a streaming cell waits for its first value.
GETTING_DATA = CellError("#GETTING_DATA", "Waiting for the first value of the stream")


#: The number formats `display_text` applies: digits, grouping, decimals, percent ("#,##0.00%").
_NUMBER_FORMAT = re.compile(r"[#,0]*0(?:\.0+)?%?")

#: What a cell can hold (None in a write leaves the cell as it is).
_CELL_TYPES = (type(None), bool, int, float, str)


class WorkbookError(ValueError):
    """A request the workbook refuses (unknown sheet, wrong shape, range too large)."""


class Cell:
    """One cell: a constant or a formula with its last value, and its format."""

    __slots__ = ("bold", "fill", "formula", "number_format", "parsed", "value")

    def __init__(self) -> None:
        self.value: Any = None
        self.formula: str | None = None
        self.parsed: Formula | None = None
        self.number_format = "General"
        self.fill: str | None = None
        self.bold = False

    def is_empty(self) -> bool:
        return (self.value is None and self.formula is None and self.number_format == "General"
                and self.fill is None and not self.bold)


@dataclass(frozen=True)
class Change:
    """What changed: `kind` is "edit" (values or formulas written), "calc" (a formula's new
    value), "format" or "sheets" (a sheet added, renamed or activated; `rect` is None)."""

    sheet: str
    rect: Rect | None
    kind: str


class Worksheet:
    """A named grid of cells, kept sparse."""

    def __init__(self, workbook: Workbook, name: str) -> None:
        self.workbook = workbook
        self.name = name
        self.cells: dict[tuple[int, int], Cell] = {}

    def value(self, row: int, column: int) -> Any:
        cell = self.cells.get((row, column))
        return None if cell is None else cell.value

    def cell(self, row: int, column: int) -> Cell:
        """The cell at (row, column), created when absent."""
        return self.cells.setdefault((row, column), Cell())

    def used_rect(self, values_only: bool = False) -> Rect | None:
        """The smallest rectangle holding every non-empty cell (None for an empty sheet)."""
        keys = [
            key
            for key, cell in self.cells.items()
            if (cell.value is not None or cell.formula is not None)
            or (not values_only and not cell.is_empty())
        ]
        if not keys:
            return None
        rows = [r for r, _ in keys]
        columns = [c for _, c in keys]
        return Rect(min(rows), min(columns), max(rows), max(columns))

    def in_rect(self, rect: Rect) -> list[tuple[tuple[int, int], Cell]]:
        """The stored cells inside `rect` (cheap for whole rows and columns)."""
        return [(key, cell) for key, cell in self.cells.items() if rect.contains(*key)]


class Workbook:
    """Worksheets in order, the active one, event bindings by name, and change listeners."""

    def __init__(self) -> None:
        self.sheets: list[Worksheet] = [Worksheet(self, "Sheet1")]
        self.active = self.sheets[0]
        #: Handlers named by module and function: {"sheet", "event", "module", "function"}.
        self.event_bindings: list[dict[str, str]] = []
        self._listeners: list[Callable[[Change], None]] = []

    # -- change notifications -------------------------------------------------------------

    def subscribe(self, listener: Callable[[Change], None]) -> Callable[[], None]:
        """Call `listener` with every `Change`, on the thread that made it; returns the undo."""
        self._listeners.append(listener)
        return lambda: self._listeners.remove(listener)

    def notify(self, change: Change) -> None:
        for listener in list(self._listeners):
            try:
                listener(change)
            except Exception:  # noqa: BLE001 - a failing listener must not hide the change
                _log.exception("Workbook change listener failed on %s", change)

    # -- sheets ---------------------------------------------------------------------------

    def sheet(self, name: str | None) -> Worksheet:
        """The sheet called `name` (case-insensitive), the active one for None."""
        if name is None:
            return self.active
        for sheet in self.sheets:
            if sheet.name.lower() == name.lower():
                return sheet
        raise WorkbookError(f"The requested worksheet {name!r} does not exist")

    def add_sheet(self, name: str | None = None) -> Worksheet:
        if name is None:
            number = len(self.sheets) + 1
            while any(s.name.lower() == f"sheet{number}" for s in self.sheets):
                number += 1
            name = f"Sheet{number}"
        if not name or any(s.name.lower() == name.lower() for s in self.sheets):
            raise WorkbookError(f"A worksheet named {name!r} already exists")
        sheet = Worksheet(self, name)
        self.sheets.append(sheet)
        self.notify(Change(name, None, "sheets"))
        return sheet

    def rename(self, sheet: Worksheet, name: str) -> None:
        if any(s is not sheet and s.name.lower() == name.lower() for s in self.sheets) or not name:
            raise WorkbookError(f"A worksheet named {name!r} already exists")
        sheet.name = name
        self.notify(Change(name, None, "sheets"))

    def bind_event(self, sheet: str, module: str, function: str) -> None:
        """Call `module.function(event)` ("event_execution") when cells of `sheet` change."""
        self.event_bindings.append({"sheet": self.sheet(sheet).name, "event": "onChanged",
                                    "module": module, "function": function})

    def activate(self, sheet: Worksheet) -> None:
        self.active = sheet
        self.notify(Change(sheet.name, None, "sheets"))

    # -- cells ----------------------------------------------------------------------------

    def write(self, sheet: Worksheet, rect: Rect, rows: list[list[Any]]) -> None:
        """Write constants and formulas (text starting with "="); None leaves a cell alone."""
        _check_size(rect)
        if len(rows) != rect.rows or any(
            not isinstance(row, list) or len(row) != rect.columns for row in rows
        ):
            raise WorkbookError(
                "The number of rows or columns in the input array doesn't match the size or "
                "dimensions of the range."
            )
        # Checked before anything is written: a refused write leaves every cell as it was.
        if any(not isinstance(entry, _CELL_TYPES) for row in rows for entry in row):
            raise WorkbookError("A cell holds a number, a text or a boolean")
        for r, row in enumerate(rows):
            for c, entry in enumerate(row):
                if entry is None:
                    continue
                cell = sheet.cell(rect.top + r, rect.left + c)
                if isinstance(entry, str) and entry.startswith("=") and len(entry) > 1:
                    cell.formula = entry
                    try:
                        cell.parsed = parse_formula(entry)
                        cell.value = None
                    except FormulaError as error:
                        cell.parsed, cell.value = None, CellError("#NAME?", str(error))
                else:
                    cell.formula, cell.parsed = None, None
                    cell.value = None if entry == "" else entry
        self.notify(Change(sheet.name, rect, "edit"))

    def set_result(self, sheet: Worksheet, row: int, column: int, value: Any) -> None:
        """Store a formula's computed value."""
        sheet.cell(row, column).value = value
        self.notify(Change(sheet.name, Rect(row, column, row, column), "calc"))

    def set_format(self, sheet: Worksheet, rect: Rect, **attributes: Any) -> None:
        """Set `number_format`, `fill` or `bold` on every cell of `rect`."""
        _check_size(rect)
        for row, column in rect.cells():
            cell = sheet.cell(row, column)
            for name, value in attributes.items():
                setattr(cell, name, value)
        self.notify(Change(sheet.name, rect, "format"))

    def clear(self, sheet: Worksheet, rect: Rect, apply_to: str = "All") -> None:
        """Clear "All", "Contents" or "Formats" of the cells in `rect`."""
        if apply_to not in ("All", "Contents", "Formats"):
            raise WorkbookError(f"Unknown clear option {apply_to!r}")
        for key, cell in sheet.in_rect(rect):
            if apply_to in ("All", "Contents"):
                cell.value, cell.formula, cell.parsed = None, None, None
            if apply_to in ("All", "Formats"):
                cell.number_format, cell.fill, cell.bold = "General", None, False
            if cell.is_empty():
                del sheet.cells[key]
        self.notify(Change(sheet.name, rect, "format" if apply_to == "Formats" else "edit"))

    def formula_cells(self) -> list[tuple[Worksheet, int, int, Cell]]:
        return [
            (sheet, row, column, cell)
            for sheet in self.sheets
            for (row, column), cell in sheet.cells.items()
            if cell.formula is not None
        ]

    # -- files ----------------------------------------------------------------------------

    def to_json(self) -> dict[str, Any]:
        """The workbook as a JSON-ready map (formulas as text, constants as values)."""
        sheets = []
        for sheet in self.sheets:
            cells: dict[str, Any] = {}
            for (row, column), cell in sorted(sheet.cells.items()):
                content = cell.formula if cell.formula is not None else _json_value(cell.value)
                extra = {
                    key: value
                    for key, value in (("numberFormat", cell.number_format), ("fill", cell.fill),
                                       ("bold", cell.bold))
                    if value not in ("General", None, False)
                }
                address = format_address(Rect(row, column, row, column))
                cells[address] = {"value": content, **extra} if extra else content
            sheets.append({"name": sheet.name, "cells": cells})
        return {"activeSheet": self.active.name, "sheets": sheets, "events": self.event_bindings}

    @classmethod
    def from_json(cls, data: dict[str, Any]) -> Workbook:
        """A workbook from the map `to_json` makes; WorkbookError names what is wrong."""
        if not isinstance(data, dict) or not isinstance(data.get("sheets"), list):
            raise WorkbookError("A workbook file holds a map with a list of 'sheets'")
        book = cls()
        book.sheets = []
        for entry in data["sheets"]:
            if not isinstance(entry, dict) or not isinstance(entry.get("name"), str):
                raise WorkbookError("Each sheet needs a 'name'")
            sheet = book.add_sheet(entry["name"])
            cells = entry.get("cells") or {}
            if not isinstance(cells, dict):
                raise WorkbookError(f"The cells of sheet {entry['name']!r} are not a map")
            for address, content in cells.items():
                try:
                    _, rect = parse_address(address)
                except ValueError as error:
                    raise WorkbookError(f"Sheet {entry['name']!r}: {error}") from None
                if isinstance(content, dict):
                    book.write(sheet, rect, [[content.get("value")] * rect.columns] * rect.rows)
                    book.set_format(
                        sheet,
                        rect,
                        number_format=content.get("numberFormat", "General"),
                        fill=content.get("fill"),
                        bold=bool(content.get("bold", False)),
                    )
                else:
                    book.write(sheet, rect, [[content] * rect.columns] * rect.rows)
        if not book.sheets:
            book.sheets = [Worksheet(book, "Sheet1")]
        book.active = book.sheet(data.get("activeSheet") or book.sheets[0].name)
        bindings = data.get("events") or []
        if not all(isinstance(b, dict) and {"sheet", "module", "function"} <= b.keys()
                   for b in bindings):
            raise WorkbookError("Each event binding needs 'sheet', 'module' and 'function'")
        book.event_bindings = [{"event": "onChanged", **b} for b in bindings]
        return book

    @classmethod
    def load(cls, path: str | Path) -> Workbook:
        return cls.from_json(json.loads(Path(path).read_text(encoding="utf-8")))

    def save(self, path: str | Path) -> None:
        Path(path).write_text(json.dumps(self.to_json(), indent=2) + "\n", encoding="utf-8")


def _check_size(rect: Rect) -> None:
    if rect.size > MAX_CELLS:
        raise WorkbookError(
            f"The range has {rect.size} cells; the development add-in handles at most {MAX_CELLS}"
        )


def _json_value(value: Any) -> Any:
    return str(value) if isinstance(value, CellError) else value


def display_text(cell: Cell | None) -> str:
    """The cell's value as the grid shows it, with its number format applied."""
    if cell is None or cell.value is None:
        return ""
    value = cell.value
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    fmt = cell.number_format
    if not isinstance(value, (int, float)) or not _NUMBER_FORMAT.fullmatch(fmt):
        # General, and the formats not modelled here (dates, text, sections)
        if isinstance(value, float):
            return f"{value:.10g}"
        return str(value)
    decimals = len(fmt.split(".")[1].rstrip("%")) if "." in fmt else 0
    grouping = "," if "," in fmt else ""
    if fmt.endswith("%"):
        return f"{round_half_up(value * 100, decimals):{grouping}.{decimals}f}%"
    return f"{round_half_up(value, decimals):{grouping}.{decimals}f}"


def render(sheet: Worksheet, rect: Rect | None = None, width: int = 12) -> str:
    """A text grid of `rect` (default: the used range from A1) with column letters and row
    numbers; long texts are cut to `width`."""
    used = sheet.used_rect()
    if rect is None:
        rect = Rect(0, 0, used.bottom, used.right) if used else Rect(0, 0, 0, 0)
    bottom, right = min(rect.bottom, rect.top + 49), min(rect.right, rect.left + 11)
    rect = Rect(rect.top, rect.left, bottom, right)
    label = len(str(rect.bottom + 1))
    lines = [" " * label + " |" + "|".join(
        f"{column_letters(c):^{width}}" for c in range(rect.left, rect.right + 1))]
    lines.append("-" * len(lines[0]))
    for row in range(rect.top, rect.bottom + 1):
        texts = []
        for column in range(rect.left, rect.right + 1):
            cell = sheet.cells.get((row, column))
            text = display_text(cell)
            text = text if len(text) <= width else text[: width - 1] + "…"
            numeric = cell is not None and isinstance(cell.value, (int, float))
            texts.append(f"{text:>{width}}" if numeric else f"{text:<{width}}")
        lines.append(f"{row + 1:>{label}} |" + "|".join(texts))
    return "\n".join(lines)
