"""Kernel process launcher: `python -m zentrel_master.python_server.launcher WORKBOOK_ID PORT`.

Runs the kernel's `main(workbook_id, port)` on a new event loop and ends the process with status 0
once the kernel has torn down. The process ends at once even while user code still runs on a
worker thread: the pool's threads would otherwise keep a kernel whose connection is gone alive.
Because that immediate exit skips every finaliser, the kernel's teardown (which removes the
editor's temporary directory with the workbook's module sources) runs on every way out first:
a normal end, an error, an interrupt and a SIGTERM.
"""

from __future__ import annotations

import argparse
import asyncio
import logging
import os
import select
import selectors
import signal
import sys
import traceback
from typing import Any

__all__ = ["run_kernel", "main"]


def _parse(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="python -m zentrel_master.python_server.launcher",
        description="Run the kernel of one workbook against the Business Layer on PORT.",
    )
    parser.add_argument("workbook_id", help="the workbook this kernel serves")
    parser.add_argument("port", help="port of the Business Layer on 127.0.0.1")
    parser.add_argument(
        "--log-level",
        default="INFO",
        choices=["DEBUG", "INFO", "WARNING", "ERROR"],
        help="level of the kernel's log on standard error (default INFO)",
    )
    return parser.parse_args(argv)


class _KernelEpoll:
    """The selector's epoll object, polled through the kernel: a worker whose "sys_response" the
    listener took during the loop's turn is woken once the loop has let go of the interpreter
    lock, so it does not wake only to sleep again on that lock; and workers wake the loop through
    this poll once they have let go of it."""

    def __init__(self, epoll: select.epoll, poll: Any) -> None:
        self._epoll = epoll
        self._poll = poll
        self.register = epoll.register
        self.modify = epoll.modify
        self.unregister = epoll.unregister
        self.fileno = epoll.fileno
        self.close = epoll.close

    def poll(self, timeout: float | None = None, maxevents: int = -1) -> list[tuple[int, int]]:
        return self._poll(self._epoll.fileno(), timeout, maxevents)


def _new_loop(kernel: Any) -> tuple[asyncio.AbstractEventLoop, bool]:
    """The kernel's event loop, and whether it polls through the kernel (where the platform has
    epoll). Only such a loop may hold woken waiters back until it polls."""
    if not hasattr(selectors, "EpollSelector"):
        return asyncio.new_event_loop(), False
    selector = selectors.EpollSelector()
    selector._selector = _KernelEpoll(selector._selector, kernel._poll_releasing)  # type: ignore[attr-defined]
    return asyncio.SelectorEventLoop(selector), True


def run_kernel(workbook_id: str, port: str) -> None:
    """Run `main(workbook_id, port)` to completion on a new event loop."""
    from zentrel_master.python_server import kernel

    loop, polls_through_kernel = _new_loop(kernel)
    asyncio.set_event_loop(loop)
    kernel._hold_until_release(polls_through_kernel, loop)
    main_task = loop.create_task(kernel.main(workbook_id, port))
    # A SIGTERM ends the kernel like a closed connection: through its teardown.
    loop.add_signal_handler(signal.SIGTERM, main_task.cancel)
    try:
        loop.run_until_complete(main_task)
    except asyncio.CancelledError:
        if not main_task.cancelled():
            raise
    finally:
        try:
            loop.remove_signal_handler(signal.SIGTERM)
            _finish_tasks(loop)
        finally:
            kernel._hold_until_release(False)
            asyncio.set_event_loop(None)
            loop.close()


def _finish_tasks(loop: asyncio.AbstractEventLoop) -> None:
    """Cancel and finish every task still pending, the kernel's own included.

    After an interrupt the kernel's task is still pending: cancelling it runs its teardown. The
    background tasks (user work the kernel started) end with the kernel.
    """
    pending = [task for task in asyncio.all_tasks(loop) if not task.done()]
    for task in pending:
        task.cancel()
    if pending:
        loop.run_until_complete(asyncio.gather(*pending, return_exceptions=True))
    loop.run_until_complete(loop.shutdown_asyncgens())


def _flush() -> None:
    """Flush every log handler and the interpreter's own streams."""
    logging.shutdown()
    for stream in (sys.stdout, sys.stderr, sys.__stdout__, sys.__stderr__):
        try:
            if stream is not None:
                stream.flush()
        except Exception:  # noqa: BLE001 - a broken pipe must not change the exit status
            pass


def main(argv: list[str] | None = None) -> None:
    """Entry point of the kernel process; never returns."""
    args = _parse(sys.argv[1:] if argv is None else argv)
    from zentrel_master.logging_config import setup_logging_subprocess

    # Configure before the kernel module's own call, which then keeps this level.
    setup_logging_subprocess(getattr(logging, args.log_level))
    status = 0
    try:
        run_kernel(args.workbook_id, args.port)
    except BaseException:  # noqa: BLE001 - report and leave with a failure status
        traceback.print_exc(file=sys.__stderr__)
        status = 1
    _flush()
    # Worker threads may still run user code; they must not hold the process open.
    os._exit(status)


if __name__ == "__main__":
    main()
