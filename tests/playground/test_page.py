"""The playground page in headless Chromium: editor, console, grid and packages panel."""

from __future__ import annotations

import os
import re
from pathlib import Path
from typing import Any

import pytest

from support.timing import units

sync_api = pytest.importorskip("playwright.sync_api", reason="playwright is not installed")
expect = sync_api.expect
expect.set_options(timeout=units() * 1000)

SCREENSHOT = Path(__file__).resolve().parents[2] / "docs" / "playground.png"


def cell(page: Any, address: str) -> Any:
    """The grid's cell at an A1 address of the shown sheet."""
    match = re.fullmatch(r"([A-Z])(\d+)", address)
    assert match, address
    column = ord(match[1]) - ord("A")
    return page.locator(f"#grid tbody tr:nth-child({match[2]}) td:nth-child({column + 2})")


def type_into_cell(page: Any, address: str, text: str) -> None:
    cell(page, address).click()
    page.locator("#cell-input").fill(text)
    page.locator("#cell-input").press("Enter")


def new_module(page: Any, name: str) -> Any:
    """Create a module with the "+" button; the editor, focused on it."""
    page.once("dialog", lambda dialog: dialog.accept(name))
    page.locator("#new-module").click()
    expect(page.locator("#module-tabs button.active")).to_have_text(name)
    return page.locator("#code")


def run(page: Any, code: str) -> None:
    page.locator("#console-code").fill(code)
    page.locator("#console-code").press("Enter")


class TestEditor:
    def test_typing_a_module_member_lists_completions_and_enter_inserts_one(self, page):
        editor = new_module(page, "typing_check")
        editor.fill("import pricing\n")
        editor.press("Control+End")
        editor.press_sequentially("pricing.to")
        expect(page.locator("#completions")).to_be_visible()
        expect(page.locator("#completions li .label")).to_have_text(["total"])
        editor.press("Enter")
        expect(editor).to_have_value("import pricing\npricing.total")
        expect(page.locator("#completions")).to_be_hidden()

    def test_completions_see_the_unsaved_text_of_another_module(self, page):
        new_module(page, "draft_source").fill("draft_name = 1\n")
        editor = new_module(page, "draft_user")
        editor.fill("import draft_source\n")
        editor.press("Control+End")
        editor.press_sequentially("draft_source.dr")
        expect(page.locator("#completions li .label")).to_have_text(["draft_name"])

    def test_ctrl_space_lists_every_member_with_its_signature(self, page):
        editor = new_module(page, "ctrl_space")
        editor.fill("import pricing\npricing.")
        editor.press("Control+End")
        editor.press("Control+Space")
        labels = page.locator("#completions li .label")
        expect(labels).to_contain_text(["ticks", "total"])
        expect(page.locator("#completions li", has_text="total")).to_contain_text(
            "(quantity, price)")

    def test_signature_help_follows_the_active_parameter(self, page):
        editor = new_module(page, "signature")
        editor.fill("import pricing\n")
        editor.press("Control+End")
        editor.press_sequentially("pricing.total(")
        expect(page.locator("#signature .active-parameter")).to_have_text("quantity")
        editor.press_sequentially("3,")
        expect(page.locator("#signature .active-parameter")).to_have_text("price")
        editor.press_sequentially(" 2,)")  # the answer for "," must not reopen the closed box
        page.wait_for_function("connection.waiting.size === 0")  # every reply is in
        expect(page.locator("#signature")).to_be_hidden()

    def test_hovering_a_name_shows_its_signature(self, page):
        editor = new_module(page, "hovering")
        editor.fill("import pricing\npricing.total(1, 2)\n")
        box = page.locator("#editor").bounding_box()
        point = page.evaluate("pointAt(2, 10)")
        page.mouse.move(box["x"] + point["x"] + 2, box["y"] + point["y"] + 8)
        expect(page.locator("#hover")).to_contain_text("total(quantity, price)")

    def test_saving_a_module_with_an_error_shows_the_diagnostic_and_updates_the_kernel(
            self, page):
        editor = new_module(page, "broken")
        editor.fill("import os\n\ndef f(:\n    return 1\n")
        page.locator("#save-module").click()
        problem = page.locator("#problems li.error")
        expect(problem).to_have_count(1)
        expect(problem).to_contain_text("broken:3:")
        expect(page.locator("#gutter div").nth(2)).to_have_class("error")
        expect(page.locator("#mirror .diag-error")).to_have_count(1)
        expect(page.locator("#module-tabs button.unsaved")).to_have_count(0)
        run(page, "import broken")
        expect(page.locator("#console-output .error")).to_contain_text("SyntaxError")

    def test_fixing_the_error_clears_the_diagnostic(self, page):
        editor = new_module(page, "mended")
        editor.fill("x = (\n")
        editor.press("Control+s")
        expect(page.locator("#problems li.error")).to_have_count(1)
        editor.fill("x = (1)\n")
        editor.press("Control+s")
        expect(page.locator("#problems li")).to_have_count(0)


