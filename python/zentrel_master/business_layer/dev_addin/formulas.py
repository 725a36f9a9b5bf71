"""Cell formulas: parsing, the references a formula reads, and evaluation.

The syntax is a small part of the worksheet formula language:

- constants: numbers, "text" (a doubled quote inside), TRUE, FALSE;
- references: A1, $B$2, A1:C3, A:A, 2:2, each with an optional sheet prefix (Sheet2!A1,
  'My Sheet'!B1:B9);
- operators, loosest first: comparisons (= <> < > <= >=), & (join text), + -, * /, ^, then a
  leading - or +;
- built-in functions SUM, AVERAGE, MIN, MAX, COUNT, ROUND, ABS, IF;
- a workbook function: ``=module.function(arg, ...)``, the call of a function defined in the
  workbook's module `module` (a dotted module path works: ``=pkg.mod.fn()``); a single cell
  argument passes the cell's value, a range argument a list of rows;
- a streaming function, only as the whole formula: ``=STREAM(module.function(arg, ...))``: the
  generator's values land in the cell one by one.

Evaluation never raises: every failure is an error value (`CellError`), as a worksheet shows it.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass, field
from decimal import ROUND_HALF_UP, Decimal
from typing import Any

from .addresses import AddressError, Rect, parse_address

__all__ = [
    "BUILTINS",
    "Call",
    "CellError",
    "Formula",
    "FormulaError",
    "Reader",
    "evaluate",
    "parse_formula",
    "round_half_up",
]


@dataclass(frozen=True)
class CellError:
    """An error value in a cell ("#VALUE!"), with the text that explains it."""

    code: str
    message: str = ""

    def __str__(self) -> str:
        return self.code


class FormulaError(ValueError):
    """A formula that does not parse."""


@dataclass(frozen=True)
class Ref:
    """A reference: `sheet` None means the formula's own sheet; `single` for one-cell syntax."""

    sheet: str | None
    rect: Rect
    single: bool


@dataclass(frozen=True)
class Call:
    """A call: a built-in (no dot in `name`) or a workbook function `module.function`."""

    name: str
    args: tuple[Any, ...]

    @property
    def module_and_function(self) -> tuple[str, str]:
        module, _, function = self.name.rpartition(".")
        return module, function


@dataclass(frozen=True)
class Op:
    """A unary (`right` only) or binary operation."""

    op: str
    left: Any
    right: Any


@dataclass
class Formula:
    """A parsed formula: its text, expression tree, and the call it streams, if any."""

    text: str
    tree: Any
    stream: Call | None = None
    refs: list[Ref] = field(default_factory=list)


_TOKEN_RE = re.compile(
    r"""\s*(?:
    (?P<string>"(?:[^"]|"")*")
    |(?P<ref>(?:(?:'(?:[^']|'')+'|[A-Za-z_][\w.]*)!)?
        (?:\$?[A-Za-z]{1,3}\$?\d+(?::\$?[A-Za-z]{1,3}\$?\d+)?
          |\$?[A-Za-z]{1,3}:\$?[A-Za-z]{1,3}
          |\$?\d+:\$?\d+)(?![\w.(!]))
    |(?P<number>(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)
    |(?P<name>[A-Za-z_]\w*(?:\.[A-Za-z_]\w*)*)
    |(?P<op><=|>=|<>|[-+*/^&=<>(),])
    )""",
    re.VERBOSE,
)

_BINARY = {"=": 1, "<>": 1, "<": 1, ">": 1, "<=": 1, ">=": 1, "&": 2, "+": 3, "-": 3,
           "*": 4, "/": 4, "^": 5}


def _tokens(text: str) -> list[tuple[str, str]]:
    tokens, position = [], 0
    while position < len(text):
        if not text[position:].strip():
            break
        match = _TOKEN_RE.match(text, position)
        if match is None or match.end() == position:
            raise FormulaError(f"Unexpected text at {text[position:position + 12]!r}")
        kind = match.lastgroup
        assert kind is not None
        tokens.append((kind, match[kind]))
        position = match.end()
    return tokens


