"""The launcher ends the kernel process once the kernel has torn down, whatever threads remain."""

from __future__ import annotations

import subprocess
import sys

import pytest

from support.business_layer import ThreadedBusinessLayer
from support.timing import units

# A pool thread that never finishes stands in for user code still running on a worker; the
# interpreter would join it at exit, so only an immediate exit ends this process.
STUCK_WORKER_THEN_LAUNCH = """
import concurrent.futures, sys, threading
from zentrel_master.python_server import launcher
never = threading.Event()
pool = concurrent.futures.ThreadPoolExecutor(max_workers=1)
pool.submit(never.wait)
launcher.main(sys.argv[1:])
"""


def test_process_exits_zero_after_shutdown_while_a_worker_still_runs(
    business_layer: ThreadedBusinessLayer, workbook_id: str
):
    session = business_layer.expect(workbook_id)
    process = subprocess.Popen(
        [sys.executable, "-c", STUCK_WORKER_THEN_LAUNCH, workbook_id, str(business_layer.port)],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        session.send({"type": "shutdown"})  # waits for the connection first
        _, log = process.communicate(timeout=units())
        assert process.returncode == 0
        # The log was flushed before the exit.
        assert log.rstrip().endswith(f"Kernel disconnected for workbook: {workbook_id}")
    finally:
        process.kill()
        process.wait()


def test_bad_arguments_end_with_usage_error(workbook_id: str):
    result = subprocess.run(
        [sys.executable, "-m", "zentrel_master.python_server.launcher", workbook_id],
        capture_output=True, text=True, timeout=units(),
    )
    assert result.returncode == 2
    assert "usage:" in result.stderr


class TestKernelLoop:
    """The loop the launcher builds polls through the kernel; it must answer as epoll does."""

    def test_ready_sockets_and_timeouts_match_epoll(self) -> None:
        import select
        import socket
        import time

        from zentrel_master.python_server import kernel, launcher

        loop, held = launcher._new_loop(kernel)
        assert held
        ours = loop._selector._selector  # type: ignore[attr-defined]
        reference = select.epoll()
        a, b = socket.socketpair()
        try:
            for poller in (ours, reference):
                poller.register(a.fileno(), select.EPOLLIN | select.EPOLLOUT)
            assert ours.poll(0) == reference.poll(0) == [(a.fileno(), select.EPOLLOUT)]
            b.send(b"x")
            both = select.EPOLLIN | select.EPOLLOUT
            assert ours.poll(None) == reference.poll(None) == [(a.fileno(), both)]
            ours.modify(a.fileno(), select.EPOLLIN)
            a.recv(1)
            start = time.monotonic()
            assert ours.poll(0.05) == []
            assert time.monotonic() - start >= 0.045
            with pytest.raises(ValueError, match="maxevents must be greater than 0, got 0"):
                ours.poll(0, 0)
            with pytest.raises(ValueError, match="NaN"):
                ours.poll(float("nan"))
            with pytest.raises(TypeError):
                ours.poll("soon")
            ours.unregister(a.fileno())
        finally:
            a.close()
            b.close()
            reference.close()
            loop.close()
        # A closed loop's poll fails as a closed epoll object's does.
        with pytest.raises(ValueError):
            ours.poll(0)

    def test_loop_runs_callbacks_timers_and_sockets(self) -> None:
        import asyncio
        import socket

        from zentrel_master.python_server import kernel, launcher

        loop, _ = launcher._new_loop(kernel)

        async def exchange() -> bytes:
            a, b = socket.socketpair()
            a.setblocking(False)
            b.setblocking(False)
            try:
                await asyncio.sleep(0.01)
                await loop.sock_sendall(a, b"ping")
                return await asyncio.wait_for(loop.sock_recv(b, 4), units(5))
            finally:
                a.close()
                b.close()

        try:
            assert loop.run_until_complete(exchange()) == b"ping"
        finally:
            loop.close()
