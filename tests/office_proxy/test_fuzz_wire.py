"""Generated wire values and Python values through the serializer: documented errors only."""

from __future__ import annotations

import json
from typing import Any

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from zentrel_master.python_server.zentrel import office_proxy

Serializer = office_proxy.Serializer

#: What from_wire may raise for a value that is no wire value: the argument TypeError, the
#: built-in conversions' errors (binascii.Error is a ValueError) and RecursionError for nesting.
DOCUMENTED = (TypeError, ValueError, OverflowError, RecursionError)
#: Decoding also reads a "Dict" payload with `.items()`, so a payload that is no map (a list, a
#: number) raises AttributeError, as it always has.
DECODING = (AttributeError, *DOCUMENTED)

TAGS = ["Null", "Bool", "Int", "Float", "String", "Date", "Bytes", "Array", "Dict",
        "Python_Function", "Range", "Excel"]
text = st.text(st.characters(codec=None, categories=None), max_size=20)
json_values = st.recursive(
    st.none() | st.booleans() | st.integers() | st.floats() | text,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(text, inner, max_size=4),
    max_leaves=10,
)
wire_like = st.recursive(
    json_values,
    lambda inner: st.fixed_dictionaries(
        {"type": st.sampled_from(TAGS) | json_values},
        optional={"value": inner | st.lists(inner, max_size=3) | st.dictionaries(text, inner, max_size=3),
                  "isSpec": json_values, "id": st.integers() | json_values},
    ),
    max_leaves=8,
)
LIMITS = settings(max_examples=300, deadline=None, database=None,
                  suppress_health_check=list(HealthCheck))


@LIMITS
@given(wire_like)
def test_from_wire_raises_only_documented_errors(wire: Any) -> None:
    try:
        Serializer.from_wire(wire)
    except DECODING:
        pass


@LIMITS
@given(json_values)
def test_to_wire_of_json_data_is_sendable_and_scalars_round_trip(value: Any) -> None:
    wire = Serializer.to_wire(value)
    # Every map it builds is a plain wire value the kernel can send.
    json.dumps(wire)
    if not isinstance(value, (list, dict)):  # containers need an id the add-in assigns
        back = Serializer.from_wire(wire)
        assert back == value or value != value  # NaN


#: What a proxy operation may raise: its failure texts (AttributeError, RuntimeError), the index
#: TypeError and what decoding a hostile answer raises.
PROXY_ERRORS = (AttributeError, RuntimeError) + DOCUMENTED
names = st.text(st.characters(codec=None, categories=None), min_size=1, max_size=12).filter(
    lambda n: not n.startswith("_"))
operations = st.one_of(
    st.tuples(st.just("get"), names),
    st.tuples(st.just("item"), st.integers() | st.slices(10) | json_values),
    st.tuples(st.just("set"), st.tuples(names, json_values)),
    st.tuples(st.just("call"), st.tuples(st.lists(json_values, max_size=3),
                                         st.dictionaries(names, json_values, max_size=3))),
)


@LIMITS
@given(operations, st.fixed_dictionaries({"ok": json_values, "result": wire_like, "error": json_values}))
def test_proxy_requests_are_sendable_and_answers_raise_documented_errors(
    addin: Any, operation: tuple[str, Any], answer: dict[str, Any]
) -> None:
    addin.requests.clear()
    addin.answer = lambda request: answer
    proxy = office_proxy.OfficeJsObject(7, "Function")
    kind, argument = operation
    try:
        if kind == "get":
            getattr(proxy, argument)
        elif kind == "item":
            proxy[argument]
        elif kind == "set":
            setattr(proxy, *argument)
        else:
            proxy(*argument[0], **argument[1])
    except PROXY_ERRORS:
        pass
    for request in addin.requests:
        json.dumps(request)
