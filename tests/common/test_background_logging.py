"""The background log writer: records leave the caller at once and reach the stream whole,
in order, in batches; closing writes out whatever is still queued."""

from __future__ import annotations

import io
import logging
import threading
import time
from collections.abc import Callable, Iterator
from typing import Any

import pytest

from support.timing import units
from zentrel_master import _common_testing
from zentrel_master.logging_config import _BackgroundHandler


class CountingStream(io.StringIO):
    """A text stream that counts its writes."""

    writes = 0

    def write(self, text: str) -> int:
        self.writes += 1
        return super().write(text)


@pytest.fixture
def logged() -> Iterator[tuple[logging.Logger, CountingStream, _BackgroundHandler]]:
    stream = CountingStream()
    target = logging.StreamHandler(stream)
    target.setFormatter(logging.Formatter("%(levelname)s %(message)s"))
    handler = _BackgroundHandler(target)
    logger = logging.getLogger(f"background-test-{id(stream)}")
    logger.propagate = False
    logger.setLevel(logging.DEBUG)
    logger.addHandler(handler)
    yield logger, stream, handler
    logger.removeHandler(handler)
    handler.close()


class TestBackgroundWriter:
    def test_close_writes_out_every_queued_record_in_order_in_few_writes(self, logged) -> None:
        logger, stream, handler = logged
        for i in range(500):
            logger.info("line %d", i)
        handler.close()
        assert stream.getvalue() == "".join(f"INFO line {i}\n" for i in range(500))
        assert stream.writes < 50

    def test_threads_each_keep_their_order(self, logged) -> None:
        logger, stream, handler = logged

        def burst(name: str) -> None:
            for i in range(300):
                logger.warning(f"{name} {i}")

        threads = [threading.Thread(target=burst, args=(f"t{k}",)) for k in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        handler.close()
        lines = stream.getvalue().splitlines()
        assert len(lines) == 1200
        for k in range(4):
            assert [line for line in lines if line.startswith(f"WARNING t{k} ")] == [
                f"WARNING t{k} {i}" for i in range(300)
            ]

    def test_arguments_are_merged_when_logged(self, logged) -> None:
        logger, stream, handler = logged
        changing = ["before"]
        logger.info("%s", changing)
        changing[0] = "after"
        handler.close()
        assert stream.getvalue() == "INFO ['before']\n"

    def test_traceback_is_written_and_other_handlers_see_the_record_whole(
        self, logged
    ) -> None:
        logger, stream, handler = logged
        seen: list[logging.LogRecord] = []
        capture = logging.Handler()
        capture.emit = seen.append  # type: ignore[method-assign]
        logger.addHandler(capture)
        try:
            raise ValueError("boom")
        except ValueError:
            logger.exception("failed %s", "here")
        handler.close()
        assert stream.getvalue().startswith("ERROR failed here\nTraceback")
        assert "ValueError: boom" in stream.getvalue()
        assert seen[0].args == ("here",) and seen[0].exc_info is not None

    def test_records_written_without_closing(self, logged) -> None:
        logger, stream, _ = logged
        logger.info("soon")
        deadline = time.monotonic() + units(1)
        while not stream.getvalue() and time.monotonic() < deadline:
            time.sleep(0.01)
        assert stream.getvalue() == "INFO soon\n"


class Collect(logging.Handler):
    """A writer target that keeps the records it gets and their formatted lines."""

    def __init__(self, fmt: str) -> None:
        super().__init__()
        self.setFormatter(logging.Formatter(fmt))
        self.records: list[logging.LogRecord] = []
        self.lines: list[str] = []

    def emit(self, record: logging.LogRecord) -> None:
        self.records.append(record)
        self.lines.append(self.format(record))


class TestNativeTexts:
    """Texts the native modules log reach the background writer as bare tuples when it is their
    only destination; anything else in the way gets the standard library's full record."""

    @pytest.fixture
    def native(self, request) -> Iterator[Callable[[], tuple[logging.Logger, Collect, Any]]]:
        """Makes the logger in the test's body: pytest's log capture joins the loggers that do
        not propagate when the test starts, and would then be a second destination."""
        made: list[tuple[logging.Logger, _BackgroundHandler]] = []

        def make() -> tuple[logging.Logger, Collect, _BackgroundHandler]:
            target = Collect("%(levelname)s %(funcName)s %(threadName)s: %(message)s")
            handler = _BackgroundHandler(target)
            logger = logging.getLogger(f"native-texts-{request.node.name}")
            logger.propagate = False
            logger.setLevel(logging.DEBUG)
            logger.addHandler(handler)
            made.append((logger, handler))
            return logger, target, handler

        yield make
        for logger, handler in made:
            logger.removeHandler(handler)
            handler.close()

    @staticmethod
    def log(logger: logging.Logger, level: int, text: str) -> None:
        _common_testing.log(logger.name, level, text)

    def test_writer_builds_the_record_with_time_and_thread(self, native) -> None:
        logger, target, handler = native()
        before = time.time()
        self.log(logger, logging.INFO, "from the loop 100% ready")
        worker = threading.Thread(
            target=self.log, args=(logger, logging.WARNING, "from a worker"), name="Worker-7"
        )
        worker.start()
        worker.join()
        handler.close()
        assert target.lines == [
            "INFO (unknown function) MainThread: from the loop 100% ready",
            "WARNING (unknown function) Worker-7: from a worker",
        ]
        first, second = target.records
        assert before <= first.created <= second.created <= time.time()
        assert first.name == logger.name and first.args is None
        assert first.thread == threading.get_ident() and second.thread == worker.ident

    def test_filters_other_handlers_and_levels_are_honoured(self, native) -> None:
        logger, target, handler = native()
        handler.setLevel(logging.WARNING)
        self.log(logger, logging.INFO, "below the handler's level")
        handler.setLevel(logging.NOTSET)

        class DropMarked(logging.Filter):
            def filter(self, record: logging.LogRecord) -> bool:
                return "drop" not in record.getMessage()

        marked = DropMarked()
        logger.addFilter(marked)
        self.log(logger, logging.INFO, "drop me")
        self.log(logger, logging.INFO, "through the filter")
        logger.removeFilter(marked)

        seen = Collect("%(message)s")
        logger.addHandler(seen)
        self.log(logger, logging.INFO, "to both")
        logger.removeHandler(seen)

        logger.disabled = True
        self.log(logger, logging.ERROR, "disabled logger")
        logger.disabled = False
        handler.close()
        assert [line.split(": ", 1)[1] for line in target.lines] == [
            "through the filter",
            "to both",
        ]
        # The full path names the caller's frame; the direct one has none.
        assert not any("(unknown function)" in line for line in target.lines)
        assert seen.lines == ["to both"]

    def test_native_texts_under_the_process_format_get_their_records_lines(self) -> None:
        # The writer turns a native text into its line directly under the process's own format;
        # the line must be the one its record would have given, and any other format or a
        # filter still go through the record.
        from zentrel_master.logging_config import LOG_FORMAT, _record_of

        created = time.time()
        items = [
            ("zentrel_master.python_server.kernel", logging.INFO, "Received 100% of it", created,
             1, "MainThread"),
            ("k", 25, "a level of its own\nover two lines", created + 0.9996, 2, "Worker"),
            ("k", logging.DEBUG, "a debug line", created, 3, "Worker"),
        ]
        plain = logging.Formatter(LOG_FORMAT)
        expected = [plain.format(_record_of(item)) + "\n" for item in items]

        def written(formatter: logging.Formatter, with_filter: bool = False) -> str:
            stream = io.StringIO()
            target = logging.StreamHandler(stream)
            target.setFormatter(formatter)
            if with_filter:
                target.addFilter(lambda record: "Received" not in record.getMessage())
            handler = _BackgroundHandler(target)
            handler.listener._write(list(items))
            handler.close()
            return stream.getvalue()

        assert written(plain) == "".join(expected)
        assert written(plain, with_filter=True) == "".join(expected[1:])
        custom = logging.Formatter("%(threadName)s %(message)s")
        assert written(custom) == ("MainThread Received 100% of it\nWorker a level of its own\n"
                                   "over two lines\nWorker a debug line\n")
