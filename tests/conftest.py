"""Fixtures shared by the suites: a real Business Layer and kernel processes launched by it."""

from __future__ import annotations

import itertools
from collections.abc import Iterator

import pytest

from support.business_layer import Session, ThreadedBusinessLayer, protocol_checker
from support.console import NOT_AN_OBJECT

_workbook_numbers = itertools.count(1)


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers",
        "off_protocol(*directions): the test sends messages outside the protocol on purpose, "
        "\"incoming\" (malformed requests to a kernel) or \"outgoing\" (arbitrary messages "
        "through a kernel's send path); those directions are not checked",
    )
    config.addinivalue_line(
        "markers",
        "shared_kernel: the tests of this class only read the kernel's state or put back what "
        "they change, so they share one kernel process (a fresh one is started per class)",
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


def _shares_kernel(request: pytest.FixtureRequest) -> bool:
    return request.node.get_closest_marker("shared_kernel") is not None


@pytest.fixture(scope="class")
def class_kernel(business_layer: ThreadedBusinessLayer) -> Iterator[Session]:
    """One kernel process for the tests of a class marked `shared_kernel`."""
    with business_layer.running(f"wb-{next(_workbook_numbers)}") as session:
        yield session


@pytest.fixture
def workbook_id(request: pytest.FixtureRequest) -> str:
    """A fresh workbook id per test (the shared kernel's id in a `shared_kernel` class)."""
    if _shares_kernel(request):
        return request.getfixturevalue("class_kernel").session.workbook_id
    return f"wb-{next(_workbook_numbers)}"


@pytest.fixture
def kernel(
    request: pytest.FixtureRequest, business_layer: ThreadedBusinessLayer, workbook_id: str
) -> Iterator[Session]:
    """A kernel process connected to the Business Layer, shut down (or killed) afterwards.

    In a `shared_kernel` class the class's kernel serves every test; after each test it must
    answer a probe with nothing else pending, so that no test sees what an earlier one left.
    """
    if not _shares_kernel(request):
        with business_layer.running(workbook_id) as session:
            yield session
        return
    session: Session = request.getfixturevalue("class_kernel")
    yield session
    leftovers = _drain(session)
    assert not leftovers, f"messages left for the next test of the class: {leftovers}"


def _drain(session: Session) -> list[dict]:
    """Everything the kernel sent before answering a probe; clears the session's records."""
    session.send_raw("[]")
    leftovers = []
    while (message := session.receive()) != NOT_AN_OBJECT:
        leftovers.append(message)

    async def forget() -> None:
        session.session.frames.clear()
        session.session.log_lines.clear()

    session.layer.call(forget())
    return leftovers
