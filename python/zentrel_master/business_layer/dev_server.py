"""A Business Layer for development and tests.

Serves the kernel endpoint "/ws/kernel/<workbook id>" on 127.0.0.1, launches one kernel process
per workbook through the launcher, reassembles the kernel's chunk series, can send chunk series of
its own, answers "sys_request" payloads through a pluggable add-in handler, answers
"request_module_sync" with the module it holds for the workbook and shuts kernels down with
"shutdown". Given a `ProtocolChecker`, it validates every message in both directions against the
protocol's schemas (frames sent with `send_raw` excepted). Run it alone with
`python -m zentrel_master.business_layer.dev_server WORKBOOK_ID [--validate]`.
"""

from __future__ import annotations

import argparse
import asyncio
import inspect
import json
import sys
import uuid
from collections.abc import Awaitable, Callable
from typing import Any, Protocol

import websockets
from websockets.asyncio.server import Server, ServerConnection

from .protocol_check import INCOMING, OUTGOING, ProtocolChecker

__all__ = [
    "Addin",
    "AddinHandler",
    "CHUNK_SIZE",
    "DevBusinessLayer",
    "KernelSession",
    "chunk_frames",
    "default_addin_handler",
]

CHUNK_SIZE = 65536
KERNEL_PATH_PREFIX = "/ws/kernel/"
LAUNCHER_MODULE = "zentrel_master.python_server.launcher"

#: Answers the payload of a "sys_request" with the add-in's response map (or an awaitable of it).
AddinHandler = Callable[[dict[str, Any]], "dict[str, Any] | Awaitable[dict[str, Any]]"]


class Addin(Protocol):
    """An add-in for one workbook (the development one is `business_layer.dev_addin.DevAddin`)."""

    def attach(self, session: KernelSession) -> None: ...

    def answer(self, payload: dict[str, Any]) -> dict[str, Any] | Awaitable[dict[str, Any]]: ...

    def observe(self, message: dict[str, Any]) -> None: ...


def default_addin_handler(payload: dict[str, Any]) -> dict[str, Any]:
    """The answer when no add-in is attached: a failed response for the same request."""
    return {"requestId": payload.get("requestId"), "ok": False, "error": "No add-in connected"}


