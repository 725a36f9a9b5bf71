"""Cost of one await through the C++ coroutine bridge against an `async def` doing the same.

Run: ./run bench coroutine_bridge
"""

from __future__ import annotations

import asyncio
import time

from zentrel_master import _common_testing as native


async def leaf():
    return 1


async def py_await_one(awaitable):
    return await awaitable


async def py_await_each(factory, count):
    last = None
    for _ in range(count):
        last = await factory()
    return last


def run_without_loop(coro):
    try:
        coro.send(None)
    except StopIteration as stop:
        return stop.value
    raise RuntimeError("benchmark coroutine suspended")


async def wrap_many(wrapper, count):
    for _ in range(count):
        await wrapper(leaf())


async def wrap_sleep(wrapper, count):
    for _ in range(count):
        await wrapper(asyncio.sleep(0))


def best_of(fn, repeats=5):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def main() -> None:
    n = 200_000
    rows = [
        (
            "wrapper coroutine awaiting a finished coroutine",
            lambda: run_without_loop(wrap_many(native.await_one, n)),
            lambda: run_without_loop(wrap_many(py_await_one, n)),
            n,
        ),
        (
            "await inside the body (loop of awaits)",
            lambda: run_without_loop(native.await_each(leaf, n)),
            lambda: run_without_loop(py_await_each(leaf, n)),
            n,
        ),
        (
            "wrapper awaiting asyncio.sleep(0) on a loop",
            lambda: asyncio.run(wrap_sleep(native.await_one, n // 10)),
            lambda: asyncio.run(wrap_sleep(py_await_one, n // 10)),
            n // 10,
        ),
    ]
    print(f"{'case':52} {'bridge ns':>10} {'async def ns':>13} {'ratio':>6}")
    for name, ours, baseline, count in rows:
        ours_ns = best_of(ours) / count * 1e9
        base_ns = best_of(baseline) / count * 1e9
        print(f"{name:52} {ours_ns:10.1f} {base_ns:13.1f} {ours_ns / base_ns:6.2f}")


if __name__ == "__main__":
    main()
