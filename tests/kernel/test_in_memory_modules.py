"""InMemoryModuleLoader: importing the workbook's modules from memory, updates, deletion, and
their virtual file names in tracebacks and the line cache."""

from __future__ import annotations

import importlib
import linecache
import logging
import sys
import traceback
import types
import uuid
from collections.abc import Iterator

import pytest

from zentrel_master.python_server import kernel

loader = kernel.in_memory_loader


@pytest.fixture
def name() -> Iterator[str]:
    """A fresh module name, forgotten everywhere afterwards."""
    module_name = f"wb_module_{uuid.uuid4().hex[:8]}"
    yield module_name
    loader.delete_module(module_name)


@pytest.fixture
def probe(monkeypatch) -> list[str]:
    """A list that module sources append to, to show when they run."""
    runs: list[str] = []
    monkeypatch.setitem(sys.modules, "wb_probe", types.SimpleNamespace(runs=runs))
    return runs


def test_loader_is_installed_first_and_user_package_registered():
    assert sys.meta_path[0] is loader
    assert isinstance(loader, kernel.InMemoryModuleLoader)
    assert sys.modules["zentrel"] is sys.modules["zentrel_master.python_server.zentrel"]
    assert kernel.CodeExecutor().globals["zentrel"] is sys.modules["zentrel"]


class TestImport:
    def test_import_runs_source_once_until_updated(self, name, probe):
        loader.update_module(name, "import wb_probe\nwb_probe.runs.append('v1')\nvalue = 1\n")
        first = importlib.import_module(name)
        assert importlib.import_module(name) is first
        assert probe == ["v1"]
        loader.update_module(name, "import wb_probe\nwb_probe.runs.append('v2')\nvalue = 2\n")
        assert name not in sys.modules
        assert importlib.import_module(name).value == 2
        assert probe == ["v1", "v2"]
        assert first.value == 1

    def test_spec_and_module_attributes(self, name):
        loader.update_module(name, "x = 1")
        spec = loader.find_spec(name, None)
        assert (spec.name, spec.loader, spec.origin, spec.submodule_search_locations) == (
            name,
            loader,
            None,
            None,
        )
        assert loader.find_spec(name + "_unknown", None) is None
        assert loader.create_module(spec) is None
        assert importlib.import_module(name).__loader__ is loader

    def test_memory_wins_over_a_file_of_the_same_name(self, name, tmp_path, monkeypatch):
        (tmp_path / f"{name}.py").write_text("origin = 'file'\n")
        monkeypatch.syspath_prepend(str(tmp_path))
        loader.update_module(name, "origin = 'memory'\n")
        assert importlib.import_module(name).origin == "memory"

    def test_console_imports_through_the_loader(self, name):
        loader.update_module(name, "def double(x):\n    return 2 * x\n")
        executor = kernel.CodeExecutor()
        assert executor.execute(f"import {name}; {name}.double(21)")["result"] == 42

    def test_exec_module_without_source(self):
        module = types.ModuleType("wb_never_added")
        with pytest.raises(ImportError, match="^No source code found for module 'wb_never_added'$"):
            loader.exec_module(module)

    @pytest.mark.parametrize(
        "call",
        [
            lambda: loader.update_module(1, "x = 1"),
            lambda: loader.update_module("m", b"x = 1"),
            lambda: loader.delete_module(None),
            lambda: loader.find_spec(b"m", None),
        ],
        ids=["update-name", "update-code", "delete-name", "find-spec-name"],
    )
    def test_arguments_must_be_str(self, call):
        with pytest.raises(TypeError, match="has incorrect type"):
            call()


