"""Logging configuration of the product's processes."""

from __future__ import annotations

import copy
import logging
import logging.handlers
import queue
import sys

__all__ = ["setup_logging_subprocess", "get_logger", "LOG_FORMAT"]

LOG_FORMAT = "%(asctime)s %(levelname)s %(name)s: %(message)s"

_configured = False


class _BackgroundHandler(logging.handlers.QueueHandler):
    """Hands records to a writer thread; closing it writes out everything still queued.

    A request never waits on the log stream (a pipe the parent may be slow to read). Closing
    happens in `logging.shutdown`, which the interpreter runs at exit and the kernel launcher
    runs before it ends the process with `os._exit`.
    """

    def __init__(self, target: logging.Handler) -> None:
        super().__init__(queue.SimpleQueue())
        self.listener = logging.handlers.QueueListener(self.queue, target)
        self.listener.start()

    def prepare(self, record: logging.LogRecord) -> logging.LogRecord:
        """Merge the arguments now (they may change later); the writer formats the line.

        A copy: other handlers of the same record (a test's capture) still see it whole."""
        record = copy.copy(record)
        record.msg = record.getMessage()
        record.args = None
        if record.exc_info:
            # The writer's formatter renders the traceback text; keep it, drop the frames.
            record.exc_text = logging.Formatter().formatException(record.exc_info)
            record.exc_info = None
        return record

    def close(self) -> None:
        """Write out what is queued, then stop the writer thread."""
        if self.listener._thread is not None:
            self.listener.stop()
        super().close()


def setup_logging_subprocess(level: int = logging.INFO) -> None:
    """Send this process's logs to its original standard error, once."""
    global _configured
    if _configured:
        return
    _configured = True
    root = logging.getLogger()
    # Write to the interpreter's own stderr: the kernel later replaces sys.stderr by a hook that
    # turns writes into messages, and log lines must not travel that way.
    stream = logging.StreamHandler(sys.__stderr__)
    stream.setFormatter(logging.Formatter(LOG_FORMAT))
    root.addHandler(_BackgroundHandler(stream))
    if root.level == logging.NOTSET or root.level > level:
        root.setLevel(level)


def get_logger(name: str) -> logging.Logger:
    """The logger for `name`; it propagates to the root logger."""
    return logging.getLogger(name)
