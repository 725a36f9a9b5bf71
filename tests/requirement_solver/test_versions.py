"""Version choice: _resolve_best_version with and without the packaging library, and names."""

from __future__ import annotations

import logging
import subprocess
import sys

import pytest
from solver_support import IndexStub, make_solver, messages, run

import zentrel_master.business_layer.requirement_solver as solver_module


class ListedVersions(IndexStub):
    """An index whose version list is given as is (order, duplicates and junk included)."""

    def __init__(self, versions: list, installed: dict[str, str] | None = None) -> None:
        super().__init__({}, installed)
        self.versions = versions

    async def get_versions(self, name):
        self.calls.append(("versions", name))
        return self.versions


def best(versions: list, spec: str, installed: dict[str, str] | None = None):
    return run(make_solver(ListedVersions(versions, installed))._resolve_best_version("pkg", spec))


class TestWithPackaging:
    @pytest.mark.parametrize(
        "versions, spec, expected",
        [
            (["1.0", "2.0", "1.5"], ">=1.0,<2", "1.5"),
            (["3.0b1", "2.0", "1.0"], ">=1.0", "2.0"),
            (["3.0b1", "2.0"], ">=3.0b1", "3.0b1"),
            (["3.0b1"], ">=1.0", None),
            (["2.0.dev1", "1.0"], ">1.0,<=2.0.dev1", "2.0.dev1"),
            (["not a version", "1!0.1", "2.0"], ">0", "1!0.1"),
            (["1.0", "1.0.0"], "==1", "1.0"),
            (["1.0.0", "1.0"], "==1", "1.0.0"),
            (["2.1", "2.0.5", "1.9"], "~=2.0", "2.1"),
            (["2.1", "2.0.5", "1.9"], "  ", "2.1"),
            (["2.1", "2.0.5", "1.9"], "", "2.1"),
        ],
        ids=["range", "skips-prerelease", "named-prerelease", "only-prerelease",
             "dev-release-named", "junk-and-epoch",
             "equal-first-listed", "equal-first-listed-reversed", "compatible", "blank-takes-first",
             "empty-takes-first"],
    )
    def test_highest_matching_version(self, versions, spec, expected):
        assert best(versions, spec) == (expected, False)

    def test_no_match_and_no_versions(self, logs):
        assert best(["1.0"], ">=2") == (None, False)
        assert "No versions of pkg match specifier >=2" in messages(logs, logging.WARNING)
        assert best([], ">=2") == (None, False)
        assert best([], "") == (None, False)

    def test_invalid_specifier_falls_back_to_latest(self, logs):
        assert best(["2.0", "3.0"], ">>1") == ("2.0", False)
        (warning,) = messages(logs, logging.WARNING)
        assert warning.startswith("Invalid version specifier '>>1' for pkg: Invalid specifier:")

    def test_current_distribution_wins_first(self, logs):
        index = ListedVersions(["9.0"], installed={"pkg": "1.2"})
        answer = run(make_solver(index)._resolve_best_version("pkg", ">=1", ["x"]))
        assert answer == ("1.2", True)
        assert index.calls == [("dist", "pkg", ">=1", ["x"])]
        assert messages(logs, logging.INFO) == ["Package pkg satisfied by current distribution: 1.2"]

    def test_latest_version_is_the_first_listed(self):
        solver = make_solver(ListedVersions(["0.9", "2.0"]))
        assert run(solver._get_latest_version("pkg")) == "0.9"
        assert run(solver._get_all_versions("pkg")) == ["0.9", "2.0"]
        assert run(make_solver(ListedVersions([]))._get_latest_version("pkg")) is None

    def test_non_text_versions_from_the_index_are_skipped(self):
        assert best([3.0, None, "1.5"], ">=1") == ("1.5", False)

    def test_arguments_are_checked(self):
        solver = make_solver(ListedVersions([]))
        with pytest.raises(TypeError, match="Argument 'version_spec'"):
            solver._resolve_best_version("pkg", None)
        with pytest.raises(TypeError, match="Argument 'extras'"):
            solver._resolve_best_version("pkg", "", "x")


class TestWithoutPackaging:
    @pytest.fixture(autouse=True)
    def no_packaging(self, monkeypatch):
        monkeypatch.setattr(solver_module, "PACKAGING_AVAILABLE", False)

    @pytest.mark.parametrize(
        "spec, expected",
        [
            ("==1.2.3", "1.2.3"),
            ("  == 1.2.3rc1,<2", "1.2.3rc1"),
            ("==1.0+local", "1.0"),
            (">=1.0", "5.0"),
            ("===1.0", "5.0"),
            ("==v1", "5.0"),
        ],
        ids=["exact", "spaced-with-more", "stops-at-plus", "range", "arbitrary-equality", "v-prefix"],
    )
    def test_exact_pins_only(self, spec, expected, logs):
        assert best(["5.0", "1.0"], spec) == (expected, False)
        assert messages(logs, logging.WARNING) == [
            "packaging library not available, falling back to exact version matching"]
        if expected == "5.0":
            assert messages(logs, logging.DEBUG) == [
                f"Non-exact version spec '{spec}' for pkg, using latest"]


def test_module_loads_without_packaging():
    code = (
        "import sys; sys.modules['packaging'] = None\n"
        "import zentrel_master.business_layer.requirement_solver as m\n"
        "print(m.PACKAGING_AVAILABLE, m.SpecifierSet, m.InvalidSpecifier, m.Version,"
        " m.InvalidVersion)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], check=False, capture_output=True, text=True,
                         timeout=60)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["False", "None", "None", "None", "None"]


@pytest.mark.parametrize(
    "name, normalized",
    [
        ("Foo_Bar", "foo-bar"),
        ("foo.-_bar", "foo-bar"),
        ("zope.interface", "zope-interface"),
        ("--a__", "-a-"),
        ("ÄBC_x", "äbc-x"),
        ("plain", "plain"),
    ],
)
def test_normalize_name(name, normalized):
    assert make_solver(IndexStub({}))._normalize_name(name) == normalized
