"""The breadth-first walk of RequirementSolver.resolve against an in-memory index."""

from __future__ import annotations

import asyncio
import inspect
import logging
from typing import ClassVar

import pytest
from solver_support import IndexStub, dep, make_solver, messages, pinned, run

from zentrel_master.business_layer.requirement_solver import PackageSpec, RequirementSolver


class TestWalk:
    def test_empty_request_list(self, logs):
        result = run(make_solver(IndexStub({})).resolve([]))
        assert result.to_dict() == {"success": True, "packages": [], "conflicts": [], "errors": []}
        assert messages(logs, logging.INFO) == ["Resolved 0 packages (0 direct, 0 dependencies)"]

    def test_breadth_first_order_and_direct_packages_first(self, logs):
        index = IndexStub({
            "app": {"1.0": [dep("lib", ">=1"), dep("util")]},
            "lib": {"1.0": [], "1.5": [dep("deep", "==2.0")]},
            "util": {"0.1": [dep("other")]},
            "deep": {"2.0": [], "3.0": []},
            "other": {"1": []},
            "tool": {"9": []},
        })
        result = run(make_solver(index).resolve([PackageSpec("app", "1.0"), PackageSpec("tool", "9")]))
        # tool is discovered after app's dependencies were queued, yet listed with the direct ones
        assert index.fetched() == [("app", "1.0"), ("tool", "9"), ("lib", "1.5"), ("util", "0.1"),
                                   ("deep", "2.0"), ("other", "1")]
        assert pinned(result) == [("app", "1.0"), ("tool", "9"), ("lib", "1.5"), ("util", "0.1"),
                                  ("deep", "2.0"), ("other", "1")]
        assert [p.is_direct for p in result.packages] == [True, True, False, False, False, False]
        assert [p.source for p in result.packages] == [set(), set(), {"app"}, {"app"}, {"lib"},
                                                       {"util"}]
        assert result.success and not result.conflicts
        assert "Resolved 6 packages (2 direct, 4 dependencies)" in messages(logs, logging.INFO)
        assert "Found 2 dependencies for app==1.0" in messages(logs, logging.DEBUG)

    def test_dependency_specs_carry_extras_and_from_dist(self):
        index = IndexStub({"app": {"1": [dep("lib", extras=["fast"]), dep("base")]},
                           "lib": {"2": []}}, installed={"base": "7.0"})
        result = run(make_solver(index).resolve([PackageSpec("app", "1")]))
        lib, base = result.packages[1].spec, result.packages[2].spec
        assert (lib.extras, lib.from_dist, base.version, base.from_dist) == (["fast"], False, "7.0", True)
        assert ("dist", "lib", "", ["fast"]) in index.calls

    def test_one_solver_serves_successive_resolutions(self):
        index = IndexStub({"a": {"1": [dep("b")]}, "b": {"1": []}})
        solver = make_solver(index)
        first = run(solver.resolve([PackageSpec("a", "1")]))
        second = run(solver.resolve([PackageSpec("a", "1")]))
        assert pinned(first) == pinned(second) == [("a", "1"), ("b", "1")]

    def test_methods_are_coroutine_functions(self):
        solver = make_solver(IndexStub({}))
        for name in ("resolve", "get_package_dependencies", "_resolve_best_version",
                     "_get_latest_version", "_get_all_versions"):
            assert inspect.iscoroutinefunction(getattr(solver, name)), name
        assert not inspect.iscoroutinefunction(solver._normalize_name)


