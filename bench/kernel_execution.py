"""Execution requests through the real Business Layer against a bare echo, one run, one table.

Latency: from sending an "execution_request" to receiving its "execution_result", for `1 + 1`
and for `print("x")`, median and p95 over 2,000 requests each, against the floor measured in the
same run: a bare `websockets` client process connected to the same Business Layer as a kernel
would be, echoing each frame back (the same server, the same receive path, one round trip). The
floor and the rows are measured in turn, in ten rounds, so that the load of a shared machine
weighs on all of them alike.

Output rate: lines per second delivered to the Business Layer for a loop printing 10,000 short
lines (checked complete and in order; the kernel may merge pieces into fewer "stdout" messages),
against a bare client process sending one frame per line to the same server; with the kernel's
peak resident memory above its idle level.

Print flood: a run printing 100-character lines for a few seconds while `1 + 1` requests are
answered beside it (their latency), and the same flood while the Business Layer stops reading
(the kernel's peak memory above idle; the run must be held back, not buffered).

Synchronous requests: `messaging.send_request_sync` from inside a run (the Business Layer answers
at once), one worker and four at once, against a bare client timing the same "sys_request" /
"sys_response" exchange with the same server; the floor and both rows in turn, in ten rounds,
each the median of its rounds' medians.
"""

from __future__ import annotations

import argparse
import asyncio
import json
import statistics
import sys
import time
import uuid
from typing import Any

import websockets

from zentrel_master.business_layer.dev_server import DevBusinessLayer, KernelSession

__all__ = ["main"]

REQUESTS = 2000
WARMUP = 200
ROUNDS = 10
LINES = 10_000
SYNC_CALLS = 2000
SYNC_WARMUP = 20
FLOOD_SECONDS = 4.0
TIMEOUT = 60.0


async def echo_client(port: str, workbook_id: str, blast: int) -> None:
    """The bare peer: echoes every frame, or first sends `blast` small frames; with a negative
    `blast`, each go signal times its "count" "sys_request" exchanges (after "warmup" more) and
    sends their median (us) as a result."""
    url = f"ws://127.0.0.1:{port}/ws/kernel/{workbook_id}"
    async with websockets.connect(url, max_size=None, compression=None, proxy=None) as ws:
        if blast < 0:
            # One round per go signal, until the Business Layer closes the connection.
            async for go in ws:
                signal = json.loads(go)
                count, warmup = signal["count"], signal["warmup"]
                timings = []
                for _ in range(warmup + count):
                    request = json.dumps({"type": "sys_request", "payload": {
                        "op": "GET", "requestId": uuid.uuid4().hex, "kind": "request"}})
                    start = time.perf_counter()
                    await ws.send(request)
                    await ws.recv()
                    timings.append((time.perf_counter() - start) * 1e6)
                await ws.send(json.dumps({"type": "execution_result",
                                          "result": statistics.median(timings[warmup:])}))
            return
        if blast > 0:
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


async def round_trips(
    session: KernelSession, message: dict[str, Any], count: int, warmup: int = WARMUP
) -> list[float]:
    """Milliseconds from sending `message` to receiving the final message, `count` times."""
    timings = []
    for _ in range(warmup + count):
        start = time.perf_counter()
        await session.send(message)
        await until_final(session)
        timings.append((time.perf_counter() - start) * 1000)
    return timings[warmup:]


def summary(timings: list[float]) -> tuple[float, float]:
    ordered = sorted(timings)
    return statistics.median(ordered), ordered[int(len(ordered) * 0.95) - 1]


