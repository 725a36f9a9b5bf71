"""Execution requests through the real Business Layer against a bare echo, one run, one table.

Latency: from sending an "execution_request" to receiving its "execution_result", for `1 + 1`
and for `print("x")`, median and p95 over 2,000 requests each, against the floor measured in the
same run: a bare `websockets` client process connected to the same Business Layer as a kernel
would be, echoing each frame back (the same server, the same receive path, one round trip).

Output rate: "stdout" messages per second for a loop printing 10,000 short lines (each `print`
writes its text and its line end: 20,000 messages), against a bare client process sending the
same number of small frames to the same server.
"""

from __future__ import annotations

import argparse
import asyncio
import json
import statistics
import subprocess
import sys
import time
from typing import Any

import websockets

from zentrel_master.business_layer.dev_server import DevBusinessLayer, KernelSession

__all__ = ["main"]

REQUESTS = 2000
WARMUP = 200
LINES = 10_000
TIMEOUT = 60.0


async def echo_client(port: str, workbook_id: str, blast: int) -> None:
    """The bare peer: echoes every frame, or first sends `blast` small frames."""
    url = f"ws://127.0.0.1:{port}/ws/kernel/{workbook_id}"
    async with websockets.connect(url, max_size=None, compression=None, proxy=None) as ws:
        if blast:
            frame = json.dumps({"type": "stdout", "content": "1", "request_id": "b",
                                "workbook_id": workbook_id, "source": "ide"})
            await ws.recv()  # the go signal
            for _ in range(blast):
                await ws.send(frame)
            await ws.send(json.dumps({"type": "execution_result"}))
        async for frame in ws:
            await ws.send(frame)


async def start_peer(server: DevBusinessLayer, workbook_id: str, blast: int = 0) -> tuple[
    asyncio.subprocess.Process, KernelSession
]:
    session = server.expect(workbook_id)
    process = await asyncio.create_subprocess_exec(
        sys.executable, __file__, "--echo-client", str(server.port), workbook_id, str(blast)
    )
    await asyncio.wait_for(session.connected.wait(), TIMEOUT)
    return process, session


async def until_final(session: KernelSession) -> dict[str, Any]:
    while True:
        message = await session.receive(TIMEOUT)
        if message.get("type") in ("execution_result", "execution_error"):
            return message


async def round_trips(session: KernelSession, message: dict[str, Any], count: int) -> list[float]:
    """Milliseconds from sending `message` to receiving the final message, `count` times."""
    timings = []
    for _ in range(WARMUP + count):
        start = time.perf_counter()
        await session.send(message)
        await until_final(session)
        timings.append((time.perf_counter() - start) * 1000)
    return timings[WARMUP:]


def summary(timings: list[float]) -> tuple[float, float]:
    ordered = sorted(timings)
    return statistics.median(ordered), ordered[int(len(ordered) * 0.95) - 1]


async def measure(log_levels: list[str]) -> None:
    server = DevBusinessLayer()
    await server.start()
    try:
        echo_process, echo = await start_peer(server, "bench-echo")
        floor = await round_trips(echo, {"type": "execution_result", "request_id": "e"}, REQUESTS)
        await echo.connection.close()
        await echo_process.wait()

        rows = []
        for level in log_levels:
            kernel = await server.launch_kernel(f"bench-{level}", timeout=TIMEOUT, log_level=level)
            for code in ("1 + 1", 'print("x")'):
                timings = await round_trips(
                    kernel, {"type": "execution_request", "code": code, "request_id": "b"}, REQUESTS
                )
                rows.append((f"{code}  [log {level}]", summary(timings)))
            if level != log_levels[-1]:
                await kernel.shutdown(TIMEOUT)

        start = time.perf_counter()
        await kernel.send({"type": "execution_request", "request_id": "lines",
                           "code": f"for i in range({LINES}):\n    print(i)"})
        received = 0
        while True:
            message = await kernel.receive(TIMEOUT)
            if message["type"] == "stdout":
                received += 1
            elif message["type"] in ("execution_result", "execution_error"):
                break
        ours_rate = received / (time.perf_counter() - start)
        await kernel.shutdown(TIMEOUT)

        blast_process, blaster = await start_peer(server, "bench-blast", blast=received)
        start = time.perf_counter()
        await blaster.send({"type": "go"})
        await until_final(blaster)
        bare_rate = received / (time.perf_counter() - start)
        await blaster.connection.close()
        await blast_process.wait()
    finally:
        await server.stop()

    floor_median, floor_p95 = summary(floor)
    print(f"Execution requests through the dev Business Layer, {REQUESTS} requests each after "
          f"{WARMUP} warm-up (kernel log level in brackets: INFO writes two lines per request)")
    print(f"{'round trip':<30}{'median ms':>11}{'p95 ms':>9}{'x floor (median)':>19}")
    print(f"{'bare echo (floor)':<30}{floor_median:>11.3f}{floor_p95:>9.3f}{1.0:>19.2f}")
    for code, (median, p95) in rows:
        print(f"{code:<30}{median:>11.3f}{p95:>9.3f}{median / floor_median:>19.2f}")
    print()
    print(f"{'output messages':<30}{'per second':>11}{'x bare':>9}")
    print(f"{'bare client frames':<30}{bare_rate:>11.0f}{1.0:>9.2f}")
    print(f"{f'print loop ({received} msgs)':<30}{ours_rate:>11.0f}{ours_rate / bare_rate:>9.2f}")


def main() -> None:
    """Run the measurement and print the table."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--log-levels", default="WARNING,INFO",
                        help="kernel log levels to measure, comma-separated (default WARNING,INFO)")
    parser.add_argument("--requests", type=int, default=REQUESTS, help="round trips per row")
    parser.add_argument("--echo-client", nargs=3, metavar=("PORT", "WORKBOOK", "BLAST"))
    args = parser.parse_args()
    if args.echo_client:
        port, workbook_id, blast = args.echo_client
        asyncio.run(echo_client(port, workbook_id, int(blast)))
        return
    globals()["REQUESTS"] = args.requests
    asyncio.run(measure(args.log_levels.split(",")))


if __name__ == "__main__":
    main()
