"""The main job: a guided tour of the product, one workbook from end to end.

Starts the development Business Layer on 127.0.0.1 with the development add-in holding
examples/workbook/book.json, launches the workbook's kernel process, pushes the modules of
examples/workbook/ and then walks through what the product does: user code reading and writing
ranges, cells that call Python and follow their inputs, a streaming cell, event handlers,
editor assistance, an exit request the kernel survives, and a package resolution. Each step
prints its timing. Run it with `./run demo`; `./run console` opens the same workbook
interactively (examples/console.py).
"""

from __future__ import annotations

import asyncio
import subprocess
import sys
import tempfile
import time
from collections.abc import Iterator
from contextlib import asynccontextmanager, contextmanager
from pathlib import Path
from typing import Any

from zentrel_master.business_layer.dev_addin import DevAddin, parse_address, render
from zentrel_master.business_layer.dev_server import DevBusinessLayer, KernelSession

__all__ = ["LiveWorkbook", "main", "open_workbook", "show_output"]

ROOT = Path(__file__).resolve().parent.parent
WORKBOOK_DIR = ROOT / "examples" / "workbook"
BOOK = WORKBOOK_DIR / "book.json"
WORKBOOK_ID = "demo-workbook"
TIMEOUT = 30.0

DIM, BOLD, RED, GREEN, RESET = "\033[2m", "\033[1m", "\033[31m", "\033[32m", "\033[0m"


def paint(text: str, style: str) -> str:
    return f"{style}{text}{RESET}" if sys.stdout.isatty() else text


def indent(text: str, prefix: str = "   ") -> str:
    return "\n".join(prefix + line for line in text.splitlines())


class LiveWorkbook:
    """A running kernel and its workbook: the Business Layer, the session and the add-in."""

    def __init__(self, server: DevBusinessLayer, session: KernelSession, addin: DevAddin) -> None:
        self.server, self.session, self.addin = server, session, addin
        self._numbers = iter(range(1, 1_000_000))

    async def run(self, code: str) -> list[dict[str, Any]]:
        """Run `code` in the kernel; its messages up to the final one (others are skipped)."""
        request_id = f"in-{next(self._numbers)}"
        await self.session.send({"type": "execution_request", "code": code,
                                 "request_id": request_id})
        return await self.replies(request_id, {"execution_result", "execution_error"})

    async def ask(self, message: dict[str, Any], final: str) -> dict[str, Any]:
        """Send an editor request; its reply."""
        request_id = f"ask-{next(self._numbers)}"
        await self.session.send({**message, "request_id": request_id})
        return (await self.replies(request_id, {final}))[-1]

    async def replies(self, request_id: str, finals: set[str]) -> list[dict[str, Any]]:
        seen = []
        while True:
            message = await self.session.receive(TIMEOUT)
            if message.get("request_id") != request_id:
                continue
            seen.append(message)
            if message.get("type") in finals:
                return seen

    def grid(self, sheet: str) -> str:
        return render(self.addin.workbook.sheet(sheet))

    def value(self, address: str) -> Any:
        sheet, rect = parse_address(address)
        return self.addin.workbook.sheet(sheet).value(rect.top, rect.left)


def show_run(code: str, messages: list[dict[str, Any]]) -> None:
    """Print a run as a console does: the input, printed output, the value or the error."""
    lines = code.splitlines()
    print("   " + paint(">>> ", GREEN) + lines[0])
    for line in lines[1:]:
        print("   " + paint("... ", GREEN) + line)
    show_output(messages)


def show_output(messages: list[dict[str, Any]], prefix: str = "   ",
                tracebacks: bool = False) -> None:
    """Print what a run printed, then its value and its error (last line, or the traceback)."""
    printed = "".join(m["content"] for m in messages if m["type"] in ("stdout", "stderr"))
    if printed:
        print(indent(printed, prefix))
    for message in messages:
        if message["type"] == "result_output":
            print(indent(paint(message["content"].rstrip("\n"), BOLD), prefix))
        elif message["type"] == "execution_error":
            text = message["error"]["traceback"].strip()
            print(indent(paint(text if tracebacks else text.splitlines()[-1], RED), prefix))


