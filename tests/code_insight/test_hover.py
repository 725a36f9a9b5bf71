"""Hover text in both modes, the help() fallback, signature help and the signature formatter."""

from __future__ import annotations

import logging

import pytest

FENCE = "```python\n{}\n```"
RULE = "\n\n---\n\n"
ADD = 'def add(a: int, b: int) -> int:\n    """Add two numbers."""\n    return a + b\nadd(1, 2)'


class TestHover:
    def test_compact_function_is_one_fenced_line(self, insight):
        response = insight.get_hover(ADD, 4, 1)
        assert response == {
            "contents": {"kind": "markdown",
                         "value": FENCE.format("(function) add(a: int, b: int) -> int")},
            "error": None,
        }

    def test_detailed_function_has_full_name_and_docstring(self, insight):
        insight.set_hover_mode("detailed")
        value = insight.get_hover(ADD, 4, 1)["contents"]["value"]
        declaration, docstring = value.split(RULE)
        assert declaration.startswith("```python\n")
        assert declaration.endswith(".add(a: int, b: int) -> int\n```")
        assert "Add two numbers." in docstring

    def test_compact_instance_shows_kind_name_and_description(self, insight):
        value = insight.get_hover("count = 1\ncount", 2, 0)["contents"]["value"]
        assert value.startswith("```python\n(instance) int: ")
        assert RULE not in value

    @pytest.mark.parametrize(
        ("code", "line", "column", "label"),
        [("class Box:\n    pass\nBox", 3, 0, "(class) Box"),
         ("import os\nos", 2, 0, "(module) os")],
        ids=["class", "module"],
    )
    def test_compact_class_and_module(self, insight, code, line, column, label):
        assert insight.get_hover(code, line, column)["contents"]["value"] == FENCE.format(label)

    @pytest.mark.parametrize(
        ("mode", "declaration"),
        [("compact", "```python\n(function) größe(maß: str) -> None\n```"),
         ("detailed", "größe(maß: str) -> None\n```")],
        ids=["compact", "detailed"],
    )
    def test_names_beyond_ascii_are_shown_whole(self, insight, mode, declaration):
        insight.set_hover_mode(mode)
        code = "def größe(maß: str) -> None:\n    pass\ngröße"
        value = insight.get_hover(code, 3, 1)["contents"]["value"]
        assert value.split(RULE)[0].endswith(declaration)

    def test_whitespace_has_nothing_after_trying_help(self, insight, logged):
        assert insight.get_hover("x = 1\n\n   \n", 3, 1) == {"contents": None, "error": None}
        debug = logged(logging.DEBUG)
        assert "[LSP] infer() returned empty, trying help() as fallback" in debug
        assert "[LSP] No type information found for hover" in debug

    def test_keyword_comes_from_help(self, insight, logged):
        value = insight.get_hover("for item in []:\n    pass", 1, 1)["contents"]["value"]
        assert value.startswith(FENCE.format("(keyword for) for"))
        assert "[LSP] Hover (from help()): found 1 results" in logged(logging.DEBUG)

    def test_mode_switch_changes_only_later_requests(self, insight):
        compact = insight.get_hover(ADD, 4, 1)
        insight.set_hover_mode("detailed")
        detailed = insight.get_hover(ADD, 4, 1)
        insight.set_hover_mode("compact")
        assert insight.get_hover(ADD, 4, 1) == compact != detailed

    def test_hover_on_a_synced_module(self, insight):
        response = insight.get_hover("import helpers\nhelpers.add", 2, 9,
                                     modules={"helpers": ADD.rsplit("\n", 1)[0]})
        assert response["contents"]["value"] == FENCE.format(
            "(function) add(a: int, b: int) -> int")

    @pytest.mark.parametrize(
        ("code", "line", "column", "error"),
        [(None, 1, 0, "code must be a string"),
         ("x", 0, 0, "line must be a positive integer (1-based)"),
         ("x", 1, -3, "column must be a non-negative integer (0-based)")],
        ids=["code", "line", "column"],
    )
    def test_invalid_arguments(self, insight, logged, code, line, column, error):
        assert insight.get_hover(code, line, column) == {"contents": None, "error": error}
        assert logged(logging.ERROR) == [f"[LSP] Error in get_hover: {error}"]

    def test_position_past_the_end_is_an_error_response(self, insight):
        response = insight.get_hover("x = 1", 9, 0)
        assert response["contents"] is None and response["error"]


class TestSignatureHelp:
    CODE = 'def f(a, b: int = 2):\n    """Two arguments."""\n\nf(1, '

    def test_second_argument_is_active(self, insight):
        response = insight.get_signature_help(self.CODE, 4, 5)
        assert list(response) == ["signatures", "activeSignature", "activeParameter", "error"]
        (signature,) = response["signatures"]
        assert list(signature) == ["label", "documentation", "parameters"]
        assert signature["label"] == "f(a, b: int=2)"
        assert signature["documentation"] == "Two arguments."
        assert [p["label"] for p in signature["parameters"]] == ["a", "b"]
        assert (response["activeSignature"], response["activeParameter"]) == (0, 1)

    def test_builtin_with_overloads_gives_one_signature(self, insight):
        response = insight.get_signature_help("int(", 1, 4)
        assert len(response["signatures"]) == 1
        assert response["signatures"][0]["label"].startswith("int(")

    def test_outside_a_call_is_empty(self, insight, logged):
        assert insight.get_signature_help("x = 1", 1, 5) == {
            "signatures": [], "activeSignature": 0, "activeParameter": 0, "error": None}
        assert "[LSP] No signatures found" in logged(logging.DEBUG)

    def test_invalid_line_is_an_error_response(self, insight):
        assert insight.get_signature_help("f(", "2", 0) == {
            "signatures": [], "activeSignature": 0, "activeParameter": 0,
            "error": "line must be a positive integer (1-based)"}


class _Param:
    def __init__(self, text: str) -> None:
        self._text = text

    def to_string(self) -> str:
        return self._text


class _Signature:
    """Stands in for a jedi signature in the formatter's fallback paths."""

    def __init__(self, text=None, params=None) -> None:
        self._text = text
        if params is not None:
            self.params = params

    def to_string(self) -> str:
        if self._text is None:
            raise AttributeError("no text")
        return self._text


class TestFormatSignature:
    @pytest.mark.parametrize(
        ("signature", "expected"),
        [
            (_Signature("f(a, b=1) -> int"), "(a, b=1) -> int"),
            (_Signature("no_parenthesis"), "no_parenthesis"),
            (_Signature(None, [_Param("a"), _Param("b=2")]), "(a, b=2)"),
            (_Signature(None), ""),
            (_Signature(None, [_Param("a"), 5]), ""),
        ],
        ids=["from-first-parenthesis", "whole-text", "params-fallback", "no-params",
             "bad-param"],
    )
    def test_format(self, insight, signature, expected):
        assert insight._format_signature(signature) == expected

    def test_other_errors_propagate(self, insight):
        class Broken:
            def to_string(self):
                raise KeyError("boom")

        with pytest.raises(KeyError):
            insight._format_signature(Broken())

    def test_compact_hover_of_a_broken_definition_is_none(self, insight, logged):
        class Broken:
            name = "thing"

            @property
            def type(self):
                raise RuntimeError("no type")

        assert insight._format_compact_hover(Broken()) is None
        assert "[LSP] Error formatting compact hover: no type" in logged(logging.DEBUG)

    def test_type_description_falls_back(self, insight):
        class Plain:
            description = ""

        assert insight._get_type_description(Plain(), "statement") == "statement"
        assert insight._get_type_description(object(), "param") == "param"
