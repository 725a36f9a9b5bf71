"""Registry of workbook event subscriptions made by user code."""

from __future__ import annotations

import threading
from collections.abc import Callable
from typing import Any

__all__ = ["EventManager"]


class EventManager:
    """Thread-safe map from event names to handler callables."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._handlers: dict[str, list[Callable[..., Any]]] = {}

    def subscribe(self, event: str, handler: Callable[..., Any]) -> None:
        """Add `handler` for `event`."""
        with self._lock:
            self._handlers.setdefault(event, []).append(handler)

    def unsubscribe(self, event: str, handler: Callable[..., Any]) -> bool:
        """Remove `handler` from `event`; True when it was subscribed."""
        with self._lock:
            handlers = self._handlers.get(event, [])
            if handler in handlers:
                handlers.remove(handler)
                return True
            return False

    def handlers(self, event: str) -> list[Callable[..., Any]]:
        """A copy of the handlers of `event`."""
        with self._lock:
            return list(self._handlers.get(event, []))

    def clear(self) -> None:
        """Forget every subscription."""
        with self._lock:
            self._handlers.clear()
