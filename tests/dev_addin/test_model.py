"""The development add-in without a kernel: addresses, formulas, recalculation, files, requests."""

from __future__ import annotations

import asyncio
from typing import Any

import pytest

from zentrel_master.business_layer.dev_addin import (
    AddressError,
    CellError,
    DevAddin,
    FormulaError,
    Rect,
    Workbook,
    WorkbookError,
    format_address,
    parse_address,
    parse_formula,
    render,
)
from zentrel_master.business_layer.dev_addin.formulas import Reader, evaluate
from zentrel_master.business_layer.dev_addin.office import WorksheetObject
from zentrel_master.business_layer.dev_addin.workbook import Cell, display_text

WHOLE_ROWS = 1_048_576


@pytest.mark.parametrize(
    "address, sheet, rect",
    [
        ("B3", None, Rect(2, 1, 2, 1)),
        ("$B$3", None, Rect(2, 1, 2, 1)),
        ("c4:a1", None, Rect(0, 0, 3, 2)),
        ("Sheet2!AA10", "Sheet2", Rect(9, 26, 9, 26)),
        ("'My ''Q'' Sheet'!A1:B2", "My 'Q' Sheet", Rect(0, 0, 1, 1)),
        ("B:D", None, Rect(0, 1, WHOLE_ROWS - 1, 3)),
        ("2:3", None, Rect(1, 0, 2, 16383)),
        ("XFD1048576", None, Rect(WHOLE_ROWS - 1, 16383, WHOLE_ROWS - 1, 16383)),
    ],
    ids=["cell", "absolute", "reversed-corners", "sheet-prefix", "quoted-sheet", "columns",
         "rows", "last-cell"],
)
def test_addresses_parse_and_print_back(address: str, sheet: str | None, rect: Rect) -> None:
    assert parse_address(address) == (sheet, rect)
    again = format_address(rect, sheet)
    assert parse_address(again) == (sheet, rect)


@pytest.mark.parametrize("address", ["", "A0", "XFE1", "A1048577", "A1:", "!A1", "A1!", "1A"])
def test_bad_addresses_are_refused(address: str) -> None:
    with pytest.raises(AddressError):
        parse_address(address)


class Cells(Reader):
    """A1 = 2, B1 = "7", A2 = empty; ranges read as [[1, "x"], [None, 3]]."""

    def cell(self, ref: Any) -> Any:
        return {(0, 0): 2, (0, 1): "7"}.get((ref.rect.top, ref.rect.left))

    def rows(self, ref: Any) -> list[list[Any]]:
        return [[1, "x"], [None, 3]]

    async def call(self, module: str, function: str, args: list[Any]) -> Any:
        return f"{module}|{function}|{args!r}"


@pytest.mark.parametrize(
    "formula, value",
    [
        ("=1+2*3^2", 19),
        ("=2^3^2", 64),  # left to right, as worksheets do
        ("=-2^2", 4),  # the sign binds tighter than ^
        ("=A1*B1", 14),  # numeric text takes part in arithmetic
        ("=A2+1", 1),  # an empty cell counts as 0
        ('="n="&A1&TRUE', "n=2TRUE"),
        ("=1/(A1-2)", CellError("#DIV/0!", "Division by zero")),
        ('=1+"x"', CellError("#VALUE!", "'x' is not a number")),
        ("=SUM(A1:B2, 10)", 14),  # text and empty cells inside a range are skipped
        ("=COUNT(A1:B2)", 2),
        ("=MAX(A1:B2)*IF(A1>1, 10, 0)", 30),
        ("=A1:B2", CellError("#VALUE!", "A range cannot be used as a single value")),
        ("=nosuch(1)", CellError("#NAME?", "Unknown function NOSUCH")),
        ("=pkg.mod.fn(A1, A1:B2)", "pkg.mod|fn|[2, [[1, 'x'], [None, 3]]]"),
        ("=m.f(1/0)", CellError("#DIV/0!", "Division by zero")),  # errors never reach Python
        ("=SUM(1, 1/0)", CellError("#DIV/0!", "Division by zero")),
        ("=ROUND(2.5)", 3),  # halves away from zero, not to even
        ("=ROUND(-0.5)", -1),
        ("=ROUND(2.675, 2)", 2.68),  # on the decimal digits, not the binary value
        ("=ROUND(1250, -2)", 1300),
    ],
)
def test_formulas_evaluate(formula: str, value: Any) -> None:
    assert asyncio.run(evaluate(parse_formula(formula).tree, Cells())) == value


