"""An interactive console on the tour's workbook: your Python in a kernel, a live workbook.

Starts what `./run demo` starts (the development Business Layer, the development add-in over
examples/workbook/book.json, the workbook's kernel with its modules) and reads Python from you:
`context` and `excel` reach the workbook as in the add-in, and the workbook's modules import by
name. Lines starting with ":" are console commands (":help"). Ctrl-D leaves. Run it with
`./run console [BOOK.json]`.
"""

from __future__ import annotations

import argparse
import asyncio
import codeop
import shlex
import threading
from collections.abc import Coroutine
from pathlib import Path
from typing import Any, TypeVar

from demo import BOOK, DIM, ROOT, TIMEOUT, LiveWorkbook, open_workbook, paint, show_output

from zentrel_master.business_layer.dev_addin import parse_address, render

__all__ = ["main"]

T = TypeVar("T")

HELP = """\
Python runs in the workbook's kernel: try
    sheet = context.workbook.worksheets.getActiveWorksheet()
    [list(row) for row in sheet.getRange("A1:B2").values]
    sheet.getRange("C1").values = [["=finance.monthly_payment(B1, B2, B3)"]]
Console commands:
    :sheet [NAME] [RANGE]   show a sheet (default: the active one, its used range)
    :sheets                 list the sheets
    :edit ADDRESS VALUE     type VALUE into cells, as in the grid ("=m.f(A1, 2)" in quotes)
    :error ADDRESS          the text behind an error value
    :bind SHEET MODULE.FN   call MODULE.FN(event) when cells of SHEET change
    :save PATH | :load PATH the workbook as a JSON file
    :help                   this text
Ctrl-D (or :quit) leaves."""


class Backend:
    """The workbook's event loop on a thread of its own, so that input() can block."""

    def __init__(self, book: Path) -> None:
        self.loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self.loop.run_forever, name="workbook",
                                        daemon=True)
        self._thread.start()
        self._context = open_workbook(book)
        self.live: LiveWorkbook = self.call(self._context.__aenter__(), TIMEOUT * 2)

    def call(self, coroutine: Coroutine[Any, Any, T], timeout: float | None = None) -> T:
        return asyncio.run_coroutine_threadsafe(coroutine, self.loop).result(timeout)

    def on_loop(self, action: Any) -> Any:
        async def run() -> Any:
            return action()

        return self.call(run(), TIMEOUT)

    def close(self) -> None:
        try:
            self.call(self._context.__aexit__(None, None, None), TIMEOUT)
        finally:
            self.loop.call_soon_threadsafe(self.loop.stop)
            self._thread.join(TIMEOUT)
            self.loop.close()


def command(backend: Backend, line: str) -> bool:
    """Run one ":" command; False when the console should end."""
    words = shlex.split(line[1:])
    name, args = (words[0], words[1:]) if words else ("help", [])
    addin = backend.live.addin
    if name in ("quit", "exit", "q"):
        return False
    if name == "sheets":
        names = backend.on_loop(lambda: [s.name for s in addin.workbook.sheets])
        print("  " + ", ".join(names))
    elif name == "sheet":
        sheet_name = args[0] if args else None
        rect = parse_address(args[1])[1] if len(args) > 1 else None
        print(backend.on_loop(lambda: render(addin.workbook.sheet(sheet_name), rect)))
    elif name == "edit" and len(args) == 2:
        value: Any = args[1]
        try:
            value = float(value) if "." in value or "e" in value.lower() else int(value)
        except ValueError:
            pass
        backend.on_loop(lambda: addin.edit(args[0], value))
        backend.call(addin.settled(TIMEOUT), TIMEOUT * 2)
    elif name == "bind" and len(args) == 2 and "." in args[1]:
        module, _, function = args[1].rpartition(".")
        backend.on_loop(lambda: addin.workbook.bind_event(args[0], module, function))
    elif name == "error" and len(args) == 1:
        print("  " + str(backend.on_loop(lambda: addin.error_text(args[0]))))
    elif name == "save" and len(args) == 1:
        backend.on_loop(lambda: addin.save(args[0]))
    elif name == "load" and len(args) == 1:
        backend.on_loop(lambda: addin.load(args[0]))
        backend.call(addin.calculate(), TIMEOUT)
    else:
        print(HELP)
    return True


def read_statement() -> str:
    """One complete statement from the user, over several lines when needed (EOFError at
    Ctrl-D)."""
    lines = [input(">>> ")]
    while True:
        source = "\n".join(lines)
        try:
            if codeop.compile_command(source, "<console>", "single") is not None:
                return source
        except (SyntaxError, ValueError, OverflowError):
            return source  # the kernel reports it
        lines.append(input("... "))


def show_events(backend: Backend, handled: int) -> None:
    """Print what event handlers printed (and their errors) since `handled` replies."""
    replies = backend.on_loop(lambda: backend.live.addin.event_replies[handled:])
    for reply in replies:
        error = reply.get("error") or ""
        if isinstance(error, dict):
            error = f"{error.get('type')}: {error.get('message')}"
        logs = reply.get("logs") or ""
        text = (logs if str(error).strip() in logs else logs + str(error)).rstrip()
        print(paint(f"[{reply['type']}] {text}", DIM))


def repl(backend: Backend) -> None:
    while True:
        try:
            source = read_statement()
        except KeyboardInterrupt:
            print("\nKeyboardInterrupt")
            continue
        except EOFError:
            print()
            return
        if not source.strip():
            continue
        handled = len(backend.live.addin.event_replies)
        try:
            if source.lstrip().startswith(":"):
                if not command(backend, source.strip()):
                    return
            else:
                messages = backend.call(backend.live.run(source), TIMEOUT * 10)
                show_output(messages, prefix="", tracebacks=True)
                # Cells that follow what the code wrote are computed before the next prompt.
                backend.call(backend.live.addin.settled(TIMEOUT), TIMEOUT * 2)
            show_events(backend, handled)
        except KeyboardInterrupt:
            print("\nKeyboardInterrupt (the statement may still be running in the kernel)")
        except (ValueError, KeyError, OSError, TimeoutError) as error:
            print(f"console: {error}")


def main() -> None:
    """Open the console."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("book", nargs="?", type=Path, default=BOOK)
    book = parser.parse_args().book
    if not book.is_file():
        parser.error(f"no workbook file {book}")
    try:
        import readline

        history = ROOT / ".venv" / "console_history"
        if history.exists():
            readline.read_history_file(history)
    except (ImportError, OSError):
        readline = None  # type: ignore[assignment]
    print(f"Starting a kernel for {book} ...")
    backend = Backend(book)
    print("Python in the workbook's kernel; ':help' for commands, Ctrl-D to leave.")
    try:
        repl(backend)
    finally:
        backend.close()
        if readline is not None and history.parent.exists():
            readline.write_history_file(history)


if __name__ == "__main__":
    main()
