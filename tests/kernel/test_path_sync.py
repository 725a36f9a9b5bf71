"""Search-path and module-sync messages against real package directories."""

from __future__ import annotations

from pathlib import Path

import pytest

from support.console import Console


def make_package(root: Path, name: str, version: int) -> Path:
    """`root`/`name` with submodules sub and sub.deep; returns `root`."""
    package = root / name
    (package / "sub").mkdir(parents=True)
    (package / "__init__.py").write_text(f"VERSION = {version}\n")
    (package / "sub" / "__init__.py").write_text("")
    (package / "sub" / "deep.py").write_text(f"LEVEL = {version}\n")
    return root


def loaded(console: Console, prefix: str) -> list[str]:
    return console.value(
        f"import sys; sorted(n for n in sys.modules if n.split('.')[0] == {prefix!r})"
    )


class TestPackagePaths:
    def test_switch_unloads_old_package_and_imports_new_one(
        self, console: Console, tmp_path: Path
    ) -> None:
        old = str(make_package(tmp_path / "v1", "pkg_a", 1))
        new = str(make_package(tmp_path / "v2", "pkg_a", 2))
        console.exchange({"type": "set_package_paths", "new_paths": [old]})
        assert console.value("import pkg_a.sub.deep; pkg_a.VERSION + pkg_a.sub.deep.LEVEL") == 2
        reply = console.exchange({"type": "set_package_paths", "old_paths": [old], "new_paths": [new]})
        assert reply == {
            "type": "package_paths_updated",
            "paths_added": 1,
            "modules_unloaded": 3,
            "workbook_id": console.session.session.workbook_id,
        }
        assert loaded(console, "pkg_a") == []
        assert console.value("import pkg_a.sub.deep; pkg_a.VERSION + pkg_a.sub.deep.LEVEL") == 4
        # The log is written by a background thread: the three lines leave in one write.
        console.session.wait_for_log("Unloaded module: ")
        unloads = [
            line.split("Unloaded module: ")[1]
            for line in console.session.log_text().splitlines()
            if "Unloaded module: " in line
        ]
        assert unloads == ["pkg_a.sub.deep", "pkg_a.sub", "pkg_a"]

    def test_new_paths_lead_sys_path_in_order_and_become_custom_paths(
        self, console: Console, tmp_path: Path
    ) -> None:
        a, b = str(tmp_path / "a"), str(tmp_path / "b")
        reply = console.exchange({"type": "set_package_paths", "new_paths": [a, b]})
        assert reply["paths_added"] == 2 and reply["modules_unloaded"] == 0
        assert console.value("import sys; sys.path[:2]") == [a, b]
        assert console.value("zentrel._kernel_instance.virtual_env.custom_paths") == [a, b]

    def test_entry_already_on_path_is_not_moved_but_counted(self, console: Console) -> None:
        third = console.value("import sys; sys.path[2]")
        reply = console.exchange({"type": "set_package_paths", "new_paths": [third]})
        assert reply["paths_added"] == 1
        assert console.value("import sys; sys.path[2]") == third

    def test_prefix_test_also_selects_sibling_directory(
        self, console: Console, tmp_path: Path
    ) -> None:
        d1 = make_package(tmp_path / "d1", "pkg_b", 1)
        make_package(tmp_path / "d10", "pkg_c", 1)
        console.exchange({"type": "set_python_paths", "new_paths": [str(d1), str(tmp_path / "d10")]})
        console.run("import pkg_b.sub.deep, pkg_c.sub.deep")
        reply = console.exchange({"type": "set_package_paths", "old_paths": [str(d1)]})
        assert reply["modules_unloaded"] == 6
        assert loaded(console, "pkg_c") == []


