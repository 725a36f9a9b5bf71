"""Completions over the editor's text and the workbook's synced modules."""

from __future__ import annotations

import logging
import random

import pytest

HELPERS = 'def add(a: int, b=2) -> int:\n    """Add two numbers."""\n    return a + b\n'


def labels(response: dict) -> list[str]:
    return [item["label"] for item in response["completions"]]


class TestCompletionItems:
    def test_workbook_module_completes_across_modules(self, insight):
        response = insight.get_completions(
            "import helpers\nhelpers.", 2, 8, path="Sheet1", modules={"helpers": HELPERS})
        assert response["error"] is None
        (item,) = [i for i in response["completions"] if i["label"] == "add"]
        assert list(item) == ["label", "kind", "insertText", "detail", "documentation"]
        assert item["kind"] == 1
        assert item["insertText"] == "add"
        assert item["detail"] == "(a: int, b=2) -> int"
        assert "Add two numbers." in item["documentation"]

    def test_dirty_content_is_what_completes(self, insight):
        response = insight.get_completions(
            "import helpers\nhelpers.", 2, 8,
            modules={"helpers": "def saved():\n    pass\n"},
            dirty_files={"helpers": "def unsaved():\n    pass\n"})
        assert "unsaved" in labels(response)
        assert "saved" not in labels(response)

    def test_insert_text_is_the_whole_name(self, insight):
        response = insight.get_completions("import os\nos.getcw", 2, 8)
        item = next(i for i in response["completions"] if i["label"] == "getcwd")
        assert item["insertText"] == "getcwd"

    def test_empty_document_offers_keywords_and_builtins(self, insight):
        items = {i["label"]: i for i in insight.get_completions("", 1, 0)["completions"]}
        assert items["for"]["kind"] == 13
        assert items["print"]["kind"] == 1
        assert items["int"]["kind"] == 5

    def test_items_without_docstring_or_signature_leave_keys_out(self, insight):
        code = "class Empty:\n    pass\nvalue = Empty()\nval"
        items = insight.get_completions(code, 4, 3)["completions"]
        (item,) = [i for i in items if i["label"] == "value"]
        assert item["kind"] == 4
        assert "detail" not in item

    def test_kernel_keyword_call(self, insight):
        response = insight.get_completions(code="import helpers\nhelpers.a", line=2, column=9,
                                           path="Sheet1", modules={"helpers": HELPERS},
                                           dirty_files=None)
        assert labels(response) == ["add"]

    def test_response_keys_in_order(self, insight):
        assert list(insight.get_completions("x", 1, 1)) == ["completions", "error"]


class TestPrivateNames:
    CODE = "class A:\n    _hidden = 1\n    shown = 2\nA.{}"

    def test_plain_dot_hides_underscore_names(self, insight):
        names = labels(insight.get_completions(self.CODE.format(""), 4, 2))
        assert "shown" in names
        assert not [n for n in names if n.startswith("_")]

    def test_underscore_prefix_offers_them(self, insight):
        names = labels(insight.get_completions(self.CODE.format("_"), 4, 3))
        assert "_hidden" in names


class TestImportAlias:
    @pytest.mark.parametrize(
        "code",
        ["import numpy as n", "import numpy as ", "from os import path as p",
         "   import os.path as osp"],
        ids=["import-as", "import-as-space", "from-import-as", "indented-dotted"],
    )
    def test_alias_being_typed_gets_nothing(self, insight, code, logged):
        assert insight.get_completions(code, 1, len(code)) == {"completions": [], "error": None}
        assert "[LSP] In import alias context, returning empty completions" in logged(
            logging.DEBUG)

    def test_only_text_before_the_cursor_counts(self, insight):
        code = "import os as o\no.pat"
        assert "path" in labels(insight.get_completions(code, 2, 5))


class TestWordPrefix:
    @pytest.mark.parametrize(
        ("code", "line", "column", "prefix"),
        [
            ("x = abc_1", 1, 6, "ab"),
            ("x = abc_1", 1, 9, "abc_1"),
            ("1abc", 1, 4, "abc"),
            ("obj.attr", 1, 8, "attr"),
            ("obj.", 1, 4, ""),
            ("a = 1\nfoo", 2, 3, "foo"),
            ("é_x", 1, 3, "_x"),
            ("foo", 2, 0, ""),
            ("foo", 0, 3, ""),
        ],
        ids=["mid-identifier", "whole", "leading-digits", "attribute", "after-dot",
             "second-line", "non-ascii", "line-past-end", "line-zero"],
    )
    def test_prefix(self, insight, code, line, column, prefix):
        assert insight._get_word_prefix(code, line, column) == prefix


class TestBadInput:
    @pytest.mark.parametrize(
        ("code", "line", "column", "error"),
        [
            (5, 1, 0, "code must be a string"),
            (b"import os", 1, 0, "code must be a string"),
            (None, 1, 0, "code must be a string"),
            ("x", 0, 0, "line must be a positive integer (1-based)"),
            ("x", "1", 0, "line must be a positive integer (1-based)"),
            ("x", 1.0, 0, "line must be a positive integer (1-based)"),
            ("x", None, 0, "line must be a positive integer (1-based)"),
            ("x", -(10**30), 0, "line must be a positive integer (1-based)"),
            ("x", 1, -1, "column must be a non-negative integer (0-based)"),
            ("x", 1, "0", "column must be a non-negative integer (0-based)"),
        ],
        ids=["int-code", "bytes-code", "none-code", "line-zero", "line-text", "line-float",
             "line-none", "line-huge-negative", "column-negative", "column-text"],
    )
    def test_invalid_arguments_give_the_error_response(self, insight, logged, code, line,
                                                       column, error):
        assert insight.get_completions(code, line, column) == {"completions": [],
                                                               "error": error}
        assert logged(logging.ERROR) == [f"[LSP] Error in get_completions: {error}"]

    @pytest.mark.parametrize(("line", "column"), [(5, 0), (10**30, 0), (1, 50), (1, 10**30)],
                             ids=["line-past-end", "line-huge", "column-past-end",
                                  "column-huge"])
    def test_position_out_of_range_is_an_error_response(self, insight, line, column):
        response = insight.get_completions("x = 1", line, column)
        assert response["completions"] == []
        assert isinstance(response["error"], str) and response["error"]

    def test_non_text_path_is_an_error_response(self, insight):
        response = insight.get_completions("x", 1, 1, path=5)
        assert response == {"completions": [], "error": "path must be a string or None"}

    def test_module_map_with_non_text_values_still_completes(self, insight, logged):
        response = insight.get_completions(
            "import helpers\nhelpers.", 2, 8,
            modules={"helpers": HELPERS, "broken": 42, 7: "x = 1", "../up": "y = 2"})
        assert "add" in labels(response)
        assert len(logged(logging.WARNING)) == 3

    def test_ten_megabytes_of_text(self, insight):
        code = "value_" + "a" * 10_000_000
        response = insight.get_completions(code, 1, 8, modules={"huge": code})
        assert list(response) == ["completions", "error"]
        assert response["error"] is None

    def test_binary_garbage(self, insight):
        rng = random.Random(5)
        garbage = bytes(rng.randrange(256) for _ in range(5_000)).decode("latin-1")
        for line, column in [(1, 0), (1, 3), (2, 1)]:
            response = insight.get_completions(garbage, line, column)
            assert list(response) == ["completions", "error"]
            assert isinstance(response["completions"], list)

    def test_lone_surrogates_in_code(self, insight):
        response = insight.get_completions("x = '\ud800'\nx.", 2, 2)
        assert list(response) == ["completions", "error"]
