"""Builds small real wheels and a simple-repository index of them in a folder, for the
differential test against pip and for the benchmark against uv and pip."""

from __future__ import annotations

import html
import re
import zipfile
from collections import defaultdict
from collections.abc import Iterable
from dataclasses import dataclass, field
from pathlib import Path

__all__ = ["Release", "build_index", "wheel_name"]


@dataclass
class Release:
    """One wheel to build. `metadata_name`/`metadata_version` make its METADATA lie about it;
    `folder` puts it in another project's folder."""

    name: str
    version: str
    requires: list[str] = field(default_factory=list)
    extras: list[str] = field(default_factory=list)
    requires_python: str | None = None
    tag: str = "py3-none-any"
    metadata_name: str | None = None
    metadata_version: str | None = None
    folder: str | None = None
    page_requires_python: bool = True


def _escaped(name: str) -> str:
    return re.sub(r"[-_.]+", "_", name).lower()


def _canonical(name: str) -> str:
    return re.sub(r"[-_.]+", "-", name).lower()


def wheel_name(release: Release) -> str:
    """The wheel's file name."""
    return f"{_escaped(release.name)}-{release.version}-{release.tag}.whl"


def _metadata(release: Release) -> str:
    lines = ["Metadata-Version: 2.1", f"Name: {release.metadata_name or release.name}",
             f"Version: {release.metadata_version or release.version}"]
    if release.requires_python:
        lines.append(f"Requires-Python: {release.requires_python}")
    lines += [f"Provides-Extra: {extra}" for extra in release.extras]
    lines += [f"Requires-Dist: {line}" for line in release.requires]
    return "\n".join(lines) + "\n\n"


def _write_wheel(path: Path, release: Release, metadata: str) -> None:
    info = f"{_escaped(release.name)}-{release.version}.dist-info"
    package = _escaped(release.name)
    files = {
        f"{package}/__init__.py": f"__version__ = {release.version!r}\n",
        f"{info}/METADATA": metadata,
        f"{info}/WHEEL": ("Wheel-Version: 1.0\nGenerator: wheel-factory\nRoot-Is-Purelib: true\n"
                          f"Tag: {release.tag}\n"),
    }
    files[f"{info}/RECORD"] = "".join(f"{name},,\n" for name in files) + f"{info}/RECORD,,\n"
    with zipfile.ZipFile(path, "w") as archive:
        for name, text in files.items():
            archive.writestr(name, text)


def build_index(root: Path, releases: Iterable[Release], *, core_metadata: bool = False) -> Path:
    """Writes the wheels into one folder per project under `root`, each with an `index.html`
    (and the root's page of projects); with `core_metadata` every wheel also gets its
    `.metadata` file, announced on the page (PEP 658)."""
    root.mkdir(parents=True, exist_ok=True)
    links: dict[str, list[str]] = defaultdict(list)
    for release in releases:
        folder = release.folder or _canonical(release.name)
        directory = root / folder
        directory.mkdir(exist_ok=True)
        filename = wheel_name(release)
        metadata = _metadata(release)
        _write_wheel(directory / filename, release, metadata)
        attributes = f'href="{html.escape(filename)}"'
        if release.requires_python and release.page_requires_python:
            attributes += f' data-requires-python="{html.escape(release.requires_python)}"'
        if core_metadata:
            (directory / f"{filename}.metadata").write_text(metadata, encoding="utf-8")
            attributes += ' data-core-metadata="true" data-dist-info-metadata="true"'
        links[folder].append(f"<a {attributes}>{html.escape(filename)}</a><br/>")
    for folder, anchors in links.items():
        (root / folder / "index.html").write_text(
            "<!DOCTYPE html><html><body>\n" + "\n".join(anchors) + "\n</body></html>\n",
            encoding="utf-8")
    (root / "index.html").write_text(
        "<!DOCTYPE html><html><body>\n"
        + "\n".join(f'<a href="{f}/">{f}</a><br/>' for f in sorted(links))
        + "\n</body></html>\n", encoding="utf-8")
    return root
