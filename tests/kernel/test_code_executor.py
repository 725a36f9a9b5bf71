"""CodeExecutor: results, errors, the persistent namespace and console-defined code."""

from __future__ import annotations

import sys
import threading

import pytest

from zentrel_master.python_server import kernel

zentrel = sys.modules["zentrel"]


@pytest.fixture
def executor() -> kernel.CodeExecutor:
    return kernel.CodeExecutor()


@pytest.mark.parametrize(
    ("code", "result", "stdout"),
    [
        ("1 + 1", 2, ""),
        ("x = 1; x + 1", 2, ""),
        ("x = 1", None, ""),
        ("None", None, ""),
        ("", None, ""),
        ('print("hi")', None, "hi\n"),
        ("x = 1; ", None, ""),
        ("x = 1; print(x); x + 1", None, "1\n"),
        ("for i in range(2):\n    print(i)\n", None, "0\n1\n"),
        ("[i * i for i in range(3)]", [0, 1, 4], ""),
    ],
    ids=[
        "expression",
        "statement-then-expression",
        "statement",
        "expression-none",
        "empty",
        "print-call",
        "trailing-separator",
        "three-parts",
        "block",
        "list-comprehension",
    ],
)
def test_result_and_output(executor, code, result, stdout):
    record = executor.execute(code)
    assert record == {
        "success": True,
        "stdout": stdout,
        "stderr": "",
        "error": None,
        "result": result,
    }
    assert list(record) == ["success", "stdout", "stderr", "error", "result"]


def test_result_is_the_object_itself(executor):
    executor.execute("marker = object()")
    assert executor.execute("marker")["result"] is executor.locals["marker"]


def test_three_parts_bind_every_name(executor):
    assert executor.execute("a = 1; b = 2; a + b")["result"] is None
    assert (executor.locals["a"], executor.locals["b"]) == (1, 2)


class TestErrors:
    def test_value_error_record(self, executor):
        record = executor.execute("raise ValueError('bad')")
        assert record["success"] is False
        error = record["error"]
        assert list(error) == ["type", "message", "traceback"]
        assert (error["type"], error["message"]) == ("ValueError", "bad")
        assert error["traceback"].endswith("ValueError: bad\n")
        assert error["traceback"].startswith("Traceback (most recent call last):\n")

    def test_syntax_error_in_statements(self, executor):
        record = executor.execute("x = (")
        assert record["success"] is False
        assert record["error"]["type"] == "SyntaxError"

    def test_output_before_failure_is_kept(self, executor):
        record = executor.execute(
            "print('before'); import sys; print('err', file=sys.stderr); 1 / 0"
        )
        assert record["success"] is False
        assert record["stdout"] == "before\n"
        assert record["stderr"] == "err\n"
        assert record["error"]["type"] == "ZeroDivisionError"

    def test_frames_name_kernel_for_expressions_and_string_for_statements(self, executor):
        assert 'File "<kernel>"' in executor.execute("1 / 0")["error"]["traceback"]
        assert 'File "<string>"' in executor.execute("x = 1 / 0")["error"]["traceback"]

    @pytest.mark.parametrize(
        ("code", "type_name"),
        [
            ("raise SystemExit(3)", "SystemExit"),
            ("import sys; sys.exit('bye')", "SystemExit"),
            ("raise KeyboardInterrupt", "KeyboardInterrupt"),
            ("class Stop(BaseException): pass\nraise Stop('halt')", "Stop"),
            ("def g():\n    yield 1\nraise GeneratorExit", "GeneratorExit"),
        ],
        ids=[
            "system-exit",
            "sys-exit",
            "keyboard-interrupt",
            "custom-base-exception",
            "generator-exit",
        ],
    )
    def test_base_exceptions_are_reported_not_raised(self, executor, code, type_name):
        stdout, stderr = sys.stdout, sys.stderr
        record = executor.execute(code)
        assert record["success"] is False
        assert record["error"]["type"] == type_name
        assert (sys.stdout, sys.stderr) == (stdout, stderr)
        assert executor.execute("1 + 1")["result"] == 2

    def test_tail_evaluation_raising_syntax_error_runs_once(self, executor):
        executor.execute("calls = []")
        record = executor.execute("x = 1; calls.append(1) or compile('(', 'f', 'eval')")
        assert record["error"]["type"] == "SyntaxError"
        assert executor.locals["calls"] == [1]

    def test_code_must_be_str(self, executor):
        with pytest.raises(TypeError, match="Argument 'code' has incorrect type"):
            executor.execute(b"1 + 1")

    def test_null_byte_is_a_reported_error(self, executor):
        record = executor.execute("x = 1\0")
        assert record["success"] is False
        assert record["error"]["type"] == "SyntaxError"


