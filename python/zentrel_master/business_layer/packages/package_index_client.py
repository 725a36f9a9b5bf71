"""A package index client over a local directory laid out like a PEP 503 "simple" repository.

The index holds one directory per project, named by the normalised project name. A project
directory lists its wheels either in an ``index.html`` (links, as a simple repository serves
them; ``data-yanked`` links are not offered as versions, ``data-requires-python`` is honoured) or,
without one, by the files it holds. Dependencies are read from the core metadata next to a wheel
(``<wheel>.metadata``, as PEP 658 serves it) or from the ``*.dist-info/METADATA`` inside it.

Everything is answered for one target environment (the running interpreter unless the settings
name a Python version or platform tags): only versions with a compatible wheel and a matching
Requires-Python are listed, final releases first, and dependencies whose environment markers are
false for the target are left out. Nothing outside the index directory is read: a project folder
or file whose symbolic link leaves it is refused with a warning.
"""

from __future__ import annotations

import html
import os
import re
import stat
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any
from urllib.parse import unquote, urlsplit

from zentrel_master.logging_config import get_logger

try:
    from packaging.markers import InvalidMarker, UndefinedComparison, UndefinedEnvironmentName
    from packaging.requirements import InvalidRequirement, Requirement
    from packaging.specifiers import InvalidSpecifier, SpecifierSet
    from packaging.utils import InvalidWheelFilename, canonicalize_name, parse_wheel_filename
    from packaging.version import InvalidVersion, Version

    from zentrel_master.business_layer.packages.target_environment import TargetEnvironment

    PACKAGING_MISSING: ImportError | None = None
except ImportError as e:  # the solver still loads; reading an index then reports this
    PACKAGING_MISSING = e

if TYPE_CHECKING:
    import importlib.metadata

__all__ = ["PACKAGING_MISSING", "DependencyMap", "PackageIndexClient"]

DependencyMap = dict[str, Any]
"""{"name": str, "version_spec": str, "extras": list[str], "markers": str}"""

logger = get_logger(__name__)

_METADATA_SUFFIX = ".metadata"
_PAGE = "index.html"
# The extra names a marker compares with: `extra == "x"` and the mirrored `"x" == extra`.
_ANCHOR = re.compile(r"""<a\s((?:[^>"']|"[^"]*"|'[^']*')*)>""", re.IGNORECASE)
_ATTRIBUTE = re.compile(r"""([^\s=/>"']+)(?:\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'=<>`]+)))?""")
_EXTRA_NAMES = re.compile(r"""\bextra\s*==\s*['"]([^'"]+)['"]|['"]([^'"]+)['"]\s*==\s*extra\b""")


@dataclass(frozen=True)
class _Wheel:
    """One wheel of a project as the index lists it (the file, its metadata companion, or both)."""

    filename: str
    version: Version
    path: str
    has_file: bool
    has_metadata_file: bool
    compatible: bool
    yanked: bool
    requires_python: str | None  # from the project page; None when the page does not say


@dataclass
class _Project:
    """The wheels of one project folder, valid while the folder and its page are unchanged."""

    stamp: tuple[int, ...]
    wheels: list[_Wheel]
    versions: list[str] | None = None


@dataclass(frozen=True)
class _Metadata:
    """The parts of a wheel's core metadata the client uses."""

    requires_python: str | None
    requires_dist: list[str]
    provides_extra: frozenset[str]


@dataclass
class _Root:
    """The index directory: its real path and its project folders by normalised name."""

    path: str
    real: str
    stamp: int
    folders: dict[str, str] = field(default_factory=dict)
    project_dirs: dict[str, str | None] = field(default_factory=dict)


def _page_links(text: str) -> list[dict[str, str]]:
    """The attributes of every `<a href=...>` of a simple-repository page (names lower-cased,
    values with character references resolved). A scan for anchor tags rather than a full HTML
    parse: the pages are machine-written lists of links, and this is several times faster."""
    links = []
    for tag in _ANCHOR.finditer(text):
        attributes = {}
        for match in _ATTRIBUTE.finditer(tag.group(1)):
            value = next((v for v in match.group(2, 3, 4) if v is not None), "")
            attributes[match.group(1).lower()] = html.unescape(value)
        if attributes.get("href"):
            links.append(attributes)
    return links