class TestConflictsAndRevisits:
    def test_differently_spelled_direct_requests_conflict(self, logs):
        index = IndexStub({"Foo_Bar": {"1.0": []}, "foo-bar": {"2.0": []}})
        result = run(make_solver(index).resolve([PackageSpec("Foo_Bar", "1.0"),
                                                 PackageSpec("foo-bar", "2.0")]))
        assert pinned(result) == [("Foo_Bar", "1.0")]
        assert result.conflicts == [{"package": "foo-bar", "existing_version": "1.0",
                                     "requested_version": "2.0", "requested_by": "direct"}]
        assert result.success
        assert messages(logs, logging.WARNING) == [
            ("Conflict: foo-bar version 2.0 requested by direct, but version 1.0 already resolved."
             " Using 1.0."),
            "Found 1 version conflicts",
        ]

    def test_revisit_of_same_version_is_skipped_without_touching_source(self):
        index = IndexStub({
            "a": {"1": [dep("shared", "==1")]}, "b": {"1": [dep("shared", "==1")]},
            "c": {"1": [dep("shared", "==2")]}, "shared": {"1": [], "2": []},
        })
        result = run(make_solver(index).resolve([PackageSpec(n, "1") for n in "abc"]))
        shared = result.packages[3]
        assert (shared.spec.version, shared.source) == ("1", {"a", "c"})
        assert result.conflicts == [{"package": "shared", "existing_version": "1",
                                     "requested_version": "2", "requested_by": "c"}]
        assert index.fetched().count(("shared", "1")) == 1

    @pytest.mark.parametrize(
        "graph, expected",
        [
            ({"a": {"1": [dep("b")]}, "b": {"1": [dep("a", "==1")]}}, []),
            ({"a": {"1": [dep("b")], "2": []}, "b": {"1": [dep("a", "==2")]}},
             [{"package": "a", "existing_version": "1", "requested_version": "2",
               "requested_by": "b"}]),
            ({"a": {"1": [dep("a", "==1")]}}, []),
        ],
        ids=["cycle-same-version", "cycle-other-version", "self-dependency"],
    )
    def test_cycles_end(self, graph, expected):
        result = run(make_solver(IndexStub(graph)).resolve([PackageSpec("a", "1")]))
        assert result.success and result.conflicts == expected
        assert pinned(result)[0] == ("a", "1")


class TestExtrasAndMarkers:
    GRAPH: ClassVar[dict] = {
        "app": {"1": [
            dep("pytest", markers='extra == "test"'),
            dep("sphinx", markers="python_version >= '3.8' and extra == 'docs'"),
            dep("tomli", markers='python_version < "3.11"'),
            dep("winreg", markers='sys_platform == "win32"'),
            dep("compact", markers="extra=='x'"),
            dep("either", markers='extra == "fast-path" or extra == "b"'),
        ]},
        "pytest": {"8": []}, "sphinx": {"7": []}, "tomli": {"2": []}, "winreg": {"1": []},
        "compact": {"1": []}, "either": {"1": []},
    }

    @pytest.mark.parametrize(
        "extras, expected",
        [
            ([], ["tomli", "winreg"]),
            (["test"], ["pytest", "tomli", "winreg"]),
            (["docs", "test"], ["pytest", "sphinx", "tomli", "winreg"]),
            (["X"], ["tomli", "winreg", "compact"]),
            (["Fast_Path"], ["tomli", "winreg", "either"]),
            (["B", "TEST"], ["pytest", "tomli", "winreg", "either"]),
        ],
        ids=["none", "test", "docs-and-test", "compact-marker", "spelling", "second-extra"],
    )
    def test_extra_markers_filter_other_markers_stay(self, extras, expected):
        result = run(make_solver(IndexStub(self.GRAPH)).resolve([PackageSpec("app", "1", extras)]))
        # Extra names are compared normalised, and a marker naming two extras holds for either.
        assert [p.spec.name for p in result.packages[1:]] == expected

    def test_skipped_extra_entry_is_not_validated(self):
        index = IndexStub({"app": {"1": [{"markers": 'extra == "dev"'}, dep("ok")]}, "ok": {"1": []}})
        result = run(make_solver(index).resolve([PackageSpec("app", "1")]))
        assert result.success and pinned(result) == [("app", "1"), ("ok", "1")]


