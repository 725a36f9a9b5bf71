"""Fixtures of the dispatch suites: a console face over a kernel process."""

from __future__ import annotations

import pytest

from support.business_layer import Session
from support.console import Console
from support.invocation import Invoker


@pytest.fixture
def console(kernel: Session) -> Console:
    """A console over a fresh kernel process."""
    return Console(kernel)


@pytest.fixture
def invoker(kernel: Session) -> Invoker:
    """Workbook modules and their calls over a fresh kernel process."""
    return Invoker(kernel)
