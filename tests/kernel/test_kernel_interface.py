"""The kernel module's Python-visible interface as callers and user code reach it: every method of
PythonKernel on the class itself (user code and tests replace or delete them there), coroutine
methods marked as such, and the user package under both of its names."""

from __future__ import annotations

import inspect
import sys

import pytest

from zentrel_master.python_server import kernel

PythonKernel = kernel.PythonKernel

COROUTINE_METHODS = [
    # connection, send path, receive loop
    "connect", "disconnect", "send_message", "_send_message_direct", "_send_chunked_message",
    "_handle_chunk_message", "handle_message", "listen", "run",
    # execution requests and editor requests
    "_execute_code_async", "_handle_completion_request", "_handle_signature_help_request",
    "_handle_hover_request", "_handle_diagnostic_request",
    # runs of user functions
    "_handle_custom_function_call", "_handle_python_function_call", "_handle_run_module",
    "_handle_debug_run_module", "_handle_event_execution", "_execute_streaming_function",
]
PLAIN_METHODS = [
    "__init__", "has_active_debugger", "_deserialize_args",
    # object registry and workbook controls
    "save_object", "get_object", "clear_object", "clear_all_objects", "get_object_registry",
    "set_enable_events", "show_message_box",
]


@pytest.mark.parametrize("name", COROUTINE_METHODS)
def test_coroutine_method_is_on_the_class_and_marked(name: str) -> None:
    assert name in vars(PythonKernel), name
    assert inspect.iscoroutinefunction(getattr(PythonKernel, name))
    assert getattr(PythonKernel, name).__doc__


@pytest.mark.parametrize("name", PLAIN_METHODS)
def test_plain_method_is_on_the_class_and_not_a_coroutine(name: str) -> None:
    assert name in vars(PythonKernel), name
    assert not inspect.iscoroutinefunction(getattr(PythonKernel, name))


class TestArgumentChecks:
    """A wrong argument type raises at the call, before any coroutine exists (none is left
    unawaited), for methods of every area."""

    @pytest.fixture
    def instance(self):
        return PythonKernel.__new__(PythonKernel)

    @pytest.mark.parametrize(
        "name, args",
        [
            ("send_message", ([],)),
            ("_execute_code_async", (1, "r1")),
            ("_handle_hover_request", ("not a map",)),
            ("_handle_custom_function_call", (None,)),
            ("_handle_debug_run_module", ("m", "f", (), [], "r1", "wb")),
            ("_execute_streaming_function", ("r1", "m", "f", [], 7, "ide")),
        ],
        ids=["core", "dispatch", "editor", "invocation", "debug-run", "streaming"],
    )
    def test_wrong_type_raises_type_error(self, instance, name: str, args: tuple) -> None:
        with pytest.raises(TypeError):
            getattr(instance, name)(*args)

    def test_registry_key_must_be_text(self, instance) -> None:
        with pytest.raises(TypeError, match="key"):
            instance.save_object(1, "value")


def test_user_package_is_one_module_under_both_names() -> None:
    package = sys.modules["zentrel_master.python_server.zentrel"]
    assert kernel.zentrel is package
    assert sys.modules["zentrel"] is package
    prefix = "zentrel_master.python_server.zentrel."
    submodules = [name for name in list(sys.modules) if name.startswith(prefix)]
    assert submodules, "the user package loads its office_proxy submodule"
    for name in submodules:
        assert sys.modules["zentrel." + name[len(prefix):]] is sys.modules[name]
