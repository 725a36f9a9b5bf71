"""Module sync, path refusal, the unchanged-file rule and the workspace operations."""

from __future__ import annotations

import logging
import os
from pathlib import Path

import pytest

from zentrel_master.python_server import code_insight


class TestSyncModules:
    def test_dirty_content_wins_over_saved(self, insight, workdir):
        insight.sync_modules({"a": "x = 1"}, {"a": "x = 2"})
        assert (workdir / "a.py").read_text(encoding="utf-8") == "x = 2"

    def test_empty_map_writes_nothing(self, insight, workdir):
        insight.sync_modules({}, None)
        assert list(workdir.iterdir()) == []

    def test_files_of_absent_modules_stay(self, insight, workdir):
        insight.sync_modules({"a": "x = 1", "b": "y = 2"})
        insight.sync_modules({"a": "x = 3"})
        assert (workdir / "b.py").read_text() == "y = 2"

    def test_text_is_written_as_utf8(self, insight, workdir):
        insight.sync_modules({"u": "name = 'Zoë ✓'\n"})
        assert (workdir / "u.py").read_bytes() == "name = 'Zoë ✓'\n".encode()

    @pytest.mark.parametrize(
        ("name", "code", "reason"),
        [
            pytest.param(5, "x = 1", "module name must be a string, not int", id="int-name"),
            pytest.param("bad", 7, "write() argument must be str, not int", id="int-code"),
            pytest.param("bad", b"x = 1", "write() argument must be str, not bytes", id="bytes"),
            pytest.param("bad", "x = '\ud800'", "surrogates not allowed", id="lone-surrogate"),
            pytest.param("nul\0name", "x = 1", "embedded null byte", id="nul-in-name"),
        ],
    )
    def test_unwritable_module_is_logged_and_skipped(self, insight, workdir, logged, name, code,
                                                     reason):
        insight.sync_modules({"before": "a = 1", name: code, "after": "b = 2"})
        warnings = logged(logging.WARNING)
        assert len(warnings) == 1
        assert warnings[0].startswith(f"[LSP] Failed to sync module '{name}': ")
        assert reason in warnings[0]
        assert sorted(p.name for p in workdir.iterdir()) == ["after.py", "before.py"]

    def test_refused_content_leaves_the_previous_file_intact(self, insight, workdir):
        insight.sync_modules({"m": "x = 1"})
        insight.sync_modules({"m": None})
        assert (workdir / "m.py").read_text() == "x = 1"


class TestPathRefusal:
    """Module names come from the peer: none may place a file outside the private directory."""

    @pytest.mark.parametrize(
        "name",
        [
            pytest.param("../escaped", id="parent"),
            pytest.param("../../escaped", id="grandparent"),
            pytest.param("sub/../../escaped", id="dotdot-inside"),
            pytest.param("sub/escaped", id="separator"),
            pytest.param("..\\escaped", id="backslash"),
        ],
    )
    def test_relative_escape_is_refused(self, insight, workdir, logged, name):
        insight.sync_modules({name: "stolen = True", "fine": "ok = 1"})
        outside = workdir.parent
        assert not (outside / "escaped.py").exists()
        assert not (outside.parent / "escaped.py").exists()
        assert [p.name for p in workdir.iterdir()] == ["fine.py"]
        assert logged(logging.WARNING) == [
            f"[LSP] Failed to sync module '{name}': "
            "module name would place its file outside the temporary directory"
        ]

    def test_absolute_name_is_refused(self, insight, workdir, tmp_path):
        target = tmp_path / "absolute"
        insight.sync_modules({str(target): "stolen = True", "fine": "ok = 1"})
        assert not Path(str(target) + ".py").exists()
        assert (workdir / "fine.py").exists()

    def test_dirty_files_are_checked_too(self, insight, workdir):
        insight.sync_modules({}, {"../escaped": "x = 1"})
        assert not (workdir.parent / "escaped.py").exists()

    def test_delete_outside_is_refused(self, insight, workdir, logged, tmp_path):
        victim = tmp_path / "victim.py"
        victim.write_text("keep = True")
        relative = os.path.relpath(victim, workdir)[: -len(".py")]
        insight.delete_module(relative)
        assert victim.read_text() == "keep = True"
        assert logged(logging.WARNING) == [
            f"[LSP] Failed to delete module file '{relative}': "
            "module name would place its file outside the temporary directory"
        ]

    def test_names_with_dots_but_no_separator_stay_inside(self, insight, workdir):
        insight.sync_modules({"..": "a = 1", "a..b": "b = 2"})
        assert sorted(p.name for p in workdir.iterdir()) == ["...py", "a..b.py"]


