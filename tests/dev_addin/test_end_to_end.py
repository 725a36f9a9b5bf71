"""User code in a kernel process against the development add-in, through the Business Layer."""

from __future__ import annotations

import json
from pathlib import Path
from typing import Any

from support.dev_workbook import Book
from support.events import collect_until
from support.timing import units
from zentrel_master.business_layer.dev_addin import CellError, Workbook

FUNCTIONS = '''
import zentrel

calls = []

def double(x):
    calls.append(x)
    return x * 2

def total(rows):
    return sum(v for row in rows for v in row if isinstance(v, (int, float)))

def fail(x):
    raise ValueError(f"cannot use {x}")

def peek(address):
    sheet = zentrel.context.workbook.worksheets.getActiveWorksheet()
    return sheet.getRange(address).values[0][0]

def count(n):
    for i in range(1, n + 1):
        yield i * 10

def endless(start):
    import time
    i = start
    while True:
        yield i
        i += 1
        time.sleep(0.02)

def log_change(event):
    print(f"{event.worksheetId}!{event.address} changed")
'''

SHEET = "sheet = context.workbook.worksheets.getActiveWorksheet()\n"


def at_least(value: Any, bound: int) -> bool:
    return isinstance(value, int) and value >= bound


class TestRangesFromUserCode:
    def test_values_formulas_and_shapes_round_trip(self, book: Book) -> None:
        book.run(
            SHEET
            + "r = sheet.getRange('B2:C3')\n"
            "r.values = [[1, 'two'], [True, '=B2*10']]\n"
            "r.getCell(0, 0).numberFormat = [['0.00']]\n"
        )
        seen = book.console.value(
            "{'values': r.values, 'formulas': r.formulas, 'text': r.text,\n"
            " 'address': r.address, 'shape': [r.rowCount, r.columnCount],\n"
            " 'moved': r.getOffsetRange(1, 1).address, 'grown': r.getResizedRange(1, -1).address,\n"
            " 'cell': sheet.getCell(2, 2).address, 'used': sheet.getUsedRange().address}"
        )
        assert seen == {
            "values": [[1, "two"], [True, 10]],
            "formulas": [[1, "two"], [True, "=B2*10"]],
            "text": [["1.00", "two"], ["TRUE", "10"]],
            "address": "Sheet1!B2:C3",
            "shape": [2, 2],
            "moved": "Sheet1!C3:D4",
            "grown": "Sheet1!B2:B4",
            "cell": "Sheet1!C3",
            "used": "Sheet1!B2:C3",
        }

    def test_sheets_added_found_and_formatted(self, book: Book) -> None:
        book.run(
            "sheets = context.workbook.worksheets\n"
            "data = sheets.add('Data')\n"
            "data.getRange('A1:B1').values = 5\n"
            "header = sheets.getItem('data').getRange('A1:B1')\n"
            "header.format.fill.color = '#FFFF00'\n"
            "header.format.font.bold = True\n"
            "context.sync()\n"
        )
        seen = book.console.value(
            "[[s.name for s in sheets.items], header.load('values').values,\n"
            " header.format.fill.color, header.format.font.bold, sheets.getCount()]"
        )
        assert seen == [["Sheet1", "Data"], [[5, 5]], "#FFFF00", True, 2]
        assert book.on_loop(lambda: book.addin.workbook.sheet("Data").cells[(0, 1)].bold) is True

    def test_clear_and_errors_reach_user_code_with_the_member_named(self, book: Book) -> None:
        book.run(SHEET + "sheet.getRange('A1:A2').values = [[1], [2]]\n"
                 "sheet.getRange('A1').clear()")
        assert book.value("A1") is None and book.value("A2") == 2
        error = book.failure(SHEET + "sheet.getRange('A1').nosuch")
        assert (error["type"], error["message"]) == (
            "AttributeError", "Range.nosuch is not modelled by the development add-in")
        error = book.failure(SHEET + "sheet.getRange('A1:B2').values = [[1, 2]]")
        assert "doesn't match the size or dimensions of the range" in error["message"]
        assert book.console.value("1 + 1") == 2

    def test_a_released_id_is_refused(self, book: Book) -> None:
        error = book.failure(
            "import gc, zentrel\n"
            + SHEET
            + "r = sheet.getRange('A1')\n"
            "rid = r._internal_id\n"
            "del r\n"
            "gc.collect()\n"
            "zentrel.OfficeJsObject(rid, 'Range').values"
        )
        assert error["type"] == "AttributeError"
        assert error["message"].endswith("is unknown or was released")


class TestFormulaCells:
    def test_cells_call_workbook_functions_and_follow_their_inputs(self, book: Book) -> None:
        book.push("f", FUNCTIONS)
        book.edit("A1", 4)
        book.edit("B1", "=f.double(A1)+1")
        book.edit("C1", "=f.total(A1:B2)")
        assert (book.value("B1"), book.value("C1")) == (9, 13)
        book.run(SHEET + "sheet.getRange('A1').values = [[10]]")
        book.settle()
        assert (book.value("B1"), book.value("C1")) == (21, 31)
        book.run("import f")
        assert book.console.value("f.calls") == [4, 10]

    def test_failing_function_shows_value_error_with_its_text(self, book: Book) -> None:
        book.push("f", FUNCTIONS)
        book.edit("A1", 4)
        book.edit("B1", "=f.fail(A1)")
        book.edit("C1", "=B1+1")
        assert book.value("B1") == CellError("#VALUE!", "ValueError: cannot use 4")
        assert book.value("C1") == CellError("#VALUE!", "ValueError: cannot use 4")
        book.run(SHEET)
        assert book.console.value("sheet.getRange('B1').values") == [["#VALUE!"]]
        book.edit("B1", "=f.nosuch(A1)")
        assert "nosuch" in book.addin.error_text("B1")

    def test_function_reading_the_workbook_while_its_cell_computes(self, book: Book) -> None:
        book.push("f", FUNCTIONS)
        book.edit("A1", "hello")
        book.edit("B1", '=f.peek("A1")')
        assert book.value("B1") == "hello"


