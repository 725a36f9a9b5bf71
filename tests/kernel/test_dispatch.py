"""The dispatch table through the Business Layer: inline rows, replies, silence and bad input."""

from __future__ import annotations

import pytest

from support.console import Console

# A debugger that user code installs on the kernel, recording what the dispatcher calls.
DEBUGGER = """
import zentrel
class Recorder:
    def __init__(self):
        self.calls = []
    def continue_execution(self): self.calls.append('continue')
    def step_over(self): self.calls.append('over')
    def step_into(self): self.calls.append('into')
    def step_out(self): self.calls.append('out')
    def stop_debugging(self): self.calls.append('stop')
    def set_breakpoints(self, points): self.calls.append(('breakpoints', points))
    def evaluate_expression(self, expression):
        if expression == 'boom':
            raise RuntimeError('cannot evaluate')
        return {'result': expression.upper(), 'expression': 'rewritten'}
recorder = Recorder()
zentrel._kernel_instance._debugger = recorder
"""


@pytest.mark.off_protocol("incoming")
@pytest.mark.shared_kernel
class TestSilentRows:
    @pytest.mark.parametrize(
        "message",
        [
            {"type": "no_such_type"},
            {"type": "Execution_Request", "code": "1"},
            {"request_id": "r"},
            {"type": 5},
            {"type": "debug_continue"},
            {"type": "debug_step_over"},
            {"type": "debug_stop"},
            {"type": "debug_update_breakpoints", "breakpoints": []},
        ],
        ids=["unknown", "case-differs", "no-type", "type-number", "continue-no-debugger",
             "step-no-debugger", "stop-no-debugger", "breakpoints-no-debugger"],
    )
    def test_answers_nothing(self, console: Console, message: dict) -> None:
        console.assert_silent(message)

    def test_cancel_without_request_id_adds_none(self, console: Console) -> None:
        console.assert_silent({"type": "cancel_streaming_function"})
        console.assert_silent({"type": "cancel_streaming_function", "request_id": "s1"})
        assert console.value(
            "import zentrel; sorted(map(str, zentrel._kernel_instance._canceled_streaming_requests))"
        ) == ["None", "s1"]


class TestReplies:
    def test_reset_namespace_forgets_bindings_keeps_injected_names(self, console: Console) -> None:
        console.run("x = 1")
        assert console.exchange({"type": "reset_namespace"}) == {"type": "namespace_reset"}
        assert console.run("x")[-1]["error"]["type"] == "NameError"
        assert console.value("[type(n).__name__ for n in (zentrel, excel, context)][0]") == "module"

    def test_debug_evaluate_without_debugger(self, console: Console) -> None:
        reply = console.exchange({"type": "debug_evaluate", "expression": "x", "request_id": "r1"})
        assert list(reply.items()) == [
            ("type", "debug_evaluate_result"),
            ("workbook_id", console.session.session.workbook_id),
            ("request_id", "r1"),
            ("expression", "x"),
            ("error", "No active debug session"),
        ]

    def test_object_registry_lists_kept_objects(self, console: Console) -> None:
        console.run("import zentrel; zentrel._kernel_instance._object_keeper['rows'] = [1, 2]")
        reply = console.exchange({"type": "get_object_registry"})
        assert reply["type"] == "object_registry_response"
        assert reply["objects"] == [{"key": "rows", "type": "list", "repr": "[1, 2]"}]

    def test_sys_response_wakes_waiting_worker(self, console: Console) -> None:
        console.run(
            "import threading, zentrel\nk = zentrel._kernel_instance\n"
            "events = {rid: threading.Event() for rid in ('p', 't')}\n"
            "k._response_futures.update(events)"
        )
        for rid, response in [
            ("p", {"type": "sys_response", "payload": {"requestId": "p", "ok": True}}),
            ("t", {"type": "sys_response", "payload": {}, "requestId": "t", "ok": False}),
        ]:
            console.session.send({"type": "execution_request", "request_id": rid,
                                  "function_name": "f",
                                  "code": f"events[{rid!r}].wait(30) and k._response_data[{rid!r}]"})
            console.session.send(response)
            final = console.collect(rid)[-1]
            expected = response["payload"] or response
            assert final["result"] == expected

    @pytest.mark.off_protocol("incoming")
    def test_sys_response_for_unknown_id_only_warns(self, console: Console) -> None:
        console.assert_silent({"type": "sys_response", "payload": {"requestId": "nobody"}})
        console.session.wait_for_log("[Kernel] Received sys_response for unknown request_id: nobody")
        console.assert_silent({"type": "sys_response"})
        console.session.wait_for_log("[Kernel] Received sys_response without requestId")