class TestFromDist:
    def test_installed_dependency_has_no_dependencies_fetched(self, logs):
        index = IndexStub({"app": {"1": [dep("six", ">=1.5")]}, "six": {"1.16.0": [dep("never")]}},
                          installed={"six": "1.16.0"})
        result = run(make_solver(index).resolve([PackageSpec("app", "1")]))
        assert index.fetched() == [("app", "1")]
        assert result.packages[1].to_dict()["from_dist"] is True
        assert "Package six satisfied by current distribution: 1.16.0" in messages(logs, logging.INFO)
        assert "Skipping dependency resolution for six (from current dist)" in messages(logs, logging.DEBUG)


class TestFailures:
    @pytest.mark.parametrize(
        "deps, error",
        [
            ([{"version_spec": ">=1"}], "dependency entry [0] has no 'name'"),
            ([dep("b"), {"name": "c"}], "dependency entry [1] has no 'version_spec'"),
            ([{"name": "b", "version_spec": 1.0}],
             "dependency entry [0] has a 'version_spec' of type float, expected str"),
            ([{"name": None, "version_spec": ""}],
             "dependency entry [0] has a 'name' of type NoneType, expected str"),
            (["b>=1"], "dependency entry [0] is a str, expected a dict"),
            ([dep("b", extras="fast")],
             "dependency entry [0] has a 'extras' of type str, expected list"),
            ([dep("b", extras=[1])], "dependency entry [0] lists an extra of type int, expected str"),
            ([{"name": "b", "version_spec": "", "markers": 5}],
             "dependency entry [0] has a 'markers' of type int, expected str"),
            ({"name": "b"}, "the index returned dependencies of type dict, expected a list"),
            # Type names are cut to 100 bytes; a character cut in two shows as U+FFFD.
            ([type("a" * 99 + "é", (), {})()],
             "dependency entry [0] is a " + "a" * 99 + "\ufffd, expected a dict"),
        ],
        ids=["no-name", "no-spec", "float-spec", "none-name", "not-a-dict", "extras-str",
             "extras-item", "markers-int", "not-a-list", "long-type-name"],
    )
    def test_malformed_dependency_maps_end_in_errors(self, deps, error, logs):
        index = IndexStub({"a": {"1": deps}, "b": {"1": []}, "z": {"1": []}})
        result = run(make_solver(index).resolve([PackageSpec("a", "1"), PackageSpec("z", "1")]))
        text = f"Failed to fetch dependencies for a==1: {error}"
        assert (result.success, result.errors) == (False, [text])
        assert pinned(result) == [("a", "1"), ("z", "1")]  # the package stays, the walk goes on
        assert messages(logs, logging.ERROR) == [text]

    def test_none_extras_and_markers_count_as_empty(self):
        index = IndexStub({"a": {"1": [{"name": "b", "version_spec": "", "extras": None,
                                        "markers": None}]}, "b": {"1": []}})
        result = run(make_solver(index).resolve([PackageSpec("a", "1")]))
        assert result.success and pinned(result) == [("a", "1"), ("b", "1")]

    @pytest.mark.parametrize("method", ["get_dependencies", "get_versions",
                                        "check_specifier_in_dist"])
    def test_client_errors_end_in_errors(self, method):
        index = IndexStub({"a": {"1": [dep("b")]}, "b": {"1": []}, "c": {"1": []}})

        def boom(*args):
            raise ConnectionError(f"{method} down")

        async def aboom(*args):
            boom()

        setattr(index, method, boom if method == "check_specifier_in_dist" else aboom)
        result = run(make_solver(index).resolve([PackageSpec("a", "1"), PackageSpec("c", "1")]))
        assert result.errors[0] == f"Failed to fetch dependencies for a==1: {method} down"
        assert not result.success and ("c", "1") in pinned(result)

    def test_unresolvable_dependency_is_dropped_quietly(self, logs):
        index = IndexStub({"a": {"1": [dep("ghost", ">=1"), dep("old", ">=5")]}, "old": {"1": []}})
        result = run(make_solver(index).resolve([PackageSpec("a", "1")]))
        assert result.success and pinned(result) == [("a", "1")] and not result.errors
        assert "Could not resolve version for ghost with spec >=1" in messages(logs, logging.DEBUG)
        assert "No versions of old match specifier >=5" in messages(logs, logging.WARNING)

    def test_falsy_dependency_answers_mean_none(self):
        index = IndexStub({"a": {"1": None}, "b": {"1": []}})
        result = run(make_solver(index).resolve([PackageSpec("a", "1"), PackageSpec("b", "1")]))
        assert result.success and len(result.packages) == 2

    @pytest.mark.parametrize(
        "argument, message",
        [
            (("a", "1"), "Argument 'package_specs' has incorrect type (expected list, got tuple)"),
            (None, "Argument 'package_specs' has incorrect type (expected list, got NoneType)"),
            ([PackageSpec("a", "1"), "b==1"], "Argument 'package_specs[1]' has incorrect type"),
        ],
        ids=["tuple", "none", "str-item"],
    )
    def test_resolve_checks_its_argument_before_starting(self, argument, message):
        with pytest.raises(TypeError) as info:
            make_solver(IndexStub({})).resolve(argument)
        assert str(info.value).startswith(message)

    def test_cancellation_is_not_swallowed_as_an_error(self):
        class Hanging(IndexStub):
            async def get_dependencies(self, name, version):
                self.started.set()
                await asyncio.Event().wait()

        async def scenario():
            index = Hanging({})
            index.started = asyncio.Event()
            task = asyncio.create_task(make_solver(index).resolve([PackageSpec("a", "1")]))
            await index.started.wait()
            task.cancel()
            with pytest.raises(asyncio.CancelledError):
                await task

        run(scenario())


