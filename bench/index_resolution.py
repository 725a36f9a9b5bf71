"""Resolution over a local simple-repository index: our command line against uv and pip.

A synthetic index of 500 projects with two versions each (1,000 real wheels, each with its
PEP 658 `.metadata` file, pages with `data-requires-python`) is built in a temporary folder.
Every 2.0 release depends on two to three later projects, so one top-level requirement reaches
all 500; no two requests disagree, so every resolver gives the same pins. Each peer runs as a
process on the same folder, offline and without a resolver cache, after one untimed run (so
the files are in the page cache and our modules compiled to bytecode, as an installation has
them, even where PYTHONDONTWRITEBYTECODE is set); the in-process time of our solver (index
client included) is shown too. Wall time and CPU time (all threads of the
process, which is steadier on a shared machine; uv spreads its work over threads), each the
median of --repeat runs. A peer that is not installed is skipped (uv comes with the `bench`
extra).

    ./run bench index_resolution [--repeat N] [--projects N] [--skip pip]
"""

from __future__ import annotations

import argparse
import asyncio
import json
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "requirement_solver"))

from wheel_factory import Release, build_index

from zentrel_master.business_layer.requirement_solver import RequirementSolver
from zentrel_master.business_layer.requirement_solver_cli import parse_request
from zentrel_master.business_layer.settings_manager import SettingsManager

CLI = "zentrel_master.business_layer.requirement_solver_cli"
SPECS = ["", ">=1.0", ">=1.0,<3", "!=1.5", "~=2.0"]


def releases(count: int, seed: int = 15) -> list[Release]:
    rng = random.Random(seed)
    names = [f"proj-{i:03d}" for i in range(count)]
    out = []
    for i, name in enumerate(names):
        later = [k for k in (2 * i + 1, 2 * i + 2) if k < count]
        if i + 3 < count:
            later.append(rng.randrange(i + 3, count))
        requires = [f"{names[k]}{rng.choice(SPECS)}" for k in sorted(set(later))]
        if rng.random() < 0.2:
            requires.append('win-only-helper; sys_platform == "win32"')
        out.append(Release(name, "2.0", requires, requires_python=">=3.8"))
        out.append(Release(name, "1.0", requires_python=">=3.7"))
    return out


def cpu_seconds() -> float:
    """CPU time of this process and of its finished child processes."""
    own = resource.getrusage(resource.RUSAGE_SELF)
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def timed(run: Callable[[], dict[str, str]], repeat: int) -> tuple[float, float, dict[str, str]]:
    """Median wall and CPU time of `run`, and the pins of its last run."""
    walls, cpus = [], []
    pins = run()
    for _ in range(repeat):
        cpu, wall = cpu_seconds(), time.perf_counter()
        pins = run()
        walls.append(time.perf_counter() - wall)
        cpus.append(cpu_seconds() - cpu)
    return statistics.median(walls), statistics.median(cpus), pins


def run_process(command: list[str], env: dict[str, str] | None = None) -> str:
    out = subprocess.run(command, capture_output=True, text=True, check=False, env=env)
    if out.returncode != 0:
        raise RuntimeError(f"{command[0]} failed: {out.stderr[-2000:]}")
    return out.stdout


def ours_in_process(index: Path, top: str) -> dict[str, str]:
    async def go() -> dict[str, str]:
        solver = RequirementSolver(SettingsManager(index, consider_installed=False))
        spec = await parse_request(solver, top)
        result = await solver.resolve([spec])
        return {p.spec.name: p.spec.version for p in result.packages}

    return asyncio.run(go())


def ours_process(index: Path, top: str) -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if k != "PYTHONDONTWRITEBYTECODE"}
    text = run_process([sys.executable, "-m", CLI, "--index", str(index), "--ignore-installed",
                        "--json", top], env=env)
    return {p["spec"]["name"]: p["spec"]["version"] for p in json.loads(text)["packages"]}


