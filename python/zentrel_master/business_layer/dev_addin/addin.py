"""The development add-in: answers a kernel's proxy requests over an in-memory workbook, and
calls the kernel back for formulas, streams and events."""

from __future__ import annotations

import asyncio
import contextlib
import itertools
from collections.abc import Iterable
from pathlib import Path
from typing import Any, Protocol

from zentrel_master.logging_config import get_logger

from .addresses import Rect, format_address, parse_address
from .formulas import CellError, Formula, Reader, Ref, evaluate
from .office import (
    BoundMethod,
    CallableRef,
    ExcelNamespace,
    ObjectTable,
    OfficeError,
    OfficeObject,
    RequestContext,
    RootFunction,
    from_wire,
    to_wire,
)
from .workbook import GETTING_DATA, MAX_CELLS, Change, Workbook, Worksheet

__all__ = ["DevAddin", "KernelLink"]

_log = get_logger(__name__)

#: A cell on a sheet: (worksheet, row, column).
CellKey = tuple[Worksheet, int, int]

#: The replies that end the add-in's calls: custom functions, event handlers, callables.
_FINAL = {"function_execution_result", "event_execution_result", "python_function_result"}


class KernelLink(Protocol):
    """How the add-in reaches its kernel: the Business Layer's session for the workbook."""

    workbook_id: str

    async def send(self, message: dict[str, Any]) -> None: ...