class TestUnchangedFiles:
    """jedi keys its parser cache on path and mtime: identical text must not touch the file."""

    def test_identical_text_is_not_rewritten(self, insight, workdir):
        insight.sync_modules({"m": "x = 1\n"})
        before = os.stat(workdir / "m.py")
        insight.sync_modules({"m": "".join(["x = 1", "\n"])})  # equal text, another object
        after = os.stat(workdir / "m.py")
        assert (after.st_mtime_ns, after.st_ino) == (before.st_mtime_ns, before.st_ino)

    def test_changed_text_is_rewritten(self, insight, workdir):
        insight.sync_modules({"m": "x = 1\n"})
        insight.sync_modules({"m": "x = 2\n"})
        assert (workdir / "m.py").read_text() == "x = 2\n"

    def test_file_changed_behind_our_back_is_restored(self, insight, workdir):
        insight.sync_modules({"m": "x = 1\n"})
        (workdir / "m.py").write_text("tampered = True\n")
        insight.sync_modules({"m": "x = 1\n"})
        assert (workdir / "m.py").read_text() == "x = 1\n"

    def test_deleted_file_is_written_again(self, insight, workdir):
        insight.sync_modules({"m": "x = 1\n"})
        insight.delete_module("m")
        assert not (workdir / "m.py").exists()
        insight.sync_modules({"m": "x = 1\n"})
        assert (workdir / "m.py").read_text() == "x = 1\n"

    def test_file_removed_externally_is_written_again(self, insight, workdir):
        insight.sync_modules({"m": "x = 1\n"})
        (workdir / "m.py").unlink()
        insight.sync_modules({"m": "x = 1\n"})
        assert (workdir / "m.py").read_text() == "x = 1\n"


class TestDeleteModule:
    def test_removes_the_synced_file(self, insight, workdir, logged):
        insight.sync_modules({"m": "x = 1"})
        insight.delete_module("m")
        assert not (workdir / "m.py").exists()
        assert "[LSP] Deleted module file 'm'" in logged(logging.DEBUG)

    def test_module_never_synced_is_quiet(self, insight, logged):
        insight.delete_module("never")
        assert logged(logging.WARNING) == []


