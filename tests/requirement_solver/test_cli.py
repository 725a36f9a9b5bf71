"""The requirement solver's command line, run as a separate process."""

from __future__ import annotations

import json
import subprocess
import sys

from solver_support import EXAMPLE_INDEX

CLI = "zentrel_master.business_layer.requirement_solver_cli"


def cli(*args: str) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", CLI, *args], check=False, capture_output=True, text=True,
                          timeout=60)


def test_install_order_with_a_conflict():
    out = cli("--index", str(EXAMPLE_INDEX), "--ignore-installed", "requests[socks]==2.31.0",
              "botocore==1.34.0")
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == [
        "Install order (10 packages):",
        "    1. requests[socks]==2.31.0  (direct)",
        "    2. botocore==1.34.0  (direct)",
        "    3. charset-normalizer==3.3.2  (required by requests)",
        "    4. idna==3.7  (required by requests)",
        "    5. urllib3==2.2.1  (required by botocore, requests)",
        "    6. certifi==2024.2.2  (required by requests)",
        "    7. PySocks==1.7.1  (required by requests)",
        "    8. jmespath==1.0.1  (required by botocore)",
        "    9. python-dateutil==2.9.0.post0  (required by botocore)",
        "   10. six==1.16.0  (required by python-dateutil)",
        "Conflicts (1):",
        "  urllib3: 1.26.18 requested by botocore, keeping 2.2.1",
        "Errors (0):",
    ]
    assert "Conflict: urllib3 version 1.26.18 requested by botocore" in out.stderr


def test_ranges_pick_one_version_and_json_output():
    out = cli("--index", str(EXAMPLE_INDEX), "--ignore-installed", "--json", "idna<3.7", "jinja2")
    assert out.returncode == 0, out.stderr
    data = json.loads(out.stdout)
    assert [(p["spec"]["name"], p["spec"]["version"]) for p in data["packages"]] == [
        ("idna", "3.6"), ("jinja2", "3.1.4"), ("MarkupSafe", "2.1.5")]
    assert data["success"] is True and data["errors"] == []


def test_errors_exit_non_zero():
    out = cli("--index", str(EXAMPLE_INDEX), "--ignore-installed", "idna==9.9")
    assert out.returncode == 1
    assert out.stdout.splitlines()[-2:] == [
        "Errors (1):", "  Failed to fetch dependencies for idna==9.9: idna 9.9 is not in the package index"]


def test_bad_requests_exit_non_zero_without_resolving():
    out = cli("--index", str(EXAMPLE_INDEX), "requests ((", "flask>=99")
    assert out.returncode == 1 and out.stdout == ""
    assert "error: invalid requirement 'requests (('" in out.stderr
    assert "error: no version of flask matches 'flask>=99'" in out.stderr


def test_missing_index_is_a_usage_error(tmp_path):
    out = cli("--index", str(tmp_path / "nowhere"), "requests")
    assert out.returncode == 2 and "does not exist" in out.stderr


def names(out: subprocess.CompletedProcess) -> list[str]:
    return [p["spec"]["name"] for p in json.loads(out.stdout)["packages"]]


class TestTargetAndRequirementForms:
    def test_markers_follow_the_target_python(self):
        here = cli("--index", str(EXAMPLE_INDEX), "--ignore-installed", "--json", "flask==3.0.3")
        older = cli("--index", str(EXAMPLE_INDEX), "--ignore-installed", "--json",
                    "--python-version", "3.9", "flask==3.0.3")
        assert here.returncode == 0 and older.returncode == 0, here.stderr + older.stderr
        assert "importlib-metadata" not in names(here)
        assert {"importlib-metadata", "zipp"} <= set(names(older))

    def test_top_level_marker_false_for_the_target_is_ignored(self):
        out = cli("--index", str(EXAMPLE_INDEX), "--ignore-installed", "--json", "idna==3.7",
                  "six; sys_platform == 'win32'", "--platform", "manylinux2014_x86_64")
        assert out.returncode == 0, out.stderr
        assert names(out) == ["idna"]
        assert "Ignoring six: markers 'sys_platform == \"win32\"' don't match" in out.stderr
        windows = cli("--index", str(EXAMPLE_INDEX), "--ignore-installed", "--json",
                      "six; sys_platform == 'win32'", "--platform", "win_amd64")
        assert names(windows) == ["six"]

    def test_direct_url_is_refused(self):
        out = cli("--index", str(EXAMPLE_INDEX), "requests @ https://example.invalid/r.whl")
        assert out.returncode == 1 and out.stdout == ""
        assert "direct URL requirements are not supported" in out.stderr

    def test_extras_are_normalised(self):
        out = cli("--index", str(EXAMPLE_INDEX), "--ignore-installed", "--json",
                  "requests[SOCKS]==2.31.0")
        assert "PySocks" in names(out), out.stderr

    def test_bad_python_version_is_a_usage_error(self):
        out = cli("--index", str(EXAMPLE_INDEX), "--python-version", "x.y", "idna")
        assert out.returncode == 2 and "invalid Python version 'x.y'" in out.stderr
