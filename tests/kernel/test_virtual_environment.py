"""VirtualEnvironment and unloading by path prefix, against real package directories."""

from __future__ import annotations

import importlib
import logging
import sys
import types
import uuid
from collections.abc import Iterator
from pathlib import Path

import pytest

from zentrel_master.python_server import kernel


@pytest.fixture(autouse=True)
def own_sys_path(monkeypatch) -> None:
    """Each test works on a copy of sys.path (the same list object throughout the test)."""
    monkeypatch.setattr(sys, "path", list(sys.path))


@pytest.fixture
def env() -> kernel.VirtualEnvironment:
    return kernel.VirtualEnvironment("wb1")


def make_package(root: Path, name: str, value: int) -> Path:
    """Writes package `name` with sub and sub.deep under `root`; returns `root`."""
    (root / name / "sub").mkdir(parents=True)
    (root / name / "__init__.py").write_text(f"value = {value}\n")
    (root / name / "sub" / "__init__.py").write_text("")
    (root / name / "sub" / "deep.py").write_text(f"value = {value}\n")
    return root


@pytest.fixture
def package(tmp_path) -> Iterator[str]:
    """A fresh package name, removed from sys.modules afterwards."""
    name = f"wbpkg_{uuid.uuid4().hex[:8]}"
    yield name
    for key in [k for k in sys.modules if k == name or k.startswith(name + ".")]:
        del sys.modules[key]


class TestPaths:
    def test_construction(self, env):
        assert env.workbook_id == "wb1"
        assert env.original_path == sys.path and env.original_path is not sys.path
        assert env.custom_paths == [] and env.get_paths() == []

    def test_add_puts_a_new_directory_first_once(self, env, tmp_path):
        env.add_path(str(tmp_path))
        env.add_path(str(tmp_path))
        assert sys.path[0] == str(tmp_path) and sys.path.count(str(tmp_path)) == 1
        assert env.custom_paths == [str(tmp_path)]

    def test_add_of_a_directory_already_on_sys_path_does_not_move_it(self, env, tmp_path):
        sys.path.append(str(tmp_path))
        env.add_path(str(tmp_path))
        assert sys.path[-1] == str(tmp_path) and sys.path.count(str(tmp_path)) == 1
        assert env.custom_paths == [str(tmp_path)]
        env.remove_path(str(tmp_path))
        assert str(tmp_path) not in sys.path and env.custom_paths == []

    def test_remove_ignores_directories_it_did_not_add(self, env, tmp_path):
        sys.path.insert(0, str(tmp_path))
        env.remove_path(str(tmp_path))
        assert sys.path[0] == str(tmp_path)

    def test_reset_restores_the_start_path_in_place(self, env, tmp_path):
        path_list = sys.path
        before = list(sys.path)
        env.add_path(str(tmp_path / "a"))
        sys.path.insert(0, str(tmp_path / "by-someone-else"))
        sys.path.remove(before[0])
        env.reset_path()
        assert sys.path is path_list and sys.path == before
        assert env.custom_paths == []

    def test_get_paths_is_a_copy(self, env, tmp_path):
        env.add_path(str(tmp_path))
        env.get_paths().clear()
        assert env.custom_paths == [str(tmp_path)]

    @pytest.mark.parametrize(
        "call",
        [
            lambda env: env.add_path(3),
            lambda env: env.remove_path(None),
            lambda env: kernel.VirtualEnvironment(b"wb"),
            lambda env: setattr(env, "custom_paths", ("a",)),
        ],
        ids=["add", "remove", "constructor", "custom-paths"],
    )
    def test_wrong_types_are_refused(self, env, call):
        with pytest.raises(TypeError, match="has incorrect type"):
            call(env)

    def test_added_package_directory_is_importable(self, env, tmp_path, package):
        env.add_path(str(make_package(tmp_path, package, 1)))
        assert importlib.import_module(f"{package}.sub.deep").value == 1


class TestUnloadByPrefix:
    def test_package_and_submodules_go_deepest_first(self, tmp_path, package, caplog):
        sys.path.insert(0, str(make_package(tmp_path, package, 1)))
        importlib.import_module(f"{package}.sub.deep")
        with caplog.at_level(logging.DEBUG, logger="zentrel_master.python_server.kernel"):
            count = kernel._unload_modules_by_prefix([str(tmp_path)])
        assert count == 3
        assert [m for m in caplog.messages if m.startswith("Unloaded module: ")] == [
            f"Unloaded module: {package}.sub.deep",
            f"Unloaded module: {package}.sub",
            f"Unloaded module: {package}",
        ]
        assert not [k for k in sys.modules if k.startswith(package)]

    def test_names_without_file_in_a_selected_package_go_too(self, tmp_path, package):
        sys.path.insert(0, str(make_package(tmp_path, package, 1)))
        importlib.import_module(package)
        sys.modules[f"{package}.native"] = types.ModuleType(f"{package}.native")
        assert kernel._unload_modules_by_prefix([str(tmp_path)]) == 2
        assert f"{package}.native" not in sys.modules

    def test_other_packages_stay(self, tmp_path, package):
        sys.path.insert(0, str(make_package(tmp_path / "a", package, 1)))
        importlib.import_module(package)
        assert kernel._unload_modules_by_prefix([str(tmp_path / "b")]) == 0
        assert package in sys.modules

    def test_plain_prefix_also_selects_a_sibling_directory(self, tmp_path, package):
        sys.path.insert(0, str(make_package(tmp_path / "d10", package, 1)))
        importlib.import_module(package)
        assert kernel._unload_modules_by_prefix([str(tmp_path / "d1")]) == 1

    def test_empty_prefix_unloads_nothing(self, tmp_path, package):
        sys.path.insert(0, str(make_package(tmp_path, package, 1)))
        importlib.import_module(package)
        assert kernel._unload_modules_by_prefix(["", "/no/such/dir"]) == 0
        assert package in sys.modules

    @pytest.mark.parametrize(
        "paths",
        [("a",), "abc", [b"/tmp"], [None]],
        ids=["tuple", "str", "bytes-entry", "none-entry"],
    )
    def test_bad_paths_are_refused(self, paths):
        with pytest.raises(TypeError, match="Argument 'paths' has incorrect type"):
            kernel._unload_modules_by_prefix(paths)

    def test_replacing_a_package_directory_loads_the_new_version(self, env, tmp_path, package):
        old = str(make_package(tmp_path / "v1", package, 1))
        new = str(make_package(tmp_path / "v2", package, 2))
        env.add_path(old)
        held = importlib.import_module(f"{package}.sub.deep")
        assert held.value == 1
        kernel._unload_modules_by_prefix([old])
        env.remove_path(old)
        env.add_path(new)
        assert importlib.import_module(f"{package}.sub.deep").value == 2
        assert held.value == 1
