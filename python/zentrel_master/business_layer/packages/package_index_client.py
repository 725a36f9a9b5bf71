"""A package index client over a local directory laid out like a PEP 503 "simple" repository.

The index holds one directory per project, named by the normalised project name. A project
directory lists its distribution files either in an ``index.html`` (links, as a simple
repository serves them; ``data-yanked`` links are not offered as versions) or, without one, by the files it
holds. Dependencies are read from the core metadata next to a file (``<file>.metadata``, as
PEP 658 serves it) or from the ``*.dist-info/METADATA`` inside a wheel.
"""

from __future__ import annotations

import asyncio
import importlib.metadata
import re
import zipfile
from dataclasses import dataclass
from email.parser import HeaderParser
from html.parser import HTMLParser
from pathlib import Path
from typing import Any
from urllib.parse import unquote, urlsplit

try:
    from packaging.requirements import InvalidRequirement, Requirement
    from packaging.specifiers import InvalidSpecifier, SpecifierSet
    from packaging.utils import (
        InvalidSdistFilename,
        InvalidWheelFilename,
        canonicalize_name,
        parse_sdist_filename,
        parse_wheel_filename,
    )
    from packaging.version import InvalidVersion, Version

    PACKAGING_MISSING: ImportError | None = None
except ImportError as e:  # the solver still loads; reading an index then reports this
    PACKAGING_MISSING = e

__all__ = ["PACKAGING_MISSING", "DependencyMap", "PackageIndexClient"]

DependencyMap = dict[str, Any]
"""{"name": str, "version_spec": str, "extras": list[str], "markers": str}"""

_METADATA_SUFFIX = ".metadata"
_SDIST_SUFFIXES = (".tar.gz", ".zip")


@dataclass(frozen=True)
class _DistFile:
    """One distribution file of a project, as the index lists it."""

    filename: str
    version: Version
    path: Path


class _LinkParser(HTMLParser):
    """Collects the links of a simple-repository project page."""

    def __init__(self) -> None:
        super().__init__()
        self.links: list[tuple[str, bool]] = []

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        if tag != "a":
            return
        values = dict(attrs)
        href = values.get("href")
        if href:
            self.links.append((href, "data-yanked" in values))


def _dist_version(filename: str) -> Version | None:
    """The version a wheel or sdist file name carries, or None for other files."""
    try:
        if filename.endswith(".whl"):
            return parse_wheel_filename(filename)[1]
        if filename.endswith(_SDIST_SUFFIXES):
            return parse_sdist_filename(filename)[1]
    except (InvalidWheelFilename, InvalidSdistFilename, InvalidVersion):
        return None
    return None


def _dependency_map(line: str) -> DependencyMap:
    """One Requires-Dist line as a dependency map."""
    requirement = Requirement(line)
    return {
        "name": requirement.name,
        "version_spec": str(requirement.specifier),
        "extras": sorted(requirement.extras),
        "markers": str(requirement.marker) if requirement.marker is not None else "",
    }


