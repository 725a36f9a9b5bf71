"""Editor requests (completion, signature help, hover, diagnostics) against a real kernel."""

from __future__ import annotations

from typing import Any

import pytest

from support.console import Console

LIMIT = 1_000_000  # the longest text the kernel analyses
CURSOR_FIELDS = ["error", "request_id", "workbook_id", "module_name"]


def ask(console: Console, message: dict[str, Any]) -> dict[str, Any]:
    """Send an editor request and return its reply, checking the reply type."""
    if len(str(message)) > 500_000:  # past one frame: sent as a chunk series
        console.session.send_chunked(message)
        reply = console.session.receive()
    else:
        reply = console.exchange(message)
    assert reply["type"] == message["type"].replace("_request", "_response"), reply
    return reply


def push(console: Console, name: str, code: str) -> None:
    """Store a workbook module in the kernel's memory."""
    reply = console.exchange({"type": "update_module", "module_name": name, "code": code})
    assert reply["type"] == "module_updated", reply


def labels(reply: dict[str, Any]) -> list[str]:
    return [item["label"] for item in reply["completions"]]


@pytest.mark.shared_kernel
class TestCompletion:
    def test_sees_in_memory_module_pushed_with_update_module(self, console: Console) -> None:
        push(console, "wb_helpers", "def scale_total(x):\n    return x\n")
        reply = ask(console, {
            "type": "completion_request", "request_id": "c1", "workbook_id": "wb",
            "module_name": "Sheet1", "code": "import wb_helpers\nwb_helpers.sc", "line": 2,
            "column": len("wb_helpers.sc"),
        })
        assert list(reply) == ["type", "completions", *CURSOR_FIELDS]
        assert reply["error"] is None
        assert [reply[k] for k in CURSOR_FIELDS[1:]] == ["c1", "wb", "Sheet1"]
        item = next(i for i in reply["completions"] if i["label"] == "scale_total")
        assert item["kind"] == 1 and item["detail"] == "(x)"

    def test_unsaved_module_text_wins_over_saved_one(self, console: Console) -> None:
        push(console, "wb_dirty", "saved_name = 1\n")
        reply = ask(console, {
            "type": "completion_request", "code": "import wb_dirty\nwb_dirty.", "line": 2,
            "column": 9, "dirty_files": {"wb_dirty": "unsaved_name = 2\n"},
        })
        assert "unsaved_name" in labels(reply) and "saved_name" not in labels(reply)
        console.session.wait_for_log(
            "[LSP] Request received: line=2, column=9, path=None, code_length=25, dirty_files=1"
        )

    def test_defaults_to_line_one_column_zero_and_null_echoes(self, console: Console) -> None:
        reply = ask(console, {"type": "completion_request"})
        assert reply["error"] is None
        assert {i["label"]: i["kind"] for i in reply["completions"]}["for"] == 13
        assert [reply[k] for k in CURSOR_FIELDS[1:]] == [None, None, None]
        console.session.wait_for_log(
            "[LSP] Request received: line=1, column=0, path=None, code_length=0, dirty_files=0"
        )
        console.session.wait_for_log(
            f"[LSP] Response: {len(reply['completions'])} completions, error=None"
        )


@pytest.mark.shared_kernel
class TestSignatureAndHover:
    def test_signature_help_inside_call_names_active_parameter(self, console: Console) -> None:
        code = "def add(a: int, b: int) -> int:\n    return a + b\nadd(1, "
        reply = ask(console, {
            "type": "signature_help_request", "request_id": "s1", "code": code, "line": 3,
            "column": 7,
        })
        assert list(reply) == [
            "type", "signatures", "activeSignature", "activeParameter", *CURSOR_FIELDS
        ]
        assert (reply["activeSignature"], reply["activeParameter"]) == (0, 1)
        assert [s["label"] for s in reply["signatures"]] == ["add(a: int, b: int) -> int"]
        console.session.wait_for_log("[LSP] Signature help response: 1 signatures, error=None")

    def test_signature_help_outside_call_has_zero_defaults(self, console: Console) -> None:
        reply = ask(console, {"type": "signature_help_request", "code": "x = 1", "column": 5})
        fields = ("signatures", "activeSignature", "activeParameter", "error")
        assert [reply[k] for k in fields] == [[], 0, 0, None]

    def test_hover_on_function_from_in_memory_module(self, console: Console) -> None:
        push(console, "wb_math", "def twice(n: int) -> int:\n    return 2 * n\n")
        code = "from wb_math import twice\ntwice(3)"
        reply = ask(console, {
            "type": "hover_request", "request_id": "h1", "code": code, "line": 2, "column": 2,
        })
        assert list(reply) == ["type", "contents", *CURSOR_FIELDS]
        assert reply["error"] is None
        assert "twice(n: int) -> int" in reply["contents"]["value"]
        console.session.wait_for_log(
            "[LSP] Hover request: line=2, column=2, path=None, code_length=34"
        )
        console.session.wait_for_log("[LSP] Hover response: has_contents=True, error=None")

    def test_hover_on_whitespace_has_null_contents(self, console: Console) -> None:
        reply = ask(console, {"type": "hover_request", "code": "x = 1\n\n", "line": 2})
        assert (reply["contents"], reply["error"]) == (None, None)
        console.session.wait_for_log("[LSP] Hover response: has_contents=False, error=None")


