"""The interpreter a resolution is for: its wheel tags, environment-marker values and Python
version.

By default that is the running interpreter. A Python version and platform tags may be set
instead, as pip's ``--python-version`` and ``--platform`` do; the marker values then follow
them (``python_version``, ``sys_platform``, ``platform_system``, ``platform_machine``,
``os_name``), so a Windows-only dependency is left out for a Linux target and kept for a Windows
one.
"""

from __future__ import annotations

import re
from collections.abc import Iterable, Sequence

from packaging import tags
from packaging.markers import Marker, default_environment
from packaging.specifiers import InvalidSpecifier, SpecifierSet
from packaging.version import Version

__all__ = ["TargetEnvironment"]

_VERSION_TEXT = re.compile(r"(\d+)(?:\.(\d+))?(?:\.(\d+))?")


def _python_version(text: str) -> tuple[int, ...]:
    """(major, minor[, micro]) from "3", "3.11", "3.11.4" or pip's "311"."""
    match = _VERSION_TEXT.fullmatch(text.strip())
    if match is None:
        raise ValueError(f"invalid Python version {text!r}")
    if match.group(2) is None and len(match.group(1)) > 1:
        digits = match.group(1)
        return (int(digits[0]), int(digits[1:]))
    return tuple(int(g) for g in match.groups() if g is not None)


def _platform_markers(platform: str) -> dict[str, str]:
    """Marker values implied by one platform tag; empty for a tag it does not know."""
    if platform.startswith("win"):
        machine = {"win32": "x86", "win_amd64": "AMD64", "win_arm64": "ARM64"}.get(platform, "")
        return {"sys_platform": "win32", "platform_system": "Windows", "os_name": "nt",
                "platform_machine": machine}
    if platform.startswith("macosx_"):
        arch = platform.split("_", 3)[-1]
        return {"sys_platform": "darwin", "platform_system": "Darwin", "os_name": "posix",
                "platform_machine": "arm64" if arch == "universal2" else arch}
    for prefix in ("manylinux_", "musllinux_", "manylinux1_", "manylinux2010_",
                   "manylinux2014_", "linux_"):
        if platform.startswith(prefix):
            arch = platform.removeprefix(prefix)
            if prefix in ("manylinux_", "musllinux_"):
                arch = arch.split("_", 2)[-1]
            return {"sys_platform": "linux", "platform_system": "Linux", "os_name": "posix",
                    "platform_machine": arch}
    return {}


class TargetEnvironment:
    """Wheel tags, marker values and Python version of the interpreter packages are chosen for."""

    def __init__(
        self, python_version: str | None = None, platforms: Sequence[str] | None = None
    ) -> None:
        self.is_current = not python_version and not platforms
        self._python_answers: dict[str, bool] = {}
        self.markers: dict[str, str] = dict(default_environment())
        if self.is_current:
            self.tags = frozenset(tags.sys_tags())
            self.python_full_version = Version(self.markers["python_full_version"])
            return
        version = _python_version(python_version) if python_version else None
        platform_list = list(platforms) if platforms else None
        if version is not None:
            short = f"{version[0]}.{version[1] if len(version) > 1 else 0}"
            full = ".".join(str(part) for part in (version + (0, 0))[:3])
            self.markers.update(python_version=short, python_full_version=full)
        if platform_list:
            self.markers.update(_platform_markers(platform_list[0]))
        major_minor = tuple(int(p) for p in self.markers["python_version"].split("."))
        interpreter = f"cp{major_minor[0]}{major_minor[1]}"
        self.tags = frozenset(
            list(tags.cpython_tags(major_minor, platforms=platform_list))
            + list(tags.compatible_tags(major_minor, interpreter, platform_list)))
        self.python_full_version = Version(self.markers["python_full_version"])

    def supports(self, wheel_tags: Iterable[tags.Tag]) -> bool:
        """True when a wheel carrying these tags installs on the target."""
        return not self.tags.isdisjoint(wheel_tags)

    def allows_python(self, requires_python: str | None) -> bool:
        """True when the target's Python satisfies a Requires-Python text (absent: any)."""
        if not requires_python or not requires_python.strip():
            return True
        answer = self._python_answers.get(requires_python)
        if answer is None:
            try:
                wanted = SpecifierSet(requires_python)
            except InvalidSpecifier:
                answer = False  # as pip: a release whose Requires-Python is unreadable is passed over
            else:
                answer = wanted.contains(self.python_full_version, prereleases=True)
            self._python_answers[requires_python] = answer
        return answer

    def evaluate(self, marker: Marker, extra: str = "") -> bool:
        """The marker's value for the target with `extra` as the requested extra."""
        return marker.evaluate({**self.markers, "extra": extra})