class TestStreamingCells:
    def test_values_land_one_by_one_and_dependents_follow(self, book: Book) -> None:
        book.push("f", FUNCTIONS)
        seen: list[Any] = []
        book.on_loop(lambda: book.addin.workbook.subscribe(
            lambda change: change.kind == "calc" and change.rect.left == 1
            and seen.append(book.addin.workbook.active.value(0, 1))))
        book.edit("A1", 3)
        book.edit("C1", "=B1+1")
        book.edit("B1", "=STREAM(f.count(A1))")
        book.wait_for(lambda: book.addin.workbook.active.value(0, 2) == 31)
        # The add-in sees each message before the test does.
        while not ((closing := book.session.receive())["type"] == "streaming_function_result"
                   and closing["done"]):
            pass
        assert "error" not in closing and book.on_loop(book.addin.active_streams) == {}
        assert [v for v in seen if not isinstance(v, CellError)] == [10, 20, 30]
        assert str(seen[0]) == "#GETTING_DATA"

    def test_replacing_the_formula_cancels_the_stream(self, book: Book) -> None:
        book.push("f", FUNCTIONS)
        book.edit("B1", "=STREAM(f.endless(1))")
        [request_id] = book.on_loop(lambda: list(book.addin.active_streams()))
        book.wait_for(lambda: at_least(book.addin.workbook.active.value(0, 1), 3))
        book.edit("B1", "stopped")
        closing = collect_until(book.session, request_id, lambda m: m.get("done"))[-1]
        assert closing["result"] == "Canceled"
        assert book.value("B1") == "stopped"
        assert book.on_loop(book.addin.active_streams) == {}

    def test_a_changed_argument_restarts_the_stream(self, book: Book) -> None:
        book.push("f", FUNCTIONS)
        book.edit("A1", 1)
        book.edit("B1", "=STREAM(f.endless(A1))")
        [first] = book.on_loop(lambda: list(book.addin.active_streams()))
        book.edit("A1", 1000)
        book.wait_for(lambda: at_least(book.addin.workbook.active.value(0, 1), 1000))
        [second] = book.on_loop(lambda: list(book.addin.active_streams()))
        assert second != first
        closing = collect_until(book.session, first, lambda m: m.get("done"))[-1]
        assert closing["result"] == "Canceled"


class TestEvents:
    def test_bound_handler_gets_event_execution(self, book: Book) -> None:
        book.push("f", FUNCTIONS)
        book.on_loop(lambda: book.addin.workbook.bind_event("sheet1", "f", "log_change"))
        book.edit("B2:C3", 1)
        [reply] = book.addin.event_replies
        assert (reply["type"], reply["status"], reply["logs"]) == (
            "event_execution_result", "success", "Sheet1!B2:C3 changed\n")

    def test_python_callable_handler_is_called_back_until_removed(self, book: Book) -> None:
        # The handler writes to the sheet it watches: that write does not call it again.
        book.run(
            SHEET
            + "def mark(event):\n"
            "    sheet.getRange('Z1').values = [[event.address]]\n"
            "registration = sheet.onChanged.add(mark)"
        )
        book.edit("A1", 1)
        assert book.value("Z1") == "A1"
        assert [r["type"] for r in book.addin.event_replies] == ["python_function_result"]
        assert book.addin.event_replies[0]["success"] is True
        book.run("registration.remove()")
        replies = len(book.addin.event_replies)
        book.edit("A2", 2)
        assert book.value("Z1") == "A1" and len(book.addin.event_replies) == replies

    def test_events_switched_off_by_user_code(self, book: Book) -> None:
        book.run(SHEET + "sheet.onChanged.add(print)\n"
                 "import zentrel\nzentrel.set_enable_events(False)")
        book.wait_for(lambda: not book.addin.events_enabled)
        book.edit("A1", 1)
        assert book.addin.event_replies == []


class TestWorkbookFiles:
    def test_loaded_file_computes_with_the_kernel_and_saves_back(
        self, book: Book, tmp_path: Path
    ) -> None:
        book.push("f", FUNCTIONS)
        source = {
            "activeSheet": "Calc",
            "sheets": [{"name": "Calc", "cells": {"A1": 21, "B1": {"value": "=f.double(A1)",
                                                                    "numberFormat": "0.0"}}}],
            "events": [],
        }
        (tmp_path / "in.json").write_text(json.dumps(source))
        book.on_loop(lambda: book.addin.load(tmp_path / "in.json"))
        book.layer.call(book.addin.calculate(), units())
        book.run(SHEET)
        assert book.console.value("sheet.getRange('B1').text") == [["42.0"]]
        book.on_loop(lambda: book.addin.workbook.save(tmp_path / "out.json"))
        assert Workbook.load(tmp_path / "out.json").to_json() == source
