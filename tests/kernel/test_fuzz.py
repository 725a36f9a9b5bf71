"""Generated hostile frames against one kernel process: it keeps answering and keeps the namespace.

The suite runs a small budget; `./run fuzz MINUTES` runs the same test for that long
(`ZM_FUZZ_SECONDS`) and reports the kernel's memory growth, which must stay under 20 MB.
"""

from __future__ import annotations

import itertools
import json
import os
import time
from collections.abc import Iterator
from typing import Any

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from support.business_layer import Session, ThreadedBusinessLayer
from support.timing import units

FUZZ_SECONDS = float(os.environ.get("ZM_FUZZ_SECONDS", "0"))
MAX_GROWTH_BYTES = 20 * 1024 * 1024

#: Every type the dispatcher knows, but "shutdown" and "reset_namespace": ending the kernel or
#: clearing the namespace on request is their job.
TYPES = [
    "execution_request", "add_path", "remove_path", "reset_path", "set_package_paths",
    "set_python_paths", "unload_and_clear_paths", "update_module", "delete_module",
    "completion_request", "signature_help_request", "hover_request", "diagnostic_request",
    "custom_function_call", "run_module", "event_execution", "python_function_call",
    "execute_streaming_function", "cancel_streaming_function", "debug_continue",
    "debug_step_over", "debug_step_into", "debug_step_out", "debug_stop", "debug_evaluate",
    "debug_update_breakpoints", "sys_response", "get_object_registry", "set_hover_mode",
]
FIELDS = [
    "request_id", "code", "function_name", "source", "path", "old_paths", "new_paths", "paths",
    "module_name", "line", "column", "dirty_files", "workbook_id", "args", "payload",
    "requestId", "expression", "breakpoints", "mode", "event_name", "kwargs", "callable_id",
]

# Text with everything JSON can carry, lone surrogates included.
any_text = st.text(st.characters(codec=None, categories=None), max_size=40)
scalars = st.none() | st.booleans() | st.integers() | st.integers(min_value=2**63) | \
    st.floats(allow_nan=False, allow_infinity=False) | any_text
values = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(any_text, inner, max_size=4),
    max_leaves=12,
)


@st.composite
def typed_message(draw: st.DrawFn) -> str:
    """A message of a known type whose fields hold values of any type."""
    message: dict[str, Any] = {"type": draw(st.sampled_from(TYPES))}
    for name in draw(st.lists(st.sampled_from(FIELDS), max_size=5, unique=True)):
        message[name] = draw(values)
    if message["type"] == "execution_request" and not isinstance(message.get("code"), str):
        message["code"] = draw(st.sampled_from(["1", "print('\\ud800')", "x = {}", "None"]))
    return json.dumps(message)


@st.composite
def chunk_abuse(draw: st.DrawFn) -> str:
    fields = {
        "type": "chunk",
        "chunk_id": draw(st.sampled_from(["a", "b", "c"]) | any_text | values),
        "chunk_index": draw(st.integers(-2, 5) | values),
        "total_chunks": draw(st.integers(0, 6) | st.just(10**12) | values),
        "data": draw(st.sampled_from(['{"type": "hover_request"', "}", "", '{"type": "chunk"}'])
                     | any_text | values),
        "original_type": draw(st.sampled_from(TYPES) | values),
        "request_id": draw(values),
    }
    return json.dumps({k: v for k, v in fields.items() if draw(st.booleans()) or k == "type"})


RAW_FRAMES = [
    "", "{", "[]", "null", "7", '"text"', '{"type": null}', '{"type": 5}', "\x00",
    '{"type": "\\ud800"}', '{"type": "execution_request", "code": "1", "request_id": "\\udfff"}',
    "[" * 50000 + "]" * 50000, '{"a": ' * 5000 + "1" + "}" * 5000,
    '{"type": "sys_response", "payload": {"requestId": "x", "v": ' + "[" * 5000 + "]" * 5000 + "}}",
]
# Drawn by index: a strategy holding the long frames would print them in every report.
raw_frames = st.integers(0, len(RAW_FRAMES) - 1).map(RAW_FRAMES.__getitem__) | st.text(
    max_size=40)  # a peer can only send UTF-8

