"""Workbook event handlers run through the Business Layer on a real kernel process."""

from __future__ import annotations

from typing import Any

import pytest

from support.business_layer import Session
from support.events import assert_serving, collect_until, push_module, wire

HANDLERS = '''
import sys
import threading

seen = []
gate = threading.Event()

def on_change(address, value):
    print("changed", address, value)
    seen.append((address, value))
    return "ignored"

def noisy_failure():
    print("x")
    raise ValueError("boom")

def wait_for_gate():
    return gate.wait(30)

def open_gate():
    gate.set()
'''

REPLY_FIELDS = [
    "type", "status", "logs", "error", "request_id", "module_name", "function_name", "workbook_id",
]


@pytest.fixture
def handlers(kernel: Session) -> Session:
    push_module(kernel, "wb_handlers", HANDLERS)
    return kernel


def fire(
    session: Session, function_name: str, request_id: str, **fields: Any
) -> list[dict[str, Any]]:
    message = {
        "type": "event_execution",
        "module_name": "wb_handlers",
        "function_name": function_name,
        "request_id": request_id,
        **fields,
    }
    session.send(message)
    return collect_until(session, request_id, lambda m: m["type"] == "event_execution_result")


class TestSuccess:
    def test_handler_output_streams_then_success_reply(self, handlers: Session) -> None:
        workbook_id = handlers.session.workbook_id
        messages = fire(
            handlers, "on_change", "ev1", args=[wire("A1"), wire(7)], source="ide",
            workbook_id="wb-other", object_name="Sheet1", event_type="onChanged",
        )
        *output, reply = messages
        assert "".join(m["content"] for m in output) == "changed A1 7\n"
        assert all(m["type"] == "stdout" for m in output)
        # Run output always says it came from the add-in and echoes the message's workbook id.
        assert {(m["source"], m["workbook_id"]) for m in output} == {("addin", "wb-other")}
        assert list(reply) == REPLY_FIELDS
        assert reply == {
            "type": "event_execution_result", "status": "success", "logs": "changed A1 7\n",
            "error": None, "request_id": "ev1", "module_name": "wb_handlers",
            "function_name": "on_change", "workbook_id": "wb-other",
        }
        assert "ignored" not in str(messages)
        assert workbook_id != "wb-other"

    def test_missing_workbook_id_uses_the_kernels_own(self, handlers: Session) -> None:
        messages = fire(handlers, "on_change", "ev2", args=[wire("B2"), wire(1)])
        assert {m["workbook_id"] for m in messages} == {handlers.session.workbook_id}

    def test_events_run_concurrently_on_separate_workers(self, handlers: Session) -> None:
        handlers.send({
            "type": "event_execution", "module_name": "wb_handlers",
            "function_name": "wait_for_gate", "request_id": "waiting",
        })
        handlers.send({
            "type": "event_execution", "module_name": "wb_handlers",
            "function_name": "open_gate", "request_id": "opening",
        })
        # The first handler blocks its worker until the second one, run meanwhile, opens the gate.
        statuses: dict[str, str] = {}
        while len(statuses) < 2:
            message = handlers.receive()
            if message["type"] == "event_execution_result":
                statuses[message["request_id"]] = message["status"]
        assert statuses == {"waiting": "success", "opening": "success"}


@pytest.mark.shared_kernel
class TestFailure:
    def test_output_and_traceback_reach_client_and_reply(self, handlers: Session) -> None:
        *output, reply = fire(handlers, "noisy_failure", "ev3")
        assert (output[0]["type"], output[0]["content"][:1]) == ("stdout", "x")
        stderr = "".join(m["content"] for m in output if m["type"] == "stderr")
        assert stderr.startswith("Traceback") and stderr.endswith("ValueError: boom\n")
        assert (reply["status"], reply["request_id"]) == ("error", "ev3")
        assert reply["logs"].startswith("x\n") and "ValueError: boom" in reply["logs"]
        assert reply["error"] == stderr

    @pytest.mark.parametrize(
        ("module_name", "function_name", "args", "expected"),
        [
            ("wb_absent", "f", [], "ModuleNotFoundError: No module named 'wb_absent'"),
            ("wb_handlers", "nope", [], "AttributeError: Function 'nope' not found in module "
             "'wb_handlers'"),
            ("wb_handlers", "on_change", [wire(1)], "TypeError"),
        ],
        ids=["module-missing", "function-missing", "arity"],
    )
    def test_failures_are_replied_and_kernel_keeps_serving(
        self, handlers: Session, module_name: str, function_name: str, args: list[Any],
        expected: str,
    ) -> None:
        reply = fire(handlers, function_name, "evf", module_name=module_name, args=args)[-1]
        assert reply["status"] == "error" and expected in reply["error"]
        assert reply["module_name"] == module_name
        assert_serving(handlers)
        assert fire(handlers, "on_change", "after", args=[wire("C3"), wire(0)])[-1]["status"] == (
            "success"
        )

    def test_missing_function_is_the_handlers_failure_with_its_traceback_streamed(
        self, handlers: Session
    ) -> None:
        *output, reply = fire(handlers, "nope", "evm")
        stderr = "".join(m["content"] for m in output if m["type"] == "stderr")
        assert stderr == "AttributeError: Function 'nope' not found in module 'wb_handlers'\n"
        assert (reply["status"], reply["error"], reply["logs"]) == ("error", stderr, stderr)

    @pytest.mark.off_protocol("incoming")
    def test_unconvertible_argument_fails_before_the_import(self, handlers: Session) -> None:
        reply = fire(handlers, "f", "evb", module_name="wb_absent", args=[5])[-1]
        assert reply["status"] == "error"
        assert "wb_absent" not in reply["error"] and "expected dict, got int" in reply["error"]


@pytest.mark.off_protocol("incoming")
@pytest.mark.shared_kernel
class TestMalformed:
    @pytest.mark.parametrize("missing", ["module_name", "function_name"])
    def test_missing_name_is_only_logged(self, handlers: Session, missing: str) -> None:
        message = {
            "type": "event_execution", "module_name": "wb_handlers", "function_name": "on_change",
            "request_id": "evm",
        }
        del message[missing]
        handlers.send(message)
        assert_serving(handlers)
        handlers.wait_for_log("[Kernel] event_execution missing module_name or function_name")