class _Parser:
    def __init__(self, text: str) -> None:
        self.tokens = _tokens(text)
        self.at = 0

    def peek(self) -> tuple[str, str] | None:
        return self.tokens[self.at] if self.at < len(self.tokens) else None

    def take(self, value: str | None = None) -> tuple[str, str]:
        token = self.peek()
        if token is None or (value is not None and token != ("op", value)):
            raise FormulaError(f"Expected {value or 'a value'} at the end of the formula"
                               if token is None else f"Unexpected {token[1]!r}")
        self.at += 1
        return token

    def expression(self, min_level: int = 1) -> Any:
        left = self.unary()
        while (token := self.peek()) and token[0] == "op" and _BINARY.get(token[1], 0) >= min_level:
            self.at += 1
            left = Op(token[1], left, self.expression(_BINARY[token[1]] + 1))
        return left

    def unary(self) -> Any:
        token = self.peek()
        if token in (("op", "-"), ("op", "+")):
            self.at += 1
            return Op(token[1], None, self.unary())
        return self.primary()

    def primary(self) -> Any:
        kind, text = self.take()
        if kind == "number":
            number = float(text)
            written_whole = "." not in text and "e" not in text.lower()
            return int(number) if written_whole and number.is_integer() else number
        if kind == "string":
            return text[1:-1].replace('""', '"')
        if kind == "ref":
            sheet, rect = parse_address(text)
            return Ref(sheet, rect, ":" not in text)
        if kind == "name":
            if self.peek() == ("op", "("):
                return self.call(text)
            if text.upper() in ("TRUE", "FALSE"):
                return text.upper() == "TRUE"
            return CellError("#NAME?", f"Unknown name {text}")
        if text == "(":
            inner = self.expression()
            self.take(")")
            return inner
        raise FormulaError(f"Unexpected {text!r}")

    def call(self, name: str) -> Call:
        self.take("(")
        args: list[Any] = []
        if self.peek() != ("op", ")"):
            args.append(self.expression())
            while self.peek() == ("op", ","):
                self.at += 1
                args.append(self.expression())
        self.take(")")
        return Call(name if "." in name else name.upper(), tuple(args))


def parse_formula(text: str) -> Formula:
    """Parse a formula ("=..."); FormulaError when it does not parse."""
    if not text.startswith("="):
        raise FormulaError("A formula starts with =")
    parser = _Parser(text[1:])
    try:
        tree = parser.expression()
    except AddressError as error:
        raise FormulaError(str(error)) from None
    if parser.peek() is not None:
        raise FormulaError(f"Unexpected {parser.peek()[1]!r}")  # type: ignore[index]
    stream = None
    if isinstance(tree, Call) and tree.name == "STREAM":
        inner = tree.args[0] if len(tree.args) == 1 else None
        if not isinstance(inner, Call) or "." not in inner.name:
            raise FormulaError(
                "STREAM takes one call of a workbook function: STREAM(module.fn(...))")
        stream = tree.args[0]
    return Formula(text, tree, stream, list(_refs(tree)))


def _refs(node: Any) -> Any:
    if isinstance(node, Ref):
        yield node
    elif isinstance(node, Op):
        yield from _refs(node.left)
        yield from _refs(node.right)
    elif isinstance(node, Call):
        for arg in node.args:
            yield from _refs(arg)


class Reader:
    """What evaluation needs from the workbook and the kernel; the calc engine implements it."""

    def cell(self, ref: Ref) -> Any:
        """The value of the single cell `ref`."""
        raise NotImplementedError

    def rows(self, ref: Ref) -> list[list[Any]]:
        """The values of `ref`, row by row."""
        raise NotImplementedError

    async def call(self, module: str, function: str, args: list[Any]) -> Any:
        """The result of a workbook function (a `CellError` when it failed)."""
        raise NotImplementedError


def _number(value: Any) -> float | int | CellError:
    if isinstance(value, CellError):
        return value
    if value is None or value == "":
        return 0
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, (int, float)):
        return value
    try:
        return float(value)
    except (TypeError, ValueError):
        return CellError("#VALUE!", f"{value!r} is not a number")


