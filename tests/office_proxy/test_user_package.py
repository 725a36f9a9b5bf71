"""The user package around the bridge: re-exports, root proxies, object keeper, editor stub."""

from __future__ import annotations

import ast
from pathlib import Path
from typing import Any

import jedi
import pytest

import zentrel_master.python_server.zentrel as zentrel
from zentrel_master.python_server.zentrel import office_proxy

STUBS = Path(zentrel.__file__).parent.parent / "stubs"


class KernelStandIn:
    """Records the registry calls the package forwards to the running kernel."""

    def __init__(self) -> None:
        self.calls: list[tuple[Any, ...]] = []

    def __getattr__(self, name: str) -> Any:
        return lambda *args: self.calls.append((name, *args)) or f"{name} done"


@pytest.fixture
def kernel(monkeypatch: pytest.MonkeyPatch) -> KernelStandIn:
    stand_in = KernelStandIn()
    monkeypatch.setattr(zentrel, "_kernel_instance", stand_in)
    return stand_in


def test_reexports_are_the_bridge_objects() -> None:
    assert zentrel.messaging is office_proxy.messaging
    assert zentrel.Serializer is office_proxy.Serializer
    assert zentrel.excel is office_proxy.Excel and zentrel.context is office_proxy.Context
    assert zentrel._kernel_instance is None


class TestObjectKeeper:
    @pytest.mark.parametrize("call,expected", [
        (lambda: zentrel.save_object("k", [1]), ("save_object", "k", [1])),
        (lambda: zentrel.get_object("k"), ("get_object", "k")),
        (lambda: zentrel.clear_object("k"), ("clear_object", "k")),
        (lambda: zentrel.clear_all_objects(), ("clear_all_objects",)),
        (lambda: zentrel.get_object_registry(), ("get_object_registry",)),
        (lambda: zentrel.set_enable_events(False), ("set_enable_events", False)),
        (lambda: zentrel.show_message_box("hi"), ("show_message_box", "hi", "Zentrel", "Info")),
    ], ids=["save", "get", "clear", "clear-all", "registry", "events", "message-box"])
    def test_forwards_to_running_kernel(self, kernel: KernelStandIn, call: Any,
                                        expected: tuple[Any, ...]) -> None:
        assert call() == f"{expected[0]} done"
        assert kernel.calls == [expected]

    def test_outside_a_kernel(self) -> None:
        with pytest.raises(RuntimeError, match="^No kernel is running$"):
            zentrel.get_object("k")


class TestStub:
    def test_stub_lists_the_package_api(self) -> None:
        tree = ast.parse((STUBS / "zentrel.pyi").read_text())
        names = {n.targets[0].id: n for n in tree.body if isinstance(n, ast.Assign)}
        assert ast.literal_eval(names["__all__"].value) == zentrel.__all__

    def test_editor_completes_through_context(self) -> None:
        project = jedi.Project(str(STUBS), added_sys_path=[str(STUBS)])
        source = "import zentrel\nzentrel.context.workbook.worksheets.getAc"
        names = [c.name for c in jedi.Script(source, project=project).complete()]
        assert names == ["getActiveWorksheet"]
        doc = jedi.Script("import zentrel\nzentrel.save_object", project=project).infer()
        assert "between runs" in doc[0].docstring()
