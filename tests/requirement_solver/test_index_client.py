"""The package index client over a local simple-repository directory and the current
environment, alone and under the solver."""

from __future__ import annotations

import importlib.metadata
import zipfile
from pathlib import Path

import pytest
from solver_support import EXAMPLE_INDEX, pinned, run
from zentrel_master.business_layer.packages.package_index_client import PackageIndexClient
from zentrel_master.business_layer.requirement_solver import PackageSpec, RequirementSolver
from zentrel_master.business_layer.settings_manager import SettingsManager


def client_for(index: Path, consider_installed: bool = False) -> PackageIndexClient:
    return PackageIndexClient(SettingsManager(index, consider_installed=consider_installed))


def write_wheel(directory: Path, name: str, version: str, requires: list[str]) -> Path:
    """A wheel holding only its dist-info, with the given Requires-Dist lines."""
    directory.mkdir(parents=True, exist_ok=True)
    path = directory / f"{name}-{version}-py3-none-any.whl"
    metadata = "\n".join(["Metadata-Version: 2.1", f"Name: {name}", f"Version: {version}"]
                         + [f"Requires-Dist: {r}" for r in requires]) + "\n\n"
    with zipfile.ZipFile(path, "w") as wheel:
        wheel.writestr(f"{name}-{version}.dist-info/METADATA", metadata)
        wheel.writestr(f"{name}-{version}.dist-info/WHEEL", "Wheel-Version: 1.0\n")
    return path


class TestExampleIndex:
    client = client_for(EXAMPLE_INDEX)

    @pytest.mark.parametrize(
        "name, versions",
        [
            ("requests", ["2.32.3", "2.31.0"]),
            ("URLLib3", ["2.2.1", "1.26.18"]),  # 2.2.0 is yanked
            ("Jinja2", ["3.1.4"]),
            ("no-such-project", []),
        ],
    )
    def test_versions_newest_first(self, name, versions):
        assert run(self.client.get_versions(name)) == versions

    def test_requires_dist_becomes_dependency_maps(self):
        deps = run(self.client.get_dependencies("requests", "2.31.0"))
        assert deps[0] == {"name": "charset-normalizer", "version_spec": "<4,>=2", "extras": [],
                           "markers": ""}
        assert deps[4] == {"name": "PySocks", "version_spec": "!=1.5.7,>=1.5.6", "extras": [],
                           "markers": 'extra == "socks"'}
        assert [d["name"] for d in deps] == ["charset-normalizer", "idna", "urllib3", "certifi",
                                             "PySocks", "chardet"]

    def test_unknown_version_is_an_error(self):
        with pytest.raises(LookupError, match="requests 9.9 is not in the package index"):
            run(self.client.get_dependencies("requests", "9.9"))

    def test_yanked_release_keeps_its_metadata_for_exact_pins(self):
        deps = run(self.client.get_dependencies("urllib3", "2.2.0"))
        assert [d["name"] for d in deps] == ["brotli", "h2", "pysocks", "zstandard"]

    def test_version_texts_match_by_value(self):
        assert run(self.client.get_dependencies("idna", "3.7.0")) == []

    def test_without_an_index_directory(self, tmp_path):
        with pytest.raises(LookupError, match="no package index directory is configured"):
            run(PackageIndexClient(SettingsManager()).get_versions("requests"))
        with pytest.raises(LookupError, match="does not exist"):
            run(client_for(tmp_path / "missing").get_versions("requests"))