def _text(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


def round_half_up(value: float, digits: int = 0) -> float | int:
    """`value` rounded as worksheets round: halves away from zero, on the decimal digits shown
    (2.675 to 2 places is 2.68, 2.5 to 0 places is 3); whole when `digits` <= 0."""
    if not math.isfinite(value):
        return value
    rounded = Decimal(repr(value)).quantize(Decimal(1).scaleb(-digits), rounding=ROUND_HALF_UP)
    return int(rounded) if digits <= 0 else float(rounded)


def _flat_numbers(values: list[Any]) -> list[Any]:
    """Numbers of the arguments (ranges flattened; text and empty cells inside ranges skipped)."""
    numbers: list[Any] = []
    for value in values:
        if isinstance(value, list):
            for row in value:
                for item in row:
                    number = isinstance(item, (int, float)) and not isinstance(item, bool)
                    if number or isinstance(item, CellError):
                        numbers.append(item)
        else:
            numbers.append(_number(value))
    return numbers


def _aggregate(name: str, values: list[Any]) -> Any:
    numbers = _flat_numbers(values)
    for number in numbers:
        if isinstance(number, CellError):
            return number
    if name == "SUM":
        return sum(numbers)
    if name == "COUNT":
        return len(numbers)
    if not numbers:
        return CellError("#DIV/0!", "No numbers") if name == "AVERAGE" else 0
    return {"AVERAGE": lambda n: sum(n) / len(n), "MIN": min, "MAX": max}[name](numbers)


def _scalar_builtin(name: str, values: list[Any]) -> Any:
    numbers = [_number(v) for v in values]
    for number in numbers:
        if isinstance(number, CellError):
            return number
    if name == "ABS" and len(numbers) == 1:
        return abs(numbers[0])
    if name == "ROUND" and len(numbers) in (1, 2):
        return round_half_up(numbers[0], int(numbers[1]) if len(numbers) == 2 else 0)
    return CellError("#VALUE!", f"Wrong number of arguments for {name}")


BUILTINS = ("SUM", "AVERAGE", "MIN", "MAX", "COUNT", "ROUND", "ABS", "IF")


def _compare(op: str, left: Any, right: Any) -> bool:
    def key(value: Any) -> tuple[int, Any]:
        if isinstance(value, bool):
            return 2, value
        if value is None or isinstance(value, (int, float)):
            return 0, value or 0
        return 1, str(value).lower()

    a, b = key(left), key(right)
    return {"=": a == b, "<>": a != b, "<": a < b, ">": a > b, "<=": a <= b, ">=": a >= b}[op]


def _arithmetic(op: str, left: Any, right: Any) -> Any:
    a, b = _number(left), _number(right)
    if isinstance(a, CellError):
        return a
    if isinstance(b, CellError):
        return b
    if op == "+":
        return a + b
    if op == "-":
        return a - b
    if op == "*":
        return a * b
    if op == "/":
        return CellError("#DIV/0!", "Division by zero") if b == 0 else a / b
    try:
        return a**b
    except (OverflowError, ZeroDivisionError) as error:
        return CellError("#NUM!", str(error))


async def evaluate(node: Any, reader: Reader, as_argument: bool = False) -> Any:
    """The value of an expression tree; a range is a list of rows only as a function argument."""
    if isinstance(node, Ref):
        if node.single:
            return reader.cell(node)
        if as_argument:
            return reader.rows(node)
        return CellError("#VALUE!", "A range cannot be used as a single value")
    if isinstance(node, Op):
        right = await evaluate(node.right, reader)
        if node.left is None:
            number = _number(right)
            return number if isinstance(number, CellError) or node.op == "+" else -number
        left = await evaluate(node.left, reader)
        for value in (left, right):
            if isinstance(value, CellError):
                return value
        if node.op == "&":
            return _text(left) + _text(right)
        if _BINARY[node.op] == 1:
            return _compare(node.op, left, right)
        return _arithmetic(node.op, left, right)
    if isinstance(node, Call):
        return await _call(node, reader)
    return node


async def _call(node: Call, reader: Reader) -> Any:
    if node.name == "IF":
        if len(node.args) not in (2, 3):
            return CellError("#VALUE!", "IF takes 2 or 3 arguments")
        condition = await evaluate(node.args[0], reader)
        if isinstance(condition, CellError):
            return condition
        chosen = node.args[1] if condition else (node.args[2] if len(node.args) == 3 else False)
        return await evaluate(chosen, reader)
    args = [await evaluate(arg, reader, as_argument=True) for arg in node.args]
    if node.name in ("SUM", "AVERAGE", "MIN", "MAX", "COUNT"):
        return _aggregate(node.name, args)
    if node.name in ("ROUND", "ABS"):
        return _scalar_builtin(node.name, args)
    if "." not in node.name:
        return CellError("#NAME?", f"Unknown function {node.name}")
    for arg in args:
        if isinstance(arg, CellError):
            return arg
    module, function = node.module_and_function
    return await reader.call(module, function, args)
