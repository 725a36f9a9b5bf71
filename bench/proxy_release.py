"""Decoding a range read and dropping it, in a kernel process against an add-in that answers.

Run: ./run bench proxy_release
A 1000x20 mixed table arrives as the add-in sends it (every row array with an id) and is decoded
by `Serializer.from_wire`, then dropped: every array's release goes to the add-in. The baseline
is bench/wire_baseline.py loaded into the same kernel as a workbook module: the same rules in
plain Python, its release waiting for the answer. Two figures per side, ns per cell:
- decode + drop: time on the user's thread (best of several);
- loop of reads: a user loop over ranges, timed until its releases have all been answered.
"""

from __future__ import annotations

import asyncio
from pathlib import Path
from typing import Any

from zentrel_master.business_layer.dev_server import DevBusinessLayer

__all__ = ["main"]

TIMEOUT = 300.0
CELLS = 1000 * 20

MEASURE = """
import time, zentrel, wire_baseline as B
wire = B.with_ids(zentrel.Serializer.to_wire(B.mixed_table()))
k = zentrel._kernel_instance
def settle():
    end = time.monotonic() + 120
    while k._response_futures and time.monotonic() < end:
        time.sleep(0.001)
def once(decode):
    settle()
    t = time.perf_counter()
    x = decode(wire)
    del x
    return time.perf_counter() - t
def loop(decode, n):
    settle()
    t = time.perf_counter()
    for _ in range(n):
        x = decode(wire)
        del x
    zentrel.excel.version  # sent after every release of the loop
    settle()
    return (time.perf_counter() - t) / n
ours = zentrel.Serializer.from_wire
base = B.PySerializer.from_wire
figures = [min(once(ours) for _ in range({runs})), min(once(base) for _ in range(3)),
           loop(ours, {loops}), loop(base, 3)]; figures
"""


def answer(payload: dict[str, Any]) -> dict[str, Any]:
    """The add-in: every request succeeds at once."""
    return {"ok": True, "result": {"type": "Null", "value": None, "isSpec": False}}


async def final(session: Any, request_id: str) -> dict[str, Any]:
    while True:
        message = await session.receive(TIMEOUT)
        if message.get("request_id") == request_id and message["type"] in (
                "execution_result", "execution_error"):
            return message


async def measure(runs: int, loops: int) -> list[float]:
    server = DevBusinessLayer(addin_handler=answer)
    await server.start()
    try:
        kernel = await server.launch_kernel("bench-release", timeout=60, log_level="WARNING")
        source = (Path(__file__).parent / "wire_baseline.py").read_text(encoding="utf-8")
        await kernel.send({"type": "update_module", "module_name": "wire_baseline",
                           "code": source})
        await kernel.send({"type": "execution_request", "request_id": "m", "function_name": "bench",
                           "code": MEASURE.format(runs=runs, loops=loops)})
        message = await final(kernel, "m")
        await kernel.shutdown(TIMEOUT)
    finally:
        await server.stop()
    if message["type"] != "execution_result":
        raise SystemExit(f"measurement failed: {message}")
    if not isinstance(message.get("result"), list):
        raise SystemExit(f"measurement failed: {message}")
    return message["result"]


def main() -> None:
    """Run the measurement and print the table."""
    ours_drop, base_drop, ours_loop, base_loop = asyncio.run(measure(runs=7, loops=20))
    print("1000x20 table with ids, from_wire then dropped, in a kernel (ns per cell)")
    print(f"{'case':<40}{'ours':>10}{'python':>12}{'speed-up':>10}")
    for name, ours, base in (("decode + drop (user's thread)", ours_drop, base_drop),
                             ("loop of reads, releases answered", ours_loop, base_loop)):
        print(f"{name:<40}{ours / CELLS * 1e9:>10.0f}{base / CELLS * 1e9:>12.0f}"
              f"{base / ours:>9.1f}x")


if __name__ == "__main__":
    main()