class TestPythonPaths:
    def test_new_paths_go_last_and_old_ones_leave(self, console: Console, tmp_path: Path) -> None:
        a, b, c = (str(tmp_path / n) for n in "abc")
        console.exchange({"type": "set_python_paths", "new_paths": [c]})
        reply = console.exchange({"type": "set_python_paths", "old_paths": [c], "new_paths": [a, b]})
        assert reply == {
            "type": "python_paths_updated",
            "paths_added": 2,
            "workbook_id": console.session.session.workbook_id,
        }
        path = console.value("import sys; sys.path")
        assert path[-2:] == [a, b] and c not in path
        assert console.value("zentrel._kernel_instance.virtual_env.custom_paths") == []


class TestUnloadAndClear:
    def test_unloads_by_prefix_and_clears_paths(self, console: Console, tmp_path: Path) -> None:
        root = str(make_package(tmp_path / "u", "pkg_d", 1))
        console.exchange({"type": "set_python_paths", "new_paths": [root]})
        console.run("import pkg_d.sub")
        reply = console.exchange(
            {"type": "unload_and_clear_paths", "paths": [root, str(tmp_path / "never")]}
        )
        assert reply == {
            "type": "modules_unloaded",
            "modules_unloaded": 2,
            "paths_cleared": 2,
            "workbook_id": console.session.session.workbook_id,
        }
        assert loaded(console, "pkg_d") == []
        assert root not in console.value("import sys; sys.path")


class TestSinglePaths:
    def test_add_remove_reset_reply_with_current_paths(
        self, console: Console, tmp_path: Path
    ) -> None:
        extra = str(tmp_path)
        added = console.exchange({"type": "add_path", "path": extra})
        assert list(added) == ["type", "path", "current_paths"]
        assert added["type"] == "path_added" and added["current_paths"][0] == extra
        removed = console.exchange({"type": "remove_path", "path": extra})
        assert removed["type"] == "path_removed" and extra not in removed["current_paths"]
        console.exchange({"type": "set_python_paths", "new_paths": [extra]})
        reset = console.exchange({"type": "reset_path"})
        assert list(reset) == ["type", "current_paths"] and extra not in reset["current_paths"]
        assert reset["current_paths"] == console.value("import sys; sys.path")


class TestModuleSync:
    def test_update_import_update_again_delete(self, console: Console) -> None:
        assert console.exchange(
            {"type": "update_module", "module_name": "wb_mod", "code": "N = 1"}
        ) == {"type": "module_updated", "module_name": "wb_mod"}
        assert console.value("import wb_mod; wb_mod.N") == 1
        console.exchange({"type": "update_module", "module_name": "wb_mod", "code": "N = 2"})
        assert console.value("import wb_mod; wb_mod.N") == 2
        assert console.exchange({"type": "delete_module", "module_name": "wb_mod"}) == {
            "type": "module_deleted", "module_name": "wb_mod",
        }
        assert console.run("import wb_mod")[-1]["error"]["type"] == "ModuleNotFoundError"

    def test_workbook_module_code_can_reach_lazy_native_imports(self, console: Console) -> None:
        # Native code that imports lazily (time.strptime imports _strptime) looks up
        # __builtins__ in the calling function's globals: a workbook module has them, as a
        # module imported from a file does.
        source = "import time\ndef year(text):\n    return time.strptime(text, '%Y').tm_year\n"
        console.exchange({"type": "update_module", "module_name": "wb_dates", "code": source})
        console.run("import sys\nsys.modules.pop('_strptime', None)")  # imported again below
        assert console.value("import wb_dates; wb_dates.year('2024')") == 2024
        assert console.value("'__builtins__' in vars(wb_dates)") is True

    @pytest.mark.parametrize("kind", ["update_module", "delete_module"])
    @pytest.mark.off_protocol("incoming")
    def test_missing_name_is_refused_and_loader_unchanged(self, console: Console, kind: str) -> None:
        reply = console.exchange({"type": kind, "code": "X = 1"})
        assert reply == {"type": "error", "message": f"{kind} requires module_name"}
        assert console.value(
            "from zentrel_master.python_server import kernel; sorted(kernel.in_memory_loader.source_cache)"
        ) == []