class TestWorkspace:
    def test_stubs_directory_beside_the_module_is_searched(self, insight):
        here = os.path.dirname(os.path.abspath(code_insight.__file__))
        assert insight._python_server_path == here
        assert insight._stubs_path == os.path.join(here, "stubs")
        assert insight._jedi_project.added_sys_path == [insight._stubs_path]
        assert str(insight._jedi_project.path) == insight._temp_dir.name

    def test_update_sys_paths_orders_and_deduplicates(self, insight, tmp_path):
        extra = str(tmp_path)
        insight.update_sys_paths([extra, insight._stubs_path, extra])
        assert insight._jedi_project.added_sys_path == [
            insight._stubs_path, insight._python_server_path, extra]
        assert str(insight._jedi_project.path) == insight._temp_dir.name

    def test_new_package_path_makes_its_modules_complete(self, insight, tmp_path):
        (tmp_path / "sitepkg_probe.py").write_text("def probe_function():\n    pass\n")
        code = "import sitepkg_probe\nsitepkg_probe.pro"
        assert insight.get_completions(code, 2, 17)["completions"] == []
        insight.update_sys_paths([str(tmp_path)])
        labels = [c["label"] for c in insight.get_completions(code, 2, 17)["completions"]]
        assert labels == ["probe_function"]

    def test_failed_update_keeps_the_previous_project(self, insight, caplog):
        class Hostile:
            def __eq__(self, other):
                raise RuntimeError("no comparison")

        project = insight._jedi_project
        insight.update_sys_paths([Hostile()])
        assert insight._jedi_project is project
        errors = [r for r in caplog.records if r.levelno == logging.ERROR]
        assert errors[0].getMessage() == "[LSP] Failed to update sys paths: no comparison"
        assert errors[0].exc_info is not None

    def test_invalid_hover_mode_keeps_the_current_one(self, insight, logged):
        insight.set_hover_mode("detailed")
        insight.set_hover_mode("verbose")
        assert insight._hover_mode == "detailed"
        assert logged(logging.WARNING) == [
            "[LSP] Invalid hover mode 'verbose', keeping current: detailed"]

    def test_cleanup_removes_the_directory(self, insight, workdir, logged):
        insight.sync_modules({"m": "x = 1"})
        insight.cleanup()
        assert not workdir.exists()
        assert "[LSP] Cleaned up temporary directory" in logged(logging.INFO)

    def test_sync_after_cleanup_logs_instead_of_raising(self, insight, logged):
        insight.cleanup()
        insight.sync_modules({"m": "x = 1"})
        assert logged(logging.WARNING)[0].startswith(
            "[LSP] Failed to sync module 'm': [Errno 2]")

    @pytest.mark.parametrize(
        ("path", "expected"),
        [
            ("Sheet_Utils", True),
            ("_private", True),
            ("", False),
            ("1st", False),
            ("<editor>", False),
            ("module.py", False),
            ("pkg.module", False),
            (".hidden", False),
            ("dir/module", False),
            ("C:\\work\\module", False),
        ],
    )
    def test_module_name_recognition(self, insight, path, expected):
        assert insight._is_module_name(path) is expected


class TestArgumentTypes:
    @pytest.mark.parametrize(
        ("call", "message"),
        [
            (lambda c: c.sync_modules([]), "Argument 'modules' has incorrect type "
                                           "(expected dict, got list)"),
            (lambda c: c.sync_modules({}, []), "Argument 'dirty_files' has incorrect type "
                                               "(expected dict, got list)"),
            (lambda c: c.delete_module(5), "Argument 'module_name' has incorrect type "
                                           "(expected str, got int)"),
            (lambda c: c.set_hover_mode(None), "Argument 'mode' has incorrect type "
                                               "(expected str, got NoneType)"),
            (lambda c: c.set_workspace(b"/x"), "Argument 'workspace_path' has incorrect type "
                                               "(expected str, got bytes)"),
            (lambda c: c.update_sys_paths(("/x",)), "Argument 'new_paths' has incorrect type "
                                                    "(expected list, got tuple)"),
            (lambda c: c.get_completions("x", 1, 0, dirty_files=["a"]),
             "Argument 'dirty_files' has incorrect type (expected dict, got list)"),
            (lambda c: c.get_hover("x", 1, 0, modules="a"),
             "Argument 'modules' has incorrect type (expected dict, got str)"),
            (lambda c: c.get_diagnostics("x", module_name=3),
             "Argument 'module_name' has incorrect type (expected str, got int)"),
        ],
        ids=["modules", "dirty_files", "delete", "hover-mode", "workspace", "sys-paths",
             "completion-dirty", "hover-modules", "diagnostics-module"],
    )
    def test_wrong_type_raises_type_error(self, insight, call, message):
        with pytest.raises(TypeError) as raised:
            call(insight)
        assert str(raised.value) == message


class TestHostileNames:
    def test_name_whose_str_fails_is_skipped_and_logged(self, insight, workdir, logged):
        class Unprintable:
            def __str__(self):
                raise RuntimeError("no text")

        insight.sync_modules({Unprintable(): "x = 1", "fine": "y = 2"})
        assert [p.name for p in workdir.iterdir()] == ["fine.py"]
        assert logged(logging.WARNING) == [
            "[LSP] Failed to sync module '<unprintable Unprintable>': "
            "module name must be a string, not Unprintable"]