class TestPackageCache:
    class Cache:
        def __init__(self, paths):
            self.paths, self.calls = paths, []

        def get_cached_package(self, name, version, extras_key):
            self.calls.append((name, version, extras_key))
            return self.paths.get(name, "")

    def test_cached_paths_are_looked_up_with_sorted_extras(self):
        cache = self.Cache({"a": "/cache/a-1.whl"})
        index = IndexStub({"a": {"1": [dep("b")]}, "b": {"1": []}})
        result = run(make_solver(index, cache).resolve([PackageSpec("a", "1", ["z", "b"])]))
        assert cache.calls == [("a", "1", "b,z"), ("b", "1", "")]
        assert [p.path for p in result.packages] == ["/cache/a-1.whl", None]

    def test_a_failing_cache_ends_resolve(self):
        class Broken:
            def get_cached_package(self, *args):
                raise OSError("cache unreadable")

        with pytest.raises(OSError, match="cache unreadable"):
            run(make_solver(IndexStub({"a": {"1": []}}), Broken()).resolve([PackageSpec("a", "1")]))


class TestOverrides:
    def test_subclass_and_instance_overrides_are_called(self):
        class Pinned(RequirementSolver):
            async def _get_all_versions(self, package_name):
                return ["9.9", "1.0"]

        solver = Pinned(None)
        solver.client = IndexStub({"a": {"1": [dep("b", "<5")]}, "b": {"1.0": []}})
        assert pinned(run(solver.resolve([PackageSpec("a", "1")]))) == [("a", "1"), ("b", "1.0")]

        async def no_dependencies(name, version, extras=None, from_dist=False):
            assert isinstance(from_dist, bool)
            return [PackageSpec("x", "1")] if name == "a" else []

        solver.get_package_dependencies = no_dependencies
        assert pinned(run(solver.resolve([PackageSpec("a", "1")]))) == [("a", "1"), ("x", "1")]

    def test_override_returning_non_specs_is_an_error(self):
        solver = make_solver(IndexStub({}))

        async def bad(*args, **kwargs):
            return [{"name": "x"}]

        solver.get_package_dependencies = bad
        result = run(solver.resolve([PackageSpec("a", "1")]))
        assert result.errors == [("Failed to fetch dependencies for a==1: get_package_dependencies"
                                  " returned an item of type dict, expected PackageSpec")]