def uv_binary() -> str | None:
    try:
        from uv import find_uv_bin
    except ImportError:
        return shutil.which("uv")
    try:
        return find_uv_bin()
    except FileNotFoundError:
        return None


def uv_process(uv: str, index: Path, top: str, work: Path) -> dict[str, str]:
    requirements = work / "requirements.in"
    requirements.write_text(top + "\n")
    text = run_process([uv, "pip", "compile", str(requirements), "--index-url", index.as_uri(),
                        "--no-cache", "--offline", "--quiet", "--no-header", "--no-annotate",
                        "--python", sys.executable, "--python-version", "3.12"],
                       env={**os.environ, "UV_NO_CONFIG": "1"})
    return dict(line.split("==", 1) for line in text.splitlines() if "==" in line)


def pip_process(index: Path, top: str, work: Path) -> dict[str, str]:
    report = work / "report.json"
    run_process([sys.executable, "-m", "pip", "install", "--dry-run", "--ignore-installed",
                 "--quiet", "--disable-pip-version-check", "--no-cache-dir", "--only-binary",
                 ":all:", "--index-url", index.as_uri(), "--report", str(report), top],
                env={**os.environ, "PIP_CONFIG_FILE": os.devnull, "PIP_NO_INPUT": "1"})
    installs = json.loads(report.read_text())["install"]
    return {i["metadata"]["name"]: i["metadata"]["version"] for i in installs}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--projects", type=int, default=500)
    parser.add_argument("--skip", action="append", default=[], choices=["uv", "pip"],
                        help="leave a peer out (pip takes seconds per run)")
    args = parser.parse_args()
    top = "proj-000"
    with tempfile.TemporaryDirectory(prefix="zm-bench-index-") as tmp:
        work = Path(tmp)
        index = build_index(work / "simple", releases(args.projects), core_metadata=True)
        rows: list[tuple[str, tuple[float, float] | None, str]] = []
        baseline_pins: dict[str, str] | None = None

        def measure(label: str, run: Callable[[], dict[str, str]]) -> tuple[float, float] | None:
            nonlocal baseline_pins
            try:
                wall, cpu, pins = timed(run, args.repeat)
            except (RuntimeError, OSError) as e:
                rows.append((label, None, f"skipped: {e}"[:90]))
                return None
            same = baseline_pins is None or pins == baseline_pins
            baseline_pins = baseline_pins or pins
            note = f"{len(pins)} pins{'' if same else ', DIFFERENT pins'}"
            rows.append((label, (wall, cpu), note))
            return wall, cpu

        uv = uv_binary() if "uv" not in args.skip else None
        t_uv = measure("uv pip compile", lambda: uv_process(uv, index, top, work)) if uv else None
        if uv is None:
            rows.append(("uv pip compile", None, "skipped: uv is not installed"))
        measure("ours, command line", lambda: ours_process(index, top))
        measure("ours, in process", lambda: ours_in_process(index, top))
        if "pip" not in args.skip:
            measure("pip install --dry-run", lambda: pip_process(index, top, work))

    print(f"index: {args.projects} projects, {2 * args.projects} wheels with .metadata files; "
          f"median of {args.repeat} runs")
    print(f"{'':<24}{'wall s':>8}{'x uv':>7}{'CPU s':>8}{'x uv':>7}   notes")
    for label, times, note in rows:
        if times is None:
            print(f"{label:<24}{'-':>8}{'-':>7}{'-':>8}{'-':>7}   {note}")
            continue
        wall, cpu = times
        wall_ratio = f"{wall / t_uv[0]:.1f}" if t_uv else "-"
        cpu_ratio = f"{cpu / t_uv[1]:.1f}" if t_uv else "-"
        print(f"{label:<24}{wall:>8.3f}{wall_ratio:>7}{cpu:>8.3f}{cpu_ratio:>7}   {note}")


if __name__ == "__main__":
    main()