def chunk_frames(message: dict[str, Any] | str, chunk_size: int = CHUNK_SIZE) -> list[str]:
    """The chunk frames of `message` (a dict, or its serialized text), in order."""
    raw = message if isinstance(message, str) else json.dumps(message)
    parsed = json.loads(raw) if isinstance(message, str) else message
    head = parsed if isinstance(parsed, dict) else {}
    chunk_id = str(uuid.uuid4())
    total = max(1, -(-len(raw) // chunk_size))
    return [
        json.dumps(
            {
                "type": "chunk",
                "chunk_id": chunk_id,
                "chunk_index": index,
                "total_chunks": total,
                "data": raw[index * chunk_size : (index + 1) * chunk_size],
                "original_type": head.get("type", "unknown"),
                "request_id": head.get("request_id", "N/A"),
            }
        )
        for index in range(total)
    ]


class KernelSession:
    """One workbook's kernel: its process, its connection and what it has sent."""

    def __init__(self, workbook_id: str, checker: ProtocolChecker | None = None) -> None:
        self.workbook_id = workbook_id
        #: Validates what `send` and `send_chunked` send (None: nothing is checked).
        self.checker = checker
        self.process: asyncio.subprocess.Process | None = None
        self.connection: ServerConnection | None = None
        self.connected = asyncio.Event()
        self.closed = asyncio.Event()
        #: Every text frame received from the kernel, in arrival order.
        self.frames: list[str | bytes] = []
        #: Whole messages (chunk series reassembled), in arrival order.
        self.messages: asyncio.Queue[dict[str, Any]] = asyncio.Queue()
        #: Lines the kernel process wrote to standard error (its log) and standard output.
        self.log_lines: list[str] = []
        #: Module sources answered to "request_module_sync": those pushed with "update_module"
        #: (dropped by "delete_module"), or put here by the caller.
        self.modules: dict[str, str] = {}
        self._log_changed = asyncio.Condition()
        self._chunks: dict[str, dict[str, Any]] = {}
        self._readers: list[asyncio.Task[None]] = []

    async def send(self, message: dict[str, Any]) -> None:
        """Send one message as one frame, keeping the workbook's modules in step with it."""
        if self.checker is not None:
            self.checker.check(INCOMING, self.workbook_id, message)
        kind, name, code = message.get("type"), message.get("module_name"), message.get("code")
        if kind == "update_module" and isinstance(name, str) and isinstance(code, str):
            self.modules[name] = code
        elif kind == "delete_module" and isinstance(name, str):
            self.modules.pop(name, None)
        await self.send_raw(json.dumps(message))

    async def send_raw(self, frame: str | bytes) -> None:
        """Send one frame exactly as given, unchecked (for frames malformed on purpose)."""
        if not self.connected.is_set():
            await self.connected.wait()
        assert self.connection is not None
        await self.connection.send(frame)

    async def send_chunked(self, message: dict[str, Any] | str, chunk_size: int = CHUNK_SIZE) -> None:
        """Send `message` as a chunk series, contiguously (a dict is checked, a text is not)."""
        if self.checker is not None and isinstance(message, dict):
            self.checker.check(INCOMING, self.workbook_id, message)
        for frame in chunk_frames(message, chunk_size):
            await self.send_raw(frame)

    async def receive(self, timeout: float | None = None) -> dict[str, Any]:
        """The next whole message from the kernel."""
        if not self.messages.empty():  # no timer for a message already here
            return self.messages.get_nowait()
        return await asyncio.wait_for(self.messages.get(), timeout)

    async def wait_for_log(self, fragment: str, timeout: float | None = None) -> str:
        """The first log line containing `fragment`, waiting for it if needed."""

        async def find() -> str:
            async with self._log_changed:
                while True:
                    for line in self.log_lines:
                        if fragment in line:
                            return line
                    await self._log_changed.wait()

        return await asyncio.wait_for(find(), timeout)

    async def wait_exit(self, timeout: float | None = None) -> int | None:
        """The kernel process's exit status, once it has ended (None without a process)."""
        if self.process is None:
            return None
        status = await asyncio.wait_for(self.process.wait(), timeout)
        for reader in self._readers:
            await reader
        return status

    async def shutdown(self, timeout: float | None = None) -> int | None:
        """Ask the kernel to shut down and wait for its process to end."""
        if self.connection is not None and not self.closed.is_set():
            try:
                await self.connection.send(json.dumps({"type": "shutdown"}))
            except websockets.ConnectionClosed:
                pass
        return await self.wait_exit(timeout)

    async def kill(self) -> None:
        """End the kernel process at once (last resort of the server's stop)."""
        if self.process is not None and self.process.returncode is None:
            self.process.kill()
            await self.process.wait()
        for reader in self._readers:
            await reader

    async def _read_stream(self, stream: asyncio.StreamReader, label: str) -> None:
        while line := await stream.readline():
            text = line.decode("utf-8", "replace").rstrip("\n")
            async with self._log_changed:
                self.log_lines.append(text if label == "stderr" else f"[stdout] {text}")
                self._log_changed.notify_all()

    def _reassemble(self, chunk: dict[str, Any]) -> dict[str, Any] | None:
        series = self._chunks.setdefault(
            chunk["chunk_id"], {"parts": {}, "total": chunk["total_chunks"]}
        )
        series["parts"][chunk["chunk_index"]] = chunk["data"]
        if len(series["parts"]) < series["total"]:
            return None
        del self._chunks[chunk["chunk_id"]]
        text = "".join(series["parts"][index] for index in range(series["total"]))
        return json.loads(text)


class DevBusinessLayer:
    """The WebSocket server kernels connect to, and the launcher of their processes."""

    def __init__(
        self,
        host: str = "127.0.0.1",
        port: int = 0,
        addin_handler: AddinHandler | None = None,
        kernel_log_level: str = "INFO",
        python: str = sys.executable,
        checker: ProtocolChecker | None = None,
    ) -> None:
        self.host = host
        self.requested_port = port
        self.addin_handler: AddinHandler = addin_handler or default_addin_handler
        self.kernel_log_level = kernel_log_level
        self.python = python
        #: Validates every message in both directions when set (see `ProtocolChecker`).
        self.checker = checker
        self.sessions: dict[str, KernelSession] = {}
        #: Add-ins by workbook id (see `attach_addin`).
        self.addins: dict[str, Addin] = {}
        #: Answers still waiting for their add-in (held so that they are not collected).
        self._answering: set[asyncio.Task[None]] = set()
        self._server: Server | None = None

    @property
    def port(self) -> int:
        """The port the server listens on (the ephemeral one when asked for 0)."""
        assert self._server is not None, "server not started"
        return self._server.sockets[0].getsockname()[1]

    async def start(self) -> None:
        """Start serving."""
        self._server = await websockets.serve(
            self._serve,
            self.host,
            self.requested_port,
            max_size=None,
            compression=None,
        )

    async def stop(self, timeout: float = 10.0) -> None:
        """Shut every kernel down (killing the ones that do not end) and stop serving."""
        for session in list(self.sessions.values()):
            try:
                await session.shutdown(timeout)
            except (TimeoutError, OSError):
                pass
            await session.kill()
        if self._server is not None:
            self._server.close()
            await self._server.wait_closed()

    def attach_addin(self, workbook_id: str, addin: Addin) -> KernelSession:
        """Let `addin` answer the "sys_request" payloads of `workbook_id`'s kernel (instead of
        `addin_handler`) and see every message that kernel sends; returns the session."""
        session = self.expect(workbook_id)
        self.addins[workbook_id] = addin
        addin.attach(session)
        return session

    def expect(self, workbook_id: str) -> KernelSession:
        """The session for a kernel started elsewhere (for example in this process)."""
        return self.sessions.setdefault(workbook_id, KernelSession(workbook_id, self.checker))

    async def launch_kernel(
        self, workbook_id: str, timeout: float | None = None, log_level: str | None = None
    ) -> KernelSession:
        """Start a kernel process for `workbook_id` and wait until it has connected."""
        session = self.expect(workbook_id)
        session.process = await asyncio.create_subprocess_exec(
            self.python,
            "-m",
            LAUNCHER_MODULE,
            workbook_id,
            str(self.port),
            "--log-level",
            log_level or self.kernel_log_level,
            stdin=asyncio.subprocess.DEVNULL,
            stdout=asyncio.subprocess.PIPE,
            stderr=asyncio.subprocess.PIPE,
        )
        assert session.process.stdout is not None and session.process.stderr is not None
        session._readers = [
            asyncio.create_task(session._read_stream(session.process.stderr, "stderr")),
            asyncio.create_task(session._read_stream(session.process.stdout, "stdout")),
        ]
        connected = asyncio.create_task(session.connected.wait())
        exited = asyncio.create_task(session.process.wait())
        done, _ = await asyncio.wait({connected, exited}, timeout=timeout,
                                     return_when=asyncio.FIRST_COMPLETED)
        for task in (connected, exited):
            if task not in done:
                task.cancel()
        if connected not in done:
            await session.kill()
            raise RuntimeError(
                f"kernel {workbook_id!r} did not connect:\n" + "\n".join(session.log_lines)
            )
        return session

    async def _serve(self, connection: ServerConnection) -> None:
        path = connection.request.path if connection.request else ""
        if not path.startswith(KERNEL_PATH_PREFIX):
            await connection.close(1008, "unknown endpoint")
            return
        session = self.expect(path[len(KERNEL_PATH_PREFIX) :])
        session.connection = connection
        session.connected.set()
        try:
            async for frame in connection:
                session.frames.append(frame)
                await self._on_frame(session, frame)
        except websockets.ConnectionClosed:
            pass
        finally:
            session.closed.set()

    async def _on_frame(self, session: KernelSession, frame: str | bytes) -> None:
        if self.checker is not None:
            message = self.checker.check_frame(OUTGOING, session.workbook_id, frame)
        else:
            try:
                message = json.loads(frame)
            except ValueError:
                return
        if not isinstance(message, dict):
            return
        if message.get("type") == "chunk":
            whole = session._reassemble(message)
            if whole is None:
                return
            message = whole
            if self.checker is not None:
                self.checker.check(OUTGOING, session.workbook_id, message)
        kind = message.get("type")
        addin = self.addins.get(session.workbook_id)
        if addin is not None:
            addin.observe(message)
        if kind == "sys_request":
            # Started at once: an add-in that answers on the spot has its answer written before
            # this frame's handling ends, with no trip through the loop; one that waits goes on
            # as a task, so receiving never waits for an answer.
            task = asyncio.Task(
                self._answer(session, message), loop=asyncio.get_running_loop(), eager_start=True
            )
            if not task.done():
                self._answering.add(task)
                task.add_done_callback(self._answering.discard)
        elif kind == "request_module_sync":
            name = message.get("module_name")
            if name in session.modules:
                await session.send(
                    {"type": "update_module", "module_name": name, "code": session.modules[name]}
                )
        await session.messages.put(message)

    async def _answer(self, session: KernelSession, request: dict[str, Any]) -> None:
        payload = request.get("payload") or {}
        addin = self.addins.get(session.workbook_id)
        response = addin.answer(payload) if addin is not None else self.addin_handler(payload)
        if inspect.isawaitable(response):
            response = await response
        response = dict(response)
        response.setdefault("requestId", payload.get("requestId"))
        try:
            await session.send({"type": "sys_response", "payload": response})
        except websockets.ConnectionClosed:
            pass


async def _demo_main(workbook_id: str, port: int, validate: bool) -> None:
    checker = ProtocolChecker() if validate else None
    server = DevBusinessLayer(port=port, checker=checker)
    await server.start()
    print(f"Business Layer on ws://127.0.0.1:{server.port}{KERNEL_PATH_PREFIX}{workbook_id}")
    session = await server.launch_kernel(workbook_id, timeout=30)
    print(f"kernel for {workbook_id!r} connected (pid {session.process.pid}); Ctrl-C ends it")
    try:
        while True:
            print(await session.receive())
            for violation in checker.take() if checker else []:
                print(f"PROTOCOL VIOLATION: {violation}")
    finally:
        await server.stop()


def main() -> None:
    """Serve one workbook's kernel and print what it sends."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("workbook_id")
    parser.add_argument("--port", type=int, default=8000)
    parser.add_argument(
        "--validate", action="store_true", help="check every message against the protocol schemas"
    )
    args = parser.parse_args()
    try:
        asyncio.run(_demo_main(args.workbook_id, args.port, args.validate))
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
