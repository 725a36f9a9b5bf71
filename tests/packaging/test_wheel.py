"""The package as a user installs it: a wheel built from the checkout, installed into a fresh
virtual environment and used from a folder outside the source tree."""

from __future__ import annotations

import json
import os
import re
import subprocess
import sys
import tarfile
import textwrap
import venv
import zipfile
from collections.abc import Iterator
from pathlib import Path

import pytest

# Building the wheel is a whole compile when the compiler cache is cold.
pytestmark = [pytest.mark.wheel, pytest.mark.timeout(1800)]

ROOT = Path(__file__).resolve().parents[2]
EXTENSIONS = [
    "zentrel_master.python_server.kernel",
    "zentrel_master.python_server.zentrel.office_proxy",
    "zentrel_master.python_server.code_insight",
    "zentrel_master.business_layer.requirement_solver",
]


def _run(args: list[str], cwd: Path, env: dict[str, str] | None = None, timeout: float = 900):
    result = subprocess.run(
        args, cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout, check=False
    )
    output = result.stdout[-4000:] + result.stderr[-4000:]
    assert result.returncode == 0, f"{args[:4]} failed:\n{output}"
    return result


def _clean_env() -> dict[str, str]:
    """The environment without anything that would point Python back at the checkout."""
    return {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "VIRTUAL_ENV"))}


@pytest.fixture(scope="module")
def wheel(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """One wheel of the checkout, built with the build requirements already installed."""
    out = tmp_path_factory.mktemp("wheelhouse")
    werror = "ON" if os.environ.get("ZM_WERROR") == "1" else "OFF"
    # Built like the dev preset (build type, warnings) in a folder beside it, so that the compiler
    # cache filled by `./run build` serves this build too: it checks packaging, not optimisation.
    presets = json.loads((ROOT / "CMakePresets.json").read_text())
    dev = next(p for p in presets["configurePresets"] if p["name"] == "dev")
    options = [
        f"build-dir={ROOT / 'build' / 'wheel'}",
        f"cmake.build-type={dev['cacheVariables']['CMAKE_BUILD_TYPE']}",
        f"cmake.define.ZM_WERROR={werror}",
    ]
    dev_cache = ROOT / "build" / "dev" / "CMakeCache.txt"
    if dev_cache.exists():
        compiler = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.+)$", dev_cache.read_text(), re.M)
        if compiler:
            options.append(f"cmake.define.CMAKE_CXX_COMPILER={compiler[1]}")
    command = [sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "-q"]
    command += ["-w", str(out), *(f"-C{option}" for option in options), str(ROOT)]
    _run(command, cwd=ROOT, timeout=1700)
    (found,) = out.glob("zentrel_master-*.whl")
    return found


@pytest.fixture(scope="module")
def installed(wheel: Path, tmp_path_factory: pytest.TempPathFactory) -> Iterator[Path]:
    """A fresh virtual environment holding the wheel and its dependencies; yields its python."""
    home = tmp_path_factory.mktemp("fresh")
    venv.create(home / "venv", with_pip=True)
    python = home / "venv" / "bin" / "python"
    _run([str(python), "-m", "pip", "install", "-q", str(wheel)], cwd=home, env=_clean_env())
    yield python


def test_wheel_holds_the_runtime_package_and_nothing_else(wheel: Path) -> None:
    names = zipfile.ZipFile(wheel).namelist()
    package = [n for n in names if not n.startswith("zentrel_master-")]
    extensions = sorted(n for n in package if n.endswith(".so"))
    assert [n.split(".cpython")[0].replace("/", ".") for n in extensions] == sorted(EXTENSIONS)
    assert all(n.startswith("zentrel_master/") for n in package), package
    assert "zentrel_master/py.typed" in package
    assert "zentrel_master/python_server/stubs/zentrel.pyi" in package
    for stand_in in ["logging_config.py", "python_server/launcher.py",
                     "python_server/zentrel/__init__.py", "business_layer/dev_server.py",
                     "business_layer/packages/package_index_client.py"]:
        assert f"zentrel_master/{stand_in}" in package
    for unwanted in ["tests/", "bench/", "build/", "__pycache__", "_common_testing", ".pth"]:
        assert not [n for n in names if unwanted in n], unwanted
    entry_points = next(n for n in names if n.endswith(".dist-info/entry_points.txt"))
    scripts = zipfile.ZipFile(wheel).read(entry_points).decode()
    assert "zentrel-dev-server = zentrel_master.business_layer.dev_server:main" in scripts
    assert "zentrel-resolve = zentrel_master.business_layer.requirement_solver_cli:main" in scripts