@asynccontextmanager
async def open_workbook(book: Path = BOOK, log_level: str = "WARNING") -> Any:
    """A Business Layer, the development add-in over `book`, and a kernel with the workbook's
    modules; everything is shut down on leaving."""
    addin = DevAddin.from_file(book)
    server = DevBusinessLayer(kernel_log_level=log_level)
    await server.start()
    server.attach_addin(WORKBOOK_ID, addin)
    session = await server.launch_kernel(WORKBOOK_ID, timeout=TIMEOUT)
    live = LiveWorkbook(server, session, addin)
    try:
        for path in sorted(WORKBOOK_DIR.glob("*.py")):
            await session.send({"type": "update_module", "module_name": path.stem,
                                "code": path.read_text()})
        await addin.calculate()
        yield live
    finally:
        await addin.close()
        await server.stop()


@contextmanager
def step(number: int, title: str) -> Iterator[None]:
    print(paint(f"{number}. {title}", BOLD))
    started = time.perf_counter()
    yield
    print(paint(f"   ({(time.perf_counter() - started) * 1000:.1f} ms)", DIM))
    print()


async def tour() -> None:
    print(paint("A tour of zentrel_master: Python in a live workbook", BOLD))
    print()
    print(paint("1. A Business Layer, a kernel process and the development add-in", BOLD))
    started = time.perf_counter()
    async with open_workbook() as live:
        assert live.session.process is not None
        print(f"   kernel process {live.session.process.pid} serves workbook "
              f"{WORKBOOK_ID!r} at ws://127.0.0.1:{live.server.port}")
        modules = ", ".join(p.stem for p in sorted(WORKBOOK_DIR.glob("*.py")))
        print(f"   workbook {BOOK.relative_to(ROOT)}: sheets "
              + ", ".join(s.name for s in live.addin.workbook.sheets)
              + f"; modules pushed: {modules}")
        print(paint(f"   ({(time.perf_counter() - started) * 1000:.1f} ms)", DIM))
        print()
        await _tour_steps(live)
    print(paint("kernel shut down; tour over. Try `./run console` next.", DIM))


