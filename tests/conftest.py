"""Fixtures shared by the suites: a real Business Layer and kernel processes launched by it."""

from __future__ import annotations

import itertools
from collections.abc import Iterator

import pytest

from support.business_layer import Session, ThreadedBusinessLayer, protocol_checker

_workbook_numbers = itertools.count(1)


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers",
        "off_protocol(*directions): the test sends messages outside the protocol on purpose, "
        "\"incoming\" (malformed requests to a kernel) or \"outgoing\" (arbitrary messages "
        "through a kernel's send path); those directions are not checked",
    )


@pytest.fixture(autouse=True)
def protocol_conformance(request: pytest.FixtureRequest) -> Iterator[None]:
    """Fails the test when a message it exchanged with a kernel left the protocol's schemas."""
    exempt = {d for mark in request.node.iter_markers("off_protocol") for d in mark.args}
    protocol_checker.take()
    yield
    violations = [v for v in protocol_checker.take() if v.direction not in exempt]
    assert not violations, "messages outside the protocol:\n" + "\n".join(map(str, violations))


@pytest.fixture(scope="session")
def business_layer() -> Iterator[ThreadedBusinessLayer]:
    """One development Business Layer for the whole run; it ends every kernel it launched."""
    layer = ThreadedBusinessLayer()
    yield layer
    layer.close()
    leftovers = [
        s.workbook_id
        for s in layer.server.sessions.values()
        if s.process is not None and s.process.returncode is None
    ]
    assert not leftovers, f"kernel processes left running: {leftovers}"


@pytest.fixture
def workbook_id() -> str:
    """A fresh workbook id per test."""
    return f"wb-{next(_workbook_numbers)}"


@pytest.fixture
def kernel(business_layer: ThreadedBusinessLayer, workbook_id: str) -> Iterator[Session]:
    """A kernel process connected to the Business Layer, shut down (or killed) afterwards."""
    with business_layer.running(workbook_id) as session:
        yield session
