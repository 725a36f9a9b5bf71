"""Line debugger of the kernel's debug runs, built on `sys.monitoring`.

Only the workbook's in-memory modules (code compiled under "<virtual:NAME>") are debugged; library
code is stepped over. LINE events are switched on per code object: for code that holds a
breakpoint, for the frames being stepped through, and (after a stop request) for all user code.
PY_START is looked at once per code object and then disabled, which is how code with breakpoints
is found as it first runs. Everything else runs at full speed.

The debugged call runs on a worker thread (`runcall`), which blocks while paused. The kernel's
event loop thread calls the commands (`continue_execution`, `step_*`, `stop_debugging`,
`evaluate_expression`, `set_breakpoints`) meanwhile. Every pause sends a "debug_paused" message
through the kernel's send coroutine function on `loop`.
"""

from __future__ import annotations

import asyncio
import re
import sys
import threading
from collections.abc import Callable, Coroutine
from types import CodeType, FrameType
from typing import Any

from zentrel_master.logging_config import get_logger

__all__ = ["ZentrelDebugger", "REPR_LIMIT"]

logger = get_logger(__name__)

_monitoring = sys.monitoring
_LINE = _monitoring.events.LINE
_PY_START = _monitoring.events.PY_START
_DISABLE = _monitoring.DISABLE
#: Tool ids tried in turn: the debugger's own first, then those no standard tool claims.
_TOOL_IDS = (_monitoring.DEBUGGER_ID, 3, 4, 1, 2, 5)
_TOOL_NAME = "zentrel-debugger"

_VIRTUAL_PREFIX = "<virtual:"
_VIRTUAL_START = len(_VIRTUAL_PREFIX)
#: Longest `repr` text sent in a pause message or an evaluation result.
REPR_LIMIT = 1000
#: Seconds between two checks, while paused, that the kernel's loop still runs.
_LOOP_CHECK = 1.0
_LOG_PART = re.compile(r"\{([^{}]+)\}")

_STEP_KINDS = ("over", "into", "out")
_STOP = "stop"


class _Stop(BaseException):
    """Raised into the debugged code to end a stopped run (not an Exception: user code that
    catches Exception must not swallow it)."""


class _Breakpoint:
    """One validated breakpoint record and its hit counter."""

    __slots__ = ("module", "line", "condition", "hit_count", "log_message", "hits", "_compiled")

    def __init__(
        self,
        module: str,
        line: int,
        condition: str | None,
        hit_count: int | None,
        log_message: str | None,
    ) -> None:
        self.module = module
        self.line = line
        self.condition = condition
        self.hit_count = hit_count
        self.log_message = log_message
        self.hits = 0
        self._compiled: CodeType | BaseException | None = None
        if condition is not None:
            try:
                self._compiled = compile(condition, "<breakpoint condition>", "eval")
            except Exception as e:  # noqa: BLE001 - reported when the breakpoint is reached
                self._compiled = e

    @property
    def key(self) -> tuple[Any, ...]:
        """What identifies the record across updates (its hit counter is kept)."""
        return (self.module, self.line, self.condition, self.hit_count, self.log_message)

    def condition_holds(self, frame: FrameType) -> bool:
        """Evaluates the condition in `frame`; raises what the condition raises."""
        compiled = self._compiled
        if compiled is None:
            return True
        if isinstance(compiled, BaseException):
            raise compiled
        return bool(eval(compiled, frame.f_globals, frame.f_locals))  # noqa: S307 - the user's


def _parse_breakpoint(record: Any) -> _Breakpoint | str:
    """The breakpoint of `record`, or the text of what is wrong with it."""
    if not isinstance(record, dict):
        return "a breakpoint must be an object"
    module = record.get("module")
    line = record.get("line")
    if not isinstance(module, str) or not module:
        return "'module' must be non-empty text"
    if type(line) is not int or line < 1:
        return "'line' must be a positive integer"
    condition = record.get("condition")
    hit_count = record.get("hit_count")
    log_message = record.get("log_message")
    if condition is not None and not isinstance(condition, str):
        return "'condition' must be text"
    if hit_count is not None and (type(hit_count) is not int or hit_count < 1):
        return "'hit_count' must be a positive integer"
    if log_message is not None and not isinstance(log_message, str):
        return "'log_message' must be text"
    # Editors send empty texts for "none".
    return _Breakpoint(module, line, condition or None, hit_count, log_message or None)


