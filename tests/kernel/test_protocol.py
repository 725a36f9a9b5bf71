"""The protocol reference and its schemas: current, complete, and strict where it matters."""

from __future__ import annotations

import asyncio
import json
import re
from pathlib import Path
from typing import Any

import pytest

from support.business_layer import (
    Session,
    ThreadedBusinessLayer,
    connected_kernel,
    protocol_checker,
)
from zentrel_master.business_layer import protocol_docs
from zentrel_master.business_layer.protocol_check import INCOMING, OUTGOING, problem, schema

WIRE_2 = {"type": "Int", "value": 2, "isSpec": False}


def _types(direction: str) -> list[str]:
    return schema(direction)["properties"]["type"]["enum"]


class TestReference:
    def test_examples_and_field_tables_are_current(self) -> None:
        current = protocol_docs.REFERENCE.read_text(encoding="utf-8")
        fresh = protocol_docs.render(current, protocol_docs.collect_examples())
        assert fresh == current, "docs/protocol.md is not current: run ./run docs"

    def test_samples_written_by_hand_fit_the_schemas(self) -> None:
        text = protocol_docs.REFERENCE.read_text(encoding="utf-8")
        found = protocol_docs.samples(text)
        assert found
        for direction, message in found:
            assert problem(direction, message) is None, message

    def test_every_message_type_is_documented(self) -> None:
        text = protocol_docs.REFERENCE.read_text(encoding="utf-8")
        shown = {
            json.loads(body)["type"]
            for body in re.findall(r"-->\n```json\n(.*?)\n```", text, re.DOTALL)
        }
        missing_out = set(_types(OUTGOING)) - shown
        assert not missing_out, f"outgoing types without an example: {sorted(missing_out)}"
        for kind in _types(INCOMING):
            assert f"`{kind}`" in text or f'"{kind}"' in text, kind


def test_schemas_name_every_type_the_kernel_dispatches_and_builds() -> None:
    native = Path(__file__).resolve().parents[2] / "native" / "kernel"
    table = (native / "dispatch" / "message_dispatcher.cpp").read_text()
    rows = set(re.findall(r'\{"([a-z_]+)", &', table)) | {"chunk"}
    assert rows == set(_types(INCOMING))
    sources = "".join(p.read_text() for p in native.rglob("*.[ch]pp"))
    built = set(re.findall(r'(?:\["type"\]|py::arg\("type"\)) = "([a-z_]+)"', sources))
    built |= set(re.findall(r'(?:SYS_REQUEST|STREAM_TYPE|BATCH_TYPE|CHUNK_HEADER_TYPE) = "(\w+)"',
                            sources))
    # A module run without debug hands itself a custom function call; that one never leaves.
    built.discard("custom_function_call")
    assert len(built) > 20 and built <= set(_types(OUTGOING)), built - set(_types(OUTGOING))


# (direction, message, fragment of the problem or None when the message fits)
CASES = [
    ("in-execution-request", INCOMING,
     {"type": "execution_request", "code": "1", "request_id": "r1"}, None),
    ("in-code-not-text", INCOMING, {"type": "execution_request", "code": 5}, "code"),
    ("in-unknown-type", INCOMING, {"type": "execute"}, "type"),
    ("in-no-type", INCOMING, {"code": "1"}, "'type' is a required property"),
    ("in-args-not-list", INCOMING,
     {"type": "custom_function_call", "module_name": "m", "function_name": "f", "args": 5},
     "args"),
    ("in-bad-wire-value", INCOMING,
     {"type": "custom_function_call", "module_name": "m", "function_name": "f",
      "args": [{"type": "Int", "value": "two"}]}, "args/0/value"),
    ("in-sys-response-payload", INCOMING,
     {"type": "sys_response", "payload": {"requestId": "a1", "ok": True, "result": WIRE_2}},
     None),
    ("in-sys-response-top-level", INCOMING,
     {"type": "sys_response", "requestId": "a1", "ok": False, "error": {"message": "no"}}, None),
    ("in-sys-response-no-id", INCOMING, {"type": "sys_response", "payload": {"ok": True}},
     "requestId"),
    ("in-update-module-unnamed", INCOMING, {"type": "update_module", "code": "x = 1"},
     "module_name"),
    ("in-breakpoint-shape", INCOMING,
     {"type": "debug_update_breakpoints", "breakpoints": [{"module": "m", "line": "3"}]},
     "breakpoints/0/line"),
    ("out-result", OUTGOING,
     {"type": "execution_result", "success": True, "result": "2", "request_id": "r1",
      "function_name": None, "workbook_id": "wb", "source": "ide"}, None),
    ("out-unknown-field", OUTGOING,
     {"type": "execution_result", "success": True, "result": "2", "request_id": "r1",
      "function_name": None, "workbook_id": "wb", "source": "ide", "extra": 1}, "extra"),
    ("out-success-false", OUTGOING,
     {"type": "execution_result", "success": False, "result": None, "request_id": "r1",
      "function_name": None, "workbook_id": "wb", "source": "ide"}, "success"),
    ("out-wire-without-isSpec", OUTGOING,
     {"type": "function_execution_result", "request_id": "f1", "status": "success",
      "result": {"type": "Int", "value": 2}, "logs": ""}, "result"),
    ("out-error-reply-open", OUTGOING,
     {"type": "error", "message": "dropped", "original_type": "run_module", "request_id": "m"},
     None),
    ("out-batch-checks-inner", OUTGOING,
     {"type": "batch", "messages": [{"type": "stdout", "content": "a", "workbook_id": "wb"},
                                    {"type": "stdout", "content": 1, "workbook_id": "wb"}]},
     "messages/1/content"),
    ("out-proxy-set-needs-value", OUTGOING,
     {"type": "sys_request", "payload": {"method": "SET", "name": "x", "caller": 1,
                                         "requestId": "0" * 32, "kind": "request"}}, "value"),
    ("out-chunk-data-too-long", OUTGOING,
     {"type": "chunk", "chunk_id": "00000000-0000-4000-8000-000000000001", "chunk_index": 0,
      "total_chunks": 2, "data": "x" * 65537, "original_type": "t", "request_id": "N/A"},
     "data"),
]