class TestWheelsAndLinks:
    def test_wheel_metadata_is_read_from_the_archive(self, tmp_path):
        write_wheel(tmp_path / "demo-pkg", "demo_pkg", "1.0",
                    ["attrs[tests]>=22; python_version >= '3.8'", "tomli"])
        client = client_for(tmp_path)
        assert run(client.get_versions("Demo.Pkg")) == ["1.0"]
        assert run(client.get_dependencies("demo_pkg", "1.0")) == [
            {"name": "attrs", "version_spec": ">=22", "extras": ["tests"],
             "markers": 'python_version >= "3.8"'},
            {"name": "tomli", "version_spec": "", "extras": [], "markers": ""},
        ]

    def test_invalid_requires_dist_is_reported(self, tmp_path):
        write_wheel(tmp_path / "bad", "bad", "1.0", ["good>=1", "not valid ((("])
        with pytest.raises(ValueError, match="invalid Requires-Dist 'not valid \\(\\(\\(' in bad-1.0"):
            run(client_for(tmp_path).get_dependencies("bad", "1.0"))

    def test_links_leaving_the_project_directory_are_ignored(self, tmp_path):
        write_wheel(tmp_path / "outside", "outside", "6.6", [])
        project = tmp_path / "pkg"
        write_wheel(project, "pkg", "1.0", [])
        (project / "index.html").write_text(
            '<a href="pkg-1.0-py3-none-any.whl#sha256=00">pkg</a>'
            '<a href="../outside/outside-6.6-py3-none-any.whl">escape</a>'
            '<a href="https://example.invalid/pkg-2.0-py3-none-any.whl">remote</a>')
        assert run(client_for(tmp_path).get_versions("pkg")) == ["1.0"]


class TestCurrentEnvironment:
    def test_installed_version_satisfies_a_matching_specifier(self):
        installed = importlib.metadata.version("packaging")
        client = client_for(EXAMPLE_INDEX, consider_installed=True)
        assert client.check_specifier_in_dist("Packaging", ">=20", None) == installed
        assert client.check_specifier_in_dist("packaging", "<1", None) is None
        assert client.check_specifier_in_dist("no-such-dist-here", "", None) is None
        assert client_for(EXAMPLE_INDEX).check_specifier_in_dist("packaging", "", None) is None

    @pytest.mark.parametrize(
        "extras, satisfied",
        [([], True), (["fast"], True), (["Fast"], True), (["broken"], False), (["absent"], False)],
    )
    def test_extras_need_their_requirements_installed(self, tmp_path, monkeypatch, extras, satisfied):
        info = tmp_path / "extras_demo-1.0.dist-info"
        info.mkdir()
        (info / "METADATA").write_text(
            "Metadata-Version: 2.1\nName: extras-demo\nVersion: 1.0\n"
            "Provides-Extra: fast\nProvides-Extra: broken\n"
            "Requires-Dist: packaging>=20; extra == 'fast'\n"
            "Requires-Dist: not-installed-anywhere>=1; extra == 'broken'\n\n")
        monkeypatch.syspath_prepend(str(tmp_path))
        client = client_for(EXAMPLE_INDEX, consider_installed=True)
        expected = "1.0" if satisfied else None
        assert client.check_specifier_in_dist("extras-demo", "==1.0", extras) == expected


class TestSolverOverTheExampleIndex:
    def test_requests_with_an_extra(self):
        solver = RequirementSolver(SettingsManager(EXAMPLE_INDEX, consider_installed=False))
        result = run(solver.resolve([PackageSpec("requests", "2.31.0", ["socks"])]))
        assert result.success and not result.conflicts
        assert pinned(result) == [("requests", "2.31.0"), ("charset-normalizer", "3.3.2"),
                                  ("idna", "3.7"), ("urllib3", "2.2.1"), ("certifi", "2024.2.2"),
                                  ("PySocks", "1.7.1")]

    def test_installed_dependency_is_taken_from_the_environment(self, tmp_path):
        write_wheel(tmp_path / "tool", "tool", "1.0", ["packaging>=20", "helper"])
        write_wheel(tmp_path / "helper", "helper", "0.3", [])
        solver = RequirementSolver(SettingsManager(tmp_path))
        result = run(solver.resolve([PackageSpec("tool", "1.0")]))
        assert [p.to_dict()["spec"] for p in result.packages[1:]] == [
            {"name": "packaging", "version": importlib.metadata.version("packaging"),
             "extras": [], "from_dist": True},
            {"name": "helper", "version": "0.3", "extras": [], "from_dist": False},
        ]