class DevAddin:
    """One workbook's add-in: the proxy protocol over `workbook`, formula recalculation through
    the kernel's custom functions, streaming cells, and change events."""

    def __init__(self, workbook: Workbook | None = None, name: str = "Book1",
                 timeout: float = 30.0) -> None:
        self.workbook = workbook or Workbook()
        self.name = name
        self.timeout = timeout
        self.table = ObjectTable(
            [RequestContext(self), ExcelNamespace(self), RootFunction(self, "GetSetting"),
             RootFunction(self, "Union"), RootFunction(self, "Intersect")]
        )
        self.kernel: KernelLink | None = None
        self.events_enabled = True
        #: Final replies of event handlers and handler callables, in arrival order.
        self.event_replies: list[dict[str, Any]] = []
        #: "show_message_box" notices from user code.
        self.notices: list[dict[str, Any]] = []
        self._ids = itertools.count(1)
        self._waiting: dict[str, asyncio.Future[dict[str, Any]]] = {}
        self._handlers: dict[int, tuple[Worksheet | None, CallableRef]] = {}
        self._streams: dict[str, CellKey] = {}
        self._cell_streams: dict[CellKey, str] = {}
        self._tasks: set[asyncio.Task[None]] = set()
        self._calc_lock: asyncio.Lock | None = None
        self._dispatching = 0
        self._unsubscribe = self.workbook.subscribe(self._on_change)

    @classmethod
    def from_file(cls, path: str | Path, **options: Any) -> DevAddin:
        """An add-in over the workbook saved in `path` (call `calculate` once attached)."""
        return cls(Workbook.load(path), name=Path(path).stem, **options)

    def load(self, path: str | Path) -> None:
        """Replace the workbook by the one saved in `path`; streams of the old one are ended.
        Await `calculate` afterwards to compute its formulas."""
        workbook = Workbook.load(path)
        for key in list(self._cell_streams):
            self._spawn(self._send_cancel(self._forget_stream(key)))
        self._unsubscribe()
        self.workbook = workbook
        self._unsubscribe = workbook.subscribe(self._on_change)

    def save(self, path: str | Path) -> None:
        """Write the workbook to `path` as JSON."""
        self.workbook.save(path)

    # -- the Business Layer's side --------------------------------------------------------

    def attach(self, kernel: KernelLink) -> None:
        """Use `kernel` (a session of the development Business Layer) for calls back."""
        self.kernel = kernel

    async def answer(self, payload: dict[str, Any]) -> dict[str, Any]:
        """The response to one proxy request (the payload of a "sys_request")."""
        request_id = payload.get("requestId")
        try:
            result = self._perform(payload)
        except OfficeError as error:
            return {"requestId": request_id, "ok": False, "error": {"message": str(error)}}
        except Exception as error:  # noqa: BLE001 - a bad request must not end the server
            message = f"{type(error).__name__}: {error}"
            return {"requestId": request_id, "ok": False, "error": {"message": message}}
        return {"requestId": request_id, "ok": True, "result": result}

    def observe(self, message: dict[str, Any]) -> None:
        """See one message of the kernel: replies to the add-in's calls, stream values, notices."""
        kind = message.get("type")
        request_id = message.get("request_id")
        if not isinstance(request_id, str):
            request_id = None
        if kind in _FINAL and request_id in self._waiting:
            future = self._waiting.pop(request_id)
            if not future.done():
                future.set_result(message)  # decoded by the caller, which guards it
        elif kind == "streaming_function_result" and request_id in self._streams:
            self._on_stream_value(request_id, message)
        elif kind == "set_enable_events":
            self.events_enabled = bool(message.get("enable"))
        elif kind == "show_message_box":
            self.notices.append(message)

    # -- proxy requests -------------------------------------------------------------------

    def _perform(self, payload: dict[str, Any]) -> dict[str, Any] | None:
        method, name = payload.get("method"), payload.get("name")
        target = self.table.get(payload.get("caller"))
        if method == "DEL":
            self.table.free(payload.get("caller"))
            return None
        if method in ("GET", "SET", "GETITEM") and not isinstance(name, str):
            raise OfficeError(f"{method} needs a member name")
        if not isinstance(target, OfficeObject):  # an array or map handed out earlier
            if method == "GET" and name == "length" and isinstance(target, list):
                return to_wire(len(target), self.table)
            raise OfficeError(f"{method} {name} is not modelled on arrays and maps")
        if method == "GET":
            return to_wire(target.get_member(name), self.table)
        if method == "GETITEM":
            return to_wire(target.get_item(name), self.table)
        if method == "SET":
            target.set_member(name, from_wire(payload.get("value"), self.table))
            return None
        if method == "CALL":
            if not isinstance(target, (BoundMethod, RootFunction)):
                raise OfficeError(f"Object {payload.get('caller')} is not a function")
            args, kwargs = self._arguments(payload.get("args"))
            return to_wire(target.call(args, kwargs), self.table)
        raise OfficeError(f"Unknown request method {method!r}")

    def _arguments(self, records: Any) -> tuple[list[Any], dict[str, Any]]:
        if not isinstance(records, list):
            raise OfficeError("CALL needs a list of arguments")
        args: list[Any] = []
        kwargs: dict[str, Any] = {}
        for record in records:
            if not isinstance(record, dict):
                raise OfficeError("Each argument is a map")
            value = from_wire(record.get("value"), self.table)
            if record.get("arg_type") == "NAMED":
                kwargs[str(record.get("name"))] = value
            else:
                args.append(value)
        return args, kwargs

    # -- calls to the kernel --------------------------------------------------------------

    async def _call_kernel(self, message: dict[str, Any]) -> dict[str, Any]:
        """Send one call and wait for its final reply (an error-shaped reply on a time-out)."""
        if self.kernel is None:
            return {"status": "error", "success": False, "error": "No kernel is attached"}
        request_id = f"addin-{next(self._ids)}"
        message = {**message, "request_id": request_id, "workbook_id": self.kernel.workbook_id}
        future: asyncio.Future[dict[str, Any]] = asyncio.get_running_loop().create_future()
        self._waiting[request_id] = future
        try:
            await self.kernel.send(message)
            return await asyncio.wait_for(future, self.timeout)
        except Exception as error:  # noqa: BLE001 - a time-out or a closed connection
            text = f"No answer from the kernel ({type(error).__name__})"
            return {"status": "error", "success": False, "error": text}
        finally:
            self._waiting.pop(request_id, None)

    async def call_function(self, module: str, function: str, args: list[Any]) -> Any:
        """Call a workbook function as a cell does: its value, or `#VALUE!` with the error."""
        reply = await self._call_kernel({
            "type": "custom_function_call",
            "module_name": module,
            "function_name": function,
            "args": [to_wire(arg, self.table) for arg in args],
            "source": "addin",
        })
        if reply.get("status") != "success":
            return CellError("#VALUE!", _error_text(reply.get("error")))
        try:
            return _cell_value(from_wire(reply.get("result"), self.table))
        except Exception as error:  # noqa: BLE001 - a malformed result is the cell's error
            return CellError("#VALUE!", f"{type(error).__name__}: {error}")

    # -- recalculation --------------------------------------------------------------------

    def _on_change(self, change: Change) -> None:
        if change.kind != "edit" or change.rect is None:
            return
        sheet = self.workbook.sheet(change.sheet)
        # Streams of overwritten cells are forgotten at once, so that a value already on its
        # way cannot replace what was just written.
        ended = [self._forget_stream(key) for key in list(self._cell_streams)
                 if key[0] is sheet and change.rect.contains(key[1], key[2])]
        # What handlers write does not fire events again: a handler that writes to the sheet
        # it watches would otherwise call itself forever.
        self._spawn(self._after_edit(sheet, change.rect, ended, fire=not self._dispatching))

    def _spawn(self, coroutine: Any) -> None:
        try:
            task = asyncio.get_running_loop().create_task(coroutine)
        except RuntimeError:
            coroutine.close()  # no loop yet (a file being loaded): `calculate` catches up
            return
        self._tasks.add(task)
        task.add_done_callback(self._finished)

    def _finished(self, task: asyncio.Task[None]) -> None:
        self._tasks.discard(task)
        if not task.cancelled() and task.exception() is not None:
            _log.error("Development add-in: background work failed", exc_info=task.exception())

    async def _after_edit(self, sheet: Worksheet, rect: Rect, ended: list[str | None],
                          fire: bool) -> None:
        for request_id in ended:
            await self._send_cancel(request_id)
        await self._recalculate([(sheet, rect)], edited=True)
        if fire:
            await self._fire_changed(sheet, rect)

    async def close(self) -> None:
        """Stop the add-in's pending work and its streams (the kernel may be gone already)."""
        for task in list(self._tasks):
            task.cancel()
        await asyncio.gather(*self._tasks, return_exceptions=True)
        for key in list(self._cell_streams):
            await self._send_cancel(self._forget_stream(key))

    async def calculate(self) -> None:
        """Compute every formula of the workbook (after loading a file)."""
        seeds = [(sheet, Rect(r, c, r, c)) for sheet, r, c, _ in self.workbook.formula_cells()]
        await self._recalculate(seeds, edited=True)

    async def settled(self, timeout: float | None = None) -> None:
        """Wait until every recalculation and event call started so far (and what they
        started in turn) has finished; streams go on."""

        async def drain() -> None:
            while self._tasks:
                await asyncio.wait(set(self._tasks))

        await asyncio.wait_for(drain(), timeout)

    async def _recalculate(self, seeds: list[tuple[Worksheet, Rect]], edited: bool) -> None:
        if self._calc_lock is None:
            self._calc_lock = asyncio.Lock()
        async with self._calc_lock:
            for key in self._ordered(self._dirty(seeds, edited)):
                sheet, row, column = key
                cell = sheet.cells.get((row, column))
                formula = None if cell is None else cell.parsed
                if formula is None:
                    continue
                if isinstance(cell.value, CellError) and cell.value.code == "#CALC!":
                    continue
                reader = _CellReader(self, sheet)
                if formula.stream is not None:
                    await self._start_stream(key, formula, reader)
                    continue
                value = await evaluate(formula.tree, reader)
                # Something written into the cell while its value was computed wins.
                if sheet.cells.get((row, column)) is cell and cell.parsed is formula:
                    self.workbook.set_result(sheet, row, column, value)

    def _dirty(self, seeds: list[tuple[Worksheet, Rect]], edited: bool) -> set[CellKey]:
        """Formula cells to compute: those written (when `edited`) and every cell that reads
        a changed one, directly or through other formulas."""
        formulas = self.workbook.formula_cells()
        dirty: set[CellKey] = set()
        queue = list(seeds)
        if edited:
            for sheet, row, column, _ in formulas:
                if any(s is sheet and rect.contains(row, column) for s, rect in seeds):
                    dirty.add((sheet, row, column))
        while queue:
            changed_sheet, changed = queue.pop()
            for sheet, row, column, cell in formulas:
                key = (sheet, row, column)
                if key in dirty or cell.parsed is None:
                    continue
                if any(self._ref_sheet(sheet, ref) is changed_sheet and ref.rect.intersects(changed)
                       for ref in cell.parsed.refs):
                    dirty.add(key)
                    queue.append((sheet, Rect(row, column, row, column)))
        return dirty

    def _ref_sheet(self, home: Worksheet, ref: Ref) -> Worksheet | None:
        if ref.sheet is None:
            return home
        try:
            return self.workbook.sheet(ref.sheet)
        except ValueError:
            return None

    def _ordered(self, dirty: set[CellKey]) -> list[CellKey]:
        """`dirty` with every cell after the dirty cells it reads; cells on a cycle get
        `#CALC!` and are left out."""
        order: list[CellKey] = []
        state: dict[CellKey, str] = {}

        def precedents(key: CellKey) -> Iterable[CellKey]:
            sheet, row, column = key
            parsed = sheet.cells[(row, column)].parsed
            for ref in parsed.refs if parsed else ():
                source = self._ref_sheet(sheet, ref)
                for other in dirty:
                    if other[0] is source and ref.rect.contains(other[1], other[2]):
                        yield other

        def visit(key: CellKey, path: list[CellKey]) -> None:
            if state.get(key) == "done":
                return
            if state.get(key) == "visiting":
                for member in path[path.index(key):]:
                    sheet, row, column = member
                    self.workbook.set_result(sheet, row, column,
                                             CellError("#CALC!", "Circular reference"))
                return
            state[key] = "visiting"
            for other in precedents(key):
                visit(other, [*path, key])
            state[key] = "done"
            order.append(key)

        keys = sorted(dirty, key=lambda k: (self.workbook.sheets.index(k[0]), k[1], k[2]))
        for sheet, row, column in keys:
            cell = sheet.cells[(row, column)]
            if isinstance(cell.value, CellError) and cell.value.code == "#CALC!":
                cell.value = None
        for key in keys:
            visit(key, [])
        return order

    # -- streaming cells ------------------------------------------------------------------

    async def _start_stream(self, key: CellKey, formula: Formula, reader: _CellReader) -> None:
        await self._send_cancel(self._forget_stream(key))
        sheet, row, column = key
        call = formula.stream
        assert call is not None
        args = [await evaluate(arg, reader, as_argument=True) for arg in call.args]
        cell = sheet.cells.get((row, column))
        if cell is None or cell.parsed is not formula:
            return  # rewritten while the arguments were computed
        failed = next((a for a in args if isinstance(a, CellError)), None)
        if failed is not None or self.kernel is None:
            self.workbook.set_result(
                sheet, row, column, failed or CellError("#VALUE!", "No kernel is attached"))
            return
        module, function = call.module_and_function
        request_id = f"stream-{next(self._ids)}"
        self._streams[request_id] = key
        self._cell_streams[key] = request_id
        self.workbook.set_result(sheet, row, column, GETTING_DATA)
        message = {
            "type": "execute_streaming_function",
            "request_id": request_id,
            "module_name": module,
            "function_name": function,
            "args": [to_wire(arg, self.table) for arg in args],
            "workbook_id": self.kernel.workbook_id,
            "source": "addin",
        }
        try:
            await self.kernel.send(message)
        except Exception as error:  # noqa: BLE001 - a closed connection
            self._streams.pop(request_id, None)
            self._cell_streams.pop(key, None)
            text = f"The kernel cannot be reached ({type(error).__name__})"
            self.workbook.set_result(sheet, row, column, CellError("#VALUE!", text))

    def _forget_stream(self, key: CellKey) -> str | None:
        """Detach the cell's stream (its later values are dropped); its request id, if any."""
        request_id = self._cell_streams.pop(key, None)
        if request_id is not None:
            self._streams.pop(request_id, None)
        return request_id

    async def _send_cancel(self, request_id: str | None) -> None:
        if request_id is not None and self.kernel is not None:
            # A closed connection has ended the stream already.
            with contextlib.suppress(Exception):
                await self.kernel.send(
                    {"type": "cancel_streaming_function", "request_id": request_id})

    def active_streams(self) -> dict[str, str]:
        """Running streams: request id -> the address of their cell."""
        return {
            request_id: format_address(Rect(row, column, row, column), sheet.name)
            for request_id, (sheet, row, column) in self._streams.items()
        }

    def _on_stream_value(self, request_id: str, message: dict[str, Any]) -> None:
        sheet, row, column = key = self._streams[request_id]
        if message.get("done"):
            del self._streams[request_id]
            self._cell_streams.pop(key, None)
            if "error" not in message:
                return
            value: Any = CellError("#VALUE!", str(message.get("error")))
        else:
            try:
                value = _cell_value(from_wire(message.get("result"), self.table))
            except Exception as error:  # noqa: BLE001 - a malformed value is the cell's error
                value = CellError("#VALUE!", f"{type(error).__name__}: {error}")
        self.workbook.set_result(sheet, row, column, value)
        self._spawn(self._recalculate([(sheet, Rect(row, column, row, column))], edited=False))

    # -- events ---------------------------------------------------------------------------

    def add_handler(self, sheet: Worksheet | None, handler: CallableRef) -> int:
        """Register a Python callable for changes of `sheet` (None: any sheet)."""
        registration = next(self._ids)
        self._handlers[registration] = (sheet, handler)
        return registration

    def remove_handler(self, registration: int) -> None:
        self._handlers.pop(registration, None)

    async def _fire_changed(self, sheet: Worksheet, rect: Rect) -> None:
        if not self.events_enabled or self.kernel is None:
            return
        details = {"type": "WorksheetChanged", "address": format_address(rect),
                   "worksheetId": sheet.name, "changeType": "RangeEdited", "source": "Local"}
        calls = [
            {"type": "event_execution", "module_name": b["module"], "function_name": b["function"],
             "args": [to_wire(details, self.table)], "object_name": sheet.name,
             "event_type": "onChanged", "object_type": "Worksheet"}
            for b in self.workbook.event_bindings
            if b.get("event", "onChanged") == "onChanged"
            and b["sheet"].lower() == sheet.name.lower()
        ]
        calls += [
            {"type": "python_function_call", "callable_id": handler.callable_id,
             "args": [to_wire(details, self.table)]}
            for target, handler in list(self._handlers.values())
            if target is None or target is sheet
        ]
        self._dispatching += 1
        try:
            for call in calls:
                self.event_replies.append(await self._call_kernel(call))
        finally:
            self._dispatching -= 1

    # -- edits as a person makes them -----------------------------------------------------

    def edit(self, address: str, value: Any) -> None:
        """Type `value` (a constant or "=formula") into every cell of `address`, as in the grid;
        recalculation and events follow (await `settled`). Call it on the add-in's loop."""
        sheet_name, rect = parse_address(address)
        sheet = self.workbook.sheet(sheet_name)
        self.workbook.write(sheet, rect, [[value] * rect.columns for _ in range(rect.rows)])

    def error_text(self, address: str) -> str | None:
        """The text behind an error value shown in a cell (None when it holds no error)."""
        sheet_name, rect = parse_address(address)
        value = self.workbook.sheet(sheet_name).value(rect.top, rect.left)
        return value.message if isinstance(value, CellError) else None


