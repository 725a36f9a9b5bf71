"""The kernel calls its own request handling directly; what user code replaces still runs."""

from __future__ import annotations

from support.console import Console, streams

INSTALL = "import zentrel\nkernel = zentrel._kernel_instance\n"


class TestReplacementsStillRun:
    def test_replaced_execute_code_async_handles_the_next_requests(self, console: Console) -> None:
        console.run(
            INSTALL
            + "seen = []\n"
            "def spy(code, request_id, function_name=None, source='ide'):\n"
            "    seen.append(code)\n"
            "    return type(kernel)._execute_code_async(\n"
            "        kernel, code, request_id, function_name, source)\n"
            "kernel._execute_code_async = spy"
        )
        assert console.run("6 * 7")[-1]["result"] == "42"
        assert console.value("seen") == ["6 * 7", "seen"]
        console.run("del kernel._execute_code_async")
        console.run("1")
        assert console.value("seen") == ["6 * 7", "seen", "del kernel._execute_code_async"]

    def test_replaced_executor_runs_the_code_and_its_output_streams(
        self, console: Console
    ) -> None:
        console.run(
            INSTALL
            + "class Recording:\n"
            "    def __init__(self, inner):\n"
            "        self.inner, self.codes = inner, []\n"
            "    def execute(self, code, stdout_callback=None, stderr_callback=None):\n"
            "        self.codes.append(code)\n"
            "        return self.inner.execute(code, stdout_callback, stderr_callback)\n"
            "kernel.executor = Recording(kernel.executor)"
        )
        messages = console.run("print('hi')")
        assert streams(messages) == [("stdout", "hi\n")]
        assert messages[-1]["result"] is None
        assert console.value("kernel.executor.codes") == ["print('hi')", "kernel.executor.codes"]

    def test_replaced_executor_method_on_the_class_is_called(self, console: Console) -> None:
        console.run(
            INSTALL
            + "cls = type(kernel.executor)\n"
            "own = cls.execute\n"
            "def execute(self, code, stdout_callback=None, stderr_callback=None):\n"
            "    code = \"'patched'\" if code == '1 + 1' else code\n"
            "    return own(self, code, stdout_callback, stderr_callback)\n"
            "cls.execute = execute"
        )
        try:
            assert console.run("1 + 1")[-1]["result"] == "'patched'"
        finally:
            console.run("cls.execute = own")
        assert console.run("1 + 1")[-1]["result"] == "2"
