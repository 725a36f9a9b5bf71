"""Cost of one console run through CodeExecutor.execute, against the same steps written in plain
Python (compile/eval/exec with contextlib's process-wide redirection into an io.StringIO-backed
capture), measured in the same run.

Usage: ./run bench code_executor [--runs N]
"""

from __future__ import annotations

import argparse
import contextlib
import io
import statistics
import sys
import time
from collections.abc import Callable
from typing import Any

from zentrel_master.python_server import kernel

__all__ = ["main"]


class PyCapture(io.TextIOBase):
    """The capture stream in plain Python: buffer plus per-write callback."""

    def __init__(self, on_write: Callable[[str], None] | None = None) -> None:
        self._buffer = io.StringIO()
        self._on_write = on_write

    def write(self, text: str) -> int:
        if not text:
            return 0
        self._buffer.write(text)
        if self._on_write:
            try:
                self._on_write(text)
            except Exception:
                pass
        return len(text)

    def getvalue(self) -> str:
        return self._buffer.getvalue()


class PyExecutor:
    """The executor's steps in plain Python, with process-wide redirection."""

    def __init__(self) -> None:
        import builtins

        self.globals: dict[str, Any] = {"__builtins__": builtins}
        self.locals: dict[str, Any] = {}

    def execute(self, code: str, stdout_callback: Any = None, stderr_callback: Any = None) -> dict:
        out, err = PyCapture(stdout_callback), PyCapture(stderr_callback)
        record: dict[str, Any] = {
            "success": True, "stdout": "", "stderr": "", "error": None, "result": None,
        }
        try:
            with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
                try:
                    compiled = compile(code, "<kernel>", "eval")
                except SyntaxError:
                    exec(code, self.globals, self.locals)
                else:
                    record["result"] = eval(compiled, self.globals, self.locals)
                sys.stdout.flush()
                sys.stderr.flush()
        except Exception as e:  # noqa: BLE001
            record["success"] = False
            record["error"] = {"type": type(e).__name__, "message": str(e), "traceback": ""}
        record["stdout"] = out.getvalue()
        record["stderr"] = err.getvalue()
        return record


def time_runs(execute: Callable[..., dict], code: str, runs: int, callback: Any) -> list[float]:
    """Microseconds per call, one sample per call."""
    samples = []
    for _ in range(runs):
        start = time.perf_counter()
        execute(code, callback)
        samples.append((time.perf_counter() - start) * 1e6)
    return samples


def main() -> None:
    """Prints the table."""
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--runs", type=int, default=2000)
    args = parser.parse_args()

    pieces: list[str] = []
    ours, base = kernel.CodeExecutor(), PyExecutor()
    rows = []
    for label, code in [("1 + 1", "1 + 1"), ('print("x")', 'print("x")')]:
        for impl in (ours, base):  # warm up
            time_runs(impl.execute, code, 200, pieces.append)
        o = time_runs(ours.execute, code, args.runs, pieces.append)
        b = time_runs(base.execute, code, args.runs, pieces.append)
        rows.append((f"{label} median us", statistics.median(o), statistics.median(b)))
        p95 = lambda s: statistics.quantiles(s, n=20)[-1]  # noqa: E731
        rows.append((f"{label} p95 us", p95(o), p95(b)))

    loop = "for i in range(10000):\n    print('line', i)\n"
    rates = []
    for impl in (ours, base):
        pieces.clear()
        start = time.perf_counter()
        impl.execute(loop, pieces.append)
        rates.append(len(pieces) / (time.perf_counter() - start))
    rows.append(("10,000 prints: pieces/s", rates[0], rates[1]))

    width = max(len(r[0]) for r in rows)
    print(f"{'measure':<{width}}  {'ours':>12}  {'python':>12}  {'ours/python':>11}")
    for name, o, b in rows:
        print(f"{name:<{width}}  {o:>12.1f}  {b:>12.1f}  {o / b:>11.2f}")


if __name__ == "__main__":
    main()
