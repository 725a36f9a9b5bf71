"""The development Business Layer on its own thread, with a synchronous face for tests."""

from __future__ import annotations

import asyncio
import contextlib
import threading
from collections.abc import AsyncIterator, Coroutine, Iterator
from typing import Any, TypeVar

from zentrel_master.business_layer.dev_server import AddinHandler, DevBusinessLayer, KernelSession
from zentrel_master.business_layer.protocol_check import ProtocolChecker

from .timing import units

__all__ = [
    "Session",
    "ThreadedBusinessLayer",
    "connected_kernel",
    "protocol_checker",
    "unconnected_kernel",
]

T = TypeVar("T")

#: Checks every message of every test's Business Layer against the protocol's schemas; the
#: suite's autouse fixture fails a test whose messages left them (`send_raw` is not checked).
protocol_checker = ProtocolChecker()


class ThreadedBusinessLayer:
    """A `DevBusinessLayer` serving on 127.0.0.1 from an event loop on a background thread."""

    def __init__(self, addin_handler: AddinHandler | None = None, log_level: str = "DEBUG") -> None:
        self.loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self.loop.run_forever, name="business-layer")
        self._thread.start()
        self.server = DevBusinessLayer(
            addin_handler=addin_handler, kernel_log_level=log_level, checker=protocol_checker
        )
        self.call(self.server.start())
        self.port = self.server.port

    def call(self, coro: Coroutine[Any, Any, T], timeout: float | None = None) -> T:
        """Run `coro` on the server's loop and wait for its result."""
        future = asyncio.run_coroutine_threadsafe(coro, self.loop)
        return future.result(units() if timeout is None else timeout)

    async def acall(self, coro: Coroutine[Any, Any, T], timeout: float | None = None) -> T:
        """Like `call`, awaited from another event loop (a kernel running in this process)."""
        future = asyncio.run_coroutine_threadsafe(coro, self.loop)
        return await asyncio.wait_for(asyncio.wrap_future(future), units() if timeout is None else timeout)

    def launch(self, workbook_id: str, log_level: str | None = None) -> Session:
        """Start a kernel process for `workbook_id` and wait until it has connected."""
        session = self.call(
            self.server.launch_kernel(workbook_id, timeout=units(), log_level=log_level), units(2)
        )
        return Session(self, session)

    @contextlib.contextmanager
    def running(self, workbook_id: str, log_level: str | None = None) -> Iterator[Session]:
        """A kernel process for `workbook_id`, shut down (or killed) when the block ends."""
        session = self.launch(workbook_id, log_level)
        try:
            yield session
        finally:
            try:
                session.shutdown()
            finally:
                self.call(session.session.kill())

    def expect(self, workbook_id: str) -> Session:
        """A session for a kernel that this test runs in its own process."""

        async def make() -> KernelSession:
            return self.server.expect(workbook_id)

        return Session(self, self.call(make()))

    def close(self) -> None:
        """Shut every kernel down, stop serving and end the thread."""
        try:
            self.call(self.server.stop(timeout=units()), units(3))
        finally:
            self.loop.call_soon_threadsafe(self.loop.stop)
            self._thread.join(units())
            self.loop.close()


class Session:
    """Synchronous access to one kernel's session (and `a*` forms for in-process kernels)."""

    def __init__(self, layer: ThreadedBusinessLayer, session: KernelSession) -> None:
        self.layer = layer
        self.session = session

    @property
    def process(self) -> asyncio.subprocess.Process | None:
        return self.session.process

    @property
    def frames(self) -> list[str | bytes]:
        return self.session.frames

    def send(self, message: dict[str, Any]) -> None:
        self.layer.call(self.session.send(message))

    def send_raw(self, frame: str | bytes) -> None:
        self.layer.call(self.session.send_raw(frame))

    def send_chunked(self, message: dict[str, Any] | str, chunk_size: int = 65536) -> None:
        self.layer.call(self.session.send_chunked(message, chunk_size))

    def receive(self, timeout: float | None = None) -> dict[str, Any]:
        wait = units() if timeout is None else timeout
        return self.layer.call(self.session.receive(wait), wait + units())

    def wait_for_log(self, fragment: str, timeout: float | None = None) -> str:
        wait = units() if timeout is None else timeout
        return self.layer.call(self.session.wait_for_log(fragment, wait), wait + units())

    def log_text(self) -> str:
        return "\n".join(self.session.log_lines)

    def probe(self) -> dict[str, Any]:
        """Send a frame the kernel always answers, and return the next message received.

        The kernel handles frames in order, so a test that expects no reply to what it sent
        before asserts that this answer is the next message.
        """
        self.send_raw("[]")
        return self.receive()

    def shutdown(self) -> int | None:
        return self.layer.call(self.session.shutdown(units()), units(2))

    def wait_exit(self) -> int | None:
        return self.layer.call(self.session.wait_exit(units()), units(2))

    async def areceive(self, timeout: float | None = None) -> dict[str, Any]:
        wait = units() if timeout is None else timeout
        return await self.layer.acall(self.session.receive(wait), wait + units())

    async def asend(self, message: dict[str, Any]) -> None:
        await self.layer.acall(self.session.send(message))

    async def asend_raw(self, frame: str | bytes) -> None:
        await self.layer.acall(self.session.send_raw(frame))

    async def aclose_connection(self) -> None:
        async def close() -> None:
            assert self.session.connection is not None
            await self.session.connection.close()

        await self.layer.acall(close())


@contextlib.asynccontextmanager
async def connected_kernel(
    layer: ThreadedBusinessLayer, workbook_id: str
) -> AsyncIterator[tuple[Any, Session]]:
    """A `PythonKernel` run in this process's event loop against `layer`, torn down on exit."""
    from zentrel_master.python_server.kernel import PythonKernel

    session = layer.expect(workbook_id)
    kernel = PythonKernel(workbook_id, port=str(layer.port))
    task = asyncio.create_task(kernel.run())
    # The answer to a frame proves the connection is up and served.
    await session.asend_raw("[]")
    await session.areceive()
    session.session.frames.clear()
    try:
        yield kernel, session
    finally:
        if not task.done():
            await session.aclose_connection()
        await asyncio.wait_for(task, units())


@contextlib.contextmanager
def unconnected_kernel(workbook_id: str) -> Iterator[Any]:
    """A `PythonKernel` that never connects; what it holds (the editor's module directory and
    the worker pool) is released when the block ends, as `disconnect` does for a connected one."""
    from zentrel_master.python_server.kernel import PythonKernel

    kernel = PythonKernel(workbook_id)
    try:
        yield kernel
    finally:
        kernel._code_insight.cleanup()
        kernel._thread_pool.shutdown(wait=False)
