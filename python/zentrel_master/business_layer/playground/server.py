"""The playground: one workbook's kernel and development add-in, and the page that shows them.

`Playground` starts the development Business Layer, the development add-in over a workbook file,
a kernel process with the workbook's modules, and a second server on 127.0.0.1 that answers plain
HTTP requests with the page's static files and WebSocket connections on "/ws" with the page's
protocol: editor requests and execution requests relayed to the kernel (their replies routed
back by request id), module saves, grid snapshots and edits, and package resolution.
"""

from __future__ import annotations

import asyncio
import contextlib
import itertools
import json
import re
from collections.abc import Awaitable, Callable
from http import HTTPStatus
from pathlib import Path
from typing import Any

import websockets
from websockets.asyncio.server import Server, ServerConnection
from websockets.datastructures import Headers
from websockets.http11 import Request, Response

from ...logging_config import get_logger
from ..dev_addin import DevAddin, Workbook, WorkbookError
from ..dev_addin.addresses import Rect, column_letters, format_address
from ..dev_addin.formulas import CellError
from ..dev_addin.workbook import Cell, Change, display_text
from ..dev_server import DevBusinessLayer, KernelSession
from ..requirement_solver import RequirementSolver
from ..requirement_solver_cli import parse_request
from ..settings_manager import SettingsManager

__all__ = ["MAX_TEXT", "PAGE_PATH", "Playground"]

log = get_logger(__name__)

STATIC_DIR = Path(__file__).resolve().parent / "static"
#: The WebSocket endpoint of the page.
PAGE_PATH = "/ws"
#: Files the page may load: URL path -> (file under static/, content type).
STATIC_FILES = {
    "/": ("index.html", "text/html; charset=utf-8"),
    "/playground.css": ("playground.css", "text/css; charset=utf-8"),
    "/playground.js": ("playground.js", "text/javascript; charset=utf-8"),
}
#: The longest code or cell text relayed: the kernel refuses longer texts in one frame.
MAX_TEXT = 1_000_000
#: The largest frame the page may send (a module of MAX_TEXT characters, escaped).
MAX_FRAME = 8 * MAX_TEXT
#: The longest single frame the kernel reads (it drops longer ones with "Message too large"). Not
#: imported from the kernel module: importing it installs its module finder in this process.
KERNEL_FRAME_LIMIT = 1_048_576
KERNEL_ENDED = "The kernel has ended; restart the playground"
#: How long an editor request may wait for the kernel's reply.
EDITOR_TIMEOUT = 30.0
#: The grid shows at least this much of a sheet, and at most the cap.
GRID_MIN = (30, 10)
GRID_CAP = (500, 52)

EDITOR_REQUESTS = {
    "completion_request": "completion_response",
    "hover_request": "hover_response",
    "signature_help_request": "signature_help_response",
    "diagnostic_request": "diagnostic_response",
}
FINAL_REPLIES = set(EDITOR_REQUESTS.values()) | {"execution_result", "execution_error"}
MODULE_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*(\.[A-Za-z_][A-Za-z0-9_]*)*")
NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")


class PageError(ValueError):
    """A page message that cannot be served; its text goes back to the page."""


class _Route:
    """Where the kernel's replies to one relayed request go."""

    __slots__ = ("client", "page_id", "timer")

    def __init__(self, client: ServerConnection, page_id: Any) -> None:
        self.client = client
        self.page_id = page_id
        self.timer: asyncio.TimerHandle | None = None