async def measure(log_levels: list[str]) -> None:
    server = DevBusinessLayer()
    await server.start()
    try:
        echo_process, echo = await start_peer(server, "bench-echo")
        kernels = {
            level: await server.launch_kernel(f"bench-{level}", timeout=TIMEOUT, log_level=level)
            for level in log_levels
        }
        paths = [("floor", echo, {"type": "execution_result", "request_id": "e"})] + [
            (f"{code}  [log {level}]", kernels[level],
             {"type": "execution_request", "code": code, "request_id": "b"})
            for level in log_levels for code in ("1 + 1", 'print("x")')
        ]
        # Interleaved in rounds: a change of the machine's load meets the floor and every row
        # alike, so the ratios hold on a shared machine.
        measured: dict[str, list[float]] = {name: [] for name, _, _ in paths}
        for _, session, message in paths:
            await round_trips(session, message, 0)
        for _ in range(ROUNDS):
            for name, session, message in paths:
                measured[name] += await round_trips(
                    session, message, max(1, REQUESTS // ROUNDS), warmup=0
                )
        floor = measured.pop("floor")
        rows = [(name, summary(timings)) for name, timings in measured.items()]
        await echo.connection.close()
        await echo_process.wait()
        for level in log_levels[:-1]:
            await kernels[level].shutdown(TIMEOUT)
        kernel = kernels[log_levels[-1]]

        idle = rss_mb(kernel)
        sampler = Sampler(kernel)
        start = time.perf_counter()
        await kernel.send({"type": "execution_request", "request_id": "lines",
                           "code": f"for i in range({LINES}):\n    print(i)"})
        text, received = [], 0
        while True:
            message = await kernel.receive(TIMEOUT)
            if message["type"] == "stdout":
                received += 1
                text.append(message["content"])
            elif message["type"] in ("execution_result", "execution_error"):
                break
        ours_rate = LINES / (time.perf_counter() - start)
        lines_peak = await sampler.stop() - idle
        if "".join(text) != "".join(f"{i}\n" for i in range(LINES)):
            raise SystemExit("print loop: output lost or out of order")

        flood_latency, flood_peak, stalled_peak = await flood(kernel, idle)
        # The floor and both rows in turn, round by round, as above.
        sys_process, sys_peer = await start_peer(server, "bench-sys", blast=-1)
        per_round = SYNC_CALLS // ROUNDS
        sync_rounds: dict[str, list[float]] = {"floor": [], "one": [], "four": []}
        for _ in range(ROUNDS):
            await sys_peer.send({"type": "go", "count": per_round, "warmup": SYNC_WARMUP})
            sync_rounds["floor"].append(float((await until_final(sys_peer))["result"]))
            sync_rounds["one"].append(await sync_calls(kernel, 1, per_round))
            sync_rounds["four"].append(await sync_calls(kernel, 4, per_round))
        sync_floor, sync_one, sync_four = (
            statistics.median(sync_rounds[name]) for name in ("floor", "one", "four"))
        await sys_peer.connection.close()
        await sys_process.wait()
        await kernel.shutdown(TIMEOUT)

        blast_process, blaster = await start_peer(server, "bench-blast", blast=LINES)
        start = time.perf_counter()
        await blaster.send({"type": "go"})
        await until_final(blaster)
        bare_rate = LINES / (time.perf_counter() - start)
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
    print(f"{'output lines':<30}{'per second':>11}{'x bare':>9}{'peak MB over idle':>19}")
    print(f"{'bare client, frame per line':<30}{bare_rate:>11.0f}{1.0:>9.2f}")
    print(f"{f'print loop ({received} msgs)':<30}{ours_rate:>11.0f}{ours_rate / bare_rate:>9.2f}"
          f"{lines_peak:>19.1f}")
    print()
    print(f"print flood of {FLOOD_SECONDS:.0f} s (100-character lines)")
    print(f"  1 + 1 beside it: median {statistics.median(flood_latency):.1f} ms, "
          f"max {max(flood_latency):.1f} ms over {len(flood_latency)} requests")
    print(f"  kernel peak over idle: {flood_peak:.1f} MB reading, "
          f"{stalled_peak:.1f} MB with the Business Layer not reading")
    print()
    print(f"{'send_request_sync':<30}{'median us':>11}{'x floor':>9}")
    print(f"{'bare sys_request exchange':<30}{sync_floor:>11.0f}{1.0:>9.2f}")
    print(f"{'one worker':<30}{sync_one:>11.0f}{sync_one / sync_floor:>9.2f}")
    print(f"{'four workers, per call':<30}{sync_four:>11.0f}{sync_four / sync_floor:>9.2f}")


def rss_mb(session: KernelSession) -> float:
    """Resident memory of the kernel process, in MB."""
    assert session.process is not None
    with open(f"/proc/{session.process.pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


class Sampler:
    """Samples the kernel's resident memory every 10 ms until stopped; keeps the peak."""

    def __init__(self, session: KernelSession) -> None:
        self.session, self.peak = session, 0.0
        self.task = asyncio.create_task(self._run())

    async def _run(self) -> None:
        while True:
            self.peak = max(self.peak, rss_mb(self.session))
            await asyncio.sleep(0.01)

    async def stop(self) -> float:
        self.peak = max(self.peak, rss_mb(self.session))
        self.task.cancel()
        return self.peak


FLOOD_CODE = (
    "import time\nend = time.monotonic() + {seconds}\n"
    "while time.monotonic() < end:\n    print('x' * 99)"
)


async def flood(kernel: KernelSession, idle: float) -> tuple[list[float], float, float]:
    """`1 + 1` latencies beside a flood, and the peak memory over idle reading and not reading."""
    sampler = Sampler(kernel)
    await kernel.send({"type": "execution_request", "request_id": "flood",
                       "code": FLOOD_CODE.format(seconds=FLOOD_SECONDS)})
    latencies: list[float] = []
    flood_done = False
    end = time.perf_counter() + FLOOD_SECONDS
    while time.perf_counter() < end and not flood_done:
        start = time.perf_counter()
        await kernel.send({"type": "execution_request", "code": "1 + 1", "request_id": "q"})
        while True:
            message = await kernel.receive(TIMEOUT)
            if message.get("request_id") == "q" and message["type"] == "execution_result":
                break
            if message.get("request_id") == "flood" and message["type"] == "execution_result":
                flood_done = True
        latencies.append((time.perf_counter() - start) * 1000)
        await asyncio.sleep(0.05)
    while not flood_done:
        message = await kernel.receive(TIMEOUT)
        flood_done = message.get("request_id") == "flood" and message["type"] == "execution_result"
    reading_peak = await sampler.stop() - idle

    # The Business Layer stops reading: the kernel's writes back up to its own queue. Measured
    # from the level the first flood left (its heap is not given back to the system).
    assert kernel.connection is not None
    transport = kernel.connection.transport
    idle = rss_mb(kernel)
    sampler = Sampler(kernel)
    await kernel.send({"type": "execution_request", "request_id": "stalled",
                       "code": FLOOD_CODE.format(seconds=FLOOD_SECONDS)})
    transport.pause_reading()
    await asyncio.sleep(FLOOD_SECONDS + 1)
    stalled_peak = await sampler.stop() - idle
    transport.resume_reading()
    while True:
        message = await kernel.receive(TIMEOUT)
        if message.get("request_id") == "stalled" and message["type"] == "execution_result":
            break
    return latencies, reading_peak, stalled_peak


SYNC_CODE = """
import statistics, threading, time
from zentrel import messaging

def calls(timings):
    for _ in range({count}):
        start = time.perf_counter()
        messaging.send_request_sync({{"op": "GET", "objectId": 0, "property": "name"}})
        timings.append((time.perf_counter() - start) * 1e6)
    del timings[:{warmup}]

per_worker = [[] for _ in range({workers})]
threads = [threading.Thread(target=calls, args=(t,)) for t in per_worker]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
median = statistics.median(t for ts in per_worker for t in ts)
"""


async def sync_calls(kernel: KernelSession, workers: int, calls: int) -> float:
    """Median microseconds of one `send_request_sync` with `workers` threads making `calls` calls
    between them at once (after a warm-up of their own)."""
    code = SYNC_CODE.format(count=SYNC_WARMUP + calls // workers, warmup=SYNC_WARMUP,
                            workers=workers)
    await kernel.send({"type": "execution_request", "request_id": "sync", "code": code})
    message = await until_final(kernel)
    if message["type"] != "execution_result":
        raise SystemExit(f"send_request_sync run failed: {message}")
    await kernel.send({"type": "execution_request", "request_id": "sync", "code": "median",
                       "function_name": "bench"})
    return float((await until_final(kernel))["result"])


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
