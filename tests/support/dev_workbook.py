"""A kernel process whose workbook is the development add-in: the test's face of both."""

from __future__ import annotations

import asyncio
from typing import Any

from zentrel_master.business_layer.dev_addin import DevAddin, parse_address

from .business_layer import Session, ThreadedBusinessLayer
from .console import Console
from .timing import units

__all__ = ["Book"]


class Book:
    """The add-in, the kernel session and a console over it, driven from the test's thread."""

    def __init__(self, layer: ThreadedBusinessLayer, addin: DevAddin, session: Session) -> None:
        self.layer, self.addin, self.session = layer, addin, session
        self.console = Console(session)

    def run(self, code: str) -> dict[str, Any]:
        """Run `code` in the kernel; return its final message (checked to be a success)."""
        final = self.console.run(code)[-1]
        assert final["type"] == "execution_result", final
        return final

    def failure(self, code: str) -> dict[str, Any]:
        """Run `code` that must fail; return the error record."""
        final = self.console.run(code)[-1]
        assert final["type"] == "execution_error", final
        return final["error"]

    def push(self, name: str, code: str) -> None:
        reply = self.console.exchange({"type": "update_module", "module_name": name, "code": code})
        assert reply["type"] == "module_updated", reply

    def on_loop(self, action: Any) -> Any:
        """Run `action()` on the Business Layer's loop (where the add-in lives)."""

        async def run() -> Any:
            return action()

        return self.layer.call(run())

    def edit(self, address: str, value: Any) -> None:
        """Type into the grid and wait for recalculation and events."""
        self.on_loop(lambda: self.addin.edit(address, value))
        self.settle()

    def settle(self) -> None:
        self.layer.call(self.addin.settled(units()), units(2))

    def value(self, address: str) -> Any:
        sheet, rect = parse_address(address)
        return self.on_loop(lambda: self.addin.workbook.sheet(sheet).value(rect.top, rect.left))

    def wait_for(self, predicate: Any) -> None:
        """Wait (on the add-in's loop) until `predicate()` holds after some workbook change."""

        async def run() -> None:
            changed = asyncio.Event()
            undo = self.addin.workbook.subscribe(lambda change: changed.set())
            try:
                while not predicate():
                    await changed.wait()
                    changed.clear()
            finally:
                undo()

        self.layer.call(asyncio.wait_for(run(), units()), units(2))
