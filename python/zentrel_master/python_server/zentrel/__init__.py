"""The user package: what Python code in a workbook imports to reach the workbook.

`messaging` and `Serializer` come from the native `office_proxy` module; `excel` and `context`
are built on its proxies; the object keeper functions persist Python objects in the running
kernel between calls.
"""

from __future__ import annotations

from typing import Any

__all__ = [
    "messaging",
    "Serializer",
    "excel",
    "context",
    "save_object",
    "get_object",
    "clear_object",
    "clear_all_objects",
    "get_object_registry",
    "set_enable_events",
    "show_message_box",
]

from . import office_proxy
from .office_proxy import *  # noqa: F401,F403  (re-exports whatever the bridge defines)

messaging: Any = getattr(office_proxy, "messaging", None)
Serializer: Any = getattr(office_proxy, "Serializer", None)
excel: Any = getattr(office_proxy, "Excel", None)
context: Any = getattr(office_proxy, "Context", None)

#: The running kernel; set on connect and reset to None on disconnect.
_kernel_instance: Any = None


def _kernel() -> Any:
    kernel = _kernel_instance
    if kernel is None:
        raise RuntimeError("No kernel is running")
    return kernel


def save_object(key: str, obj: Any) -> Any:
    """Keep `obj` in the kernel under `key` until cleared."""
    return _kernel().save_object(key, obj)


def get_object(key: str) -> Any:
    """The object kept under `key`."""
    return _kernel().get_object(key)


def clear_object(key: str) -> Any:
    """Forget the object kept under `key`."""
    return _kernel().clear_object(key)


def clear_all_objects() -> Any:
    """Forget every kept object."""
    return _kernel().clear_all_objects()


def get_object_registry() -> Any:
    """A description of every kept object."""
    return _kernel().get_object_registry()


def set_enable_events(enable: bool) -> Any:
    """Switch the workbook's events on or off."""
    return _kernel().set_enable_events(enable)


def show_message_box(message: str, title: str = "Zentrel", type: str = "Info") -> Any:  # noqa: A002
    """Show a message box in the workbook ("Info", "Warning" or "Error")."""
    return _kernel().show_message_box(message, title, type)
