"""The main job: a Business Layer, one workbook's kernel, its modules, and a console session.

Starts the development Business Layer on 127.0.0.1, launches a kernel process for one workbook,
pushes the modules under examples/workbook/ into the kernel's memory ("update_module"), then sends
a few execution requests and prints what comes back as a console would: printed output, values
("Out: ...") and errors with their tracebacks. Run it with `./run demo`.
"""

from __future__ import annotations

import asyncio
import sys
import time
from pathlib import Path
from typing import Any

from zentrel_master.business_layer.dev_server import DevBusinessLayer, KernelSession

__all__ = ["main", "CONSOLE"]

WORKBOOK_ID = "demo-workbook"
WORKBOOK_DIR = Path(__file__).resolve().parent / "workbook"
TIMEOUT = 30.0

#: The console session: what a person types, in order.
CONSOLE = [
    "import finance, stats, report",
    "finance.monthly_payment(250_000, 0.035, 30)",
    "for month, interest, paid, left in finance.schedule(250_000, 0.035, 30):\n"
    "    print(f'month {month}: interest {interest:8.2f}  principal {paid:8.2f}  left {left:,.2f}')",
    "amounts = [1200.5, 980.0, 1430.25, 1010.75]; stats.summary(amounts)",
    "report.print_report(amounts)",
    "import sys; print('warning: about to fail', file=sys.stderr)",
    "finance.monthly_payment(10_000, 0.05, 0)",
    "s = 'a; b'; s.split('; ')",
    "sys.exit(3)",
    "len(amounts)",
]

DIM, BOLD, RED, GREEN, RESET = "\033[2m", "\033[1m", "\033[31m", "\033[32m", "\033[0m"


def _paint(text: str, style: str) -> str:
    return f"{style}{text}{RESET}" if sys.stdout.isatty() else text


async def _until(session: KernelSession, kinds: set[str]) -> list[dict[str, Any]]:
    """Every message up to and including the first whose type is in `kinds`."""
    seen = []
    while True:
        message = await session.receive(TIMEOUT)
        seen.append(message)
        if message.get("type") in kinds:
            return seen


async def _push_modules(session: KernelSession) -> None:
    for path in sorted(WORKBOOK_DIR.glob("*.py")):
        await session.send(
            {"type": "update_module", "module_name": path.stem, "code": path.read_text()}
        )
        reply = (await _until(session, {"module_updated", "error"}))[-1]
        print(_paint(f"  pushed module {path.stem!r} -> {reply['type']}", DIM))


def _show(number: int, code: str, messages: list[dict[str, Any]], elapsed_ms: float) -> None:
    lines = code.splitlines()
    print(_paint(f"In [{number}]: ", GREEN) + lines[0])
    for line in lines[1:]:
        print(" " * (len(f"In [{number}]: ") - 5) + "...: " + line)
    for message in messages:
        kind = message["type"]
        if kind == "stdout":
            sys.stdout.write(message["content"])
        elif kind == "stderr":
            sys.stdout.write(_paint(message["content"], RED))
        elif kind == "result_output":
            sys.stdout.write(_paint(message["content"], BOLD))
        elif kind == "execution_error":
            error = message["error"]
            sys.stdout.write(_paint(error["traceback"], RED))
    print(_paint(f"   ({elapsed_ms:.1f} ms)", DIM))
    print()


async def _session() -> None:
    server = DevBusinessLayer(kernel_log_level="WARNING")
    await server.start()
    print(f"Business Layer listening on ws://127.0.0.1:{server.port}/ws/kernel/{WORKBOOK_ID}")
    session = await server.launch_kernel(WORKBOOK_ID, timeout=TIMEOUT)
    assert session.process is not None
    print(f"kernel process {session.process.pid} connected for workbook {WORKBOOK_ID!r}")
    try:
        await _push_modules(session)
        print()
        for number, code in enumerate(CONSOLE, start=1):
            started = time.perf_counter()
            await session.send(
                {"type": "execution_request", "code": code, "request_id": f"demo-{number}"}
            )
            messages = await _until(session, {"execution_result", "execution_error"})
            _show(number, code, messages, (time.perf_counter() - started) * 1000)
    finally:
        status = await session.shutdown(TIMEOUT)
        await server.stop()
    print(_paint(f"kernel shut down (exit status {status})", DIM))


def main() -> None:
    """Run the demo session."""
    asyncio.run(_session())


if __name__ == "__main__":
    main()
