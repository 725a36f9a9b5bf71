"""Fixtures of the requirement solver tests."""

from __future__ import annotations

import logging

import pytest
from solver_support import LOGGER


@pytest.fixture
def logs(caplog: pytest.LogCaptureFixture) -> pytest.LogCaptureFixture:
    """caplog recording the solver's logger from debug level up."""
    caplog.set_level(logging.DEBUG, logger=LOGGER)
    return caplog