class TestFailingModule:
    SOURCE = "x = 1\n\ndef fail():\n    raise ValueError('boom')\n\nfail()\n"

    def test_import_raises_the_users_exception_from_their_lines(self, name, caplog):
        loader.update_module(name, self.SOURCE)
        with caplog.at_level(logging.ERROR, logger="zentrel_master.python_server.kernel"):
            with pytest.raises(ValueError, match="boom") as info:
                importlib.import_module(name)
        exc = info.value
        assert exc.__cause__ is None and exc.__suppress_context__
        frames = traceback.extract_tb(exc.__traceback__)
        virtual = f"<virtual:{name}>"
        user_frames = [f for f in frames if f.filename == virtual]
        assert [(f.lineno, f.line) for f in user_frames] == [
            (6, "fail()"),
            (4, "raise ValueError('boom')"),
        ]
        # Nothing of the loader machinery between the import and the user's first line.
        first_virtual = next(i for i, f in enumerate(frames) if f.filename == virtual)
        assert all("kernel" not in f.filename for f in frames[first_virtual:])
        assert name not in sys.modules
        assert f"[InMemoryModuleLoader] Error executing module '{name}': boom" in caplog.messages

    def test_console_error_traceback_shows_module_lines(self, name):
        loader.update_module(name, "def f():\n    return 1 / 0\n")
        record = kernel.CodeExecutor().execute(f"import {name}\n{name}.f()")
        assert record["error"]["type"] == "ZeroDivisionError"
        expected = f'File "<virtual:{name}>", line 2, in f\n    return 1 / 0\n'
        assert expected in record["error"]["traceback"]

    def test_syntax_error_names_the_virtual_file(self, name):
        loader.update_module(name, "def broken(:\n")
        with pytest.raises(SyntaxError) as info:
            importlib.import_module(name)
        assert info.value.filename == f"<virtual:{name}>"

    def test_base_exception_at_top_level_is_not_swallowed(self, name):
        loader.update_module(name, "raise SystemExit(5)\n")
        record = kernel.CodeExecutor().execute(f"import {name}")
        assert record["error"]["type"] == "SystemExit"


class TestLineCache:
    @pytest.mark.parametrize(
        ("source", "lines"),
        [
            ("a = 1\nb = 2\n", ["a = 1\n", "b = 2\n"]),
            ("a = 1\nb = 2", ["a = 1\n", "b = 2\n"]),
            ("a = 1\r\nb = 2\r\n", ["a = 1\n", "b = 2\n"]),
            ("a = 1\rb = 2", ["a = 1\n", "b = 2\n"]),
            ("s = 'x\x0cy'\nt = 2\n", ["s = 'x\x0cy'\n", "t = 2\n"]),
            ("", []),
        ],
        ids=["lf", "no-final-newline", "crlf", "cr", "form-feed-is-not-a-line-end", "empty"],
    )
    def test_entry(self, name, source, lines):
        loader.update_module(name, source)
        importlib.import_module(name)
        filename = f"<virtual:{name}>"
        assert linecache.cache[filename] == (len(source), None, lines, filename)

    def test_lines_served_while_module_exists(self, name):
        loader.update_module(name, "first = 1\nsecond = 2\n")
        importlib.import_module(name)
        filename = f"<virtual:{name}>"
        assert linecache.getline(filename, 2) == "second = 2\n"
        loader.delete_module(name)
        assert linecache.getline(filename, 2) == ""
        assert name not in sys.modules
        assert name not in loader.source_cache
        assert loader.find_spec(name, None) is None


class TestDelete:
    def test_unknown_module_is_a_no_op(self):
        loader.delete_module("wb_never_seen")

    def test_each_place_is_forgotten_independently(self, name, caplog):
        loader.update_module(name, "x = 1")
        importlib.import_module(name)
        loader.source_cache.pop(name)
        with caplog.at_level(logging.DEBUG, logger="zentrel_master.python_server.kernel"):
            loader.delete_module(name)
        assert name not in sys.modules
        assert caplog.messages == [
            f"[InMemoryModuleLoader] Removed '{name}' from sys.modules",
            f"[InMemoryModuleLoader] Removed '<virtual:{name}>' from linecache",
        ]

