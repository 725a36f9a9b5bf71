"""The background log writer: records leave the caller at once and reach the stream whole,
in order, in batches; closing writes out whatever is still queued."""

from __future__ import annotations

import io
import logging
import threading
import time
from collections.abc import Iterator

import pytest

from support.timing import units
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