def _inside(path: str, directory: str) -> bool:
    """True when `path` is `directory` or below it (both normalised, same kind)."""
    return path == directory or path.startswith(directory.rstrip(os.sep) + os.sep)


class PackageIndexClient:
    """Answers the requirement solver from a local package index and the current environment."""

    def __init__(self, settings_manager: Any) -> None:
        self.settings_manager = settings_manager
        self._target: TargetEnvironment | None = None
        self._root: _Root | None = None
        self._projects: dict[str, _Project] = {}
        self._metadata: dict[str, _Metadata] = {}
        self._warned: set[str] = set()

    @staticmethod
    def _need_packaging() -> None:
        if PACKAGING_MISSING is not None:
            raise RuntimeError("the package index client needs the packaging library") from (
                PACKAGING_MISSING)

    @property
    def target(self) -> TargetEnvironment:
        """The environment packages are chosen for, from the settings (default: this Python)."""
        if self._target is None:
            self._need_packaging()
            self._target = TargetEnvironment(
                getattr(self.settings_manager, "target_python_version", None),
                getattr(self.settings_manager, "target_platforms", None))
        return self._target

    # The current environment

    def check_specifier_in_dist(
        self, package_name: str, version_spec: str, extras: list[str] | None
    ) -> str | None:
        """The installed version of the package when it satisfies the specifier and every
        requested extra's requirements are installed and satisfied too; else None."""
        if not getattr(self.settings_manager, "consider_installed", True):
            return None
        self._need_packaging()
        if not self.target.is_current:
            return None  # what this interpreter has installed is not installed on the target
        import importlib.metadata  # only here: importing it costs more than a whole resolution

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

    # The local index. Reads are small local files, served straight from the caller's event
    # loop: a hop to a worker thread per call cost more than the read.

    async def get_versions(self, package_name: str) -> list[str]:
        """Versions of the package usable on the target, final releases newest first, then
        pre-releases newest first; empty when the index has none."""
        return self._versions(package_name)

    async def get_dependencies(self, package_name: str, version: str) -> list[DependencyMap]:
        """The Requires-Dist entries of one version of the package whose markers hold on the
        target, as dependency maps."""
        return self._dependencies(package_name, version)

    def index_dir(self) -> str:
        """The index directory the settings name; LookupError when there is none."""
        path = self._configured_dir()
        if not os.path.isdir(path):
            if os.path.exists(path):
                raise LookupError(f"package index directory {path!r} is not a directory")
            raise LookupError(f"package index directory {path!r} does not exist")
        return path

    def _configured_dir(self) -> str:
        self._need_packaging()
        getter = getattr(self.settings_manager, "get_package_index_dir", None)
        path = getter() if callable(getter) else None
        if not path:
            raise LookupError("no package index directory is configured")
        return os.fspath(path)

    def _warn(self, text: str) -> None:
        """Logs a warning about the index once per client."""
        if text not in self._warned:
            self._warned.add(text)
            logger.warning(text)

    def _index_root(self) -> _Root:
        path = self._configured_dir()
        try:
            status = os.stat(path)
        except OSError:
            status = None
        if status is None or not stat.S_ISDIR(status.st_mode):
            path = self.index_dir()  # raises the error that says what is wrong
        stamp = os.stat(path).st_mtime_ns
        root = self._root
        if root is None or root.path != path or root.stamp != stamp:
            root = _Root(path, os.path.realpath(path), stamp)
            with os.scandir(path) as entries:
                for entry in sorted(entries, key=lambda e: e.name):
                    key = canonicalize_name(entry.name)
                    # The folder named exactly by the normalised name wins over look-alikes.
                    if key not in root.folders or entry.name == key:
                        root.folders[key] = entry.name
            self._root = root
            self._projects.clear()
        return root

    def _project_dir(self, root: _Root, canonical: str) -> str | None:
        """The project's folder; None when there is none or its link leaves the index. Known
        until the index directory changes (replacing a link changes it too)."""
        if canonical in root.project_dirs:
            return root.project_dirs[canonical]
        folder = root.folders.get(canonical)
        path = os.path.join(root.path, folder) if folder is not None else None
        if path is not None and os.path.islink(path) \
                and not _inside(os.path.realpath(path), root.real):
            self._warn(f"{path}: refused, the symbolic link leads outside the package index")
            path = None
        if path is not None and not os.path.isdir(path):
            path = None
        root.project_dirs[canonical] = path
        return path

    def _project(self, package_name: str) -> tuple[str, _Project | None]:
        canonical = canonicalize_name(package_name)
        root = self._index_root()
        directory = self._project_dir(root, canonical)
        if directory is None:
            return canonical, None
        page = os.path.join(directory, _PAGE)
        try:
            page_stamp = os.stat(page).st_mtime_ns
        except OSError:
            page_stamp = -1
        stamp = (os.stat(directory).st_mtime_ns, page_stamp)
        project = self._projects.get(canonical)
        if project is None or project.stamp != stamp:
            project = _Project(stamp, self._scan(root, canonical, directory, page_stamp >= 0))
            self._projects[canonical] = project
        return canonical, project

    def _scan(self, root: _Root, canonical: str, directory: str, has_page: bool) -> list[_Wheel]:
        """The wheels of one project folder that exist and belong to it."""
        # (file name, path below the folder, yanked, Requires-Python from the page)
        listed: list[tuple[str, str, bool, str | None]] = []
        if has_page:
            page = os.path.join(directory, _PAGE)
            if os.path.islink(page) and not _inside(os.path.realpath(page), root.real):
                self._warn(f"{page}: refused, the symbolic link leads outside the package index")
                return []
            with open(page, "rb") as f:
                raw = f.read()
            try:
                text = raw.decode("utf-8")
            except UnicodeDecodeError as e:
                raise ValueError(f"{page}: not UTF-8 text ({e.reason} at byte {e.start})") from None
            for link in _page_links(text):
                href = link["href"]
                parts = urlsplit(href)
                if parts.scheme or parts.netloc:
                    continue
                relative = unquote(parts.path)
                if "\x00" in relative:
                    self._warn(f"{page}: link {href!r} refused, it holds a NUL character")
                    continue
                path = os.path.normpath(os.path.join(directory, relative))
                # Links stay inside the project folder; anything else is not ours to read.
                if not _inside(path, os.path.normpath(directory)):
                    continue
                listed.append((os.path.basename(path), path, "data-yanked" in link,
                               link.get("data-requires-python")))
        else:
            with os.scandir(directory) as entries:
                names = {entry.name.removesuffix(_METADATA_SUFFIX) for entry in entries}
            listed = [(name, os.path.join(directory, name), False, None) for name in sorted(names)]

        # One listing of the folder tells which files exist and which are links, without a
        # system call per file.
        with os.scandir(directory) as scan:
            present = {entry.name: entry for entry in scan}
        flat = os.path.normpath(directory)
        wheels: list[_Wheel] = []
        seen: set[str] = set()
        for filename, path, yanked, requires_python in listed:
            if not filename.endswith(".whl") or filename in seen:
                continue
            seen.add(filename)
            try:
                name, version, _build, wheel_tags = parse_wheel_filename(filename)
            except (InvalidWheelFilename, InvalidVersion):
                logger.debug("%s: not a valid wheel file name, left out", path)
                continue
            if name != canonical:
                self._warn(f"{path}: a wheel of {name}, not of {canonical}; left out")
                continue
            nested = os.path.dirname(path) != flat
            has_file = self._readable(root, path, present.get(filename), nested)
            has_metadata_file = self._readable(root, path + _METADATA_SUFFIX,
                                               present.get(filename + _METADATA_SUFFIX), nested)
            if not (has_file or has_metadata_file):
                logger.debug("%s: listed, but neither the wheel nor its metadata exists", path)
                continue
            wheels.append(_Wheel(filename, version, path, has_file, has_metadata_file,
                                 self.target.supports(wheel_tags), yanked, requires_python))
        return wheels

    def _readable(
        self, root: _Root, path: str, entry: os.DirEntry[str] | None, nested: bool
    ) -> bool:
        """True when `path` is a regular file inside the index (a link leaving it is refused).
        `entry` is its listing in the project folder (None: absent); `nested` paths lie below."""
        if not nested:
            if entry is None:
                return False
            if not entry.is_symlink():
                return entry.is_file(follow_symlinks=False)
        elif not os.path.lexists(path):
            return False
        if not _inside(os.path.realpath(path), root.real):
            self._warn(f"{path}: refused, the symbolic link leads outside the package index")
            return False
        return os.path.isfile(path)

    def _usable(self, canonical: str, wheel: _Wheel) -> bool:
        """True when the wheel may be offered: compatible, not yanked, its metadata readable and
        naming it, and Requires-Python (page and metadata) admitting the target. A wheel whose
        metadata is wrong is left out with a warning naming the file."""
        if not wheel.compatible or wheel.yanked:
            return False
        if not self.target.allows_python(wheel.requires_python):
            return False
        try:
            metadata = self._read_metadata(canonical, wheel)
        except ValueError as e:
            self._warn(f"{e}; left out")
            return False
        return self.target.allows_python(metadata.requires_python)

    def _versions(self, package_name: str) -> list[str]:
        canonical, project = self._project(package_name)
        if project is None:
            return []
        if project.versions is None:
            usable = {w.version for w in project.wheels if self._usable(canonical, w)}
            finals = sorted((v for v in usable if not v.is_prerelease), reverse=True)
            pre_releases = sorted((v for v in usable if v.is_prerelease), reverse=True)
            project.versions = [str(v) for v in finals + pre_releases]
        return list(project.versions)

    def _dependencies(self, package_name: str, version: str) -> list[DependencyMap]:
        try:
            wanted = Version(version)
        except InvalidVersion as e:
            raise ValueError(f"invalid version {version!r} of {package_name}: {e}") from None
        canonical, project = self._project(package_name)
        # A yanked release is never offered, but one pinned by name still has its metadata read.
        candidates = [w for w in project.wheels if w.version == wanted] if project else []
        if not candidates:
            raise LookupError(f"{package_name} {version} is not in the package index")
        compatible = [w for w in candidates if w.compatible]
        if not compatible:
            raise LookupError(f"{package_name} {version} has no wheel for the target environment "
                              f"(only {', '.join(w.filename for w in candidates)})")
        problems: list[str] = []
        for wheel in compatible:
            try:
                metadata = self._read_metadata(canonical, wheel)
            except ValueError as e:
                problems.append(str(e))
                continue
            refused = [rp for rp in (wheel.requires_python, metadata.requires_python)
                       if not self.target.allows_python(rp)]
            if refused:
                problems.append(f"{wheel.filename} requires Python {refused[0]}")
                continue
            return [dep for line in metadata.requires_dist
                    if (dep := self._dependency_map(line, metadata, wheel)) is not None]
        raise ValueError("; ".join(problems))

    def _dependency_map(self, line: str, metadata: _Metadata, wheel: _Wheel) -> DependencyMap | None:
        """One Requires-Dist line as a dependency map, or None when its marker is false on the
        target for every extra. A marker that names extras comes back as the extras it holds
        for (`extra == "a" or extra == "b"`), names normalised."""
        try:
            requirement = Requirement(line)
            if requirement.url:
                # Resolving it from the index instead would install another package silently.
                raise InvalidRequirement("a direct URL dependency is not supported")
            marker = requirement.marker
            markers = ""
            if marker is not None:
                text = str(marker)
                named = {canonicalize_name(a or b) for a, b in _EXTRA_NAMES.findall(text)}
                if self.target.evaluate(marker):
                    markers = "" if named or "extra" in text else text
                elif "extra" not in text:
                    return None
                else:
                    holding = sorted(e for e in named | metadata.provides_extra
                                     if self.target.evaluate(marker, e))
                    if not holding:
                        return None
                    markers = " or ".join(f'extra == "{e}"' for e in holding)
        except (InvalidRequirement, InvalidMarker, UndefinedComparison,
                UndefinedEnvironmentName) as e:
            raise ValueError(f"invalid Requires-Dist {line!r} in {wheel.filename}: {e}") from None
        return {
            "name": requirement.name,
            "version_spec": str(requirement.specifier),
            "extras": sorted({canonicalize_name(e) for e in requirement.extras}),
            "markers": markers,
        }

    def _read_metadata(self, canonical: str, wheel: _Wheel) -> _Metadata:
        """The wheel's core metadata, checked against the wheel's project and version."""
        cached = self._metadata.get(wheel.path)
        if cached is not None:
            return cached
        source = wheel.path + _METADATA_SUFFIX if wheel.has_metadata_file else wheel.path
        try:
            raw = _metadata_bytes(source, from_wheel=not wheel.has_metadata_file)
        except OSError as e:
            raise ValueError(f"{source}: unreadable ({e})") from None
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError as e:
            raise ValueError(f"{source}: metadata is not UTF-8 text ({e.reason})") from None
        headers = _headers(text)
        name = _first(headers, "name")
        version_text = _first(headers, "version")
        try:
            same = (name is not None and canonicalize_name(name) == canonical
                    and version_text is not None and Version(version_text) == wheel.version)
        except InvalidVersion:
            same = False
        if not same:
            raise ValueError(f"{source}: metadata names {name} {version_text}, but the file is "
                             f"{canonical} {wheel.version}")
        metadata = _Metadata(
            _first(headers, "requires-python"), headers.get("requires-dist", []),
            frozenset(canonicalize_name(e) for e in headers.get("provides-extra", [])))
        self._metadata[wheel.path] = metadata
        return metadata


