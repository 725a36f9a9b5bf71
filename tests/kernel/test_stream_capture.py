"""StreamCapture, KernelStreamHook, and per-thread routing of output between overlapping runs."""

from __future__ import annotations

import io
import sys
import threading
from collections.abc import Callable
from typing import Any

import pytest

from zentrel_master.python_server import kernel


class TestStreamCapture:
    def test_buffers_and_forwards_each_piece(self):
        pieces: list[str] = []
        capture = kernel.StreamCapture(pieces.append)
        assert capture.write("ab") == 2
        assert capture.write("c") == 1
        assert capture.getvalue() == "abc"
        assert pieces == ["ab", "c"]

    def test_empty_write_returns_zero_without_callback(self):
        pieces: list[str] = []
        capture = kernel.StreamCapture(pieces.append)
        assert capture.write("") == 0
        assert pieces == []

    def test_failing_callback_still_buffers(self):
        def broken(text: str) -> None:
            raise ValueError("no")

        capture = kernel.StreamCapture(broken)
        assert capture.write("kept") == 4
        assert capture.getvalue() == "kept"

    def test_base_exception_from_callback_propagates(self):
        def interrupt(text: str) -> None:
            raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            kernel.StreamCapture(interrupt).write("x")

    def test_non_str_is_refused(self):
        with pytest.raises(TypeError, match="Argument 'text' has incorrect type"):
            kernel.StreamCapture().write(b"x")

    @pytest.mark.parametrize("cls", [kernel.StreamCapture, kernel.KernelStreamHook])
    def test_is_a_write_only_text_stream(self, cls):
        stream = cls() if cls is kernel.StreamCapture else cls("stdout", None)
        assert isinstance(stream, io.TextIOBase)
        assert (stream.readable(), stream.writable()) == (False, True)


def install_console(monkeypatch: pytest.MonkeyPatch) -> io.StringIO:
    """A console stand-in as sys.stdout. Installed from the test body: pytest's output capture
    puts its own sys.stdout back after fixtures run."""
    console = io.StringIO()
    monkeypatch.setattr(sys, "stdout", console)
    return console


class TestKernelStreamHook:
    def test_echoes_and_sends(self, monkeypatch):
        console = install_console(monkeypatch)
        sent: list[tuple[str, str]] = []
        hook = kernel.KernelStreamHook("stdout", lambda kind, text: sent.append((kind, text)))
        assert hook.write("hello") == 5
        assert console.getvalue() == "hello"
        assert sent == [("stdout", "hello")]

    def test_empty_write_sends_nothing(self, monkeypatch):
        console = install_console(monkeypatch)
        sent: list[Any] = []
        hook = kernel.KernelStreamHook("stdout", lambda *args: sent.append(args))
        assert hook.write("") == 0
        assert sent == [] and console.getvalue() == ""

    def test_failing_sender_reports_once_per_write(self, monkeypatch):
        console = install_console(monkeypatch)
        def broken(kind: str, text: str) -> None:
            raise ConnectionError("gone")

        hook = kernel.KernelStreamHook("stdout", broken)
        assert hook.write("a") == 1
        assert hook.write("b") == 1
        error_line = "[KernelStreamHook Error] gone\n"
        assert console.getvalue() == f"a{error_line}b{error_line}"

    def test_failing_console_is_ignored(self, monkeypatch):
        class Closed(io.StringIO):
            def write(self, text: str) -> int:
                raise OSError("closed")

        monkeypatch.setattr(sys, "stderr", Closed())
        sent: list[Any] = []
        hook = kernel.KernelStreamHook("stderr", lambda *args: sent.append(args))
        assert hook.write("x") == 1
        hook.flush()
        assert sent == [("stderr", "x")]

    def test_remembers_the_stream_current_when_built(self, monkeypatch):
        first, second = io.StringIO(), io.StringIO()
        monkeypatch.setattr(sys, "stderr", first)
        hook = kernel.KernelStreamHook("stderr", None)
        monkeypatch.setattr(sys, "stderr", second)
        hook.write("x")
        assert (first.getvalue(), second.getvalue()) == ("x", "")


def run_in_thread(fn: Callable[[], Any]) -> tuple[threading.Thread, dict[str, Any]]:
    """Starts `fn` on a new thread; its return value lands in the dict under "value"."""
    out: dict[str, Any] = {}

    def target() -> None:
        out["value"] = fn()

    thread = threading.Thread(target=target)
    thread.start()
    return thread, out