class TestDebuggerRows:
    @pytest.mark.off_protocol("incoming")
    def test_controls_reach_the_active_debugger(self, console: Console) -> None:
        console.run(DEBUGGER)
        assert console.exchange({"type": "debug_continue"}) == {"type": "debug_resumed"}
        for kind in ("debug_step_over", "debug_step_into", "debug_step_out"):
            console.assert_silent({"type": kind})
        console.assert_silent({"type": "debug_update_breakpoints", "breakpoints": [{"line": 3}]})
        console.assert_silent({"type": "debug_update_breakpoints", "breakpoints": {"line": 3}})
        console.session.wait_for_log("[Kernel] Invalid breakpoints data type: <class 'dict'>")
        assert console.exchange({"type": "debug_stop"}) == {
            "type": "debug_terminated", "workbook_id": console.session.session.workbook_id,
        }
        assert console.value("[c if isinstance(c, str) else list(c) for c in recorder.calls]") == [
            "continue", "over", "into", "out", ["breakpoints", [{"line": 3}]], "stop",
        ]

    def test_evaluate_merges_debugger_answer_over_fixed_fields(self, console: Console) -> None:
        console.run(DEBUGGER)
        reply = console.exchange({"type": "debug_evaluate", "expression": "abc"})
        assert reply == {
            "type": "debug_evaluate_result",
            "workbook_id": console.session.session.workbook_id,
            "request_id": None,
            "expression": "rewritten",
            "result": "ABC",
        }

    def test_failing_debugger_is_answered_and_kernel_keeps_serving(self, console: Console) -> None:
        console.run(DEBUGGER + "\nkept = 7")
        reply = console.exchange({"type": "debug_evaluate", "expression": "boom", "request_id": "b"})
        assert reply == {
            "type": "error",
            "message": "debug_evaluate: RuntimeError: cannot evaluate",
            "request_id": "b",
        }
        assert console.value("kept") == 7


MALFORMED = [
    ({"type": "update_module", "module_name": 5, "code": "x = 1"}, "'module_name' must be text"),
    ({"type": "update_module", "module_name": "m", "code": ["x"]}, "'code' must be text"),
    ({"type": "delete_module", "module_name": None}, "'module_name' must be text, got NoneType"),
    ({"type": "add_path", "path": 3}, "'path' must be text, got int"),
    ({"type": "remove_path", "path": 3.5}, "'path' must be text, got float"),
    ({"type": "set_package_paths", "old_paths": "/x"}, "'old_paths' must be a list of text"),
    ({"type": "set_package_paths", "new_paths": ["/a", 1]}, "a list holding int"),
    ({"type": "set_python_paths", "old_paths": 3}, "'old_paths' must be a list of text, got int"),
    ({"type": "unload_and_clear_paths", "paths": {"a": 1}}, "'paths' must be a list of text"),
    ({"type": "cancel_streaming_function", "request_id": {}}, "'request_id' must be text or null"),
    ({"type": "debug_evaluate", "expression": 1}, "'expression' must be text"),
    ({"type": "set_hover_mode", "mode": 2}, "'mode' must be text"),
    ({"type": "sys_response", "payload": "yes"}, "'payload' must be an object, got str"),
    ({"type": "sys_response", "payload": {"requestId": 9}}, "'requestId' must be text, got int"),
]


@pytest.mark.off_protocol("incoming")
@pytest.mark.shared_kernel
class TestMalformedFields:
    @pytest.mark.parametrize(
        ("message", "problem"),
        MALFORMED,
        ids=[f"{m['type']}-{i}" for i, (m, _) in enumerate(MALFORMED)],
    )
    def test_answered_and_namespace_survives(
        self, console: Console, message: dict, problem: str
    ) -> None:
        console.run("kept = [1, 2, 3]")
        reply = console.exchange(message)
        assert reply["type"] == "error"
        assert reply["message"].startswith(message["type"] + ": field ")
        assert problem in reply["message"]
        assert console.value("kept") == [1, 2, 3]


@pytest.mark.off_protocol("incoming")
def test_row_without_handler_answers_not_available(console: Console) -> None:
    # A kernel without the row's handler: the caller gets an answer, not silence.
    console.run("import zentrel; del type(zentrel._kernel_instance)._handle_run_module")
    assert not console.value("import zentrel; hasattr(zentrel._kernel_instance, '_handle_run_module')")
    reply = console.exchange({"type": "run_module", "request_id": "r"})
    assert reply == {
        "type": "error",
        "message": "run_module: run_module is not available in this kernel",
        "request_id": "r",
    }


def test_shutdown_ends_the_kernel_process(console: Console) -> None:
    console.session.send({"type": "shutdown"})
    assert console.session.wait_exit() == 0
