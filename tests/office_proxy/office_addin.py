"""A stand-in add-in for the Office.js bridge tests: answers requests from its own thread."""

from __future__ import annotations

import queue
import threading
from collections.abc import Callable
from typing import Any

__all__ = ["Addin", "null_answer", "result"]

Answer = Callable[[dict[str, Any]], "dict[str, Any] | None"]


def null_answer(request: dict[str, Any]) -> dict[str, Any]:
    """Every request succeeds with a Null result."""
    return {"ok": True, "result": {"type": "Null", "value": None, "isSpec": False}}


class Addin:
    """Receives requests through the send handler and answers each one from a thread of its
    own, as the add-in does through the kernel's listener; `answer` decides the reply (None: no
    reply)."""

    def __init__(self, messaging: Any) -> None:
        self.messaging = messaging
        self.answer: Answer = null_answer
        self.requests: list[dict[str, Any]] = []
        self._queue: queue.Queue[dict[str, Any] | None] = queue.Queue()
        self._thread = threading.Thread(target=self._serve, name="addin", daemon=True)
        self._thread.start()

    def handler(self, message: dict[str, Any]) -> None:
        self.requests.append(message)
        self._queue.put(message)

    def _serve(self) -> None:
        while (message := self._queue.get()) is not None:
            reply = self.answer(message)
            if reply is not None:
                self.messaging.on_message({"requestId": message["requestId"], **reply})

    def sent(self, method: str) -> list[dict[str, Any]]:
        """Requests of one method, without the transport's requestId and kind."""
        return [
            {k: v for k, v in r.items() if k not in ("requestId", "kind")}
            for r in self.requests
            if r.get("method") == method
        ]

    def stop(self) -> None:
        self._queue.put(None)
        self._thread.join()


def result(wire: dict[str, Any]) -> Answer:
    """An answer that succeeds with `wire` for every request."""
    return lambda request: {"ok": True, "result": wire}
