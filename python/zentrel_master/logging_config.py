"""Logging configuration of the product's processes."""

from __future__ import annotations

import logging
import sys

__all__ = ["setup_logging_subprocess", "get_logger", "LOG_FORMAT"]

LOG_FORMAT = "%(asctime)s %(levelname)s %(name)s: %(message)s"

_configured = False


def setup_logging_subprocess(level: int = logging.INFO) -> None:
    """Send this process's logs to its original standard error, once."""
    global _configured
    if _configured:
        return
    _configured = True
    root = logging.getLogger()
    # Write to the interpreter's own stderr: the kernel later replaces sys.stderr by a hook that
    # turns writes into messages, and log lines must not travel that way.
    handler = logging.StreamHandler(sys.__stderr__)
    handler.setFormatter(logging.Formatter(LOG_FORMAT))
    root.addHandler(handler)
    if root.level == logging.NOTSET or root.level > level:
        root.setLevel(level)


def get_logger(name: str) -> logging.Logger:
    """The logger for `name`; it propagates to the root logger."""
    return logging.getLogger(name)