class TestNamespace:
    def test_globals_hold_the_four_injected_names(self, executor):
        import builtins

        assert list(executor.globals) == ["__builtins__", "zentrel", "excel", "context"]
        assert executor.globals["__builtins__"] is builtins
        assert executor.globals["zentrel"] is zentrel
        assert executor.execute("zentrel")["result"] is zentrel

    def test_bindings_land_in_locals_and_persist(self, executor):
        executor.execute("import math\nx = 41\ndef f(): return 1\nclass C: pass")
        assert {"math", "x", "f", "C"} <= set(executor.locals)
        assert list(executor.globals) == ["__builtins__", "zentrel", "excel", "context"]
        assert executor.execute("x + 1")["result"] == 42

    def test_reset_forgets_bindings_and_keeps_injected_names(self, executor):
        executor.execute("x = 1")
        executor.reset_namespace()
        assert executor.execute("x")["error"]["type"] == "NameError"
        record = executor.execute("(zentrel, excel, context)")
        assert record["success"] is True
        assert executor.locals == {}

    def test_reset_reads_the_user_package_again(self, executor, monkeypatch):
        sentinel = object()
        monkeypatch.setattr(zentrel, "excel", sentinel)
        assert executor.execute("excel")["result"] is not sentinel
        executor.reset_namespace()
        assert executor.execute("excel")["result"] is sentinel


class TestConsoleDefinedCode:
    """Functions and generator expressions defined at the console see earlier bindings."""

    @pytest.mark.parametrize(
        ("runs", "expected"),
        [
            (["import math", "def f(): return math.pi", "f()"], 3.141592653589793),
            (["x = 3", "sum(x for _ in range(2))"], 6),
            (["x = 3", "g = lambda: x * 2", "g()"], 6),
            (["def f(): return later", "later = 'bound after'", "f()"], "bound after"),
            (
                [
                    "def inner(): return 5",
                    "def outer(): return [inner() for _ in range(2)]",
                    "outer()",
                ],
                [5, 5],
            ),
            (["def len(x): return 42", "def g(): return len([])", "g()"], 42),
            (
                ["import math", "class K:\n    def m(self): return math.e", "K().m()"],
                2.718281828459045,
            ),
            (["def f(): return max(1, 2)", "f()"], 2),
        ],
        ids=[
            "function-sees-import",
            "generator-expression",
            "lambda",
            "late-binding",
            "function-calls-function",
            "user-name-shadows-builtin",
            "method",
            "builtin",
        ],
    )
    def test_lookups(self, executor, runs, expected):
        for code in runs[:-1]:
            assert executor.execute(code)["success"] is True
        record = executor.execute(runs[-1])
        assert record["error"] is None
        assert record["result"] == expected

    def test_unknown_name_is_still_a_name_error(self, executor):
        executor.execute("def f(): return nowhere")
        record = executor.execute("f()")
        assert record["error"]["type"] == "NameError"
        assert record["error"]["message"] == "name 'nowhere' is not defined"

    def test_functions_after_reset_see_the_new_namespace(self, executor):
        executor.execute("x = 1")
        executor.reset_namespace()
        executor.execute("x = 2\ndef f(): return x")
        assert executor.execute("f()")["result"] == 2


class TestCallbacks:
    def test_pieces_arrive_while_the_code_runs(self, executor):
        seen = threading.Event()
        pieces: list[str] = []

        def on_stdout(text: str) -> None:
            pieces.append(text)
            seen.set()

        executor.locals["seen"] = seen
        record = executor.execute("print('ping'); assert seen.is_set(), 'not streamed'", on_stdout)
        assert record["success"] is True
        assert pieces == ["ping", "\n"]

    def test_stderr_callback(self, executor):
        pieces: list[str] = []
        executor.execute("import sys; sys.stderr.write('warn')", stderr_callback=pieces.append)
        assert pieces == ["warn"]

    def test_failing_callback_does_not_disturb_the_run(self, executor):
        def broken(text: str) -> None:
            raise RuntimeError("callback broke")

        record = executor.execute("print('a'); 7", broken)
        assert record["success"] is True
        assert record["stdout"] == "a\n"
