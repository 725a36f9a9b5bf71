"""Generated editor requests: CodeInsight answers each in its own shape and never raises for a
value the kernel can hand it."""

from __future__ import annotations

from collections.abc import Iterator
from typing import Any

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from zentrel_master.python_server import code_insight

text = st.text(st.characters(codec=None, categories=None), max_size=60)
source = text | st.sampled_from(["import os\nos.", "def f(a, b):\n    pass\nf(", "x = (", "\ud800."])
value = st.none() | st.booleans() | st.integers() | st.floats() | text | st.lists(text, max_size=2)
modules = st.dictionaries(text, source, max_size=3)
LIMITS = settings(max_examples=60, deadline=None, database=None,
                  suppress_health_check=list(HealthCheck))

SHAPES = {
    "get_completions": {"completions", "error"},
    "get_hover": {"contents", "error"},
    "get_signature_help": {"signatures", "activeSignature", "activeParameter", "error"},
}



@pytest.fixture(scope="module")
def engine() -> Iterator[code_insight.CodeInsight]:
    engine = code_insight.CodeInsight()
    yield engine
    engine.cleanup()


@LIMITS
@given(st.sampled_from(sorted(SHAPES)), source | value, st.integers(-2, 5) | value,
       st.integers(-2, 40) | value, st.none() | text | value, modules, st.none() | modules)
def test_position_requests_answer_in_their_shape(
    engine: code_insight.CodeInsight, method: str, code: Any, line: Any, column: Any, path: Any, saved: dict, dirty: Any
) -> None:
    result = getattr(engine, method)(code=code, line=line, column=column, path=path,
                                     modules=saved, dirty_files=dirty)
    assert SHAPES[method] <= set(result)


@LIMITS
@given(source | value, st.none() | text)
def test_diagnostics_answer_in_their_shape(
    engine: code_insight.CodeInsight, code: Any, module_name: Any
) -> None:
    result = engine.get_diagnostics(code=code, module_name=module_name)
    assert {"diagnostics", "error"} <= set(result)
