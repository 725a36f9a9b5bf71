"""Resolution speed: the C++ RequirementSolver against a plain Python walk of the same algorithm.

A synthetic graph of 2,000 packages in 7 levels (depth 6); each package below the last level
depends on 5 packages of the next level with assorted specifiers and markers, and every package
has 5 versions. An in-memory async client serves both solvers. The client's own share (the same
calls replayed alone) is subtracted to give each solver's overhead per resolved package.

    ./run bench requirement_solver [--repeat N]
"""

from __future__ import annotations

import argparse
import asyncio
import logging
import random
import re
import time
from collections import deque
from dataclasses import dataclass, field
from typing import Any

from packaging.specifiers import InvalidSpecifier, SpecifierSet
from packaging.version import InvalidVersion, Version

from zentrel_master.business_layer.requirement_solver import PackageSpec, RequirementSolver

LEVEL_SIZES = [20, 80, 200, 300, 400, 500, 500]  # 2,000 packages, depth 6
FAN_OUT = 5
VERSIONS = ["3.0", "2.1", "2.0", "1.5", "1.0"]
SPECS = [">=1.0", ">=1.0,<3", "~=2.0", "==1.5", "", "<2.1", ">=2.0,!=2.1", ">1.0,<=3.0"]
MARKERS = ["", "", "", 'python_version >= "3.8"', 'extra == "speed"']


def build_graph(seed: int = 7) -> tuple[dict[str, list[dict]], list[str]]:
    rng = random.Random(seed)
    levels = [[f"Pkg_{lvl}.{i}" for i in range(size)] for lvl, size in enumerate(LEVEL_SIZES)]
    deps: dict[str, list[dict]] = {}
    for lvl, names in enumerate(levels):
        for name in names:
            if lvl + 1 == len(levels):
                deps[name] = []
                continue
            deps[name] = [
                {"name": child, "version_spec": rng.choice(SPECS), "extras": [],
                 "markers": rng.choice(MARKERS)}
                for child in rng.sample(levels[lvl + 1], FAN_OUT)
            ]
    return deps, levels[0]


class MemoryIndex:
    """In-memory async index client; records its calls when asked to."""

    def __init__(self, deps: dict[str, list[dict]]) -> None:
        self.deps = deps
        self.record: list[tuple] | None = None

    def check_specifier_in_dist(self, package_name: str, version_spec: str, extras: Any) -> None:
        if self.record is not None:
            self.record.append((False, self.check_specifier_in_dist, (package_name, version_spec, extras)))

    async def get_versions(self, package_name: str) -> list[str]:
        if self.record is not None:
            self.record.append((True, self.get_versions, (package_name,)))
        return VERSIONS

    async def get_dependencies(self, package_name: str, version: str) -> list[dict]:
        if self.record is not None:
            self.record.append((True, self.get_dependencies, (package_name, version)))
        return self.deps.get(package_name, [])


# The baseline: the same walk written plainly in Python.

baseline_logger = logging.getLogger("bench.baseline_solver")


@dataclass
class PySpec:
    name: str
    version: str
    extras: list[str] = field(default_factory=list)
    from_dist: bool = False

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, PySpec):
            return False
        return (self.name.lower() == other.name.lower() and self.version == other.version
                and sorted(self.extras) == sorted(other.extras))

    def __hash__(self) -> int:
        return hash((self.name.lower(), self.version, tuple(sorted(self.extras))))


class PyResolved:
    def __init__(self, spec: PySpec, path: str | None = None, is_direct: bool = False,
                 source: set[str] | None = None) -> None:
        self.spec, self.path, self.is_direct = spec, path, is_direct
        self.source = source if source is not None else set()


@dataclass
class PyResult:
    success: bool
    packages: list[PyResolved] = field(default_factory=list)
    conflicts: list[dict[str, str]] = field(default_factory=list)
    errors: list[str] = field(default_factory=list)