@pytest.mark.parametrize(
    "formula", ["=1+", "=(1", "=A1 B2", "=1,2", "=STREAM(1)", "=STREAM(a.b(), c.d())", "=#"]
)
def test_malformed_formulas_do_not_parse(formula: str) -> None:
    with pytest.raises(FormulaError):
        parse_formula(formula)


def test_formula_references_keep_sheet_and_shape() -> None:
    refs = parse_formula("=m.f(A1, 'Q 1'!B2:C3, D:D) + LOG10(A1)").refs
    assert [(r.sheet, r.rect, r.single) for r in refs] == [
        (None, Rect(0, 0, 0, 0), True),
        ("Q 1", Rect(1, 1, 2, 2), False),
        (None, Rect(0, 3, WHOLE_ROWS - 1, 3), False),
        (None, Rect(0, 0, 0, 0), True),  # LOG10 before "(" names a function, not a cell
    ]


def values(book: Workbook, sheet: str, address: str) -> list[list[Any]]:
    _, rect = parse_address(address)
    ws = book.sheet(sheet)
    return [[ws.value(r, c) for c in range(rect.left, rect.right + 1)]
            for r in range(rect.top, rect.bottom + 1)]


def edits(addin: DevAddin, *steps: tuple[str, Any]) -> None:
    """Type each (address, value) in turn and wait for recalculation, on one event loop."""

    async def run() -> None:
        for address, value in steps:
            addin.edit(address, value)
            await addin.settled(5)

    asyncio.run(run())


class Recorder:
    """The kernel's end of the connection, keeping what the add-in sends."""

    workbook_id = "wb"

    def __init__(self) -> None:
        self.sent: list[dict[str, Any]] = []

    async def send(self, message: dict[str, Any]) -> None:
        self.sent.append(message)


