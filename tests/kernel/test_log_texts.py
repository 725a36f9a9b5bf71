"""The kernel's log lines and message texts read whole, exactly as written, for every kind of
request that logs one (each line checked from the logger's name to its last character)."""

from __future__ import annotations

from typing import Any

import pytest

from support.console import Console

KERNEL_LOGGER = "zentrel_master.python_server.kernel"
PATH_A = "/nonexistent/zm-texts-a"
PATH_B = "/nonexistent/zm-texts-b"


def assert_logged(console: Console, text: str) -> None:
    """`text` is a whole line of the kernel's logger: nothing before or after it."""
    line = console.session.wait_for_log(text)
    assert line.endswith(f"{KERNEL_LOGGER}: {text}"), line


ROWS = [
    pytest.param(
        [
            {"type": "set_package_paths", "old_paths": [], "new_paths": [PATH_A]},
            {"type": "set_package_paths", "old_paths": [PATH_A], "new_paths": []},
        ],
        [
            f"Added new path to sys.path: {PATH_A}",
            "Package paths updated: 1 paths added, 0 modules unloaded",
            f"Removed old path from sys.path: {PATH_A}",
            "Package paths updated: 0 paths added, 0 modules unloaded",
        ],
        id="package-paths",
    ),
    pytest.param(
        [
            {"type": "set_python_paths", "old_paths": [], "new_paths": [PATH_B]},
            {"type": "set_python_paths", "old_paths": [PATH_B], "new_paths": []},
            {"type": "set_python_paths", "old_paths": [], "new_paths": [PATH_B]},
            {"type": "unload_and_clear_paths", "paths": [PATH_B]},
        ],
        [
            f"Added new python path to sys.path: {PATH_B}",
            "Python paths updated: 1 paths added",
            f"Removed old python path from sys.path: {PATH_B}",
            "Python paths updated: 0 paths added",
            f"Removed path from sys.path: {PATH_B}",
            "Modules unloaded: 0, paths cleared: 1",
        ],
        id="python-paths-and-clearing",
    ),
    pytest.param(
        [
            {"type": "update_module", "module_name": "wb_texts", "code": "x = 1\n"},
            {"type": "delete_module", "module_name": "wb_texts"},
            {"type": "update_module", "module_name": "", "code": ""},
            {"type": "delete_module", "module_name": ""},
        ],
        [
            "[Kernel] Updated virtual module: wb_texts",
            "[Kernel] Deleted virtual module: wb_texts",
            "[Kernel] Received update_module without module_name",
            "[Kernel] Received delete_module without module_name",
        ],
        id="module-sync",
        marks=pytest.mark.off_protocol("incoming"),
    ),
    pytest.param(
        [
            {"type": "set_hover_mode", "mode": "detailed"},
            {"type": "cancel_streaming_function", "request_id": "s-1"},
            {"type": "get_object_registry"},
            {"type": "sys_response", "payload": {"requestId": "nobody"}},
        ],
        [
            "[Kernel] Received set_hover_mode: detailed",
            "[Kernel] Received cancel_streaming_function for request_id: s-1",
            "[Kernel] Received get_object_registry request",
            "[Kernel] [Listener Thread] Received sys_response for request_id: nobody, "
            "unblocking worker",
            "[Kernel] Received sys_response for unknown request_id: nobody",
        ],
        id="listener-controls",
    ),
    pytest.param(
        [
            {"type": "set_package_paths", "new_paths": 5},
            {"type": "set_python_paths", "new_paths": ["ok", 1]},
            {"type": "sys_response", "payload": {"requestId": 7}},
        ],
        [
            "[Kernel] Rejected set_package_paths: field 'new_paths' must be a list of text, got int",
            "[Kernel] Rejected set_python_paths: field 'new_paths' must be a list of text, "
            "got a list holding int",
            "[Kernel] Rejected sys_response: field 'requestId' must be text, got int",
        ],
        id="rejected-fields",
        marks=pytest.mark.off_protocol("incoming"),
    ),
    pytest.param(
        [{"type": "execution_request", "code": "1 + 1", "request_id": "r-1"}],
        [
            "[Kernel] [Listener Thread] Received execution_request (source=ide, request_id=r-1)",
            "[Kernel] Code length: 5 chars",
            "[TIMING] Execution started: request_id=r-1, function=None",
            "[Kernel] [Async Task] Submitting execution to worker thread pool (request_id=r-1)",
            "[Kernel] [Async Task] Execution finished, success=True (request_id=r-1)",
            "[Kernel] Sending execution_result (success) for request_id=r-1",
        ],
        id="console-run",
    ),
    pytest.param(
        [
            {
                "type": "execution_request", "request_id": "r-2",
                "code": "zentrel.save_object('k', [1])\nzentrel.clear_object('k')\n"
                        "zentrel.clear_all_objects()",
            }
        ],
        [
            "[Kernel] Saved object: k (type: list)",
            "[Kernel] Cleared object: k",
            "[Kernel] Cleared all objects",
        ],
        id="object-registry",
    ),
    pytest.param(
        [
            {
                "type": "completion_request", "code": "x", "line": 1, "column": 1,
                "dirty_files": {"wb_m": "y = 1"},
            },
            {"type": "signature_help_request", "code": "f(", "line": 1, "column": 2, "path": "p.py"},
            {"type": "completion_request", "code": "x", "dirty_files": [1]},
            {"type": "diagnostic_request", "code": "", "module_name": 5},
        ],
        [
            "[LSP] Request received: line=1, column=1, path=None, code_length=1, dirty_files=1",
            "[LSP] Signature help request: line=1, column=2, path=p.py, code_length=2",
            "[LSP] Refused completion_request: dirty_files must be an object mapping module names "
            "to source text",
            "[LSP] Diagnostic request: code_length=0, module=5",
            "[LSP] Refused diagnostic_request: module_name must be a string or null",
        ],
        id="editor-requests",
        marks=pytest.mark.off_protocol("incoming"),
    ),
]


@pytest.mark.parametrize(("messages", "lines"), ROWS)
def test_log_lines_are_whole(
    console: Console, messages: list[dict[str, Any]], lines: list[str]
) -> None:
    for message in messages:
        console.session.send(message)
    for text in lines:
        assert_logged(console, text)


class TestTextsBackInPython:
    """Texts filled in and handed back to Python keep every character of what filled them."""

    def test_result_display_keeps_a_lone_surrogate_until_the_wire_repairs_it(
        self, console: Console
    ) -> None:
        code = "R = type('R', (), {'__repr__': lambda self: 'a\\ud800b'}); R()"
        messages = console.run(code, request_id="r-s")
        shown = [m["content"] for m in messages if m["type"] == "result_output"]
        # Escaped text ("a\\ud800b") here would mean the display was built from lossy UTF-8.
        assert shown == ["Out: a\ufffdb\n"]

    def test_in_memory_module_with_surrogate_name_keeps_its_source_lines(
        self, console: Console
    ) -> None:
        console.session.send(
            {"type": "update_module", "module_name": "wb_\ud800", "code": "def f():\n    1 / 0\n"}
        )
        assert console.session.receive()["type"] == "module_updated"
        value = console.value(
            "(__import__('importlib').import_module('wb_\\ud800'), "
            "__import__('linecache').getline('<virtual:wb_\\ud800>', 2))[1]"
        )
        assert value == "    1 / 0\n"