class BaselineSolver:
    def __init__(self, client: MemoryIndex) -> None:
        self.client = client
        self.package_cache = None

    def _normalize_name(self, name: str) -> str:
        return re.sub(r"[-_.]+", "-", name.lower())

    async def resolve(self, package_specs: list[PySpec]) -> PyResult:
        result = PyResult(success=True)
        resolved: dict[str, PyResolved] = {}
        queue = deque((spec, True, None) for spec in package_specs)
        visited: set[tuple[str, str]] = set()
        while queue:
            spec, is_direct, requested_by = queue.popleft()
            normalized = self._normalize_name(spec.name)
            key = (normalized, spec.version)
            if key in visited:
                continue
            visited.add(key)
            if normalized in resolved:
                existing = resolved[normalized]
                if requested_by:
                    existing.source.add(requested_by)
                if existing.spec.version != spec.version:
                    who = requested_by or "direct"
                    result.conflicts.append({"package": spec.name,
                                             "existing_version": existing.spec.version,
                                             "requested_version": spec.version,
                                             "requested_by": who})
                    baseline_logger.warning(
                        f"Conflict: {spec.name} version {spec.version} requested by {who}, but "
                        f"version {existing.spec.version} already resolved. Using "
                        f"{existing.spec.version}.")
                continue
            extras_key = ",".join(sorted(spec.extras))
            cached_path = None
            if self.package_cache is not None:
                cached_path = self.package_cache.get_cached_package(spec.name, spec.version, extras_key)
            resolved[normalized] = PyResolved(spec, cached_path, is_direct,
                                              {requested_by} if requested_by else set())
            try:
                deps = await self.get_package_dependencies(spec.name, spec.version, spec.extras,
                                                           from_dist=spec.from_dist)
                for dep in deps:
                    queue.append((dep, False, spec.name))
            except Exception as e:  # noqa: BLE001 - the walk records any failure
                message = f"Failed to fetch dependencies for {spec.name}=={spec.version}: {e}"
                result.errors.append(message)
                baseline_logger.error(message)
                result.success = False
        direct = [p for p in resolved.values() if p.is_direct]
        indirect = [p for p in resolved.values() if not p.is_direct]
        result.packages = direct + indirect
        baseline_logger.info(f"Resolved {len(result.packages)} packages ({len(direct)} direct, "
                             f"{len(indirect)} dependencies)")
        if result.conflicts:
            baseline_logger.warning(f"Found {len(result.conflicts)} version conflicts")
        return result

    async def get_package_dependencies(self, package_name: str, version: str,
                                       extras: list[str] | None = None,
                                       from_dist: bool = False) -> list[PySpec]:
        if from_dist:
            baseline_logger.debug(f"Skipping dependency resolution for {package_name} (from current dist)")
            return []
        deps_data = await self.client.get_dependencies(package_name, version)
        if not deps_data:
            return []
        extras_set = set(extras or [])
        out = []
        for dep in deps_data:
            markers = dep.get("markers", "")
            if markers and "extra ==" in markers:
                match = re.search(r"extra\s*==\s*['\"]([^'\"]+)['\"]", markers)
                if match and match.group(1) not in extras_set:
                    continue
            name, spec, dep_extras = dep["name"], dep["version_spec"], dep.get("extras", [])
            resolved_version, from_dist_flag = await self._resolve_best_version(name, spec, dep_extras)
            if resolved_version:
                out.append(PySpec(name, resolved_version, dep_extras, from_dist_flag))
            else:
                baseline_logger.debug(f"Could not resolve version for {name} with spec {spec}")
        baseline_logger.debug(f"Found {len(out)} dependencies for {package_name}=={version}")
        return out

    async def _resolve_best_version(self, package_name: str, version_spec: str,
                                    extras: list[str] | None = None) -> tuple[str | None, bool]:
        dist_version = self.client.check_specifier_in_dist(package_name, version_spec, extras)
        if dist_version:
            baseline_logger.info(f"Package {package_name} satisfied by current distribution: {dist_version}")
            return dist_version, True
        if not version_spec or not version_spec.strip():
            return await self._get_latest_version(package_name), False
        try:
            spec_set = SpecifierSet(version_spec)
        except InvalidSpecifier as e:
            baseline_logger.warning(f"Invalid version specifier '{version_spec}' for {package_name}: {e}")
            return await self._get_latest_version(package_name), False
        all_versions = await self._get_all_versions(package_name)
        if not all_versions:
            return None, False
        matching = []
        for v_str in all_versions:
            try:
                parsed = Version(v_str)
            except InvalidVersion:
                continue
            if parsed in spec_set:
                matching.append((parsed, v_str))
        if not matching:
            baseline_logger.warning(f"No versions of {package_name} match specifier {version_spec}")
            return None, False
        matching.sort(key=lambda pair: pair[0], reverse=True)
        return matching[0][1], False

    async def _get_latest_version(self, package_name: str) -> str | None:
        versions = await self._get_all_versions(package_name)
        return versions[0] if versions else None

    async def _get_all_versions(self, package_name: str) -> list[str]:
        return await self.client.get_versions(package_name)