class TestRecalculation:
    def test_chain_across_sheets_follows_its_inputs(self) -> None:
        addin = DevAddin()
        addin.workbook.add_sheet("Out")
        edits(addin, ("Out!B1", "=Sheet1!A1*2"), ("Out!C1", "=B1+SUM(Sheet1!A:A)"),
              ("A1", 5), ("A2", 1))
        assert values(addin.workbook, "Out", "B1:C1") == [[10, 16]]

    def test_each_dependent_is_computed_once_after_its_inputs(self) -> None:
        addin = DevAddin()
        # Each cell reads the ones to its right: sheet order is the reverse of the needed one.
        edits(addin, ("A1", "=D1+C1+B1"), ("B1", "=D1+C1"), ("C1", "=E1+D1"), ("D1", "=E1*2"))
        computed: list[str] = []
        addin.workbook.subscribe(lambda change: change.kind == "calc"
                                 and computed.append(format_address(change.rect)))
        edits(addin, ("E1", 1))
        assert computed == ["D1", "C1", "B1", "A1"]
        assert values(addin.workbook, "Sheet1", "A1:D1") == [[10, 5, 3, 2]]

    def test_cell_on_a_cycle_shows_calc_error_and_recovers(self) -> None:
        addin = DevAddin()
        edits(addin, ("A1", "=B1+1"), ("B1", "=A1+1"), ("C1", "=7"))
        assert values(addin.workbook, "Sheet1", "A1:C1") == [
            [CellError("#CALC!", "Circular reference")] * 2 + [7]]
        edits(addin, ("B1", 3))
        assert values(addin.workbook, "Sheet1", "A1:B1") == [[4, 3]]

    def test_workbook_function_without_kernel_is_a_value_error(self) -> None:
        addin = DevAddin()
        edits(addin, ("A1", "=m.f(1)"))
        assert addin.workbook.sheet(None).value(0, 0).code == "#VALUE!"
        assert addin.error_text("A1") == "No kernel is attached"

    def test_unreachable_kernel_gives_value_errors_and_no_stream(self) -> None:
        class Closed:
            workbook_id = "wb"

            async def send(self, message: dict[str, Any]) -> None:
                raise ConnectionError("closed")

        addin = DevAddin()
        addin.attach(Closed())
        edits(addin, ("A1", "=m.f(1)"), ("B1", "=STREAM(m.g())"))
        assert addin.error_text("A1") == "No answer from the kernel (ConnectionError)"
        assert addin.error_text("B1") == "The kernel cannot be reached (ConnectionError)"
        assert addin.active_streams() == {}

    def test_stream_value_in_flight_never_replaces_what_was_typed(self) -> None:
        addin, kernel = DevAddin(), Recorder()
        addin.attach(kernel)

        async def run() -> None:
            addin.edit("B1", "=STREAM(m.g())")
            await addin.settled(5)
            [request_id] = addin.active_streams()
            addin.edit("B1", "typed")
            addin.observe({"type": "streaming_function_result", "request_id": request_id,
                           "result": {"type": "Int", "value": 5, "isSpec": False},
                           "done": False})
            await addin.settled(5)
            assert kernel.sent[-1] == {"type": "cancel_streaming_function",
                                       "request_id": request_id}

        asyncio.run(run())
        assert addin.workbook.active.value(0, 1) == "typed"
        assert addin.active_streams() == {}

    def test_late_function_result_never_replaces_what_was_typed(self) -> None:
        addin, kernel = DevAddin(), Recorder()
        addin.attach(kernel)

        async def run() -> None:
            addin.edit("A1", "=m.slow()")
            while not kernel.sent:
                await asyncio.sleep(0)
            addin.edit("A1", "typed")
            addin.observe({"type": "function_execution_result", "status": "success",
                           "request_id": kernel.sent[0]["request_id"],
                           "result": {"type": "Int", "value": 5, "isSpec": False}})
            await addin.settled(5)

        asyncio.run(run())
        assert addin.workbook.active.value(0, 0) == "typed"

    def test_malformed_results_become_error_values(self) -> None:
        addin, kernel = DevAddin(), Recorder()
        addin.attach(kernel)
        broken = {"type": "Array", "value": 5, "isSpec": False}

        async def run() -> None:
            addin.edit("A1", "=m.f()")
            addin.edit("B1", "=STREAM(m.g())")
            while not kernel.sent:
                await asyncio.sleep(0)
            addin.observe({"type": "function_execution_result", "status": "success",
                           "request_id": kernel.sent[0]["request_id"], "result": broken})
            while len(kernel.sent) < 2:  # recalculations run one after the other
                await asyncio.sleep(0)
            stream = kernel.sent[1]
            addin.observe({"type": "streaming_function_result", "done": False,
                           "request_id": stream["request_id"], "result": broken})
            await addin.settled(5)

        asyncio.run(run())
        for address in ("A1", "B1"):
            assert addin.error_text(address) == "TypeError: 'int' object is not iterable"

    def test_syntax_error_is_kept_as_name_error(self) -> None:
        addin = DevAddin()
        edits(addin, ("A1", "=1+"))
        assert addin.error_text("A1") == "Expected a value at the end of the formula"

    def test_change_listener_sees_edit_then_calc(self) -> None:
        addin = DevAddin()
        addin.workbook.subscribe(lambda change: 1 / 0)  # a failing listener changes nothing
        seen: list[tuple[str, str | None]] = []
        addin.workbook.subscribe(
            lambda change: seen.append((change.kind, change.rect and format_address(change.rect))))
        edits(addin, ("A1", 1), ("B1", "=A1+1"), ("A1", 2))
        assert seen == [("edit", "A1"), ("edit", "B1"), ("calc", "B1"), ("edit", "A1"),
                        ("calc", "B1")]


