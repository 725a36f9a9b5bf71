"""The user package: what Python code in a workbook imports to reach the workbook.

`excel` and `context` are the root proxies of the workbook's Office.js object model (the
`Excel` namespace and the request context): every attribute read, assignment, item read and call
on them, or on any proxy reached through them, is answered by the add-in before the code goes on.
`messaging` and `Serializer` come from the native `office_proxy` module. The object keeper
functions keep Python objects alive in the running kernel between runs.
"""

from __future__ import annotations

from . import office_proxy
from .office_proxy import (
    Messaging,
    OfficeJsArray,
    OfficeJsDict,
    OfficeJsObject,
    Serializer,
    messaging,
)

# `typing` costs more to import than this whole package: names only for type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
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

#: The Office.js `Excel` namespace (proxy id 1), e.g. ``excel.ChartType``.
excel: OfficeJsObject = office_proxy.Excel
#: The request context (proxy id 0), e.g. ``context.workbook.worksheets.getActiveWorksheet()``.
#: Both stay usable when the kernel resets its messaging context.
context: OfficeJsObject = office_proxy.Context

#: The running kernel; set on connect and reset to None on disconnect.
_kernel_instance: Any = None


def _kernel() -> Any:
    """The running kernel, or RuntimeError when the package is used outside one."""
    kernel = _kernel_instance
    if kernel is None:
        raise RuntimeError("No kernel is running")
    return kernel


def save_object(key: str, obj: Any) -> None:
    """Keep `obj` in the kernel under `key` until cleared; the editor lists it."""
    return _kernel().save_object(key, obj)


def get_object(key: str) -> Any:
    """The object kept under `key`, or None."""
    return _kernel().get_object(key)


def clear_object(key: str) -> None:
    """Forget the object kept under `key` (unknown keys are fine)."""
    return _kernel().clear_object(key)


def clear_all_objects() -> None:
    """Forget every kept object."""
    return _kernel().clear_all_objects()


def get_object_registry() -> list[dict[str, str]]:
    """One {"key", "type", "repr"} description per kept object, in the order they were saved."""
    return _kernel().get_object_registry()


def set_enable_events(enable: bool) -> None:
    """Switch the workbook's event handling on or off."""
    return _kernel().set_enable_events(enable)


def show_message_box(
    message: str, title: str = "Zentrel", type: str = "Info"  # noqa: A002 - the kernel's name
) -> None:
    """Show a message box in the add-in ("Info", "Warning" or "Error")."""
    return _kernel().show_message_box(message, title, type)
