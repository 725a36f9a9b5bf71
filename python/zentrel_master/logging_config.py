"""Logging configuration of the product's processes."""

from __future__ import annotations

import copy
import logging
import logging.handlers
import queue
import sys
import time

__all__ = ["setup_logging_subprocess", "get_logger", "LOG_FORMAT"]

LOG_FORMAT = "%(asctime)s %(levelname)s %(name)s: %(message)s"

_configured = False


class _BatchListener(logging.handlers.QueueListener):
    """Writes queued records in batches: the first record of a quiet spell wakes it, and it
    waits `LINGER` seconds before it writes what has come by then.

    Waking the writer for every record cost a thread switch and two hand-offs of the
    interpreter lock per record, on the thread that serves requests. Records put while the
    writer lingers only append to the queue. A stream handler gets each batch as one write.
    """

    #: Seconds the writer waits after the first record of a batch.
    LINGER = 0.05
    #: Records formatted between two releases of the interpreter lock.
    SLICE = 32

    def _monitor(self) -> None:
        get = self.queue.get_nowait
        while True:
            batch = [self.dequeue(True)]
            if batch[0] is not self._sentinel:
                time.sleep(self.LINGER)
            while True:
                try:
                    batch.append(get())
                except queue.Empty:
                    break
            stop = self._sentinel in batch
            if stop:
                batch = [record for record in batch if record is not self._sentinel]
            self._write(batch)
            if stop:
                return

    def _records(self, batch: list) -> list[logging.LogRecord]:
        """`batch` with the texts the native modules queued turned into records."""
        records = []
        for index, item in enumerate(batch):
            records.append(_record_of(item) if type(item) is tuple else item)
            if index % self.SLICE == self.SLICE - 1:
                time.sleep(0)
        return records

    def _write(self, batch: list) -> None:
        """Hand `batch` (records, and the native modules' texts) to every handler; lines for a
        stream handler are written at once."""
        records: list[logging.LogRecord] | None = None
        for handler in self.handlers:
            if type(handler) is not logging.StreamHandler:
                if records is None:
                    records = self._records(batch)
                for record in records:
                    self._handle_one(handler, record)
                continue
            # A native text under the process's own format and no filter becomes its line
            # directly: the same line as its record's, at an eighth of the cost, on a thread
            # that shares the interpreter lock with the one serving requests.
            plain = _plain_format(handler)
            stamps: dict[int, str] = {}
            lines = []
            for index, item in enumerate(batch):
                if index % self.SLICE == self.SLICE - 1:
                    time.sleep(0)  # lets the event loop's thread in between slices
                if plain and type(item) is tuple:
                    if not self.respect_handler_level or item[1] >= handler.level:
                        lines.append(_plain_line(item, stamps) + handler.terminator)
                    continue
                record = _record_of(item) if type(item) is tuple else item
                if self._wanted(handler, record) and handler.filter(record):
                    try:
                        lines.append(handler.format(record) + handler.terminator)
                    except Exception:
                        handler.handleError(record)
            if lines:
                with handler.lock:
                    try:
                        handler.stream.write("".join(lines))
                        handler.flush()
                    except Exception:
                        handler.handleError(self._records(batch[-1:])[0])

    def _wanted(self, handler: logging.Handler, record: logging.LogRecord) -> bool:
        return not self.respect_handler_level or record.levelno >= handler.level

    def _handle_one(self, handler: logging.Handler, record: logging.LogRecord) -> None:
        if self._wanted(handler, record):
            handler.handle(record)


def _plain_format(handler: logging.Handler) -> bool:
    """Whether `handler` formats with `LOG_FORMAT` as `setup_logging_subprocess` set it up (a
    plain Formatter, the default time format, local time) and filters nothing."""
    formatter = handler.formatter
    return (
        not handler.filters
        and type(formatter) is logging.Formatter
        and type(formatter._style) is logging.PercentStyle
        and formatter._fmt == LOG_FORMAT
        and formatter.datefmt is None
        and formatter.converter is time.localtime
        and formatter.default_time_format == logging.Formatter.default_time_format
        and formatter.default_msec_format == logging.Formatter.default_msec_format
    )


def _plain_line(item: tuple[str, int, str, float, int, str], stamps: dict[int, str]) -> str:
    """The line `LOG_FORMAT` gives the record of a native text (see `_record_of`); `stamps`
    keeps the formatted seconds of the batch."""
    name, level, text, created, _, _ = item
    second = int(created)
    stamp = stamps.get(second)
    if stamp is None:
        stamp = stamps[second] = time.strftime(
            logging.Formatter.default_time_format, time.localtime(second))
    msecs = int((created - second) * 1000)
    return f"{stamp},{msecs:03d} {logging.getLevelName(level)} {name}: {text}"


def _record_of(item: tuple[str, int, str, float, int, str]) -> logging.LogRecord:
    """The LogRecord of a text the native modules queued directly: (logger name, level, text,
    creation time, thread id, thread name). Built here, on the writer thread, as the logging
    call would have built it at that time on that thread; the native caller has no Python
    source position."""
    name, level, text, created, thread_id, thread_name = item
    record = logging.LogRecord(name, level, "(unknown file)", 0, text, None, None,
                               "(unknown function)")
    record.created = created
    record.msecs = int((created - int(created)) * 1000) + 0.0
    record.relativeCreated = (created - logging._startTime) * 1000
    record.thread = thread_id
    record.threadName = thread_name
    record.taskName = None
    return record


class _BackgroundHandler(logging.handlers.QueueHandler):
    """Hands records to a writer thread; closing it writes out everything still queued.

    A request never waits on the log stream (a pipe the parent may be slow to read). Closing
    happens in `logging.shutdown`, which the interpreter runs at exit and the kernel launcher
    runs before it ends the process with `os._exit`.
    """

    def __init__(self, target: logging.Handler) -> None:
        super().__init__(queue.SimpleQueue())
        self.listener = _BatchListener(self.queue, target)
        self.listener.start()

    def prepare(self, record: logging.LogRecord) -> logging.LogRecord:
        """Merge the arguments now (they may change later); the writer formats the line.

        A copy: other handlers of the same record (a test's capture) still see it whole. A
        record with nothing to merge (a finished text, the kernel's usual) goes as it is."""
        if not record.args and not record.exc_info and type(record.msg) is str:
            return record
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
