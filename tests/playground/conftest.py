"""A playground on 127.0.0.1 over a workbook of the tests' own, and headless Chromium."""

from __future__ import annotations

import asyncio
import json
import shutil
import threading
from collections.abc import Iterator
from pathlib import Path
from typing import Any

import pytest

from support.timing import units
from zentrel_master.business_layer.playground import Playground

ROOT = Path(__file__).resolve().parents[2]

PRICING = '''"""Workbook functions of the playground tests."""

import time


def total(quantity, price):
    """The price of `quantity` items."""
    return quantity * price


def on_change(event):
    """Says which cells changed (bound to the Orders sheet)."""
    print(f"changed {event.worksheetId}!{event.address}")


def ticks(start, delay=0.05):
    """Counts up from `start`, one value every `delay` seconds."""
    value = start
    while True:
        yield value
        value += 1
        time.sleep(delay)
'''

FAILING = '''def ratio(a, b):
    return a / b
'''

BOOK = {
    "activeSheet": "Orders",
    "sheets": [
        {"name": "Orders", "cells": {
            "A1": "Quantity", "B1": 3,
            "A2": "Price", "B2": 2.5,
            "A3": {"value": "Total", "bold": True},
            "B3": "=pricing.total(B1, B2)",
        }},
        {"name": "Live", "cells": {"A1": "Start", "B1": 100, "A2": "Tick", "B3": "=B2*2"}},
    ],
    "events": [{"sheet": "Orders", "event": "onChanged", "module": "pricing",
                "function": "on_change"}],
}


class RunningPlayground:
    """A `Playground` serving from an event loop on a background thread."""

    def __init__(self, folder: Path) -> None:
        (folder / "modules").mkdir()
        (folder / "modules" / "pricing.py").write_text(PRICING)
        (folder / "modules" / "failing.py").write_text(FAILING)
        (folder / "book.json").write_text(json.dumps(BOOK))
        self.loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self.loop.run_forever, name="playground")
        self._thread.start()
        self.playground = Playground(
            book=folder / "book.json", modules_dir=folder / "modules",
            index_dir=ROOT / "examples" / "package_index", timeout=units())
        self.call(self.playground.start(), units(2))
        self.url = self.playground.url

    def call(self, coroutine: Any, timeout: float | None = None) -> Any:
        """Run `coroutine` on the playground's loop and wait for its result."""
        future = asyncio.run_coroutine_threadsafe(coroutine, self.loop)
        return future.result(units() if timeout is None else timeout)

    def close(self) -> None:
        try:
            self.call(self.playground.stop(), units(3))
        finally:
            self.loop.call_soon_threadsafe(self.loop.stop)
            self._thread.join(units())
            self.loop.close()


@pytest.fixture(scope="package")
def playground(tmp_path_factory: pytest.TempPathFactory) -> Iterator[RunningPlayground]:
    """One playground (kernel, add-in and page server) for the package's tests."""
    running = RunningPlayground(tmp_path_factory.mktemp("playground"))
    yield running
    process = running.playground.session.process if running.playground.session else None
    running.close()
    assert process is None or process.returncode is not None, "kernel process left running"


@pytest.fixture
def own_playground(tmp_path: Path) -> Iterator[RunningPlayground]:
    """A playground of the test's own, for tests that end its kernel."""
    running = RunningPlayground(tmp_path)
    try:
        yield running
    finally:
        running.close()


def chromium_path() -> str | None:
    """Debian's Chromium (installed by `./run setup` where apt-get is usable)."""
    for name in ("chromium", "chromium-browser"):
        found = shutil.which(name)
        if found:
            return found
    return None


@pytest.fixture(scope="module")
def browser() -> Iterator[Any]:
    """Headless Chromium driven by Playwright, closed after the module."""
    sync_api = pytest.importorskip("playwright.sync_api", reason="playwright is not installed")
    executable = chromium_path()
    if executable is None:
        pytest.skip("no Chromium on this machine (./run setup installs Debian's chromium "
                    "where apt-get can)")
    with sync_api.sync_playwright() as driver:
        launched = driver.chromium.launch(executable_path=executable, headless=True)
        try:
            yield launched
        finally:
            launched.close()


@pytest.fixture
def page(browser: Any, playground: RunningPlayground) -> Iterator[Any]:
    """A fresh tab on the playground page, loaded and connected; page errors fail the test."""
    context = browser.new_context(viewport={"width": 1280, "height": 800})
    tab = context.new_page()
    tab.set_default_timeout(units() * 1000)
    errors: list[str] = []
    tab.on("pageerror", lambda error: errors.append(str(error)))
    tab.goto(playground.url)
    tab.wait_for_function("document.querySelector('#status').textContent === 'connected'")
    tab.wait_for_selector("#module-tabs button")
    try:
        yield tab
    finally:
        context.close()
    assert not errors, errors