class _CellReader(Reader):
    """Formula evaluation on one sheet of the add-in's workbook."""

    def __init__(self, addin: DevAddin, sheet: Worksheet) -> None:
        self.addin, self.sheet = addin, sheet

    def _sheet(self, ref: Ref) -> Worksheet | None:
        return self.addin._ref_sheet(self.sheet, ref)

    def cell(self, ref: Ref) -> Any:
        sheet = self._sheet(ref)
        if sheet is None:
            return CellError("#REF!", f"No worksheet named {ref.sheet}")
        return sheet.value(ref.rect.top, ref.rect.left)

    def rows(self, ref: Ref) -> Any:
        sheet = self._sheet(ref)
        if sheet is None:
            return CellError("#REF!", f"No worksheet named {ref.sheet}")
        rect = ref.rect
        bottom, right = rect.bottom, rect.right
        if rect.size > MAX_CELLS:  # whole rows or columns: up to the last used cell
            used = sheet.used_rect(values_only=True) or Rect(0, 0, 0, 0)
            bottom, right = min(bottom, used.bottom), min(right, used.right)
        return [[sheet.value(r, c) for c in range(rect.left, right + 1)]
                for r in range(rect.top, bottom + 1)]

    async def call(self, module: str, function: str, args: list[Any]) -> Any:
        return await self.addin.call_function(module, function, args)


def _cell_value(value: Any) -> Any:
    """A function's result as one cell's value: one-element lists are unwrapped."""
    while isinstance(value, list) and len(value) == 1:
        value = value[0]
    if value is None or isinstance(value, (bool, int, float, str)):
        return value
    if isinstance(value, list):
        return CellError("#VALUE!", f"A cell holds one value; the function returned {len(value)}")
    return str(value)


def _error_text(error: Any) -> str:
    """The last line of a traceback text, or the message of an error record."""
    if isinstance(error, dict):
        return f"{error.get('type')}: {error.get('message')}"
    lines = [line for line in str(error or "Unknown error").strip().splitlines() if line.strip()]
    return lines[-1] if lines else "Unknown error"
