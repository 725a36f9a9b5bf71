"""The package index client over a local simple-repository directory and the current
environment, alone and under the solver."""

from __future__ import annotations

import importlib.metadata
import zipfile
from pathlib import Path
from typing import Any, ClassVar

import pytest
from solver_support import EXAMPLE_INDEX, pinned, run
from wheel_factory import Release, build_index

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

    def test_direct_url_dependency_is_reported(self, tmp_path):
        write_wheel(tmp_path / "bad", "bad", "1.0", ["lib @ https://example.invalid/lib.whl"])
        with pytest.raises(ValueError, match="in bad-1.0-py3-none-any.whl: a direct URL"):
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


def built_client(tmp_path: Path, releases: list[Release], **target: Any) -> PackageIndexClient:
    """A client over an index of `releases` built under tmp_path/simple."""
    root = build_index(tmp_path / "simple", releases)
    return PackageIndexClient(SettingsManager(root, consider_installed=False, **target))


class TestTargetEnvironment:
    RELEASES: ClassVar[list[Release]] = [
        Release("lib", "2.0.dev6"), Release("lib", "1.1rc1"), Release("lib", "1.0"),
        Release("lib", "0.9"),
        Release("native", "3.0", tag="cp311-cp311-win_amd64"),
        Release("native", "2.0", requires_python=">=3.13"),
        Release("native", "1.5", requires_python=">=3.13", page_requires_python=False),
        Release("native", "1.0"),
        Release("app", "1.0", ['pywin32>=300; sys_platform == "win32"',
                               'exceptiongroup; python_version < "3.11"',
                               'typing-extensions; python_version >= "3.8"',
                               'ablib[Fast_Path]; extra == "A" or extra == "b_b"',
                               'oldlib; extra == "a" and python_version < "3.8"',
                               'anylib; extra != "nothing"'],
                extras=["A", "b-b"]),
    ]

    @pytest.fixture
    def index(self, tmp_path):
        return build_index(tmp_path / "simple", self.RELEASES)

    def client(self, index: Path, **target: Any) -> PackageIndexClient:
        return PackageIndexClient(SettingsManager(index, consider_installed=False, **target))

    def test_final_releases_come_before_pre_releases(self, index):
        assert run(self.client(index).get_versions("lib")) == ["1.0", "0.9", "2.0.dev6", "1.1rc1"]

    @pytest.mark.parametrize(
        "target, versions",
        [({}, ["1.0"]),
         ({"target_python_version": "3.11", "target_platforms": ["win_amd64"]}, ["3.0", "1.0"]),
         ({"target_python_version": "3.13"}, ["2.0", "1.5", "1.0"])],
        ids=["this-python", "windows-3.11", "python-3.13"])
    def test_wheel_tags_and_requires_python_limit_the_versions(self, index, target, versions):
        assert run(self.client(index, **target).get_versions("native")) == versions

    def test_pinned_version_without_a_usable_wheel_names_its_files(self, index):
        with pytest.raises(LookupError, match="native 3.0 has no wheel for the target environment "
                                              r"\(only native-3.0-cp311-cp311-win_amd64.whl\)"):
            run(self.client(index).get_dependencies("native", "3.0"))
        with pytest.raises(ValueError, match="native-2.0-py3-none-any.whl requires Python >=3.13"):
            run(self.client(index).get_dependencies("native", "2.0"))

    def test_markers_are_evaluated_for_the_target(self, index):
        deps = {d["name"]: d for d in run(self.client(index).get_dependencies("app", "1.0"))}
        assert sorted(deps) == ["ablib", "anylib", "typing-extensions"]
        assert deps["ablib"] == {"name": "ablib", "version_spec": "", "extras": ["fast-path"],
                                 "markers": 'extra == "a" or extra == "b-b"'}
        assert deps["anylib"]["markers"] == ""
        assert deps["typing-extensions"]["markers"] == 'python_version >= "3.8"'
        windows = self.client(index, target_python_version="3.10", target_platforms=["win_amd64"])
        names = [d["name"] for d in run(windows.get_dependencies("app", "1.0"))]
        assert names == ["pywin32", "exceptiongroup", "typing-extensions", "ablib", "anylib"]

    def test_invalid_target_python_version(self, index):
        with pytest.raises(ValueError, match="invalid Python version 'three'"):
            self.client(index, target_python_version="three").target  # noqa: B018


