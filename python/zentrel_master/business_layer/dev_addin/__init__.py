"""A development add-in: an in-memory workbook on the other end of a kernel's proxy requests.

`DevAddin` answers the GET, GETITEM, SET, CALL and DEL requests of the kernel's Office.js
proxies over a `Workbook` with Office.js names, computes cell formulas that call workbook
functions (custom function calls), runs streaming cells and calls change handlers back. Attach
it to the development Business Layer with `DevBusinessLayer.attach_addin(workbook_id, addin)`.
"""

from .addin import DevAddin
from .addresses import AddressError, Rect, format_address, parse_address
from .formulas import CellError, FormulaError, parse_formula
from .workbook import Change, Workbook, WorkbookError, Worksheet, render

__all__ = [
    "AddressError",
    "CellError",
    "Change",
    "DevAddin",
    "FormulaError",
    "Rect",
    "Workbook",
    "WorkbookError",
    "Worksheet",
    "format_address",
    "parse_address",
    "parse_formula",
    "render",
]
