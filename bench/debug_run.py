"""Debug runs against plain runs and a bdb-based debugger, in one kernel process, one table.

Compute time of a CPU-bound function of an in-memory module (a loop of 1,000,000 iterations that
calls a small helper), measured inside the function, median of interleaved runs:
- plain: "run_module" without debug (the worksheet-function path);
- debug: "run_module" with debug and a breakpoint in a function that is never reached;
- bdb anchor: the same call under a debugger built on the standard library's `bdb` (the usual
  trace-based design) with the same breakpoint, run by an "execution_request".

Pause latency: from sending "debug_continue" to receiving the next "debug_paused" of a breakpoint
inside a loop (median and p95), next to the round trip of an inline request that the listener
answers at once ("get_object_registry") as the floor.
"""

from __future__ import annotations

import argparse
import asyncio
import statistics
import time
from typing import Any

from zentrel_master.business_layer.dev_server import DevBusinessLayer, KernelSession

__all__ = ["main"]

TIMEOUT = 120.0
ITERATIONS = 1_000_000
RUNS = 7
BDB_RUNS = 3
PAUSES = 200

MODULE = "bench_debug"
SOURCE = '''\
import time

def square(v):
    return v * v

def work(n):
    start = time.perf_counter()
    total = 0
    for i in range(n):
        total += square(i)
    return time.perf_counter() - start

def unreached():
    return "never"

def paused_loop(n):
    total = 0
    for i in range(n):
        total += i
    return total
'''
UNREACHED_LINE = SOURCE.splitlines().index('    return "never"') + 1
LOOP_LINE = SOURCE.splitlines().index("        total += i") + 1

# The console shows the value of what follows the first "; ": the call.
BDB_CODE = f'''\
import bdb
import {MODULE}

class _Anchor(bdb.Bdb):
    def user_line(self, frame):
        self.set_continue()

_anchor = _Anchor()
_anchor.set_break("<virtual:{MODULE}>", {UNREACHED_LINE}); _anchor.runcall({MODULE}.work, {{n}})
'''


async def until(session: KernelSession, *kinds: str) -> dict[str, Any]:
    while True:
        message = await session.receive(TIMEOUT)
        if message.get("type") in kinds:
            return message


def run_module(debug: bool, function: str, n: int, breakpoints: list[Any]) -> dict[str, Any]:
    return {"type": "run_module", "module_name": MODULE, "function_name": function,
            "args": [{"type": "Int", "value": n, "isSpec": False}], "debug": debug,
            "breakpoints": breakpoints, "request_id": "bench", "workbook_id": "bench"}


async def plain_seconds(kernel: KernelSession, n: int) -> float:
    await kernel.send(run_module(False, "work", n, []))
    reply = await until(kernel, "function_execution_result")
    assert reply["status"] == "success", reply
    return float(reply["result"]["value"])


async def debug_seconds(kernel: KernelSession, n: int) -> float:
    await kernel.send(run_module(True, "work", n, [{"module": MODULE, "line": UNREACHED_LINE}]))
    shown = await until(kernel, "result_output", "execution_error", "debug_exception")
    assert shown["type"] == "result_output", shown
    await until(kernel, "debug_terminated")
    return float(shown["content"].removeprefix("Out: "))


async def bdb_seconds(kernel: KernelSession, n: int) -> float:
    await kernel.send({"type": "execution_request", "code": BDB_CODE.format(n=n),
                       "request_id": "bdb"})
    reply = await until(kernel, "execution_result", "execution_error")
    assert reply["type"] == "execution_result", reply
    return float(reply["result"])


async def pause_latencies(kernel: KernelSession, count: int) -> list[float]:
    await kernel.send(run_module(True, "paused_loop", count * 10,
                                 [{"module": MODULE, "line": LOOP_LINE}]))
    await until(kernel, "debug_paused")
    timings = []
    for _ in range(count):
        start = time.perf_counter()
        await kernel.send({"type": "debug_continue"})
        await until(kernel, "debug_paused")
        timings.append((time.perf_counter() - start) * 1000)
    await kernel.send({"type": "debug_update_breakpoints", "breakpoints": []})
    await kernel.send({"type": "debug_continue"})
    await until(kernel, "debug_terminated")
    return timings


async def floor_latencies(kernel: KernelSession, count: int) -> list[float]:
    timings = []
    for _ in range(count):
        start = time.perf_counter()
        await kernel.send({"type": "get_object_registry"})
        await until(kernel, "object_registry_response")
        timings.append((time.perf_counter() - start) * 1000)
    return timings


async def measure(iterations: int, runs: int, pauses: int) -> None:
    server = DevBusinessLayer(kernel_log_level="WARNING")
    await server.start()
    try:
        kernel = await server.launch_kernel("bench-debug", timeout=TIMEOUT, log_level="WARNING")
        await kernel.send({"type": "update_module", "module_name": MODULE, "code": SOURCE})
        await until(kernel, "module_updated")
        kinds = (("plain run_module", plain_seconds),
                 ("debug run, unreached breakpoint", debug_seconds),
                 ("bdb debugger (anchor)", bdb_seconds))
        rows: list[tuple[str, list[float]]] = [(name, []) for name, _ in kinds]
        for _, measure_one in kinds:
            await measure_one(kernel, iterations // 10)  # warm-up
        # Interleaved rounds, so that a change of the machine's load hits every kind alike; the
        # slow anchor runs in fewer rounds.
        for round_number in range(runs):
            for (_, seconds), (_, measure_one) in zip(rows, kinds, strict=True):
                if measure_one is not bdb_seconds or round_number < BDB_RUNS:
                    seconds.append(await measure_one(kernel, iterations))
        floor = await floor_latencies(kernel, pauses)
        paused = await pause_latencies(kernel, pauses)
        await kernel.shutdown(TIMEOUT)
    finally:
        await server.stop()

    plain = statistics.median(rows[0][1])
    print(f"Compute time of a {iterations:,}-iteration loop calling a helper, measured inside the "
          f"function, median of {runs} interleaved runs ({min(runs, BDB_RUNS)} for bdb)")
    print(f"{'run':<34}{'median s':>10}{'x plain':>9}")
    for name, seconds in rows:
        median = statistics.median(seconds)
        print(f"{name:<34}{median:>10.3f}{median / plain:>9.2f}")
    print()
    print(f"Pause latency over {pauses} pauses (ms)")
    print(f"{'':<34}{'median':>10}{'p95':>9}")
    for name, timings in (("inline request round trip (floor)", floor),
                          ("debug_continue -> debug_paused", paused)):
        ordered = sorted(timings)
        p95 = ordered[max(0, int(len(ordered) * 0.95) - 1)]
        print(f"{name:<34}{statistics.median(ordered):>10.3f}{p95:>9.3f}")


def main() -> None:
    """Run the measurement and print the table."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iterations", type=int, default=ITERATIONS)
    parser.add_argument("--runs", type=int, default=RUNS)
    parser.add_argument("--pauses", type=int, default=PAUSES)
    args = parser.parse_args()
    asyncio.run(measure(args.iterations, args.runs, args.pauses))


if __name__ == "__main__":
    main()