class Playground:
    """A workbook on the development Business Layer, served to a browser page."""

    def __init__(
        self,
        book: Path | None = None,
        modules_dir: Path | None = None,
        index_dir: Path | None = None,
        host: str = "127.0.0.1",
        port: int = 0,
        workbook_id: str = "playground",
        kernel_log_level: str = "WARNING",
        timeout: float = 30.0,
    ) -> None:
        self.book, self.modules_dir, self.index_dir = book, modules_dir, index_dir
        self.host, self.requested_port = host, port
        self.workbook_id = workbook_id
        self.timeout = timeout
        self.addin = DevAddin.from_file(book) if book else DevAddin(Workbook())
        self.layer = DevBusinessLayer(kernel_log_level=kernel_log_level)
        self.session: KernelSession | None = None
        self.clients: set[ServerConnection] = set()
        self._routes: dict[str, _Route] = {}
        self._ids = itertools.count(1)
        self._server: Server | None = None
        self._pump: asyncio.Task[None] | None = None
        self._watch: asyncio.Task[None] | None = None
        self._dirty_sheets: set[str] = set()
        self._flush_scheduled = False
        self._tasks: set[asyncio.Task[None]] = set()
        self._unsubscribe: Callable[[], None] | None = None
        self._handlers: dict[str, Callable[[ServerConnection, dict[str, Any]], Awaitable[None]]]
        self._handlers = {
            "hello": self._on_hello,
            "update_module": self._on_update_module,
            "execution_request": self._on_execution_request,
            "sheet": self._on_sheet,
            "edit": self._on_edit,
            "resolve": self._on_resolve,
            **{kind: self._on_editor_request for kind in EDITOR_REQUESTS},
        }

    # -- life cycle -----------------------------------------------------------------------

    @property
    def port(self) -> int:
        """The page server's port."""
        assert self._server is not None, "playground not started"
        return self._server.sockets[0].getsockname()[1]

    @property
    def url(self) -> str:
        """The page's address."""
        return f"http://{self.host}:{self.port}/"

    async def start(self) -> None:
        """Start the Business Layer, the kernel with the workbook's modules, and the page."""
        await self.layer.start()
        self.layer.attach_addin(self.workbook_id, self.addin)
        self.session = await self.layer.launch_kernel(self.workbook_id, timeout=self.timeout)
        self._pump = asyncio.create_task(self._pump_kernel(self.session))
        self._watch = asyncio.create_task(self._watch_kernel(self.session))
        if self.modules_dir is not None:
            for path in sorted(self.modules_dir.glob("*.py")):
                await self._to_kernel({"type": "update_module", "module_name": path.stem,
                                    "code": path.read_text(encoding="utf-8")})
        self._unsubscribe = self.addin.workbook.subscribe(self._on_change)
        await self.addin.calculate()
        self._server = await websockets.serve(
            self._serve_page, self.host, self.requested_port,
            process_request=self._process_request, max_size=MAX_FRAME,
        )

    async def stop(self) -> None:
        """Close the page server, the add-in's streams and the kernel."""
        if self._server is not None:
            self._server.close()
            await self._server.wait_closed()
        for task in list(self._tasks):
            task.cancel()
        await asyncio.gather(*self._tasks, return_exceptions=True)
        if self._unsubscribe is not None:
            self._unsubscribe()
        await self.addin.close()
        await self.layer.stop()
        for task in (self._pump, self._watch):
            if task is not None:
                task.cancel()
                await asyncio.gather(task, return_exceptions=True)

    # -- HTTP -----------------------------------------------------------------------------

    def _process_request(self, connection: ServerConnection, request: Request) -> Response | None:
        """Static files for plain requests; the WebSocket handshake only from the page itself."""
        path = request.path.split("?", 1)[0]
        if path == PAGE_PATH:
            origin = request.headers.get("Origin")
            # Another site open in the same browser must not run code in this kernel.
            own = {f"http://{host}:{self.port}" for host in (self.host, "localhost")}
            if origin is not None and origin not in own:
                return connection.respond(HTTPStatus.FORBIDDEN, "Foreign origin refused\n")
            return None
        if path not in STATIC_FILES:
            return connection.respond(HTTPStatus.NOT_FOUND, "Not found\n")
        name, content_type = STATIC_FILES[path]
        body = (STATIC_DIR / name).read_bytes()
        headers = Headers([("Content-Type", content_type), ("Content-Length", str(len(body))),
                           ("Cache-Control", "no-cache")])
        return Response(HTTPStatus.OK.value, "OK", headers, body)

    # -- the page's WebSocket ---------------------------------------------------------------

    async def _serve_page(self, client: ServerConnection) -> None:
        self.clients.add(client)
        try:
            async for frame in client:
                await self._on_frame(client, frame)
        except websockets.ConnectionClosed:
            pass
        finally:
            self.clients.discard(client)
            for request_id in [k for k, route in self._routes.items() if route.client is client]:
                self._drop_route(request_id)

    async def _on_frame(self, client: ServerConnection, frame: str | bytes) -> None:
        page_id: Any = None
        try:
            if isinstance(frame, bytes):
                raise PageError("Messages are JSON text, not binary frames")
            try:
                message = json.loads(frame)
            except ValueError as error:
                raise PageError(f"The message is not JSON: {error}") from None
            if not isinstance(message, dict):
                raise PageError("A message must be a JSON object")
            page_id = message.get("id")
            kind = message.get("type")
            handler = self._handlers.get(kind) if isinstance(kind, str) else None
            if handler is None:
                raise PageError(f"Unknown message type {kind!r}")
            await handler(client, message)
        except PageError as error:
            await self._send(client, {"type": "error", "id": page_id, "message": str(error)})
        except Exception as error:  # one bad message must not end the page
            log.exception("page message failed")
            await self._send(client, {"type": "error", "id": page_id,
                                      "message": f"{type(error).__name__}: {error}"})

    async def _send(self, client: ServerConnection, message: dict[str, Any]) -> None:
        with contextlib.suppress(websockets.ConnectionClosed):
            await client.send(json.dumps(message, default=repr))

    async def _broadcast(self, message: dict[str, Any]) -> None:
        for client in list(self.clients):
            await self._send(client, message)

    # -- handlers ---------------------------------------------------------------------------

    async def _on_hello(self, client: ServerConnection, message: dict[str, Any]) -> None:
        assert self.session is not None
        sheet = self.addin.workbook.active
        await self._send(client, {"type": "hello", "id": message.get("id"),
                                  "modules": dict(self.session.modules),
                                  "index": str(self.index_dir) if self.index_dir else None,
                                  "grid": self.snapshot(sheet.name)})

    async def _on_update_module(self, client: ServerConnection, message: dict[str, Any]) -> None:
        assert self.session is not None
        name = _module_name(message)
        code = _text(message, "code")
        await self._to_kernel({"type": "update_module", "module_name": name, "code": code})
        await self._send(client, {"type": "module_saved", "id": message.get("id"),
                                  "module_name": name})

    async def _on_editor_request(self, client: ServerConnection, message: dict[str, Any]) -> None:
        kind = message["type"]
        request: dict[str, Any] = {"type": kind, "code": _text(message, "code")}
        name = message.get("module_name")
        if name is not None:
            request["module_name"] = _module_name(message)
        if kind != "diagnostic_request":
            request["line"] = _integer(message, "line", 1)
            request["column"] = _integer(message, "column", 0)
            request["dirty_files"] = _dirty_files(message)
        await self._relay(client, message.get("id"), request, EDITOR_TIMEOUT)

    async def _on_execution_request(self, client: ServerConnection,
                                    message: dict[str, Any]) -> None:
        request = {"type": "execution_request", "code": _text(message, "code"), "source": "ide"}
        await self._relay(client, message.get("id"), request, None)

    async def _on_sheet(self, client: ServerConnection, message: dict[str, Any]) -> None:
        name = _text(message, "name", limit=255)
        try:
            sheet = self.addin.workbook.sheet(name)
        except WorkbookError as error:
            raise PageError(str(error)) from None
        if sheet is not self.addin.workbook.active:
            self.addin.workbook.activate(sheet)
        await self._send(client, {**self.snapshot(sheet.name), "id": message.get("id")})

    async def _on_edit(self, client: ServerConnection, message: dict[str, Any]) -> None:
        name = _text(message, "sheet", limit=255)
        row, column = _integer(message, "row", None), _integer(message, "column", None)
        if row < 0 or column < 0 or row >= 1_048_576 or column >= 16_384:
            raise PageError("The cell lies outside the sheet")
        value = _cell_input(_text(message, "value"))
        try:
            sheet = self.addin.workbook.sheet(name)
            self.addin.edit(format_address(Rect(row, column, row, column), sheet.name), value)
        except (WorkbookError, ValueError) as error:
            raise PageError(str(error)) from None
        await self._send(client, {"type": "edited", "id": message.get("id")})

    async def _on_resolve(self, client: ServerConnection, message: dict[str, Any]) -> None:
        texts = message.get("requirements")
        if not isinstance(texts, list) or not all(isinstance(t, str) for t in texts):
            raise PageError("Field 'requirements' must be a list of texts")
        texts = [t.strip() for t in texts if t.strip()]
        if not texts:
            raise PageError("Name at least one requirement")
        if self.index_dir is None:
            raise PageError("The playground has no package index")
        solver = RequirementSolver(SettingsManager(self.index_dir, consider_installed=False))
        problems, specs = [], []
        for text in texts:
            try:
                specs.append(await parse_request(solver, text))
            except (ValueError, LookupError) as error:
                problems.append(str(error))
        reply: dict[str, Any] = {"type": "resolved", "id": message.get("id")}
        if problems:
            reply.update(success=False, packages=[], conflicts=[], errors=problems)
        else:
            reply.update((await solver.resolve(specs)).to_dict())
        await self._send(client, reply)

    # -- relaying to the kernel -------------------------------------------------------------

    async def _relay(self, client: ServerConnection, page_id: Any, request: dict[str, Any],
                     timeout: float | None) -> None:
        """Send `request` to the kernel; its replies go to `client`, tagged with `page_id`."""
        request_id = f"page-{next(self._ids)}"
        route = self._routes[request_id] = _Route(client, page_id)
        if timeout is not None:
            route.timer = asyncio.get_running_loop().call_later(
                timeout, self._expire, request_id)
        await self._to_kernel({**request, "request_id": request_id,
                               "workbook_id": self.workbook_id})

    async def _to_kernel(self, message: dict[str, Any]) -> None:
        """Send one message; one that is too long for a single frame goes as a chunk series
        (escaping can take a text under MAX_TEXT over the kernel's frame limit)."""
        session = self.session
        assert session is not None
        if session.closed.is_set():
            raise PageError(KERNEL_ENDED)
        raw = json.dumps(message)
        if len(raw) <= KERNEL_FRAME_LIMIT:
            await session.send(message)
            return
        if message["type"] == "update_module":
            session.modules[message["module_name"]] = message["code"]
        await session.send_chunked(raw)

    async def _watch_kernel(self, session: KernelSession) -> None:
        """Once the kernel's connection is gone, answer every waiting request of the pages."""
        await session.closed.wait()
        for request_id, route in list(self._routes.items()):
            self._drop_route(request_id)
            await self._send(route.client, {"type": "error", "id": route.page_id,
                                            "message": KERNEL_ENDED})

    def _expire(self, request_id: str) -> None:
        route = self._routes.pop(request_id, None)
        if route is not None:
            self._spawn(self._send(route.client, {
                "type": "error", "id": route.page_id, "message": "No answer from the kernel"}))

    def _drop_route(self, request_id: str) -> None:
        route = self._routes.pop(request_id, None)
        if route is not None and route.timer is not None:
            route.timer.cancel()

    async def _pump_kernel(self, session: KernelSession) -> None:
        """Route every message of the kernel: replies to their page, other output to all."""
        while True:
            message = await session.receive()
            kind = message.get("type")
            route = self._routes.get(message.get("request_id"))  # type: ignore[arg-type]
            if route is not None:
                if kind in FINAL_REPLIES:
                    self._drop_route(message["request_id"])
                await self._send(route.client, {**message, "id": route.page_id})
            elif kind in ("stdout", "stderr"):
                # Output of custom functions, streams, event handlers and background threads.
                await self._broadcast({"type": kind, "id": None, "content": message.get("content"),
                                       "origin": "workbook"})

    def _spawn(self, coroutine: Awaitable[None]) -> None:
        task = asyncio.ensure_future(coroutine)
        self._tasks.add(task)
        task.add_done_callback(self._tasks.discard)

    # -- the grid ---------------------------------------------------------------------------

    def _on_change(self, change: Change) -> None:
        """Collect changed sheets; one snapshot per sheet goes out once the loop is free."""
        self._dirty_sheets.add(change.sheet)
        if not self._flush_scheduled and self.clients:
            self._flush_scheduled = True
            self._spawn(self._flush())

    async def _flush(self) -> None:
        self._flush_scheduled = False
        names, self._dirty_sheets = self._dirty_sheets, set()
        for name in names:
            try:
                snapshot = self.snapshot(name)
            except WorkbookError:
                continue  # renamed since; the "sheets" change of the new name follows
            await self._broadcast(snapshot)

    def snapshot(self, name: str) -> dict[str, Any]:
        """What the grid shows of one sheet: its cells' texts, formulas, errors and formats."""
        workbook = self.addin.workbook
        sheet = workbook.sheet(name)
        used = sheet.used_rect()
        rows = min(GRID_CAP[0], max(GRID_MIN[0], (used.bottom + 2) if used else 0))
        columns = min(GRID_CAP[1], max(GRID_MIN[1], (used.right + 2) if used else 0))
        cells = {}
        for (row, column), cell in sheet.cells.items():
            if row >= rows or column >= columns or cell.is_empty():
                continue
            entry: dict[str, Any] = {"text": display_text(cell), "input": _input_text(cell)}
            if isinstance(cell.value, CellError):
                entry["error"] = cell.value.message
            elif isinstance(cell.value, (int, float)) and not isinstance(cell.value, bool):
                entry["number"] = True
            if cell.bold:
                entry["bold"] = True
            if cell.fill:
                entry["fill"] = cell.fill
            cells[f"{row},{column}"] = entry
        return {"type": "grid", "id": None, "sheet": sheet.name,
                "sheets": [s.name for s in workbook.sheets], "rows": rows, "columns": columns,
                "letters": [column_letters(c) for c in range(columns)], "cells": cells}