@pytest.mark.shared_kernel
class TestDiagnostics:
    def test_markers_for_unresolved_and_unused_import(self, console: Console) -> None:
        reply = ask(console, {
            "type": "diagnostic_request", "request_id": "d1", "code": "import wb_nowhere_xyz\n",
            "module_name": "Sheet1", "workbook_id": "wb", "dirty_files": {"x": 1},
        })
        assert list(reply) == ["type", "diagnostics", *CURSOR_FIELDS]
        assert [(d["severity"], d["message"]) for d in reply["diagnostics"]] == [
            (8, "import 'wb_nowhere_xyz' could not be resolved"),
            (4, "'wb_nowhere_xyz' imported but unused"),
        ]
        assert [reply[k] for k in CURSOR_FIELDS[1:]] == ["d1", "wb", "Sheet1"]
        console.session.wait_for_log("[LSP] Diagnostic request: code_length=22, module=Sheet1")
        console.session.wait_for_log("[LSP] Diagnostic response: 2 diagnostics, error=None")

    def test_import_of_workbook_module_is_not_flagged(self, console: Console) -> None:
        push(console, "wb_synced", "v = 1\n")
        code = "import wb_synced\nprint(wb_synced.v)\n"
        reply = ask(console, {"type": "diagnostic_request", "code": code})
        assert (reply["diagnostics"], reply["error"]) == ([], None)

    def test_syntax_error_marker(self, console: Console) -> None:
        reply = ask(console, {"type": "diagnostic_request", "code": "x = ("})
        [marker] = reply["diagnostics"]
        assert marker["severity"] == 8
        assert marker["startLineNumber"] == marker["endLineNumber"] == 1
        assert marker["endColumn"] == marker["startColumn"] + 1


DIRTY_NOT_MAP = "dirty_files must be an object mapping module names to source text"
CODE_TOO_LARGE = f"code is too large to analyse ({LIMIT + 1} characters; the limit is {LIMIT})"


@pytest.mark.off_protocol("incoming")
@pytest.mark.shared_kernel
class TestMalformedRequests:
    @pytest.mark.parametrize(
        ("message", "error"),
        [
            pytest.param({"type": "completion_request", "line": "2"},
                         "line must be a positive integer (1-based)", id="line-text"),
            pytest.param({"type": "signature_help_request", "line": 0},
                         "line must be a positive integer (1-based)", id="line-zero"),
            pytest.param({"type": "completion_request", "column": -1},
                         "column must be a non-negative integer (0-based)", id="column-negative"),
            pytest.param({"type": "hover_request", "code": 5},
                         "code must be a string", id="code-number"),
            pytest.param({"type": "hover_request", "path": 5},
                         "path must be a string or None", id="path-number"),
            pytest.param({"type": "diagnostic_request", "code": ["x"]},
                         "code must be a string", id="diagnostic-code-list"),
            pytest.param({"type": "completion_request", "dirty_files": ["a"]},
                         DIRTY_NOT_MAP, id="dirty-files-list"),
            pytest.param({"type": "hover_request", "dirty_files": "a"},
                         DIRTY_NOT_MAP, id="dirty-files-text"),
            pytest.param({"type": "diagnostic_request", "module_name": 3},
                         "module_name must be a string or null", id="module-name-number"),
            pytest.param({"type": "completion_request", "code": "x" * (LIMIT + 1)},
                         CODE_TOO_LARGE, id="completion-code-too-large"),
            pytest.param({"type": "diagnostic_request", "code": "x" * (LIMIT + 1)},
                         CODE_TOO_LARGE, id="diagnostic-code-too-large"),
            pytest.param(
                {"type": "signature_help_request", "dirty_files": {"big": "x" * (LIMIT + 1)}},
                f"unsaved module text is too large to analyse ({LIMIT + 1} characters; "
                f"the limit is {LIMIT})",
                id="dirty-file-too-large",
            ),
        ],
    )
    def test_answered_with_error_and_kernel_keeps_serving(
        self, console: Console, message: dict[str, Any], error: str
    ) -> None:
        reply = ask(console, {**message, "request_id": "bad"})
        assert (reply["error"], reply["request_id"]) == (error, "bad")
        assert console.value("1 + 1") == 2

    def test_line_past_the_end_is_an_error_response(self, console: Console) -> None:
        reply = ask(console, {"type": "completion_request", "code": "x = 1", "line": 40})
        assert reply["completions"] == [] and "line" in reply["error"]
        assert console.value("2 + 2") == 4