def _metadata_bytes(path: str, *, from_wheel: bool) -> bytes:
    """The bytes of a .metadata file, or of the one *.dist-info/METADATA inside a wheel."""
    if not from_wheel:
        with open(path, "rb") as f:
            return f.read()
    import zipfile  # only for a wheel without its .metadata file

    try:
        with zipfile.ZipFile(path) as archive:
            members = [m for m in archive.namelist()
                       if re.fullmatch(r"[^/]+\.dist-info/METADATA", m)]
            if len(members) != 1:
                raise ValueError(f"{path}: no single *.dist-info/METADATA in the wheel")
            return archive.read(members[0])
    except zipfile.BadZipFile as e:
        raise ValueError(f"{path}: not a readable wheel ({e})") from None


def _headers(text: str) -> dict[str, list[str]]:
    """The header fields of a core-metadata text by lower-cased name (RFC 822 style: fields end
    at the first empty line, an indented line continues the field above)."""
    fields: dict[str, list[str]] = {}
    values: list[str] | None = None
    for line in text.splitlines():
        if not line.strip():
            break
        if line[0] in " \t":
            if values:
                values[-1] = f"{values[-1]} {line.strip()}"
            continue
        key, colon, value = line.partition(":")
        if not colon:
            values = None
            continue
        values = fields.setdefault(key.strip().lower(), [])
        values.append(value.strip())
    return fields


def _first(fields: dict[str, list[str]], key: str) -> str | None:
    """The first value of a header field, or None."""
    values = fields.get(key)
    return values[0] if values else None


def _extra_satisfied(dist: importlib.metadata.Distribution, extra: str) -> bool:
    """True when the distribution provides `extra` and what the extra adds is installed."""
    import importlib.metadata

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