class PackageIndexClient:
    """Answers the requirement solver from a local package index and the current environment."""

    def __init__(self, settings_manager: Any) -> None:
        self.settings_manager = settings_manager

    @staticmethod
    def _need_packaging() -> None:
        if PACKAGING_MISSING is not None:
            raise RuntimeError("the package index client needs the packaging library") from (
                PACKAGING_MISSING)

    # The current environment

    def check_specifier_in_dist(
        self, package_name: str, version_spec: str, extras: list[str] | None
    ) -> str | None:
        """The installed version of the package when it satisfies the specifier and every
        requested extra's requirements are installed and satisfied too; else None."""
        if not getattr(self.settings_manager, "consider_installed", True):
            return None
        self._need_packaging()
        try:
            dist = importlib.metadata.distribution(package_name)
        except (importlib.metadata.PackageNotFoundError, ValueError):
            return None
        try:
            installed = Version(dist.version)
            wanted = SpecifierSet(version_spec or "")
        except (InvalidVersion, InvalidSpecifier, TypeError):
            return None
        if not wanted.contains(installed, prereleases=True):
            return None
        if not all(_extra_satisfied(dist, extra) for extra in extras or []):
            return None
        return dist.version

    # The local index

    async def get_versions(self, package_name: str) -> list[str]:
        """Versions of the package in the index, newest first; empty when it has none."""
        return await asyncio.to_thread(self._versions, package_name)

    async def get_dependencies(self, package_name: str, version: str) -> list[DependencyMap]:
        """The Requires-Dist entries of one version of the package as dependency maps."""
        return await asyncio.to_thread(self._dependencies, package_name, version)

    def index_dir(self) -> Path:
        """The index directory the settings name; LookupError when there is none."""
        self._need_packaging()
        getter = getattr(self.settings_manager, "get_package_index_dir", None)
        path = getter() if callable(getter) else None
        if not path:
            raise LookupError("no package index directory is configured")
        path = Path(path)
        if not path.is_dir():
            raise LookupError(f"package index directory {str(path)!r} does not exist")
        return path

    def _project_dir(self, package_name: str) -> Path | None:
        root = self.index_dir()
        wanted = canonicalize_name(package_name)
        direct = root / wanted
        if direct.is_dir():
            return direct
        for child in root.iterdir():
            if child.is_dir() and canonicalize_name(child.name) == wanted:
                return child
        return None

    def _files(self, package_name: str, *, include_yanked: bool = False) -> list[_DistFile]:
        project = self._project_dir(package_name)
        if project is None:
            return []
        page = project / "index.html"
        names: list[str] = []
        if page.is_file():
            parser = _LinkParser()
            parser.feed(page.read_text(encoding="utf-8"))
            for href, yanked in parser.links:
                parts = urlsplit(href)
                if (yanked and not include_yanked) or parts.scheme or parts.netloc:
                    continue
                names.append(unquote(parts.path))
        else:
            for child in sorted(project.iterdir()):
                name = child.name
                names.append(name.removesuffix(_METADATA_SUFFIX))
        files: list[_DistFile] = []
        seen: set[str] = set()
        for name in names:
            path = (project / name).resolve()
            # Links stay inside the project directory; anything else is not ours to read.
            if not path.is_relative_to(project.resolve()) or path.name in seen:
                continue
            version = _dist_version(path.name)
            if version is not None:
                seen.add(path.name)
                files.append(_DistFile(path.name, version, path))
        return files

    def _versions(self, package_name: str) -> list[str]:
        newest_first = sorted(self._files(package_name), key=lambda f: f.version, reverse=True)
        versions: list[str] = []
        for dist_file in newest_first:
            text = str(dist_file.version)
            if text not in versions:
                versions.append(text)
        return versions

    def _dependencies(self, package_name: str, version: str) -> list[DependencyMap]:
        try:
            wanted = Version(version)
        except InvalidVersion as e:
            raise ValueError(f"invalid version {version!r} of {package_name}: {e}") from None
        # A yanked release is never offered, but one pinned by name still has its metadata read.
        files = self._files(package_name, include_yanked=True)
        candidates = [f for f in files if f.version == wanted]
        for dist_file in candidates:
            metadata = _read_metadata(dist_file.path)
            if metadata is None:
                continue
            lines = HeaderParser().parsestr(metadata).get_all("Requires-Dist") or []
            maps = []
            for line in lines:
                try:
                    maps.append(_dependency_map(line))
                except InvalidRequirement as e:
                    raise ValueError(
                        f"invalid Requires-Dist {line!r} in {dist_file.filename}: {e}"
                    ) from None
            return maps
        raise LookupError(f"{package_name} {version} is not in the package index")


def _read_metadata(path: Path) -> str | None:
    """Core metadata of a distribution file: its .metadata companion, or a wheel's METADATA."""
    companion = path.with_name(path.name + _METADATA_SUFFIX)
    if companion.is_file():
        return companion.read_text(encoding="utf-8")
    if path.suffix == ".whl" and path.is_file():
        with zipfile.ZipFile(path) as wheel:
            for member in wheel.namelist():
                if re.fullmatch(r"[^/]+\.dist-info/METADATA", member):
                    return wheel.read(member).decode("utf-8")
    return None


def _extra_satisfied(dist: importlib.metadata.Distribution, extra: str) -> bool:
    """True when the distribution provides `extra` and what the extra adds is installed."""
    wanted = canonicalize_name(extra)
    provided = {canonicalize_name(e) for e in dist.metadata.get_all("Provides-Extra") or []}
    if wanted not in provided:
        return False
    for line in dist.requires or []:
        try:
            requirement = Requirement(line)
        except InvalidRequirement:
            return False
        marker = requirement.marker
        if marker is None or not marker.evaluate({"extra": wanted}):
            continue
        if marker.evaluate({"extra": ""}):
            continue  # a base requirement, installed with the distribution itself
        try:
            installed = importlib.metadata.version(requirement.name)
        except importlib.metadata.PackageNotFoundError:
            return False
        if not requirement.specifier.contains(installed, prereleases=True):
            return False
    return True