class TestConsole:
    def test_output_streams_while_the_code_runs(self, page):
        run(page, "import threading; gate = threading.Event()")
        run(page, "print('waiting'); gate.wait(60); print('released')")
        printed = page.locator("#console-output .stdout")
        expect(printed).to_have_text(["waiting\n"])
        run(page, "gate.set()")
        expect(printed).to_have_text(["waiting\n", "released\n"])

    def test_a_value_is_shown_after_the_printed_output(self, page):
        run(page, "print('six times seven'); 6 * 7")
        expect(page.locator("#console-output .stdout")).to_have_text(["six times seven\n"])
        expect(page.locator("#console-output .result")).to_have_text(["Out: 42\n"])

    def test_a_traceback_links_to_the_module_line(self, page):
        run(page, "import failing; failing.ratio(1, 0)")
        link = page.locator("#console-output a", has_text="<virtual:failing>")
        expect(link).to_contain_text("line 2")
        expect(page.locator("#console-output .error")).to_contain_text("ZeroDivisionError")
        link.click()
        expect(page.locator("#module-tabs button.active")).to_have_text("failing")
        assert page.evaluate("caret().line") == 2


class TestGrid:
    def test_editing_an_input_cell_recomputes_the_custom_function_cell(self, page):
        expect(cell(page, "B3")).to_have_text("7.5")
        cell(page, "B3").click()
        expect(page.locator("#cell-input")).to_have_value("=pricing.total(B1, B2)")
        type_into_cell(page, "B1", "4")
        expect(cell(page, "B1")).to_have_text("4")
        expect(cell(page, "B3")).to_have_text("10")

    def test_typing_on_a_selected_cell_edits_it_and_enter_moves_down(self, page):
        cell(page, "E1").click()
        page.keyboard.type("12")
        page.keyboard.press("Enter")
        expect(cell(page, "E1")).to_have_text("12")
        expect(cell(page, "E2")).to_have_class("selected")
        page.keyboard.type("=E1*2")
        page.keyboard.press("Enter")
        expect(cell(page, "E2")).to_have_text("24")

    def test_what_a_cell_function_prints_appears_in_the_console(self, page):
        new_module(page, "noisy").fill("def shout(x):\n    print('computing', x)\n    return x\n")
        page.locator("#save-module").click()
        expect(page.locator("#module-tabs button.unsaved")).to_have_count(0)
        type_into_cell(page, "F1", "=noisy.shout(7)")
        expect(cell(page, "F1")).to_have_text("7")
        expect(page.locator("#console-output .workbook")).to_contain_text(["computing 7"])

    def test_an_edit_runs_the_sheet_s_change_handler(self, page):
        type_into_cell(page, "A6", "note")
        expect(page.locator("#console-output .workbook")).to_contain_text(
            ["changed Orders!A6"])

    def test_a_failing_function_shows_an_error_value_with_its_text(self, page):
        type_into_cell(page, "C1", "=failing.ratio(B1, 0)")
        expect(cell(page, "C1")).to_have_text("#VALUE!")
        expect(cell(page, "C1")).to_have_attribute("title", re.compile("division by zero"))

    def test_cells_written_by_user_code_appear_without_a_reload(self, page):
        run(page, "import zentrel\n"
                  "sheet = zentrel.context.workbook.worksheets.getItem('Orders')\n"
                  "sheet.getRange('D1:D2').values = [['from code'], [42]]")
        expect(cell(page, "D1")).to_have_text("from code")
        expect(cell(page, "D2")).to_have_text("42")

    def test_a_sheet_added_by_user_code_gets_a_tab(self, page):
        run(page, "import zentrel\n"
                  "zentrel.context.workbook.worksheets.add('Added').getRange('A1').values = 'new'")
        page.locator("#sheet-tabs button", has_text="Added").click()
        expect(cell(page, "A1")).to_have_text("new")
        page.locator("#sheet-tabs button", has_text="Orders").click()
        expect(cell(page, "A1")).to_have_text("Quantity")

    def test_a_streaming_cell_updates_and_stops_when_replaced(self, page, playground):
        page.locator("#sheet-tabs button", has_text="Live").click()
        expect(page.locator("#sheet-tabs button.active")).to_have_text("Live")
        type_into_cell(page, "B2", "=STREAM(pricing.ticks(B1))")
        page.wait_for_function(
            "() => Number(document.querySelector('#grid tbody tr:nth-child(2) td:nth-child(3)')"
            ".textContent) >= 103")
        page.wait_for_function(
            "() => Number(document.querySelector('#grid tbody tr:nth-child(3) td:nth-child(3)')"
            ".textContent) >= 206")
        type_into_cell(page, "B2", "5")
        expect(cell(page, "B3")).to_have_text("10")
        streams = playground.call(_active_streams(playground))
        assert streams == {}
        expect(cell(page, "B2")).to_have_text("5")