def _describe(exc: BaseException) -> str:
    """"<Type>: <message>" of `exc`, whatever its str() does."""
    try:
        text = str(exc)
    except Exception:  # noqa: BLE001
        text = "<unprintable>"
    return f"{type(exc).__name__}: {text}"


def _safe_repr(value: Any) -> str:
    """repr(value) cut at REPR_LIMIT characters; a placeholder when repr fails."""
    try:
        text = repr(value)
    except _Stop:
        raise
    except BaseException as e:  # noqa: BLE001 - a repr of user code may raise anything
        text = f"<{type(value).__name__} object (repr failed: {_describe(e)})>"
    if not isinstance(text, str):
        text = f"<{type(value).__name__} object>"
    return text[:REPR_LIMIT]


def _depth(frame: FrameType | None) -> int:
    depth = 0
    while frame is not None:
        depth += 1
        frame = frame.f_back
    return depth


def _code_lines(code: CodeType) -> frozenset[int]:
    return frozenset(line for _, _, line in code.co_lines() if line is not None)


class ZentrelDebugger:
    """Runs one call under a line debugger and takes the editor's debug commands."""

    def __init__(
        self,
        send_message: Callable[[dict[str, Any]], Coroutine[Any, Any, Any]],
        workbook_id: str,
        request_id: str | None = None,
    ) -> None:
        self._send = send_message
        self.workbook_id = workbook_id
        #: The debug run's request id, echoed in every pause message.
        self.request_id = request_id
        #: The kernel's event loop; pause messages are submitted to it.
        self.loop: asyncio.AbstractEventLoop | None = None
        #: The step in progress: None (run to the next breakpoint), "over", "into" or "out".
        self.step_mode: str | None = None
        self._modules: frozenset[str] | None = None
        #: Breakpoints by virtual file name, then by line.
        self._by_file: dict[str, dict[int, _Breakpoint]] = {}
        #: User code objects seen running, with their line numbers.
        self._seen: dict[CodeType, frozenset[int]] = {}
        self._tool: int | None = None
        self._events_lock = threading.Lock()
        self._thread_id: int | None = None
        #: True while the debugger runs user code itself (conditions, reprs): no nested pauses.
        self._busy = False
        self._stopping = False
        self._stop_raised = False
        self._step_frame: FrameType | None = None
        self._step_depth = 0
        self._lock = threading.Lock()
        self._resume = threading.Event()
        self._paused_frame: FrameType | None = None
        self._command: str | None = None

    # Set-up, from the loop thread.

    def set_breakpoints(self, breakpoints: list[Any]) -> None:
        """Replace the active breakpoints; malformed records are skipped with a warning."""
        if not isinstance(breakpoints, list):
            logger.warning("[Debugger] Breakpoints must be a list, got %s", type(breakpoints))
            return
        previous = {
            bp.key: bp for lines in self._by_file.values() for bp in lines.values()
        }
        by_file: dict[str, dict[int, _Breakpoint]] = {}
        for record in breakpoints:
            bp = _parse_breakpoint(record)
            if isinstance(bp, str):
                logger.warning("[Debugger] Skipped breakpoint record (%s): %.200r", bp, record)
                continue
            kept = previous.get(bp.key)
            if kept is not None:
                bp.hits = kept.hits
            by_file.setdefault(_VIRTUAL_PREFIX + bp.module + ">", {})[bp.line] = bp
        self._by_file = by_file
        self._refresh_events()

    def set_in_memory_modules(self, names: list[str]) -> None:
        """The modules to debug (the workbook's in-memory modules)."""
        self._modules = frozenset(name for name in names if isinstance(name, str))

    # The debugged call, on the worker thread.

    def runcall(self, func: Callable[..., Any], /, *args: Any, **kwargs: Any) -> Any:
        """Call `func(*args, **kwargs)` under the debugger; None when the session was stopped.

        Exceptions of the call propagate. The sys.monitoring tool id is held only while a call
        runs.
        """
        if self._stopping:
            return None
        self._thread_id = threading.get_ident()
        self._activate()
        try:
            result = func(*args, **kwargs)
        except _Stop:
            return None
        finally:
            self._deactivate()
        return None if self._stopping else result

    # Commands, from the loop thread.

    def continue_execution(self) -> None:
        """Run to the next breakpoint."""
        self._resume_with(None)

    def step_over(self) -> None:
        """Run to the next line of the paused function (or of a caller when it returns)."""
        self._resume_with("over")

    def step_into(self) -> None:
        """Run to the next line of user code, entering calls."""
        self._resume_with("into")

    def step_out(self) -> None:
        """Run until the paused function has returned."""
        self._resume_with("out")

    def stop_debugging(self) -> None:
        """End the run: the paused or running call unwinds at its next line of user code."""
        self._stopping = True
        with self._lock:
            self._command = _STOP
        self._resume.set()
        self._refresh_events()

    def evaluate_expression(self, expression: str) -> dict[str, str]:
        """{"result": repr text} of `expression` in the paused frame, or {"error": text}."""
        if not isinstance(expression, str):
            return {"error": f"TypeError: expression must be text, got {type(expression).__name__}"}
        frame = self._paused_frame
        if frame is None:
            return {"error": "No paused frame: the debugged code is running"}
        try:
            code = compile(expression, "<debug evaluate>", "eval")
            return {"result": _safe_repr(eval(code, frame.f_globals, frame.f_locals))}  # noqa: S307
        except BaseException as e:  # noqa: BLE001 - an evaluation never raises
            return {"error": _describe(e)}

    # Internals.

    def _resume_with(self, command: str | None) -> None:
        with self._lock:
            if self._paused_frame is None:
                return  # running: nothing to resume
            self._command = command
        self._resume.set()

    def _is_user_file(self, filename: str) -> bool:
        if not filename.startswith(_VIRTUAL_PREFIX):
            return False
        modules = self._modules
        return modules is None or filename[_VIRTUAL_START:-1] in modules

    def _has_breakpoints(self, code: CodeType, lines: frozenset[int]) -> bool:
        marked = self._by_file.get(code.co_filename)
        return bool(marked) and not lines.isdisjoint(marked)

    def _activate(self) -> None:
        with self._events_lock:
            for tool in _TOOL_IDS:
                try:
                    _monitoring.use_tool_id(tool, _TOOL_NAME)
                except ValueError:
                    continue
                break
            else:
                raise RuntimeError("No sys.monitoring tool id is free for the debugger")
            _monitoring.register_callback(tool, _PY_START, self._on_start)
            _monitoring.register_callback(tool, _LINE, self._on_line)
            self._tool = tool
        self._refresh_events()

    def _deactivate(self) -> None:
        with self._events_lock:
            tool = self._tool
            if tool is None:
                return
            self._tool = None
            _monitoring.set_events(tool, 0)
            for code in tuple(self._seen):
                _monitoring.set_local_events(tool, code, 0)
            _monitoring.register_callback(tool, _PY_START, None)
            _monitoring.register_callback(tool, _LINE, None)
            _monitoring.free_tool_id(tool)

    def _refresh_events(self) -> None:
        """Sets LINE events on the code objects that need them, from any thread."""
        with self._events_lock:
            tool = self._tool
            if tool is None:
                return
            mode = self.step_mode
            everywhere = self._stopping or mode == "into"
            stack: set[CodeType] = set()
            if mode is not None and not everywhere:
                frame = self._step_frame
                while frame is not None:
                    stack.add(frame.f_code)
                    frame = frame.f_back
            for code, lines in tuple(self._seen.items()):
                wanted = everywhere or code in stack or self._has_breakpoints(code, lines)
                _monitoring.set_local_events(tool, code, _LINE if wanted else 0)
            _monitoring.set_events(tool, _PY_START)
            # Lines and starts disabled before (no breakpoint, no step then) count again.
            _monitoring.restart_events()

    def _on_start(self, code: CodeType, offset: int) -> Any:
        if not self._is_user_file(code.co_filename):
            return _DISABLE
        lines = self._seen.get(code)
        if lines is None:
            lines = self._seen[code] = _code_lines(code)
            if self._has_breakpoints(code, lines):
                self._watch_lines(code)
        if threading.get_ident() == self._thread_id and not self._busy:
            if self._stopping:
                return self._raise_stop()
            if self.step_mode == "into":
                self._watch_lines(code)
        return _DISABLE

    def _watch_lines(self, code: CodeType) -> None:
        # Under the lock: another thread may be giving the tool id back.
        with self._events_lock:
            if self._tool is not None:
                _monitoring.set_local_events(self._tool, code, _LINE)

    def _on_line(self, code: CodeType, line: int) -> Any:
        marked = self._by_file.get(code.co_filename)
        bp = marked.get(line) if marked else None
        if bp is None and self.step_mode is None and not self._stopping:
            return _DISABLE
        if threading.get_ident() != self._thread_id or self._busy:
            return None
        if self._stopping:
            return self._raise_stop()
        frame = sys._getframe(1)
        if bp is not None:
            reason, error = self._check(bp, frame)
            if reason is not None:
                self._pause(frame, reason, error)
                return None
        mode = self.step_mode
        if mode is not None and self._step_reached(mode, frame):
            self._pause(frame, "step", None)
        return None

    def _raise_stop(self) -> Any:
        """Raises _Stop into the debugged code once; after that the code unwinds undisturbed
        (its `finally` blocks and context managers run)."""
        if self._stop_raised:
            return _DISABLE
        self._stop_raised = True
        raise _Stop

    def _step_reached(self, mode: str, frame: FrameType) -> bool:
        if mode == "into":
            return True
        if mode == "over" and frame is self._step_frame:
            return True
        return _depth(frame) < self._step_depth

    def _check(self, bp: _Breakpoint, frame: FrameType) -> tuple[str | None, str | None]:
        """Why to pause at `bp` ("breakpoint", "condition_error" and its text), or None."""
        self._busy = True
        try:
            try:
                if not bp.condition_holds(frame):
                    return None, None
            except _Stop:
                raise
            except BaseException as e:  # noqa: BLE001 - a failing condition pauses
                return "condition_error", _describe(e)
            bp.hits += 1
            if bp.hit_count is not None and bp.hits != bp.hit_count:
                return None, None
            if bp.log_message is not None:
                self._log_point(bp.log_message, frame)
                return None, None
            return "breakpoint", None
        finally:
            self._busy = False

    def _log_point(self, template: str, frame: FrameType) -> None:
        """Writes the log message to the run's standard output (a "stdout" run-output line)."""

        def part(match: re.Match[str]) -> str:
            try:
                value = eval(match.group(1), frame.f_globals, frame.f_locals)  # noqa: S307
                return str(value)
            except _Stop:
                raise
            except BaseException as e:  # noqa: BLE001 - shown in the line instead
                return f"<{_describe(e)}>"

        sys.stdout.write(_LOG_PART.sub(part, template) + "\n")

    def _frame_entry(self, frame: FrameType) -> dict[str, Any]:
        code = frame.f_code
        return {
            "module": code.co_filename[_VIRTUAL_START:-1],
            "function": code.co_name,
            "line": frame.f_lineno,
            "file": code.co_filename,
        }

    def _pause_message(self, frame: FrameType, reason: str, error: str | None) -> dict[str, Any]:
        variables = [
            {"name": name, "type": type(value).__name__, "repr": _safe_repr(value)}
            for name, value in list(frame.f_locals.items())
            if not (name.startswith("__") and name.endswith("__"))
        ]
        stack = []
        outer: FrameType | None = frame
        while outer is not None:
            if self._is_user_file(outer.f_code.co_filename):
                stack.append(self._frame_entry(outer))
            outer = outer.f_back
        where = stack[0] if stack else self._frame_entry(frame)
        message: dict[str, Any] = {
            "type": "debug_paused",
            "workbook_id": self.workbook_id,
            "request_id": self.request_id,
            "reason": reason,
            "module": where["module"],
            "line": where["line"],
            "file": where["file"],
            "function": where["function"],
            "locals": variables,
            "call_stack": stack,
        }
        if error is not None:
            message["error"] = error
        return message

    def _submit(self, message: dict[str, Any]) -> bool:
        """Hands `message` to the loop without waiting; False when the loop is gone."""
        loop = self.loop
        if loop is None or loop.is_closed():
            return False
        coroutine = self._send(message)
        try:
            asyncio.run_coroutine_threadsafe(coroutine, loop)
        except RuntimeError:
            coroutine.close()
            return False
        return True

    def _wait(self) -> str | None:
        """The command that ends the pause ("stop" when the kernel's loop has gone)."""
        while not self._resume.wait(_LOOP_CHECK):
            loop = self.loop
            if loop is None or loop.is_closed() or not loop.is_running():
                return _STOP
        return self._command

    def _pause(self, frame: FrameType, reason: str, error: str | None) -> None:
        self._busy = True
        try:
            message = self._pause_message(frame, reason, error)
        finally:
            self._busy = False
        with self._lock:
            self._command = None
            self._resume.clear()
            self._paused_frame = frame
        if self._stopping:  # a stop that came while the message was being built
            self._paused_frame = None
            self._raise_stop()
            return
        command = self._wait() if self._submit(message) else _STOP
        with self._lock:
            self._paused_frame = None
        if command == _STOP or self._stopping:
            self._stopping = True
            self._raise_stop()
            return
        self.step_mode = command if command in _STEP_KINDS else None
        self._step_frame = frame if self.step_mode is not None else None
        self._step_depth = _depth(frame)
        self._refresh_events()