class TestOverlappingRuns:
    """Each run gets exactly its own output, whatever the threads do meanwhile."""

    @staticmethod
    def install_hooks(monkeypatch: pytest.MonkeyPatch) -> list[tuple[str, str]]:
        """A connected kernel's hooks as the process streams; returns what they sent."""
        sent: list[tuple[str, str]] = []
        lock = threading.Lock()

        def send(kind: str, text: str) -> None:
            with lock:
                sent.append((kind, text))

        monkeypatch.setattr(sys, "stdout", io.StringIO())
        monkeypatch.setattr(sys, "stderr", io.StringIO())
        monkeypatch.setattr(sys, "stdout", kernel.KernelStreamHook("stdout", send))
        monkeypatch.setattr(sys, "stderr", kernel.KernelStreamHook("stderr", send))
        return sent

    @pytest.mark.parametrize("first_to_end", ["a", "b"])
    def test_two_runs_keep_their_own_output(self, monkeypatch, first_to_end):
        hook = self.install_hooks(monkeypatch)
        before = (sys.stdout, sys.stderr)
        executor = kernel.CodeExecutor()
        events = {name: threading.Event() for name in ("a_started", "b_started", "a_end", "b_end")}
        executor.locals.update(events)
        code = (
            "import sys\n"
            "print('{me}-1')\n"
            "{me}_started.set()\n"
            "{other}_started.wait()\n"
            "print('{me}-2', file=sys.stderr)\n"
            "{me}_end.wait()\n"
            "print('{me}-3')\n"
        )
        pieces = {"a": [], "b": []}
        runs = {}
        for me, other in (("a", "b"), ("b", "a")):
            runs[me] = run_in_thread(
                lambda me=me, other=other: executor.execute(
                    code.format(me=me, other=other), pieces[me].append, pieces[me].append
                )
            )
        events["a_started"].wait()
        events["b_started"].wait()
        # A thread that runs nothing writes while both runs are active: the kernel's hook gets it.
        background, _ = run_in_thread(lambda: print("background"))
        background.join()
        order = [first_to_end, "b" if first_to_end == "a" else "a"]
        for name in order:
            events[f"{name}_end"].set()
            runs[name][0].join()
        for me in ("a", "b"):
            record = runs[me][1]["value"]
            assert record["stdout"] == f"{me}-1\n{me}-3\n"
            assert record["stderr"] == f"{me}-2\n"
            assert "".join(pieces[me]) == f"{me}-1\n{me}-2\n{me}-3\n"
        assert hook == [("stdout", "background"), ("stdout", "\n")]
        assert (sys.stdout, sys.stderr) == before

    def test_streams_restored_when_the_last_run_fails(self, monkeypatch):
        self.install_hooks(monkeypatch)
        before = (sys.stdout, sys.stderr)
        record = kernel.CodeExecutor().execute("import sys; sys.exit(1)")
        assert record["error"]["type"] == "SystemExit"
        assert (sys.stdout, sys.stderr) == before

    def test_nested_run_on_the_same_thread(self, monkeypatch):
        hook = self.install_hooks(monkeypatch)
        executor = kernel.CodeExecutor()
        executor.locals["inner_executor"] = kernel.CodeExecutor()
        record = executor.execute(
            "print('outer-1')\n"
            "inner = inner_executor.execute(\"print('inner')\")\n"
            "print('outer-2')\n"
        )
        assert record["stdout"] == "outer-1\nouter-2\n"
        assert executor.locals["inner"]["stdout"] == "inner\n"
        assert hook == []

    def test_stream_replaced_during_a_run_is_left_alone(self, monkeypatch):
        self.install_hooks(monkeypatch)
        replacement = io.StringIO()
        executor = kernel.CodeExecutor()
        executor.locals["replacement"] = replacement
        # As a kernel disconnecting mid-run would: put another stream in place.
        executor.execute("import sys; sys.stdout = replacement")
        assert sys.stdout is replacement

    def test_without_a_kernel_output_goes_to_the_original_stream(self, monkeypatch):
        console = io.StringIO()
        monkeypatch.setattr(sys, "stdout", console)
        executor = kernel.CodeExecutor()
        started, finish = threading.Event(), threading.Event()
        executor.locals.update(started=started, finish=finish)
        thread, result = run_in_thread(
            lambda: executor.execute("started.set(); finish.wait(); print('run')")
        )
        started.wait()
        print("outside")
        finish.set()
        thread.join()
        assert console.getvalue() == "outside\n"
        assert result["value"]["stdout"] == "run\n"
        assert sys.stdout is console