async def _tour_steps(live: LiveWorkbook) -> None:
    with step(2, "User code reads and writes ranges (every access is a request to the add-in)"):
        code = ('loan = context.workbook.worksheets.getItem("Loan")\n'
                'for row in loan.getRange("A1:B3").values:\n'
                '    print(list(row))\n'
                'loan.getRange("D1:E3").values = [["Quarter", "Sales"], ["Q1", 1200.5], '
                '["Q2", 980]]\n'
                'loan.getRange("D1:E1").format.font.bold = True\n'
                'print(loan.getUsedRange().address)')
        show_run(code, await live.run(code))
        print(indent(live.grid("Loan")))

    with step(3, "A cell calls a workbook function; changing its input recomputes it"):
        print(f"   B4 = {live.addin.workbook.sheet('Loan').cells[(3, 1)].formula}")
        before = live.value("Loan!B4")
        code = 'loan.getRange("B3").values = [[15]]'
        show_run(code, await live.run(code))
        await live.addin.settled(TIMEOUT)
        print(f"   B4 (payment) {before:,.2f} -> {live.value('Loan!B4'):,.2f}; "
              f"B5 (total) follows: {live.value('Loan!B5'):,.0f}")

    with step(4, "A failing function shows an error value, with its text kept"):
        code = 'loan.getRange("B3").values = [[0]]'
        show_run(code, await live.run(code))
        await live.addin.settled(TIMEOUT)
        print(f"   B4 = {live.value('Loan!B4')}  ({live.addin.error_text('Loan!B4')})")
        await live.run('loan.getRange("B3").values = [[30]]')
        await live.addin.settled(TIMEOUT)

    with step(5, "A streaming cell: =STREAM(ticker.prices(B1, 0.15)) on sheet Market"):
        await _stream_step(live)

    with step(6, "Events: a handler bound in the workbook and a Python callable"):
        code = ('def remember(event):\n'
                '    market = context.workbook.worksheets.getItem("Market")\n'
                '    market.getRange("D1").values = [["changed: " + event.address]]\n'
                'handler = loan.onChanged.add(remember)')
        show_run(code, await live.run(code))
        print("   a person types 300000 into Loan!B1")
        earlier = len(live.addin.event_replies)
        live.addin.edit("Loan!B1", 300000)
        await live.addin.settled(TIMEOUT)
        for reply in live.addin.event_replies[earlier:]:
            ok = reply.get("status") == "success" or reply.get("success") is True
            logs = (reply.get("logs") or "").strip()
            print(f"   {reply['type']}: {'ok' if ok else 'failed'}"
                  + (f", printed {logs!r}" if logs else ""))
        print(f"   Market!D1 = {live.value('Market!D1')!r}; "
              f"Loan!B4 = {live.value('Loan!B4'):,.2f}")

    with step(7, "Editor assistance for a module being edited"):
        draft = "import finance\nfinance.mo"
        reply = await live.ask({"type": "completion_request", "code": draft, "line": 2,
                                "column": 10}, "completion_response")
        labels = [item["label"] for item in reply["completions"]]
        print(f"   completions after 'finance.mo': {labels}")
        draft = ("import os\nimport finance\n\ndef table(rows):\n"
                 "    return [finance.monthly_payment(r, 0.04, 10) for r in rowz]\n")
        reply = await live.ask({"type": "diagnostic_request", "code": draft,
                                "module_name": "draft"}, "diagnostic_response")
        for item in reply["diagnostics"]:
            print(f"   line {item['startLineNumber']}: {item['message']}")

    with step(8, "An exit request in user code leaves the kernel serving"):
        for code in ("kept = 41", "import sys; sys.exit(3)", "kept + 1"):
            show_run(code, await live.run(code))

    with step(9, "Package resolution from examples/package_index"):
        command = [sys.executable, "-m", "zentrel_master.business_layer.requirement_solver_cli",
                   "--index", str(ROOT / "examples" / "package_index"), "--ignore-installed",
                   "requests[socks]==2.31.0", "botocore==1.34.0"]
        print("   $ python -m zentrel_master.business_layer.requirement_solver_cli --index "
              "examples/package_index --ignore-installed 'requests[socks]==2.31.0' "
              "botocore==1.34.0")
        done = await asyncio.to_thread(subprocess.run, command, capture_output=True, text=True,
                                         check=False)
        print(indent(done.stdout.rstrip() or done.stderr.rstrip()))

    with step(10, "The workbook saved as JSON"):
        target = Path(tempfile.gettempdir()) / "zentrel-tour-book.json"
        live.addin.save(target)
        print(f"   {target} ({target.stat().st_size:,} bytes); Market sheet now:")
        print(indent(live.grid("Market")))


async def _stream_step(live: LiveWorkbook) -> None:
    started = time.perf_counter()
    updates = asyncio.Event()
    count = 0

    def on_change(change: Any) -> None:
        nonlocal count
        if change.kind == "calc" and change.sheet == "Market" and change.rect.top == 2:
            count += 1
            elapsed = (time.perf_counter() - started) * 1000
            print(f"   {elapsed:7.1f} ms  B2 = {live.value('Market!B2')!s:<14}"
                  f" B3 (=ROUND(B2*0.92, 2)) = {live.value('Market!B3')}")
            if count >= 6:
                updates.set()

    undo = live.addin.workbook.subscribe(on_change)
    live.addin.edit("Market!B2", "=STREAM(ticker.prices(B1, 0.15))")
    await live.addin.settled(TIMEOUT)
    [request_id] = live.addin.active_streams()
    await asyncio.wait_for(updates.wait(), TIMEOUT)
    undo()
    live.addin.edit("Market!B2", 0)
    closing = (await live.replies(request_id, {"streaming_function_result"}))[-1]
    while not closing.get("done"):
        closing = (await live.replies(request_id, {"streaming_function_result"}))[-1]
    print(f"   formula replaced by 0: the kernel closed the stream with {closing['result']!r}")
    await live.addin.settled(TIMEOUT)


def main() -> None:
    """Run the tour."""
    asyncio.run(tour())


if __name__ == "__main__":
    main()