async def replay(calls: list[tuple]) -> None:
    for is_async, fn, args in calls:
        if is_async:
            await fn(*args)
        else:
            fn(*args)


def best_time(loop: asyncio.AbstractEventLoop, make: Any, repeat: int) -> float:
    """Best CPU time of this thread over `repeat` runs: the machine may be shared, and all the
    work (solver, client, event loop) runs on this one thread."""
    times = []
    for _ in range(repeat):
        start = time.thread_time()
        loop.run_until_complete(make())
        times.append(time.thread_time() - start)
    return min(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=9)
    args = parser.parse_args()

    # Both solvers make the same logging calls; keep the handlers out of the measurement.
    for name in ("zentrel_master.business_layer.requirement_solver", baseline_logger.name):
        logging.getLogger(name).setLevel(logging.ERROR)

    deps, roots = build_graph()
    client = MemoryIndex(deps)
    ours = RequirementSolver(None)
    ours.client = client
    baseline = BaselineSolver(client)
    ours_specs = [PackageSpec(name, "2.0") for name in roots]
    baseline_specs = [PySpec(name, "2.0") for name in roots]

    loop = asyncio.new_event_loop()
    try:
        client.record = []
        check = loop.run_until_complete(ours.resolve(ours_specs))
        calls, client.record = client.record, None
        expected = loop.run_until_complete(baseline.resolve(baseline_specs))
        same = ([(p.spec.name, p.spec.version) for p in check.packages]
                == [(p.spec.name, p.spec.version) for p in expected.packages]
                and check.conflicts == expected.conflicts and check.errors == expected.errors)
        if not same:
            raise SystemExit("the two solvers disagree; no figures")
        count = len(check.packages)

        t_client = best_time(loop, lambda: replay(calls), args.repeat)
        t_base = best_time(loop, lambda: baseline.resolve(baseline_specs), args.repeat)
        t_ours = best_time(loop, lambda: ours.resolve(ours_specs), args.repeat)
    finally:
        loop.close()

    def per(seconds: float) -> float:
        return seconds / count * 1e6

    print(f"graph: {sum(LEVEL_SIZES)} packages, fan-out {FAN_OUT}, depth {len(LEVEL_SIZES) - 1}; "
          f"{count} resolved, {len(check.conflicts)} conflicts, {len(calls)} client calls; "
          f"thread CPU time, best of {args.repeat}")
    print(f"{'':<28}{'total ms':>10}{'us/package':>12}{'overhead us/package':>22}")
    print(f"{'client calls alone':<28}{t_client * 1e3:>10.1f}{per(t_client):>12.2f}{'':>22}")
    for label, seconds in (("baseline (Python walk)", t_base), ("ours (C++ RequirementSolver)", t_ours)):
        print(f"{label:<28}{seconds * 1e3:>10.1f}{per(seconds):>12.2f}{per(seconds - t_client):>22.2f}")
    ratio = (t_base - t_client) / max(t_ours - t_client, 1e-9)
    print(f"overhead ratio baseline/ours: {ratio:.1f}x   (total time ratio {t_base / t_ours:.1f}x)")


if __name__ == "__main__":
    main()
