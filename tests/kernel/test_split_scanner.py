"""Where console text splits into statements and a final expression: the first "; " in code,
never one inside a string literal or a comment."""

from __future__ import annotations

import pytest

from zentrel_master.python_server import kernel

NOT_SET = object()

# (code, expected result, expected binding of `s` afterwards or NOT_SET)
CASES = [
    ('s = "a; b"', None, "a; b"),
    ('s = "a; b"; s', "a; b", "a; b"),
    ("s = 'a; b'; s", "a; b", "a; b"),
    ('s = """x; "y"\n; z"""; s', 'x; "y"\n; z', 'x; "y"\n; z'),
    ("s = '''it's; '''; s", "it's; ", "it's; "),
    ('s = "q\\"; r"; s', 'q"; r', 'q"; r'),
    ('s = r"\\"; "; s', '\\"; ', '\\"; '),
    ('s = b"a; b"; s', b"a; b", b"a; b"),
    ('s = "a" "; b"; s', "a; b", "a; b"),
    ("s = 1  # note; not code", None, 1),
    ("s = 1  # c; d\ns + 1", None, 1),
    ("s = 2; s  # trailing; comment", 2, 2),
    ('s = f"{"; ".join(["a", "b"])}"; s', "a; b", "a; b"),
    ('s = f"{1!r}; {{literal; }}"; s', "1; {literal; }", "1; {literal; }"),
    ('w = 4; s = f"{7:>{w}}; "', None, "   7; "),
    ('s = f"\\N{SEMICOLON}; {1}"; s', ";; 1", ";; 1"),
    ('s = rf"\\N{{x}}; "; s', "\\N{x}; ", "\\N{x}; "),
    ("s = f'{\"; \"}'; s", "; ", "; "),
    ('s = "é; ü"; s', "é; ü", "é; ü"),
    ("é = 1; é + 1", 2, NOT_SET),
    ("s = 1; t = 2; s + t", None, 1),
]
IDS = [
    "double-quoted",
    "double-quoted-then-expression",
    "single-quoted",
    "triple-double-with-quotes",
    "triple-single-with-apostrophe",
    "escaped-quote",
    "raw-string-backslash-quote",
    "bytes",
    "implicit-concatenation",
    "comment",
    "comment-then-next-line",
    "comment-after-split",
    "f-string-nested-quotes",
    "f-string-conversion-and-braces",
    "f-string-nested-format-spec",
    "f-string-named-escape",
    "raw-f-string-braces",
    "f-string-inner-string",
    "non-ascii-text",
    "non-ascii-identifier",
    "three-parts-split-at-first",
]


@pytest.mark.parametrize(("code", "result", "binding"), CASES, ids=IDS)
def test_split(code, result, binding):
    executor = kernel.CodeExecutor()
    record = executor.execute(code)
    assert record["error"] is None
    assert record["result"] == result
    if binding is not NOT_SET:
        assert executor.locals["s"] == binding


@pytest.mark.parametrize(
    "code",
    [
        's = "never closed; x',
        "s = '''open; ",
        'f"{' * 300 + "x; y",
        "s = 1; \\",
        "#; ",
    ],
    ids=[
        "unterminated",
        "unterminated-triple",
        "deep-f-string-nesting",
        "trailing-backslash",
        "only-comment",
    ],
)
def test_malformed_text_is_a_reported_error_or_runs(code):
    record = kernel.CodeExecutor().execute(code)
    if record["success"]:
        assert record["result"] is None
    else:
        assert record["error"]["type"] == "SyntaxError"
