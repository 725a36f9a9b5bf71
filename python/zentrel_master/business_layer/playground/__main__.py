"""`python -m zentrel_master.business_layer.playground`: serve the playground until Ctrl-C."""

from __future__ import annotations

import argparse
import asyncio
import signal
from pathlib import Path

from .server import Playground

__all__ = ["main"]

EXAMPLES = Path(__file__).resolve().parents[4] / "examples"


async def _serve(args: argparse.Namespace) -> None:
    try:
        playground = Playground(book=args.book, modules_dir=args.modules, index_dir=args.index,
                                port=args.port, kernel_log_level=args.log_level)
    except (OSError, ValueError) as error:
        raise SystemExit(f"cannot open the workbook {str(args.book)!r}: {error}") from None
    try:
        await playground.start()
        print(f"Playground on {playground.url}  (Ctrl-C ends it)", flush=True)
        ended = asyncio.Event()
        # A plain `kill` ends the kernel and its streams in order too.
        asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, ended.set)
        await ended.wait()
    finally:
        await playground.stop()


def main() -> None:
    """Start the playground on 127.0.0.1 and print its address."""
    parser = argparse.ArgumentParser(description=main.__doc__)
    parser.add_argument("--book", type=Path, default=EXAMPLES / "workbook" / "book.json",
                        help="workbook file to open (JSON)")
    parser.add_argument("--modules", type=Path, default=EXAMPLES / "workbook",
                        help="folder whose *.py files become the workbook's modules")
    parser.add_argument("--index", type=Path, default=EXAMPLES / "package_index",
                        help="local package index for the packages panel")
    parser.add_argument("--port", type=int, default=0, help="page port (0: a free one)")
    parser.add_argument("--log-level", default="WARNING", help="the kernel's log level")
    args = parser.parse_args()
    try:
        asyncio.run(_serve(args))
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
