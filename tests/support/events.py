"""Helpers of the event-handler and streaming suites: workbook modules and per-request replies."""

from __future__ import annotations

from typing import Any

from .business_layer import Session
from .console import NOT_AN_OBJECT

__all__ = ["push_module", "collect_until", "assert_serving", "wire"]


def push_module(session: Session, name: str, code: str) -> None:
    """Send a module's source as the Business Layer does and wait for the kernel to take it."""
    session.send({"type": "update_module", "module_name": name, "code": code})
    reply = session.receive()
    assert (reply["type"], reply.get("module_name")) == ("module_updated", name), reply


def collect_until(session: Session, request_id: Any, last: Any) -> list[dict[str, Any]]:
    """Messages of `request_id`, in arrival order, up to the first for which `last` is true."""
    seen: list[dict[str, Any]] = []
    while True:
        message = session.receive()
        if message.get("request_id") != request_id:
            continue
        seen.append(message)
        if last(message):
            return seen


def assert_serving(session: Session) -> None:
    """The kernel still answers, and nothing was sent since the last message read."""
    assert session.probe() == NOT_AN_OBJECT


def wire(value: Any) -> Any:
    """The wire value of `value`, as the add-in would send it."""
    from zentrel_master.python_server.zentrel.office_proxy import Serializer

    return Serializer.to_wire(value)
