"""Completion details of library names remembered between requests: identical to fresh ones,
computed afresh when a file of the library changes, never remembered for the workbook's own
modules."""

from __future__ import annotations

from pathlib import Path
from typing import Any

import pytest

from zentrel_master.python_server import code_insight

LIB = "import cachedlib\ncachedlib."


def details(response: dict[str, Any]) -> dict[str, tuple[Any, Any]]:
    assert response["error"] is None, response["error"]
    return {c["label"]: (c.get("detail"), c.get("documentation")) for c in response["completions"]}


def served_from_memory(first: dict[str, Any], second: dict[str, Any]) -> bool:
    """Whether the second answer reuses the first one's documentation texts (not recomputed)."""
    pairs = [(a.get("documentation"), b.get("documentation"))
             for a, b in zip(first["completions"], second["completions"], strict=True)]
    return any(a is not None for a, _ in pairs) and all(a is b for a, b in pairs)


def write(path: Path, text: str) -> None:
    path.write_text(text, encoding="utf-8")


@pytest.fixture
def library(tmp_path: Path, insight: code_insight.CodeInsight) -> Path:
    """A package on the engine's search path; its names come from two files."""
    package = tmp_path / "cachedlib"
    package.mkdir()
    write(package / "__init__.py",
          "from .impl import helper\n\ndef top(a, b=1):\n    '''Top one.'''\n")
    write(package / "impl.py", "def helper(x):\n    '''Helper one.'''\n")
    insight.update_sys_paths([str(tmp_path)])
    return package


class TestRemembered:
    @pytest.mark.parametrize("code, line, column", [
        (LIB, 2, 10), ("import cachedlib\ncachedlib.hel", 2, 13), ("import json\njson.", 2, 5),
    ], ids=["module-names", "typed-prefix", "stdlib-stub"])
    def test_same_answer_as_a_fresh_engine(self, insight: code_insight.CodeInsight,
                                           library: Path, code: str, line: int,
                                           column: int) -> None:
        first = insight.get_completions(code, line, column)
        second = insight.get_completions(code, line, column)
        assert served_from_memory(first, second)
        fresh = code_insight.CodeInsight()
        try:
            fresh.update_sys_paths([str(library.parent)])
            assert second == fresh.get_completions(code, line, column)
        finally:
            fresh.cleanup()

    @pytest.mark.parametrize("changed, text, name, expected", [
        ("impl.py", "def helper(x, y):\n    '''Helper two.'''\n", "helper",
         ("(x, y)", "helper(x, y)\n\nHelper two.")),
        ("__init__.py", "from .impl import helper\n\ndef top(a):\n    '''Top two.'''\n", "top",
         ("(a)", "top(a)\n\nTop two.")),
    ], ids=["defining-module", "package-module"])
    def test_a_changed_library_file_is_not_served_stale(
        self, insight: code_insight.CodeInsight, library: Path, changed: str, text: str,
        name: str, expected: tuple[str, str]
    ) -> None:
        before = details(insight.get_completions(LIB, 2, 10))
        assert before["helper"] == ("(x)", "helper(x)\n\nHelper one.")
        write(library / changed, text)
        assert details(insight.get_completions(LIB, 2, 10))[name] == expected


def test_workbook_modules_are_computed_each_time(insight: code_insight.CodeInsight) -> None:
    modules = {"tools": "def scale(v):\n    '''Scale v.'''\n"}
    code = "import tools\ntools."
    first = insight.get_completions(code, 2, 6, modules=modules)
    second = insight.get_completions(code, 2, 6, modules=modules)
    assert details(first)["scale"] == ("(v)", "scale(v)\n\nScale v.")
    assert first == second and not served_from_memory(first, second)