class TestIndexSafety:
    def test_wheel_of_another_project_is_left_out(self, tmp_path, caplog):
        client = built_client(tmp_path, [Release("alpha", "1.0"),
                                         Release("beta", "9.0", folder="alpha")])
        assert run(client.get_versions("alpha")) == ["1.0"]
        assert "beta-9.0-py3-none-any.whl: a wheel of beta, not of alpha; left out" in caplog.text

    @pytest.mark.parametrize(
        "lie", [{"metadata_version": "1.5"}, {"metadata_name": "other"}], ids=["version", "name"])
    def test_metadata_must_name_its_wheel(self, tmp_path, caplog, lie):
        client = built_client(tmp_path, [Release("liar", "2.0", **lie), Release("liar", "1.0")])
        assert run(client.get_versions("liar")) == ["1.0"]
        with pytest.raises(ValueError, match=r"liar-2.0-py3-none-any.whl: metadata names .* but "
                                             "the file is liar 2.0"):
            run(client.get_dependencies("liar", "2.0"))
        assert "liar-2.0-py3-none-any.whl: metadata names" in caplog.text

    def test_symbolic_links_leaving_the_index_are_refused(self, tmp_path, caplog):
        outside = build_index(tmp_path / "elsewhere", [Release("outer", "1.0")])
        secret = tmp_path / "secret.metadata"
        secret.write_text("Metadata-Version: 2.1\nName: inner\nVersion: 1.0\n"
                          "Requires-Dist: top-secret-line\n\n")
        root = build_index(tmp_path / "simple", [Release("inner", "1.0", ["dep"])])
        (root / "outer").symlink_to(outside / "outer", target_is_directory=True)
        (root / "inner" / "inner-1.0-py3-none-any.whl.metadata").symlink_to(secret)
        (root / "inside").symlink_to(root / "inner", target_is_directory=True)
        client = PackageIndexClient(SettingsManager(root, consider_installed=False))
        assert run(client.get_versions("outer")) == []
        # The metadata link is refused; the wheel itself is read instead.
        assert [d["name"] for d in run(client.get_dependencies("inner", "1.0"))] == ["dep"]
        assert f"{root / 'outer'}: refused, the symbolic link leads outside" in caplog.text
        assert "inner-1.0-py3-none-any.whl.metadata: refused, the symbolic link" in caplog.text
        assert "top-secret-line" not in caplog.text
        assert run(client.get_versions("inside")) == []  # a folder of another name's wheels

    def test_bad_links_on_a_page(self, tmp_path, caplog):
        root = build_index(tmp_path / "simple", [Release("pkg", "1.0")])
        page = root / "pkg" / "index.html"
        page.write_text(page.read_text() + '<a href="pkg-3.0-py3-none-any.whl">missing</a>'
                        '<a href="pkg-2.0-py3-none-any.whl%00.txt">nul</a>')
        client = PackageIndexClient(SettingsManager(root, consider_installed=False))
        assert run(client.get_versions("pkg")) == ["1.0"]
        assert "index.html: link 'pkg-2.0-py3-none-any.whl%00.txt' refused, it holds a NUL" \
            in caplog.text

    def test_a_page_that_is_not_utf8_names_itself(self, tmp_path):
        root = build_index(tmp_path / "simple", [Release("pkg", "1.0")])
        (root / "pkg" / "index.html").write_bytes(b"<a href='pkg-1.0-py3-none-any.whl'>\xff</a>")
        client = PackageIndexClient(SettingsManager(root, consider_installed=False))
        with pytest.raises(ValueError, match=r"pkg/index.html: not UTF-8 text"):
            run(client.get_versions("pkg"))

    def test_an_index_path_that_is_a_file(self, tmp_path):
        (tmp_path / "file").write_text("")
        with pytest.raises(LookupError, match="'.*file' is not a directory"):
            client_for(tmp_path / "file").index_dir()

    def test_a_changed_folder_is_read_again(self, tmp_path):
        client = built_client(tmp_path, [Release("pkg", "1.0")])
        assert run(client.get_versions("pkg")) == ["1.0"]
        build_index(tmp_path / "simple", [Release("pkg", "1.0"), Release("pkg", "1.1")])
        assert run(client.get_versions("pkg")) == ["1.1", "1.0"]
