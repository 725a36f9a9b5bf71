"""Fixtures of the Office.js bridge tests."""

from __future__ import annotations

from collections.abc import Iterator
from typing import Any

import pytest
from office_addin import Addin

from zentrel_master.python_server.zentrel import office_proxy


@pytest.fixture
def op() -> Any:
    """The bridge module."""
    return office_proxy


@pytest.fixture
def addin() -> Iterator[Addin]:
    """The module's messaging wired to a stand-in add-in; unwired and reset afterwards."""
    messaging = office_proxy.messaging
    # An in-process kernel of another suite installs its request function on the instance.
    messaging.__dict__.pop("send_request_sync", None)
    messaging.__dict__.pop("send_request_nowait", None)
    stand_in = Addin(messaging)
    messaging.set_send_handler(stand_in.handler)
    try:
        yield stand_in
    finally:
        messaging.set_send_handler(None)
        messaging.__dict__.pop("send_request_sync", None)
        messaging.__dict__.pop("send_request_nowait", None)
        messaging.reset()
        stand_in.stop()