async def _active_streams(playground: Any) -> dict[str, str]:
    return playground.playground.addin.active_streams()


class TestPackages:
    @pytest.mark.parametrize(
        ("requirements", "shown"),
        [
            ("requests[socks]==2.31.0\nbotocore==1.34.0",
             ["requests[socks]==2.31.0", "urllib3==2.2.1", "Conflicts (1)",
              "urllib3: 1.26.18 requested by botocore, keeping 2.2.1", "Errors (0)"]),
            ("requests==2.31.0\nnot a requirement!",
             ["Install order (0)", "Errors (1)", "invalid requirement 'not a requirement!'"]),
        ],
        ids=["install-order-and-conflict", "invalid-requirement"],
    )
    def test_resolution_shows_order_conflicts_and_errors(self, page, requirements, shown):
        page.locator("#bottom-pane .tab", has_text="Packages").click()
        page.locator("#requirements").fill(requirements)
        page.locator("#resolve").click()
        for text in shown:
            expect(page.locator("#resolution")).to_contain_text(text)


def test_screenshot_of_the_page(page, tmp_path):
    """The README's picture (ZM_UPDATE_SCREENSHOT=1 writes it): a formula cell, a console run,
    a diagnostic and an open completion list."""
    page.locator("#sheet-tabs button", has_text="Orders").click()
    cell(page, "B3").click()
    run(page, "import pricing\nfor n in range(1, 4):\n    print(n, pricing.total(n, 2.5))")
    run(page, "pricing.total(3, 2.5)")
    page.locator("#module-tabs button", has_text="pricing").click()
    editor = page.locator("#code")
    editor.press("Control+End")
    editor.press_sequentially("\nunused = undefined_name\n")
    expect(page.locator("#problems li")).to_have_count(1)
    editor.press_sequentially("total(")
    expect(page.locator("#signature")).to_be_visible()
    editor.press_sequentially("3, 2.5)\nti")
    expect(page.locator("#completions")).to_be_visible()
    expect(page.locator("#console-output .result").last).to_have_text("Out: 7.5\n")
    path = SCREENSHOT if os.environ.get("ZM_UPDATE_SCREENSHOT") else tmp_path / "playground.png"
    path.parent.mkdir(parents=True, exist_ok=True)
    page.screenshot(path=str(path))
    assert path.read_bytes().startswith(b"\x89PNG")