@pytest.mark.parametrize(
    ("direction", "message", "fragment"), [c[1:] for c in CASES], ids=[c[0] for c in CASES]
)
@pytest.mark.parametrize("thorough", [False, True], ids=["compiled", "whole-document"])
def test_schema_verdicts(
    direction: str, message: dict[str, Any], fragment: str | None, thorough: bool
) -> None:
    found = problem(direction, message, thorough)  # type: ignore[arg-type]
    if fragment is None:
        assert found is None
    else:
        assert found is not None and fragment in found, found


def test_schemas_use_only_keywords_both_validators_know() -> None:
    newer = {"unevaluatedProperties", "unevaluatedItems", "dependentRequired",
             "dependentSchemas", "prefixItems", "$dynamicRef", "$anchor", "minContains",
             "maxContains"}

    def keys(node: Any) -> set[str]:
        if isinstance(node, dict):
            return set(node).union(*(keys(v) for v in node.values()))
        if isinstance(node, list):
            return set().union(*(keys(v) for v in node))
        return set()

    for direction in (INCOMING, OUTGOING):
        assert not keys(schema(direction)) & newer, direction


class TestCheckedBusinessLayer:
    def test_messages_outside_the_schema_are_recorded_in_both_directions(
        self, kernel: Session
    ) -> None:
        kernel.send({"type": "execution_request", "code": 5, "request_id": "bad"})
        reply = kernel.receive()
        assert reply["type"] == "error"
        kernel.send_raw(json.dumps({"type": "execution_request", "code": 6}))
        assert kernel.receive()["type"] == "error"
        taken = protocol_checker.take()
        assert [(v.direction, v.workbook_id) for v in taken] == [
            ("incoming", kernel.session.workbook_id)
        ]
        assert "code" in taken[0].problem and '"bad"' in taken[0].excerpt

    def test_kernel_messages_are_checked_whole_and_chunk_by_chunk(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ) -> None:
        # An in-process kernel sends what a drifted handler would: an unknown field, once
        # short and once long enough to go as chunks (each chunk fits; the whole does not).
        drifted = {"type": "namespace_reset", "extra": "x"}
        long = {"type": "namespace_reset", "extra": "y" * 70000}

        async def scenario() -> None:
            async with connected_kernel(business_layer, workbook_id) as (kernel, session):
                for message in (drifted, long):
                    await kernel.send_message(message)
                    assert await session.areceive() == message

        asyncio.run(scenario())
        taken = protocol_checker.take()
        assert [(v.direction, "extra" in v.problem) for v in taken] == [("outgoing", True)] * 2
        assert '"y' in taken[1].excerpt and '"chunk"' not in taken[1].excerpt

    def test_an_unreadable_frame_from_the_kernel_is_a_violation(self) -> None:
        checker = type(protocol_checker)()
        assert checker.check_frame(OUTGOING, "wb", "{oops") is None
        assert checker.check_frame(OUTGOING, "wb", b'{"type": "namespace_reset"}') == {
            "type": "namespace_reset"
        }
        (violation,) = checker.take()
        assert violation.problem.startswith("not JSON text") and checker.take() == []
