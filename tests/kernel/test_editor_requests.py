"""Editor requests (completion, signature help, hover, diagnostics) against a real kernel."""

from __future__ import annotations

from typing import Any

import pytest

from support.console import Console

LIMIT = 1_000_000  # the longest text the kernel analyses


def ask(console: Console, message: dict[str, Any]) -> dict[str, Any]:
    reply = console.exchange(message)
    assert reply["type"] == message["type"].replace("_request", "_response"), reply
    return reply


def labels(reply: dict[str, Any]) -> list[str]:
    return [item["label"] for item in reply["completions"]]


class TestCompletion:
    def test_sees_in_memory_module_pushed_with_update_module(self, console: Console) -> None:
        pushed = console.exchange(
            {"type": "update_module", "module_name": "wb_helpers", "code": "def scale_total(x):\n    return x\n"}
        )
        assert pushed["type"] == "module_updated"
        code = "import wb_helpers\nwb_helpers.sc"
        reply = ask(
            console,
            {"type": "completion_request", "request_id": "c1", "code": code, "line": 2,
             "column": len("wb_helpers.sc"), "workbook_id": "wb", "module_name": "Sheet1"},
        )
        assert list(reply) == ["type", "completions", "error", "request_id", "workbook_id", "module_name"]
        assert reply["error"] is None
        assert (reply["request_id"], reply["workbook_id"], reply["module_name"]) == ("c1", "wb", "Sheet1")
        item = next(i for i in reply["completions"] if i["label"] == "scale_total")
        assert item["kind"] == 1 and item["detail"] == "(x)"

    def test_unsaved_module_text_wins_over_saved_one(self, console: Console) -> None:
        console.exchange({"type": "update_module", "module_name": "wb_dirty", "code": "saved_name = 1\n"})
        reply = ask(
            console,
            {"type": "completion_request", "code": "import wb_dirty\nwb_dirty.", "line": 2,
             "column": 9, "dirty_files": {"wb_dirty": "unsaved_name = 2\n"}},
        )
        assert "unsaved_name" in labels(reply) and "saved_name" not in labels(reply)
        console.session.wait_for_log("[LSP] Request received: line=2, column=9, path=None, code_length=25, dirty_files=1")

    def test_defaults_to_line_one_column_zero_and_null_echoes(self, console: Console) -> None:
        reply = ask(console, {"type": "completion_request"})
        assert reply["error"] is None
        assert {"for": 13}.items() <= {i["label"]: i["kind"] for i in reply["completions"]}.items()
        assert (reply["request_id"], reply["workbook_id"], reply["module_name"]) == (None, None, None)
        console.session.wait_for_log(
            "[LSP] Request received: line=1, column=0, path=None, code_length=0, dirty_files=0"
        )
        console.session.wait_for_log(f"[LSP] Response: {len(reply['completions'])} completions, error=None")


class TestSignatureAndHover:
    def test_signature_help_inside_call_names_active_parameter(self, console: Console) -> None:
        code = "def add(a: int, b: int) -> int:\n    return a + b\nadd(1, "
        reply = ask(console, {"type": "signature_help_request", "request_id": "s1", "code": code, "line": 3, "column": 7})
        assert list(reply) == [
            "type", "signatures", "activeSignature", "activeParameter", "error",
            "request_id", "workbook_id", "module_name",
        ]
        assert reply["activeSignature"] == 0 and reply["activeParameter"] == 1
        assert [s["label"] for s in reply["signatures"]] == ["add(a: int, b: int) -> int"]
        console.session.wait_for_log("[LSP] Signature help response: 1 signatures, error=None")

    def test_signature_help_outside_call_has_zero_defaults(self, console: Console) -> None:
        reply = ask(console, {"type": "signature_help_request", "code": "x = 1", "line": 1, "column": 5})
        assert (reply["signatures"], reply["activeSignature"], reply["activeParameter"], reply["error"]) == ([], 0, 0, None)

    def test_hover_on_function_from_in_memory_module(self, console: Console) -> None:
        console.exchange({"type": "update_module", "module_name": "wb_math", "code": "def twice(n: int) -> int:\n    return 2 * n\n"})
        code = "from wb_math import twice\ntwice(3)"
        reply = ask(console, {"type": "hover_request", "request_id": "h1", "code": code, "line": 2, "column": 2})
        assert list(reply) == ["type", "contents", "error", "request_id", "workbook_id", "module_name"]
        assert reply["error"] is None and "twice(n: int) -> int" in reply["contents"]["value"]
        console.session.wait_for_log("[LSP] Hover request: line=2, column=2, path=None, code_length=34")
        console.session.wait_for_log("[LSP] Hover response: has_contents=True, error=None")

    def test_hover_on_whitespace_has_null_contents(self, console: Console) -> None:
        reply = ask(console, {"type": "hover_request", "code": "x = 1\n\n", "line": 2, "column": 0})
        assert (reply["contents"], reply["error"]) == (None, None)
        console.session.wait_for_log("[LSP] Hover response: has_contents=False, error=None")


