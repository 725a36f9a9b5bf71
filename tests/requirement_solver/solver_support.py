"""Helpers of the requirement solver tests: an in-memory index standing for the outside package
index service, and functions to run the solver against it."""

from __future__ import annotations

import asyncio
from pathlib import Path
from typing import Any

import pytest
from packaging.version import Version

from zentrel_master.business_layer.requirement_solver import RequirementSolver

LOGGER = "zentrel_master.business_layer.requirement_solver"
EXAMPLE_INDEX = Path(__file__).resolve().parents[2] / "examples" / "package_index"


def dep(name: str, spec: str = "", *, extras: list[str] | None = None, markers: str = "") -> dict:
    """A dependency map as an index client returns it."""
    entry: dict[str, Any] = {"name": name, "version_spec": spec}
    if extras is not None:
        entry["extras"] = extras
    if markers:
        entry["markers"] = markers
    return entry


class IndexStub:
    """Packages by name and version with their dependency maps; `installed` plays the current
    environment. Records every call in order."""

    def __init__(
        self,
        packages: dict[str, dict[str, list[dict] | None]],
        installed: dict[str, str] | None = None,
    ) -> None:
        self.packages = packages
        self.installed = installed or {}
        self.calls: list[tuple] = []

    def check_specifier_in_dist(self, name: str, spec: str, extras: list[str] | None) -> str | None:
        self.calls.append(("dist", name, spec, extras))
        return self.installed.get(name)

    async def get_versions(self, name: str) -> list[str]:
        self.calls.append(("versions", name))
        return sorted(self.packages.get(name, {}), key=Version, reverse=True)

    async def get_dependencies(self, name: str, version: str) -> list[dict] | None:
        self.calls.append(("deps", name, version))
        await asyncio.sleep(0)  # a real client suspends here
        return self.packages.get(name, {}).get(version, [])

    def fetched(self) -> list[tuple[str, str]]:
        """(name, version) of every get_dependencies call, in order."""
        return [(c[1], c[2]) for c in self.calls if c[0] == "deps"]


def make_solver(client: Any, package_cache: Any = None) -> RequirementSolver:
    solver = RequirementSolver(None, package_cache)
    solver.client = client
    return solver


def run(awaitable: Any) -> Any:
    return asyncio.run(awaitable)


def pinned(result: Any) -> list[tuple[str, str]]:
    """(name, version) of each resolved package, in result order."""
    return [(p.spec.name, p.spec.version) for p in result.packages]


def messages(caplog: pytest.LogCaptureFixture, level: int | None = None) -> list[str]:
    return [r.getMessage() for r in caplog.records
            if r.name == LOGGER and (level is None or r.levelno == level)]
