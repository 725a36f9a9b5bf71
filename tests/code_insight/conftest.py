"""Fixtures of the code_insight suite: one engine per test over a fresh temporary directory."""

from __future__ import annotations

import logging
from collections.abc import Callable, Iterator
from pathlib import Path

import pytest

from zentrel_master.python_server import code_insight

LOGGER = "zentrel_master.python_server.code_insight"


@pytest.fixture
def insight(caplog: pytest.LogCaptureFixture) -> Iterator[code_insight.CodeInsight]:
    """A CodeInsight whose logs are captured at debug level; its directory is removed after."""
    caplog.set_level(logging.DEBUG, logger=LOGGER)
    engine = code_insight.CodeInsight()
    yield engine
    engine.cleanup()


@pytest.fixture
def workdir(insight: code_insight.CodeInsight) -> Path:
    """The engine's private directory of synced modules."""
    return Path(insight._temp_dir.name)


@pytest.fixture
def logged(caplog: pytest.LogCaptureFixture) -> Callable[[int], list[str]]:
    """A function giving the engine's log messages at exactly one level."""

    def messages(level: int) -> list[str]:
        return [r.getMessage() for r in caplog.records if r.name == LOGGER and r.levelno == level]

    return messages