frames = st.lists(typed_message() | chunk_abuse() | raw_frames, min_size=1, max_size=8)


def rss_bytes(pid: int) -> int:
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmRSS")


class Prober:
    """Checks, after each batch, that the kernel answers an execution request and kept its
    namespace; every frame it sent must be strict JSON."""

    def __init__(self, session: Session) -> None:
        self.session = session
        self.ids = itertools.count()
        self.checked = 0

    def check(self) -> None:
        assert self.session.process is not None and self.session.process.returncode is None
        request_id = f"probe-{next(self.ids)}"
        self.session.send({"type": "execution_request", "request_id": request_id,
                           "function_name": "probe", "code": "fuzz_marker * 2"})
        deadline = time.monotonic() + units(3)
        while True:
            message = self.session.receive(max(deadline - time.monotonic(), 0.1))
            if message.get("request_id") == request_id and message["type"] in (
                    "execution_result", "execution_error"):
                break
        assert message["type"] == "execution_result", message
        assert message["result"] == "survivor" * 2
        frames = self.session.frames
        for frame in frames[self.checked:]:
            assert isinstance(frame, str)
            frame.encode("utf-8")
            json.loads(frame)
        self.checked = len(frames)


def warm_up(session: Session) -> None:
    """One-time costs before the memory baseline: jedi's inference of the standard library for
    each editor request, and the parser's deepest recursion."""
    code = "import os, json\nos.path.join(json.dumps({}), "
    for kind in ("completion_request", "hover_request", "signature_help_request",
                 "diagnostic_request"):
        session.send({"type": kind, "request_id": "warm", "code": code, "line": 2, "column": 13})
        while session.receive(units(3)).get("request_id") != "warm":
            pass
    for frame in ("[" * 50000 + "]" * 50000, '{"a": ' * 5000 + "1" + "}" * 5000):
        session.send_raw(frame)
        session.receive()


@pytest.fixture(scope="module")
def fuzzed(business_layer: ThreadedBusinessLayer) -> Iterator[Session]:
    """One kernel process for the whole run, with a value in its namespace."""
    session = business_layer.launch("wb-fuzz", log_level="WARNING")
    session.send({"type": "execution_request", "request_id": "setup",
                  "code": "fuzz_marker = 'survivor'"})
    while session.receive().get("request_id") != "setup":
        pass
    yield session
    try:
        assert session.shutdown() == 0
    finally:
        business_layer.call(session.session.kill())


# Hypothesis describes every drawn batch; the deep frames make that description long.
@pytest.mark.filterwarnings("ignore:Generating overly large repr")
# Hostile frames on purpose, and replies that echo their hostile fields: survival is the point.
@pytest.mark.off_protocol("incoming", "outgoing")
def test_generated_frames_never_end_the_kernel_or_its_namespace(fuzzed: Session) -> None:
    prober = Prober(fuzzed)

    @settings(max_examples=25, deadline=None, database=None,
              suppress_health_check=list(HealthCheck))
    @given(frames)
    def batch(batch_frames: list[str]) -> None:
        for frame in batch_frames:
            fuzzed.send_raw(frame)
        prober.check()

    batch()
    warm_up(fuzzed)
    assert fuzzed.process is not None
    start = rss_bytes(fuzzed.process.pid)
    deadline = time.monotonic() + FUZZ_SECONDS
    rounds = 0
    while time.monotonic() < deadline:
        batch()
        rounds += 1
    growth = rss_bytes(fuzzed.process.pid) - start
    if FUZZ_SECONDS:
        print(f"\nfuzz: {rounds} rounds in {FUZZ_SECONDS:.0f}s, kernel memory growth "
              f"{growth / 1024 / 1024:.1f} MB")
        assert growth < MAX_GROWTH_BYTES
