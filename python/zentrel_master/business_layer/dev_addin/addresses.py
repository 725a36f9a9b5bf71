"""A1 addresses: cells, rectangles, whole rows and columns, with optional sheet prefixes."""

from __future__ import annotations

import re
from dataclasses import dataclass

__all__ = [
    "MAX_COLUMNS",
    "MAX_ROWS",
    "AddressError",
    "Rect",
    "column_index",
    "column_letters",
    "format_address",
    "parse_address",
    "split_sheet",
]

MAX_ROWS = 1_048_576
MAX_COLUMNS = 16_384

_CELL = r"\$?([A-Za-z]{1,3})\$?([0-9]+)"
_CELL_RE = re.compile(rf"{_CELL}(?::{_CELL})?")
_COLUMNS_RE = re.compile(r"\$?([A-Za-z]{1,3}):\$?([A-Za-z]{1,3})")
_ROWS_RE = re.compile(r"\$?([0-9]+):\$?([0-9]+)")
_PLAIN_SHEET_RE = re.compile(r"[A-Za-z_][A-Za-z0-9_.]*")


class AddressError(ValueError):
    """An address that is not A1 notation or lies outside the grid."""


@dataclass(frozen=True)
class Rect:
    """Cells from row `top` to `bottom` and column `left` to `right` (0-based, inclusive)."""

    top: int
    left: int
    bottom: int
    right: int

    @property
    def rows(self) -> int:
        return self.bottom - self.top + 1

    @property
    def columns(self) -> int:
        return self.right - self.left + 1

    @property
    def size(self) -> int:
        return self.rows * self.columns

    def contains(self, row: int, column: int) -> bool:
        return self.top <= row <= self.bottom and self.left <= column <= self.right

    def intersects(self, other: Rect) -> bool:
        return not (
            other.left > self.right
            or other.right < self.left
            or other.top > self.bottom
            or other.bottom < self.top
        )

    def cells(self) -> list[tuple[int, int]]:
        """Every (row, column) of the rectangle, row by row."""
        return [
            (r, c)
            for r in range(self.top, self.bottom + 1)
            for c in range(self.left, self.right + 1)
        ]

    def moved(self, rows: int, columns: int) -> Rect:
        """The same shape shifted; AddressError when it leaves the grid."""
        return _checked(self.top + rows, self.left + columns, self.bottom + rows,
                        self.right + columns)

    def resized(self, rows: int, columns: int) -> Rect:
        """The same top-left corner with `rows`/`columns` more (or fewer) rows and columns."""
        return _checked(self.top, self.left, self.bottom + rows, self.right + columns)


def _checked(top: int, left: int, bottom: int, right: int) -> Rect:
    if not (0 <= top <= bottom < MAX_ROWS and 0 <= left <= right < MAX_COLUMNS):
        raise AddressError("The range lies outside the worksheet")
    return Rect(top, left, bottom, right)


def column_index(letters: str) -> int:
    """0-based index of a column name (A is 0, AA is 26)."""
    index = 0
    for letter in letters.upper():
        index = index * 26 + ord(letter) - ord("A") + 1
    return index - 1


def column_letters(index: int) -> str:
    """The column name of a 0-based column index."""
    letters = ""
    index += 1
    while index:
        index, rest = divmod(index - 1, 26)
        letters = chr(ord("A") + rest) + letters
    return letters


def split_sheet(address: str) -> tuple[str | None, str]:
    """("Sheet", "A1") for "Sheet!A1" or "'My Sheet'!A1"; (None, address) without a prefix."""
    if "!" not in address:
        return None, address
    sheet, _, local = address.rpartition("!")
    if len(sheet) >= 2 and sheet[0] == sheet[-1] == "'":
        sheet = sheet[1:-1].replace("''", "'")
    if not sheet:
        raise AddressError(f"Invalid address: {address}")
    return sheet, local


def parse_address(address: str) -> tuple[str | None, Rect]:
    """The sheet name (None when absent) and rectangle of an A1 address."""
    sheet, local = split_sheet(address.strip())
    if match := _CELL_RE.fullmatch(local):
        c1, r1, c2, r2 = match.groups()
        top, left = int(r1) - 1, column_index(c1)
        bottom, right = (int(r2) - 1, column_index(c2)) if c2 else (top, left)
    elif match := _COLUMNS_RE.fullmatch(local):
        top, bottom = 0, MAX_ROWS - 1
        left, right = column_index(match[1]), column_index(match[2])
    elif match := _ROWS_RE.fullmatch(local):
        top, bottom = int(match[1]) - 1, int(match[2]) - 1
        left, right = 0, MAX_COLUMNS - 1
    else:
        raise AddressError(f"Invalid address: {address}")
    top, bottom = sorted((top, bottom))
    left, right = sorted((left, right))
    try:
        return sheet, _checked(top, left, bottom, right)
    except AddressError:
        raise AddressError(f"Invalid address: {address}") from None


def format_address(rect: Rect, sheet: str | None = None) -> str:
    """The A1 text of `rect` ("B2", "A1:C3", "A:B", "2:2"), prefixed by `sheet` when given."""
    if rect.top == 0 and rect.bottom == MAX_ROWS - 1:
        local = f"{column_letters(rect.left)}:{column_letters(rect.right)}"
    elif rect.left == 0 and rect.right == MAX_COLUMNS - 1:
        local = f"{rect.top + 1}:{rect.bottom + 1}"
    else:
        local = f"{column_letters(rect.left)}{rect.top + 1}"
        if rect.size > 1:
            local += f":{column_letters(rect.right)}{rect.bottom + 1}"
    if sheet is None:
        return local
    if not _PLAIN_SHEET_RE.fullmatch(sheet):
        sheet = "'" + sheet.replace("'", "''") + "'"
    return f"{sheet}!{local}"
