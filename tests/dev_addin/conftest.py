"""A kernel process whose workbook is the development add-in, through the shared Business Layer."""

from __future__ import annotations

from collections.abc import Iterator

import pytest

from support.business_layer import ThreadedBusinessLayer
from support.dev_workbook import Book
from support.timing import units
from zentrel_master.business_layer.dev_addin import DevAddin


@pytest.fixture
def book(business_layer: ThreadedBusinessLayer, workbook_id: str) -> Iterator[Book]:
    """A kernel process connected with a fresh development add-in; both gone afterwards."""
    addin = DevAddin(timeout=units())
    business_layer.server.attach_addin(workbook_id, addin)
    try:
        with business_layer.running(workbook_id) as session:
            try:
                yield Book(business_layer, addin, session)
            finally:
                business_layer.call(addin.close())
    finally:
        business_layer.server.addins.pop(workbook_id, None)
