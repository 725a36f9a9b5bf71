"""Settings of the Business Layer that the package tools read."""

from __future__ import annotations

import os
from collections.abc import Sequence
from pathlib import Path

__all__ = ["SettingsManager"]


class SettingsManager:
    """Holds where the local package index lives, whether installed packages count, and the
    environment packages are chosen for (None: the running interpreter)."""

    def __init__(
        self,
        package_index_dir: str | os.PathLike[str] | None = None,
        *,
        consider_installed: bool = True,
        target_python_version: str | None = None,
        target_platforms: Sequence[str] | None = None,
    ) -> None:
        self._package_index_dir = Path(package_index_dir) if package_index_dir else None
        self._consider_installed = bool(consider_installed)
        self.target_python_version = target_python_version
        self.target_platforms = list(target_platforms) if target_platforms else None

    def get_package_index_dir(self) -> Path | None:
        """The directory of the local package index (a PEP 503 "simple" layout), or None."""
        return self._package_index_dir

    def set_package_index_dir(self, path: str | os.PathLike[str] | None) -> None:
        """Points the package tools at another local package index."""
        self._package_index_dir = Path(path) if path else None

    @property
    def consider_installed(self) -> bool:
        """True when packages installed in the current environment may satisfy requirements."""
        return self._consider_installed

    @consider_installed.setter
    def consider_installed(self, value: bool) -> None:
        self._consider_installed = bool(value)
