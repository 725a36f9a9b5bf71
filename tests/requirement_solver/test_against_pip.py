"""The command line's pins against pip's resolver (`pip install --dry-run --report`), both run
offline on the same folder of small real wheels served as a simple repository.

Where the two differ, the difference is listed with the case: each one is the first-come-first-
served rule at work (a name keeps the first version resolved for it; pip backtracks instead).
"""

from __future__ import annotations

import json
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest
from wheel_factory import Release, build_index, wheel_name

CLI = "zentrel_master.business_layer.requirement_solver_cli"

RELEASES = [
    # Pre-releases: taken only when a specifier names one.
    Release("pre", "1.0"),
    Release("pre", "2.0.dev6", ["never"]),
    Release("never", "1.0"),
    Release("uses-pre", "1.0", ["pre"]),
    # Environment markers, for the Linux Python 3.12 both resolvers run on.
    Release("app", "1.0", ['winonly; sys_platform == "win32"', 'backport; python_version < "3.8"',
                           'posixdep; os_name == "posix"']),
    Release("winonly", "1.0"), Release("backport", "1.0"), Release("posixdep", "1.0"),
    # Extras spelt every which way, and a marker naming two extras.
    Release("fancy", "1.0", ['featlib; extra == "fancy-feature"',
                             'ablib; extra == "a" or extra == "b"', 'unused; extra == "zzz"'],
            extras=["Fancy_Feature", "a", "b", "zzz"]),
    Release("featlib", "1.0"), Release("ablib", "1.0"), Release("unused", "1.0"),
    Release("wants-fancy", "1.0", ["fancy[Fancy.Feature]"]),
    # Wheels the target cannot use: another platform, a newer Python.
    Release("native", "2.0", tag="cp311-cp311-win_amd64"),
    Release("native", "1.0"),
    Release("newpy", "3.0", requires_python=">=3.13"),
    Release("newpy", "2.5", requires_python=">=3.13", page_requires_python=False),
    Release("newpy", "2.0", requires_python=">=3.8"),
    # A wheel of another project in a project's folder; metadata that lies about its wheel.
    Release("alpha", "1.0"),
    Release("beta", "9.0", folder="alpha"),
    Release("beta", "1.0"),
    Release("liar", "2.0", metadata_version="1.5"),
    Release("liar", "1.0"),
    Release("impostor", "2.0", metadata_name="someone-else"),
    Release("impostor", "1.0"),
    # A metadata file that is a symbolic link out of the index (made below).
    Release("linked", "1.0"),
    Release("secret", "1.0"),
    # First come, first served.
    Release("shared", "3.0"), Release("shared", "2.0"),
    Release("first", "1.0", ["shared"]),
    Release("second", "1.0", ["shared<3"]),
    Release("upper", "2.0", ["shared<3"]),
    Release("upper", "1.0"),
    Release("needs-new", "1.0", ["shared>=3"]),
]

CASES = [
    # requirements, our pins, {name: (ours, pip's)} where they differ
    (["pre"], {"pre": "1.0"}, {}),
    (["uses-pre"], {"uses-pre": "1.0", "pre": "1.0"}, {}),
    (["pre>=2.0.dev0"], {"pre": "2.0.dev6", "never": "1.0"}, {}),
    (["app", "winpkg; sys_platform == 'win32'"], {"app": "1.0", "posixdep": "1.0"}, {}),
    (["fancy[FANCY.feature]"], {"fancy": "1.0", "featlib": "1.0"}, {}),
    (["fancy[B]"], {"fancy": "1.0", "ablib": "1.0"}, {}),
    (["wants-fancy"], {"wants-fancy": "1.0", "fancy": "1.0", "featlib": "1.0"}, {}),
    (["native", "newpy", "alpha", "beta", "liar", "impostor", "linked"],
     {"native": "1.0", "newpy": "2.0", "alpha": "1.0", "beta": "1.0", "liar": "1.0",
      "impostor": "1.0", "linked": "1.0"}, {}),
    # fancy is resolved with the extra asked for first; wants-fancy's request for the same
    # version with another extra is skipped, so that extra's featlib is not pulled in.
    (["fancy[B]", "wants-fancy"], {"fancy": "1.0", "ablib": "1.0", "wants-fancy": "1.0"},
     {"featlib": (None, "1.0")}),
    # The first request for `shared` is bare and takes 3.0; pip finds 2.0, which suits both.
    (["first", "second"], {"first": "1.0", "second": "1.0", "shared": "3.0"},
     {"shared": ("3.0", "2.0")}),
    # upper 2.0 pins shared below 3 first; pip backtracks to upper 1.0 to meet needs-new.
    (["upper", "needs-new"], {"upper": "2.0", "needs-new": "1.0", "shared": "2.0"},
     {"upper": ("2.0", "1.0"), "shared": ("2.0", "3.0")}),
]


def _canonical(name: str) -> str:
    return re.sub(r"[-_.]+", "-", name).lower()


@pytest.fixture(scope="module")
def index(tmp_path_factory: pytest.TempPathFactory) -> Path:
    base = tmp_path_factory.mktemp("against-pip")
    root = build_index(base / "simple", RELEASES)
    outside = base / "outside.metadata"
    outside.write_text("Metadata-Version: 2.1\nName: linked\nVersion: 1.0\n"
                       "Requires-Dist: secret\n\n", encoding="utf-8")
    linked = root / "linked" / (wheel_name(Release("linked", "1.0")) + ".metadata")
    linked.symlink_to(outside)
    return root


def our_pins(index: Path, requirements: list[str]) -> dict[str, str]:
    out = subprocess.run(
        [sys.executable, "-m", CLI, "--index", str(index), "--ignore-installed", "--json",
         *requirements], capture_output=True, text=True, timeout=120, check=False)
    assert out.returncode == 0, out.stderr
    packages = json.loads(out.stdout)["packages"]
    return {_canonical(p["spec"]["name"]): p["spec"]["version"] for p in packages}


def pip_pins(index: Path, requirements: list[str], report: Path) -> dict[str, str]:
    env = {**os.environ, "PIP_CONFIG_FILE": os.devnull, "PIP_NO_INPUT": "1"}
    out = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--dry-run", "--ignore-installed", "--quiet",
         "--disable-pip-version-check", "--no-cache-dir", "--only-binary", ":all:",
         "--index-url", index.as_uri(), "--report", str(report), *requirements],
        capture_output=True, text=True, timeout=300, check=False, env=env)
    assert out.returncode == 0, out.stderr
    installs = json.loads(report.read_text(encoding="utf-8"))["install"]
    return {_canonical(i["metadata"]["name"]): i["metadata"]["version"] for i in installs}


@pytest.mark.parametrize(
    "requirements, ours, first_come_first_served", CASES,
    ids=["bare-name-final-release", "bare-dependency-final-release", "named-pre-release",
         "environment-markers", "extra-spelling", "two-extra-marker", "dependency-extra",
         "unusable-wheels", "first-extras-win", "first-request-wins", "no-backtracking"])
def test_pins_agree_with_pip(index, tmp_path, requirements, ours, first_come_first_served):
    mine = our_pins(index, requirements)
    assert mine == ours
    pips = pip_pins(index, requirements, tmp_path / "report.json")
    differ = {name: (mine.get(name), pips.get(name)) for name in mine.keys() | pips.keys()
              if mine.get(name) != pips.get(name)}
    assert differ == first_come_first_served
