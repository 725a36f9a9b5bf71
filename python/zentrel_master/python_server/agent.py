"""The workbook agent: keeps the user package's workbook objects for the kernel."""

from __future__ import annotations

from typing import Any

__all__ = ["Agent"]


class Agent:
    """Holds the `excel` and `context` objects the kernel was started with."""

    def __init__(self, excel: Any, context: Any) -> None:
        self.excel = excel
        self.context = context

    def __repr__(self) -> str:
        return f"Agent(excel={self.excel!r}, context={self.context!r})"