class TestDiagnostics:
    def test_markers_for_unresolved_and_unused_import(self, console: Console) -> None:
        reply = ask(
            console,
            {"type": "diagnostic_request", "request_id": "d1", "code": "import wb_nowhere_xyz\n",
             "module_name": "Sheet1", "workbook_id": "wb", "dirty_files": {"x": 1}},
        )
        assert list(reply) == ["type", "diagnostics", "error", "request_id", "workbook_id", "module_name"]
        assert [(d["severity"], d["message"]) for d in reply["diagnostics"]] == [
            (8, "import 'wb_nowhere_xyz' could not be resolved"),
            (4, "'wb_nowhere_xyz' imported but unused"),
        ]
        console.session.wait_for_log("[LSP] Diagnostic request: code_length=22, module=Sheet1")
        console.session.wait_for_log("[LSP] Diagnostic response: 2 diagnostics, error=None")

    def test_synced_workbook_module_is_not_flagged(self, console: Console) -> None:
        console.exchange({"type": "update_module", "module_name": "wb_synced", "code": "v = 1\n"})
        # A cursor request syncs the workbook's modules for the analysis.
        ask(console, {"type": "completion_request", "code": ""})
        reply = ask(console, {"type": "diagnostic_request", "code": "import wb_synced\nprint(wb_synced.v)\n"})
        assert reply["diagnostics"] == [] and reply["error"] is None

    def test_syntax_error_marker(self, console: Console) -> None:
        reply = ask(console, {"type": "diagnostic_request", "code": "x = ("})
        [marker] = reply["diagnostics"]
        assert marker["severity"] == 8 and marker["startLineNumber"] == marker["endLineNumber"] == 1
        assert marker["endColumn"] == marker["startColumn"] + 1


class TestMalformedRequests:
    @pytest.mark.parametrize(
        ("message", "error"),
        [
            ({"type": "completion_request", "line": "2"}, "line must be a positive integer (1-based)"),
            ({"type": "completion_request", "column": -1}, "column must be a non-negative integer (0-based)"),
            ({"type": "hover_request", "code": 5}, "code must be a string"),
            ({"type": "signature_help_request", "line": 0}, "line must be a positive integer (1-based)"),
            ({"type": "diagnostic_request", "code": ["x"]}, "code must be a string"),
            ({"type": "completion_request", "dirty_files": ["a"]},
             "dirty_files must be an object mapping module names to source text"),
            ({"type": "hover_request", "dirty_files": "a"},
             "dirty_files must be an object mapping module names to source text"),
            ({"type": "diagnostic_request", "module_name": 3}, "module_name must be a string or null"),
            ({"type": "completion_request", "code": "x" * (LIMIT + 1)},
             f"code is too large to analyse ({LIMIT + 1} characters; the limit is {LIMIT})"),
            ({"type": "diagnostic_request", "code": "x" * (LIMIT + 1)},
             f"code is too large to analyse ({LIMIT + 1} characters; the limit is {LIMIT})"),
            ({"type": "completion_request", "dirty_files": {"big": "x" * (LIMIT + 1)}},
             f"unsaved module text is too large to analyse ({LIMIT + 1} characters; the limit is {LIMIT})"),
        ],
        ids=[
            "line-text", "column-negative", "code-number", "line-zero", "diagnostic-code-list",
            "dirty-files-list", "dirty-files-text", "module-name-number", "completion-code-too-large",
            "diagnostic-code-too-large", "dirty-file-too-large",
        ],
    )
    def test_answered_with_error_and_kernel_keeps_serving(
        self, console: Console, message: dict[str, Any], error: str
    ) -> None:
        message = {**message, "request_id": "bad"}
        if len(str(message)) > 500_000:
            console.session.send_chunked(message)
            reply = console.session.receive()
        else:
            reply = console.exchange(message)
        assert reply["type"] == message["type"].replace("_request", "_response")
        assert (reply["error"], reply["request_id"]) == (error, "bad")
        assert console.value("1 + 1") == 2

    def test_out_of_range_line_is_an_error_response(self, console: Console) -> None:
        reply = ask(console, {"type": "completion_request", "code": "x = 1", "line": 40, "column": 0})
        assert reply["completions"] == [] and "line" in reply["error"]
        assert console.value("2 + 2") == 4