def _text(message: dict[str, Any], field: str, default: str | None = "",
          limit: int = MAX_TEXT) -> str:
    """A text field of a page message, checked."""
    value = message.get(field, default)
    if not isinstance(value, str):
        raise PageError(f"Field {field!r} must be text")
    if len(value) > limit:
        raise PageError(f"Field {field!r} is longer than {limit} characters")
    return value


def _integer(message: dict[str, Any], field: str, default: int | None) -> int:
    value = message.get(field, default)
    if isinstance(value, bool) or not isinstance(value, int):
        raise PageError(f"Field {field!r} must be an integer")
    return value


def _module_name(message: dict[str, Any]) -> str:
    name = _text(message, "module_name", limit=255)
    if not MODULE_NAME.fullmatch(name):
        raise PageError(f"{name!r} is not a module name (letters, digits, _ and dots)")
    return name


def _input_text(cell: Cell) -> str:
    """What the formula bar shows of a cell: its formula, or its value as one would type it."""
    if cell.formula is not None:
        return cell.formula
    if isinstance(cell.value, bool):
        return "TRUE" if cell.value else "FALSE"
    return "" if cell.value is None else str(cell.value)


def _dirty_files(message: dict[str, Any]) -> dict[str, str]:
    """The unsaved module texts of an editor request, checked (MAX_TEXT in all)."""
    files = message.get("dirty_files", {})
    if not isinstance(files, dict):
        raise PageError("Field 'dirty_files' must map module names to texts")
    total = 0
    for name, text in files.items():
        _module_name({"module_name": name})
        total += len(_text({"dirty_files": text}, "dirty_files"))
    if total > MAX_TEXT:
        raise PageError(f"Field 'dirty_files' is longer than {MAX_TEXT} characters")
    return files


def _cell_input(text: str) -> Any:
    """What typing `text` into a cell stores: a number, a boolean, a formula or text."""
    stripped = text.strip()
    if NUMBER.fullmatch(stripped):
        number = float(stripped)
        return int(number) if number.is_integer() and re.fullmatch(r"[+-]?\d+", stripped) \
            else number
    if stripped.upper() in ("TRUE", "FALSE"):
        return stripped.upper() == "TRUE"
    return text