def test_sdist_leaves_out_local_builds(tmp_path: Path) -> None:
    stray = ROOT / "python" / "zentrel_master" / "stray_local_build.cpython-312-x86_64-linux-gnu.so"
    stray.write_bytes(b"")
    try:
        _run([sys.executable, "-m", "build", "--sdist", "--no-isolation", "-o", str(tmp_path),
              str(ROOT)], cwd=ROOT)
    finally:
        stray.unlink()
    (sdist,) = tmp_path.glob("zentrel_master-*.tar.gz")
    names = tarfile.open(sdist).getnames()
    assert not [n for n in names if n.endswith(".so") or "/build/" in n or "/.venv/" in n]
    assert any(n.endswith("native/kernel/module.cpp") for n in names)


def test_installed_extensions_are_compiled_and_import_outside_the_checkout(
    installed: Path, tmp_path: Path
) -> None:
    probe = textwrap.dedent(
        f"""
        import importlib, json
        found = {{}}
        for name in {EXTENSIONS!r}:
            module = importlib.import_module(name)
            found[name] = [module.__file__, type(module.__spec__.loader).__name__]
        print(json.dumps(found))
        """
    )
    out = _run([str(installed), "-c", probe], cwd=tmp_path, env=_clean_env()).stdout
    venv_root = installed.parent.parent
    for name, (path, loader) in json.loads(out).items():
        assert Path(path).is_relative_to(venv_root), (name, path)
        assert loader == "ExtensionFileLoader", (name, loader)


def test_installed_business_layer_runs_a_kernel(installed: Path, tmp_path: Path) -> None:
    script = textwrap.dedent(
        """
        import asyncio, json
        from zentrel_master.business_layer.dev_server import DevBusinessLayer

        async def main():
            layer = DevBusinessLayer(port=0)
            await layer.start()
            try:
                session = await layer.launch_kernel("wheel-wb", timeout=60)
                await session.send({"type": "execution_request", "code": "6 * 7",
                                    "request_id": "r1", "workbook_id": "wheel-wb"})
                while True:
                    message = await session.receive(timeout=60)
                    if message.get("type") in ("execution_result", "execution_error"):
                        break
                code = await session.shutdown(timeout=30)
                print(json.dumps({"reply": message, "exit": code}))
            finally:
                await layer.stop()

        asyncio.run(main())
        """
    )
    out = _run([str(installed), "-c", script], cwd=tmp_path, env=_clean_env(), timeout=180)
    result = json.loads(out.stdout.strip().splitlines()[-1])
    assert result["reply"]["type"] == "execution_result", result
    assert result["reply"]["result"] == "42"
    assert result["exit"] == 0
    help_text = _run([str(installed.parent / "zentrel-dev-server"), "--help"], cwd=tmp_path,
                     env=_clean_env()).stdout
    assert "WORKBOOK_ID" in help_text.upper()


def test_installed_resolver_command_line(installed: Path, tmp_path: Path) -> None:
    out = _run(
        [str(installed.parent / "zentrel-resolve"), "--index",
         str(ROOT / "examples" / "package_index"), "--ignore-installed", "--json",
         "requests==2.31.0"],
        cwd=tmp_path, env=_clean_env(),
    ).stdout
    result = json.loads(out)
    assert result["success"] is True
    pins = {p["spec"]["name"].lower(): p["spec"]["version"] for p in result["packages"]}
    assert pins["requests"] == "2.31.0"
    assert {"urllib3", "idna", "certifi", "charset-normalizer"} <= set(pins)