class TestWorkbookFile:
    def test_round_trip_keeps_formulas_formats_and_bindings(self, tmp_path: Any) -> None:
        book = Workbook()
        book.add_sheet("My Data")
        sheet = book.sheet("My Data")
        book.write(sheet, Rect(0, 0, 1, 1), [["=B2*2", "text"], [True, 2.5]])
        book.set_format(sheet, Rect(1, 1, 1, 1), number_format="0.00%", bold=True, fill="#FF0")
        book.activate(sheet)
        book.event_bindings = [{"sheet": "My Data", "event": "onChanged", "module": "h",
                                "function": "f"}]
        book.save(tmp_path / "book.json")
        again = Workbook.load(tmp_path / "book.json")
        assert again.to_json() == book.to_json()
        assert again.active.name == "My Data"
        assert again.sheet("my data").cells[(0, 0)].parsed is not None

    @pytest.mark.parametrize(
        "data",
        [[], {"sheets": {}}, {"sheets": [{"cells": {}}]},
         {"sheets": [{"name": "A"}], "events": [{"sheet": "A"}]},
         {"sheets": [{"name": "A", "cells": {"A0": 1}}]},
         {"sheets": [{"name": "A", "cells": [1]}]},
         {"sheets": [{"name": "A", "cells": {"A1": [1]}}]},
         {"sheets": [{"name": "A"}], "activeSheet": "B"}],
        ids=["not-a-map", "sheets-not-a-list", "sheet-without-name", "binding-without-module",
             "bad-address", "cells-not-a-map", "list-in-a-cell", "unknown-active-sheet"],
    )
    def test_malformed_file_is_refused_with_a_reason(self, data: Any) -> None:
        with pytest.raises(WorkbookError):
            Workbook.from_json(data)

    @pytest.mark.parametrize(
        "fmt, value, text",
        [("General", 1234.5, "1234.5"), ("0", 2.5, "3"), ("0.00", 2.675, "2.68"),
         ("0.00", 2, "2.00"), ("0", -2.5, "-3"),
         ("#,##0", 1234567.8, "1,234,568"), ("#,##0.0", -1234.56, "-1,234.6"),
         ("0%", 0.125, "13%"), ("0.00%", 0.035, "3.50%"), ("@", 3.5, "3.5"),
         ("yyyy-mm-dd", 45000, "45000"), ("0.00", "text", "text"), ("0", True, "TRUE")],
    )
    def test_number_formats_in_text(self, fmt: str, value: Any, text: str) -> None:
        cell = Cell()
        cell.value, cell.number_format = value, fmt
        assert display_text(cell) == text

    def test_grid_shows_formats_and_errors(self) -> None:
        book = Workbook()
        sheet = book.active
        book.write(sheet, Rect(0, 0, 0, 2), [["Rate", 0.035, "=1/0"]])
        book.set_format(sheet, Rect(0, 1, 0, 1), number_format="0.00%")
        sheet.cells[(0, 2)].value = CellError("#DIV/0!")
        lines = render(sheet, width=8).splitlines()
        assert lines[0].split("|")[1:] == ["   A    ", "   B    ", "   C    "]
        assert lines[2] == "1 |Rate    |   3.50%|#DIV/0! "


def request(addin: DevAddin, method: str, caller: int, name: str = "", **more: Any) -> Any:
    return asyncio.run(addin.answer({"method": method, "name": name, "caller": caller,
                                     "requestId": "r", **more}))


def call(addin: DevAddin, function_id: int, *args: Any) -> Any:
    records = [{"arg_type": "PLACED", "value": w} for w in args]
    return request(addin, "CALL", function_id, "__call__", args=records)


def text(value: Any) -> dict[str, Any]:
    return {"type": "String", "value": value, "isSpec": False}


