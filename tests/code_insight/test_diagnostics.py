"""Diagnostics: syntax errors, pyflakes findings, unresolved imports and their ordering."""

from __future__ import annotations

import logging

import pytest

from zentrel_master.python_server import code_insight

ERROR, WARNING = 8, 4


def ranges(response: dict) -> list[tuple]:
    return [(d["startLineNumber"], d["startColumn"], d["endLineNumber"], d["endColumn"],
             d["severity"]) for d in response["diagnostics"]]


class TestSyntax:
    def test_syntax_error_is_the_only_record(self, insight):
        response = insight.get_diagnostics("import nosuchmodule_zz\nx = (", "Sheet1")
        assert response["error"] is None
        (record,) = response["diagnostics"]
        assert list(record) == ["startLineNumber", "startColumn", "endLineNumber", "endColumn",
                                "message", "severity"]
        assert record["message"] == "'(' was never closed"
        assert (record["startLineNumber"], record["endLineNumber"]) == (2, 2)
        assert record["endColumn"] == record["startColumn"] + 1
        assert record["severity"] == ERROR

    def test_null_bytes_are_a_syntax_error(self, insight):
        (record,) = insight.get_diagnostics("x = 1\0\n")["diagnostics"]
        assert record["severity"] == ERROR
        assert "null bytes" in record["message"]


class TestFindings:
    def test_unused_import_spans_the_name(self, insight):
        response = insight.get_diagnostics("import os\n")
        assert [d["message"] for d in response["diagnostics"]] == ["'os' imported but unused"]
        assert ranges(response) == [(1, 1, 1, 3, WARNING)]

    def test_missing_module_error_comes_before_the_warning(self, insight):
        response = insight.get_diagnostics("import os\nimport nosuchmodule_zz\nos.sep\n")
        assert [d["message"] for d in response["diagnostics"]] == [
            "import 'nosuchmodule_zz' could not be resolved",
            "'nosuchmodule_zz' imported but unused",
        ]
        assert ranges(response) == [(2, 1, 2, 23, ERROR), (2, 1, 2, 16, WARNING)]

    def test_two_missing_modules_in_one_statement_share_the_range(self, insight):
        records = insight._check_unresolved_imports("import nomod_a_zz, nomod_b_zz")
        assert [r["message"] for r in records] == [
            "import 'nomod_a_zz' could not be resolved",
            "import 'nomod_b_zz' could not be resolved"]
        assert records[0]["startColumn"] == records[1]["startColumn"] == 1
        assert records[0]["endColumn"] == records[1]["endColumn"] == 30

    def test_synced_workbook_module_resolves(self, insight):
        insight.sync_modules({"sheet_helpers_zz": "VALUE = 1\n"})
        response = insight.get_diagnostics("from sheet_helpers_zz import VALUE\nprint(VALUE)\n")
        assert response == {"diagnostics": [], "error": None}

    @pytest.mark.parametrize("code", ["from . import x\n", "from .. import y\n"],
                             ids=["dot", "dotdot"])
    def test_relative_import_without_module_is_never_flagged(self, insight, code):
        assert insight._check_unresolved_imports(code) == []

    def test_undefined_name_is_an_error_from_pyflakes(self, insight):
        messages = [d["message"] for d in insight.get_diagnostics("print(nothing_here)\n")[
            "diagnostics"]]
        assert messages == ["undefined name 'nothing_here'"]

    def test_without_pyflakes_the_import_check_still_runs(self, insight, monkeypatch):
        monkeypatch.setattr(code_insight, "PYFLAKES_AVAILABLE", False)
        response = insight.get_diagnostics("import os\nimport nosuchmodule_zz\n")
        assert [d["message"] for d in response["diagnostics"]] == [
            "import 'nosuchmodule_zz' could not be resolved"]

    def test_clean_code_has_no_records(self, insight):
        assert insight.get_diagnostics("import os\nprint(os.sep)\n", "Sheet1") == {
            "diagnostics": [], "error": None}


class TestPyflakesLines:
    @pytest.mark.parametrize(
        ("line", "severity", "expected"),
        [
            ("<Sheet1>:3:5: undefined name 'y'", ERROR,
             (3, 5, 3, 6, "undefined name 'y'", ERROR)),
            ("<Sheet1>:1:1: 'numpy' imported but unused", WARNING,
             (1, 1, 1, 6, "'numpy' imported but unused", WARNING)),
            ("<editor>:7: invalid syntax", ERROR, (7, 1, 7, 2, "invalid syntax", ERROR)),
        ],
        ids=["plain", "quoted-name", "no-column"],
    )
    def test_report_line_becomes_a_record(self, insight, line, severity, expected):
        record = insight._parse_pyflakes_message(line, severity)
        assert tuple(record.values()) == expected

    @pytest.mark.parametrize("line", ["", "    x = (", "        ^"],
                             ids=["blank", "source-echo", "caret"])
    def test_other_lines_are_dropped(self, insight, line):
        assert insight._parse_pyflakes_message(line, ERROR) is None

    def test_report_uses_the_module_name_as_file_name(self, insight):
        records = insight._run_pyflakes("import os\n", "<Sheet1>")
        assert [r["message"] for r in records] == ["'os' imported but unused"]


class TestBadInput:
    @pytest.mark.parametrize("code", [None, 3, b"import os"], ids=["none", "int", "bytes"])
    def test_non_text_code(self, insight, logged, code):
        assert insight.get_diagnostics(code) == {"diagnostics": [],
                                                 "error": "code must be a string"}
        assert logged(logging.ERROR) == [
            "[LSP] Error in get_diagnostics: code must be a string"]

    def test_ten_megabytes_of_text(self, insight):
        response = insight.get_diagnostics("s = '" + "a" * 10_000_000 + "'\n", "big")
        assert response == {"diagnostics": [], "error": None}

    def test_deeply_nested_expression_is_answered(self, insight):
        response = insight.get_diagnostics("x = " + "(" * 5000 + "1" + ")" * 5000)
        assert list(response) == ["diagnostics", "error"]
        assert response["error"] is not None or response["diagnostics"]

    def test_unresolvable_import_names_are_not_files(self, insight):
        assert insight._can_resolve_import("../../etc/passwd") is False