class TestProxyRequests:
    """The answers to the proxies' requests, read as the kernel reads them."""

    def test_walk_from_the_context_to_a_range(self) -> None:
        addin = DevAddin()
        workbook = request(addin, "GET", 0, "workbook")["result"]
        sheets = request(addin, "GET", workbook["value"], "worksheets")["result"]
        get_item = request(addin, "GET", sheets["value"], "getItem")["result"]
        assert get_item["type"] == "Function"
        sheet = call(addin, get_item["value"], text("sheet1"))["result"]
        get_range = request(addin, "GET", sheet["value"], "getRange")["result"]
        rng = call(addin, get_range["value"], text("B2:C2"))["result"]
        assert rng["type"] == "Range" and rng["isSpec"] is True
        assert request(addin, "GET", rng["value"], "address")["result"]["value"] == "Sheet1!B2:C2"
        row = {"type": "Array", "id": 99, "value": [{"type": "Int", "value": 1}, text("=B2+1")]}
        wire_rows = {"type": "Array", "id": 98, "value": [row]}
        assert request(addin, "SET", rng["value"], "values", value=wire_rows)["ok"] is True
        read = request(addin, "GET", rng["value"], "formulas")["result"]
        assert read["type"] == "Array" and isinstance(read["id"], int)
        assert [c["value"] for c in read["value"][0]["value"]] == [1, "=B2+1"]

    @pytest.mark.parametrize(
        "payload, message",
        [
            ({"method": "GET", "name": "nosuch", "caller": 0},
             "RequestContext.nosuch is not modelled by the development add-in"),
            ({"method": "GET", "name": "workbook", "caller": 12345},
             "Object id 12345 is unknown or was released"),
            ({"method": "GET", "name": "workbook", "caller": "0"},
             "Object id '0' is not an integer"),
            ({"method": "CALL", "name": "__call__", "caller": 0, "args": []},
             "Object 0 is not a function"),
            ({"method": "CALL", "name": "__call__", "caller": 3, "args": []},
             "Union is not modelled by the development add-in"),
            ({"method": "SET", "name": "workbook", "caller": 0, "value": text("x")},
             "RequestContext.workbook cannot be assigned"),
            ({"method": "PATCH", "name": "x", "caller": 0}, "Unknown request method 'PATCH'"),
            ({"method": "GETITEM", "name": "0", "caller": 1},
             "Excel does not support item access ([0])"),
        ],
        ids=["unknown-member", "unknown-id", "id-not-int", "call-non-function",
             "unmodelled-root", "read-only", "bad-method", "no-items"],
    )
    def test_refused_requests_say_why(self, payload: dict[str, Any], message: str) -> None:
        answer = asyncio.run(DevAddin().answer({"requestId": "r", **payload}))
        assert answer == {"requestId": "r", "ok": False, "error": {"message": message}}

    def test_intersect_of_two_ranges(self) -> None:
        addin = DevAddin()
        ws = addin.table.add(WorksheetObject(addin, addin.workbook.active))
        get_range = request(addin, "GET", ws, "getRange")["result"]["value"]
        first, second, apart = (call(addin, get_range, text(a))["result"]
                                for a in ("A1:C3", "B2:D9", "E1"))
        common = call(addin, 4, first, second)["result"]
        assert request(addin, "GET", common["value"], "address")["result"]["value"] == (
            "Sheet1!B2:C3")
        assert call(addin, 4, first, apart)["result"]["type"] == "Null"

    def test_arrays_handed_out_answer_length_only(self) -> None:
        addin = DevAddin()
        sheets = request(addin, "GET", 0, "workbook")["result"]["value"]
        sheets = request(addin, "GET", sheets, "worksheets")["result"]["value"]
        items = request(addin, "GET", sheets, "items")["result"]
        assert [w["type"] for w in items["value"]] == ["Worksheet"]
        assert request(addin, "GET", items["id"], "length")["result"]["value"] == 1
        refused = request(addin, "SET", items["id"], "length", value=text("x"))
        assert refused["error"]["message"] == "SET length is not modelled on arrays and maps"

    def test_released_ids_are_refused_but_roots_stay(self) -> None:
        addin = DevAddin()
        workbook = request(addin, "GET", 0, "workbook")["result"]["value"]
        assert request(addin, "DEL", workbook, "__del__")["ok"] is True
        again = request(addin, "GET", workbook, "name")
        assert again["error"]["message"] == f"Object id {workbook} is unknown or was released"
        assert request(addin, "DEL", workbook, "__del__")["ok"] is False
        assert request(addin, "DEL", 0, "__del__")["ok"] is True
        assert request(addin, "GET", 0, "workbook")["ok"] is True
        assert len(addin.table) == 5 + 1

    def test_shape_mismatch_and_huge_ranges_are_refused(self) -> None:
        addin = DevAddin()
        ws = addin.table.add(WorksheetObject(addin, addin.workbook.active))
        get_range = request(addin, "GET", ws, "getRange")["result"]["value"]
        rng = call(addin, get_range, text("A1:B2"))["result"]["value"]
        one_row = {"type": "Array", "id": 7, "value": [{"type": "Array", "id": 8, "value": []}]}
        flat = {"type": "Array", "id": 9, "value": [{"type": "Int", "value": 1}] * 2}
        for wrong in (one_row, flat):
            refused = request(addin, "SET", rng, "values", value=wrong)
            assert "doesn't match the size or dimensions" in refused["error"]["message"]
        nested = {"type": "Array", "id": 10, "value": [
            {"type": "Array", "id": 11, "value": [{"type": "Int", "value": 1}, one_row]}] * 2}
        refused = request(addin, "SET", rng, "values", value=nested)
        assert refused["error"]["message"] == "A cell holds a number, a text or a boolean"
        function = {"type": "Python_Function", "value": "pyfunc_1", "isSpec": True}
        refused = request(addin, "SET", rng, "values", value=function)
        assert refused["error"]["message"] == "A cell holds a number, a text or a boolean"
        assert addin.workbook.active.cells == {}  # nothing of a refused write is kept
        column = call(addin, get_range, text("A:A"))["result"]["value"]
        assert "reads at most" in request(addin, "GET", column, "values")["error"]["message"]
        assert request(addin, "GET", column, "address")["result"]["value"] == "Sheet1!A:A"
