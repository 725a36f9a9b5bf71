"""Regenerates the examples and field tables of `docs/protocol.md` from a real kernel run.

The reference is written by hand except for marked blocks:

- `<!-- example: NAME -->` ... `<!-- /example -->`: a message recorded while this module drives a
  kernel process through the development Business Layer (every message validated against the
  schemas on the way);
- `<!-- fields: DIRECTION DEF -->` ... `<!-- /fields -->`: the field table of one message,
  rendered from `$defs/DEF` of that direction's schema;
- `<!-- sample: DIRECTION -->` ... `<!-- /sample -->`: a message written by hand because no run
  produces it yet; it is not regenerated, only checked against the schema.

`python -m zentrel_master.business_layer.protocol_docs` (or `./run docs`) rewrites the file;
`--check` exits with status 1 when it is not current. Values that differ from run to run (random
ids, the machine's paths) are replaced by fixed stand-ins so that the output is reproducible.
"""

from __future__ import annotations

import argparse
import asyncio
import json
import re
import sys
from collections.abc import Callable
from pathlib import Path
from typing import Any

from .dev_server import DevBusinessLayer, KernelSession
from .protocol_check import INCOMING, SCHEMA_DIR, Direction, ProtocolChecker, schema

__all__ = [
    "REFERENCE",
    "collect_examples",
    "field_table",
    "render",
    "samples",
]

REFERENCE = SCHEMA_DIR.parent / "protocol.md"
WORKBOOK_ID = "wb-docs"
TIMEOUT = 30.0
#: Characters of a chunk's `data` shown in its example.
CHUNK_DATA_SHOWN = 48
#: Stand-in for the entries of `sys.path` that the example did not set.
OTHER_PATHS = "<other sys.path entries>"

_BLOCK = re.compile(
    r"(<!-- (?P<kind>example|fields): (?P<key>[^>]*?) -->\n)(?P<body>.*?)(<!-- /(?P=kind) -->)",
    re.DOTALL,
)
_SAMPLE = re.compile(r"<!-- sample: (?P<direction>\w+) -->\n```json\n(?P<body>.*?)```\n", re.DOTALL)
_HEX32 = re.compile(r"\b[0-9a-f]{32}\b")
_UUID = re.compile(r"\b[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\b")
_CALLABLE_GUID = re.compile(r"pyfunc_([0-9a-f]{8})_")


# --- The run --------------------------------------------------------------------------------

WORKBOOK_MODULE = '''\
def add(a, b):
    """Adds two numbers."""
    return a + b


def fails(x):
    return 1 / x


def on_change(address):
    print("changed", address)


def count_up(n):
    for i in range(n):
        yield i
'''

SLOW_STREAM = '''\
import time


def ticks():
    yield 1
    time.sleep(1.5)  # the cancellation arrives meanwhile
    yield 2
    yield 3
'''


def _addin(payload: dict[str, Any]) -> dict[str, Any]:
    """A tiny add-in: a workbook with a worksheet collection and a range."""
    method, name = payload.get("method"), payload.get("name")
    answers = {
        ("GET", "workbook"): {"type": "Workbook", "value": 2, "isSpec": True},
        ("GET", "worksheets"): {"type": "WorksheetCollection", "value": 3, "isSpec": True},
        ("GETITEM", "0"): {"type": "Worksheet", "value": 4, "isSpec": True},
        ("CALL", "__call__"): {"type": "Range", "value": 6, "isSpec": True},
        ("GET", "values"): {
            "type": "Array",
            "value": [{"type": "Array", "value": [{"type": "Int", "value": 7, "isSpec": False}],
                       "isSpec": False, "id": 0}],
            "isSpec": False,
            "id": 0,
        },
    }
    result = answers.get((method, name), {"type": "Null", "value": None, "isSpec": False})
    if (method, name) == ("GET", "getRange"):
        result = {"type": "Function", "value": 5, "isSpec": True}
    return {"requestId": payload.get("requestId"), "ok": True, "result": result}


class _Recorder:
    """Drives one kernel and keeps named examples of what went each way."""

    def __init__(self, session: KernelSession) -> None:
        self.session = session
        self.examples: dict[str, Any] = {}

    def keep(self, name: str, message: Any) -> None:
        self.examples.setdefault(name, message)

    async def send(self, message: dict[str, Any], name: str | None = None,
                   checked: bool = True) -> None:
        """Send `message`; one malformed on purpose goes unchecked."""
        if name is not None:
            self.keep(name, message)
        if checked:
            await self.session.send(message)
        else:
            await self.session.send_raw(json.dumps(message))

    async def until(self, done: Callable[[list[dict[str, Any]]], bool]) -> list[dict[str, Any]]:
        """The messages received until `done` holds for them."""
        seen: list[dict[str, Any]] = []
        while not done(seen):
            seen.append(await self.session.receive(TIMEOUT))
        return seen

    async def ask(self, message: dict[str, Any], *final: str, name: str | None = None,
                  checked: bool = True) -> list[dict[str, Any]]:
        """Send `message` and collect the replies up to one of the `final` types."""
        await self.send(message, name, checked)
        return await self.until(lambda seen: bool(seen) and seen[-1]["type"] in final)

    async def silent(self, message: dict[str, Any], name: str) -> None:
        """Send a message that has no reply; the answer to a frame after it proves it handled."""
        await self.send(message, name)
        await self.session.send_raw("[]")
        reply = await self.session.receive(TIMEOUT)
        assert reply["type"] == "error", reply
        self.keep("error_not_an_object", reply)

    def keep_from(self, messages: list[dict[str, Any]], name: str, kind: str,
                  **match: Any) -> None:
        for message in messages:
            if message["type"] == kind and all(message.get(k) == v for k, v in match.items()):
                self.keep(name, message)
                return
        raise AssertionError(f"no {kind} {match} in {messages}")


async def _console(rec: _Recorder) -> None:
    # Prints without a line end: pieces of one stream may be merged into one message while they
    # wait, and the examples must not depend on that timing.
    replies = await rec.ask(
        {"type": "execution_request", "code": "print('hello', end=''); 6 * 7", "request_id": "r1",
         "source": "ide"},
        "execution_result", name="execution_request")
    rec.keep_from(replies, "stdout", "stdout")
    rec.keep_from(replies, "result_output", "result_output")
    rec.keep_from(replies, "execution_result", "execution_result")
    replies = await rec.ask(
        {"type": "execution_request", "code": "6 * 7", "request_id": "r2",
         "function_name": "answer"}, "execution_result")
    rec.keep_from(replies, "execution_result_raw", "execution_result")
    replies = await rec.ask(
        {"type": "execution_request", "code": "import sys\nprint('careful', end='', file=sys.stderr)\n"
         "1 / 0", "request_id": "r3"}, "execution_error")
    rec.keep_from(replies, "stderr", "stderr")
    rec.keep_from(replies, "execution_error", "execution_error")
    replies = await rec.ask(
        {"type": "execution_request", "code": "import threading\n"
         "threading.Thread(target=print, args=('from a thread',), kwargs={'end': ''}).start()",
         "request_id": "r4"},
        "execution_result")
    if not any(m["type"] == "stdout" and "request_id" not in m for m in replies):
        replies += await rec.until(lambda seen: bool(seen) and "request_id" not in seen[-1])
    rec.keep_from(replies, "stdout_process", "stdout", content="from a thread")
    replies = await rec.ask(
        {"type": "execution_request", "code": "'x' * 70000", "request_id": "r5"},
        "execution_result")
    chunk = json.loads(next(f for f in rec.session.frames if '"chunk"' in str(f)[:20]))
    chunk["data"] = chunk["data"][:CHUNK_DATA_SHOWN] + "..."
    rec.keep("chunk", chunk)
    await rec.ask({"type": "reset_namespace"}, "namespace_reset", name="reset_namespace")
    rec.keep("namespace_reset", {"type": "namespace_reset"})


async def _module_sync(rec: _Recorder) -> None:
    replies = await rec.ask(
        {"type": "update_module", "module_name": "sheet_funcs", "code": WORKBOOK_MODULE},
        "module_updated", name="update_module")
    rec.keep("module_updated", replies[-1])
    await rec.ask({"type": "update_module", "module_name": "scratch", "code": "x = 1\n"},
                  "module_updated")
    replies = await rec.ask({"type": "delete_module", "module_name": "scratch"},
                            "module_deleted", name="delete_module")
    rec.keep("module_deleted", replies[-1])
    replies = await rec.ask({"type": "update_module", "module_name": "", "code": "x = 1\n"},
                            "error", checked=False)
    rec.keep("error_update_module", replies[-1])
    for kind, path in (("add_path", "/opt/workbook/lib"), ("remove_path", "/opt/workbook/lib")):
        replies = await rec.ask({"type": kind, "path": path}, "path_added", "path_removed",
                                name=kind)
        rec.keep(replies[-1]["type"], replies[-1])
    replies = await rec.ask(
        {"type": "set_package_paths", "old_paths": [], "new_paths": ["/opt/workbook/packages"]},
        "package_paths_updated", name="set_package_paths")
    rec.keep("package_paths_updated", replies[-1])
    replies = await rec.ask(
        {"type": "set_python_paths", "old_paths": [], "new_paths": ["/opt/workbook/extra"]},
        "python_paths_updated", name="set_python_paths")
    rec.keep("python_paths_updated", replies[-1])
    replies = await rec.ask(
        {"type": "unload_and_clear_paths", "paths": ["/opt/workbook/packages"]},
        "modules_unloaded", name="unload_and_clear_paths")
    rec.keep("modules_unloaded", replies[-1])
    replies = await rec.ask({"type": "reset_path"}, "path_reset", name="reset_path")
    rec.keep("path_reset", replies[-1])


async def _functions(rec: _Recorder) -> None:
    replies = await rec.ask(
        {"type": "custom_function_call", "module_name": "sheet_funcs", "function_name": "add",
         "args": [{"type": "Int", "value": 2, "isSpec": False},
                  {"type": "Int", "value": 3, "isSpec": False}],
         "request_id": "f1", "workbook_id": WORKBOOK_ID, "source": "addin"},
        "function_execution_result", name="custom_function_call")
    rec.keep_from(replies, "result_output_function", "result_output")
    rec.keep_from(replies, "execution_result_function", "execution_result")
    rec.keep_from(replies, "function_execution_result", "function_execution_result")
    replies = await rec.ask(
        {"type": "custom_function_call", "module_name": "sheet_funcs", "function_name": "fails",
         "args": [{"type": "Int", "value": 0, "isSpec": False}],
         "request_id": "f2", "workbook_id": WORKBOOK_ID, "source": "addin"},
        "function_execution_result")
    rec.keep_from(replies, "execution_error_function", "execution_error")
    rec.keep_from(replies, "function_execution_result_error", "function_execution_result")
    replies = await rec.ask(
        {"type": "custom_function_call", "module_name": "sheet_funcs", "function_name": "add",
         "args": 5, "request_id": "f3"}, "function_execution_result", checked=False)
    rec.keep_from(replies, "execution_error_validation", "execution_error")
    replies = await rec.ask(
        {"type": "event_execution", "module_name": "sheet_funcs", "function_name": "on_change",
         "args": [{"type": "String", "value": "Sheet1!A1", "isSpec": False}],
         "request_id": "e1", "workbook_id": WORKBOOK_ID, "object_name": "Sheet1",
         "event_type": "onChanged", "object_type": "Worksheet"},
        "event_execution_result", name="event_execution")
    rec.keep_from(replies, "event_execution_result", "event_execution_result")
    replies = await rec.ask(
        {"type": "execution_request", "request_id": "r6", "function_name": "register",
         "code": "import zentrel; zentrel.Serializer.to_wire(lambda x: x * 2)"},
        "execution_result")
    callable_id = replies[-1]["result"]["value"]
    rec.keep("wire_value_callable", replies[-1]["result"])
    replies = await rec.ask(
        {"type": "python_function_call", "callable_id": callable_id,
         "args": [{"type": "Int", "value": 21, "isSpec": False}], "request_id": "c1",
         "workbook_id": WORKBOOK_ID}, "python_function_result", name="python_function_call")
    rec.keep_from(replies, "python_function_result", "python_function_result")
    replies = await rec.ask(
        {"type": "run_module", "module_name": "sheet_funcs", "function_name": "add",
         "args": [{"type": "Int", "value": 2, "isSpec": False},
                  {"type": "Int", "value": 3, "isSpec": False}],
         "request_id": "m1", "workbook_id": WORKBOOK_ID},
        "error", "function_execution_result", name="run_module")
    rec.keep("run_module_reply", replies[-1])


async def _streaming(rec: _Recorder) -> None:
    replies = await rec.ask(
        {"type": "execute_streaming_function", "request_id": "s1", "module_name": "sheet_funcs",
         "function_name": "count_up", "args": [{"type": "Int", "value": 2, "isSpec": False}],
         "workbook_id": WORKBOOK_ID, "source": "addin"},
        "streaming_function_result", name="execute_streaming_function")
    rec.keep("streaming_function_result", replies[-1])
    replies = await rec.until(lambda seen: bool(seen) and seen[-1].get("done") is True)
    rec.keep("streaming_function_result_done", replies[-1])
    replies = await rec.ask(
        {"type": "execute_streaming_function", "request_id": "s2", "module_name": "sheet_funcs",
         "function_name": "add", "args": [], "workbook_id": WORKBOOK_ID},
        "streaming_function_result")
    rec.keep("streaming_function_result_error", replies[-1])
    # A module the kernel does not hold yet: it asks for it and the Business Layer pushes it.
    rec.session.modules["live_feed"] = SLOW_STREAM
    replies = await rec.ask(
        {"type": "execute_streaming_function", "request_id": "s3", "module_name": "live_feed",
         "function_name": "ticks", "args": [], "workbook_id": WORKBOOK_ID},
        "streaming_function_result")
    rec.keep_from(replies, "request_module_sync", "request_module_sync")
    await rec.send({"type": "cancel_streaming_function", "request_id": "s3"},
                   "cancel_streaming_function")
    replies = await rec.until(lambda seen: bool(seen) and seen[-1].get("done") is True)
    rec.keep("streaming_function_result_canceled", replies[-1])


async def _workbook(rec: _Recorder) -> None:
    replies = await rec.ask(
        {"type": "execution_request", "request_id": "w1", "code": (
            "import zentrel\n"
            "sheet = zentrel.excel.workbook.worksheets[0]\n"
            "sheet.name = 'Budget'\n"
            "cell = sheet.getRange('A1')\n"
            "print(cell.values)\n"
            "del sheet, cell")}, "execution_result", "execution_error")
    assert replies[-1]["type"] == "execution_result", replies[-1]
    requests = [m["payload"] for m in replies if m["type"] == "sys_request"]
    while not any(p.get("method") == "DEL" for p in requests):
        message = await rec.session.receive(TIMEOUT)
        if message["type"] == "sys_request":
            requests.append(message["payload"])
    for payload in requests:
        rec.keep(f"sys_request_{payload['method']}", {"type": "sys_request", "payload": payload})
        rec.keep(f"sys_response_{payload['method']}",
                 {"type": "sys_response", "payload": _addin(payload)})
    replies = await rec.ask(
        {"type": "execution_request", "request_id": "w2", "code": (
            "import zentrel\n"
            "zentrel.save_object('rates', {'EUR': 1.1})\n"
            "zentrel.clear_object('rates')\n"
            "zentrel.clear_all_objects()\n"
            "zentrel.save_object('model', [1, 2, 3])\n"
            "zentrel.set_enable_events(False)\n"
            "zentrel.show_message_box('Done', title='Budget', type='Info')")},
        "execution_result")
    replies += await rec.until(
        lambda seen: sum(m["type"] in ("object_registry_update", "set_enable_events",
                                       "show_message_box") for m in replies + seen) >= 6)
    rec.keep_from(replies, "object_registry_update", "object_registry_update", action="update")
    rec.keep_from(replies, "object_registry_update_delete", "object_registry_update",
                  action="delete")
    rec.keep_from(replies, "object_registry_update_clear_all", "object_registry_update",
                  action="clear_all")
    rec.keep_from(replies, "set_enable_events", "set_enable_events")
    rec.keep_from(replies, "show_message_box", "show_message_box")
    replies = await rec.ask({"type": "get_object_registry"}, "object_registry_response",
                            name="get_object_registry")
    rec.keep("object_registry_response", replies[-1])


async def _editor(rec: _Recorder) -> None:
    position = {"code": "import sheet_funcs\nsheet_funcs.ad", "line": 2, "column": 14,
                "path": "Sheet1", "workbook_id": WORKBOOK_ID, "module_name": "Sheet1"}
    replies = await rec.ask({"type": "completion_request", "request_id": "l1", **position},
                            "completion_response", name="completion_request")
    rec.keep("completion_response", replies[-1])
    replies = await rec.ask(
        {"type": "signature_help_request", "request_id": "l2", **position,
         "code": "import sheet_funcs\nsheet_funcs.add(1, ", "column": 19},
        "signature_help_response", name="signature_help_request")
    rec.keep("signature_help_response", replies[-1])
    replies = await rec.ask(
        {"type": "hover_request", "request_id": "l3", **position,
         "code": "import sheet_funcs\nsheet_funcs.add(1, 2)", "column": 13},
        "hover_response", name="hover_request")
    rec.keep("hover_response", replies[-1])
    replies = await rec.ask(
        {"type": "diagnostic_request", "request_id": "l4", "code": "import os\nprint(y)\n",
         "workbook_id": WORKBOOK_ID, "module_name": "Sheet1"},
        "diagnostic_response", name="diagnostic_request")
    rec.keep("diagnostic_response", replies[-1])
    replies = await rec.ask({"type": "set_hover_mode", "mode": "detailed"}, "hover_mode_updated",
                            name="set_hover_mode")
    rec.keep("hover_mode_updated", replies[-1])


async def _debug_and_errors(rec: _Recorder) -> None:
    replies = await rec.ask({"type": "debug_evaluate", "expression": "total", "request_id": "d1"},
                            "debug_evaluate_result", name="debug_evaluate")
    rec.keep("debug_evaluate_result", replies[-1])
    for command in ("debug_continue", "debug_step_over", "debug_step_into", "debug_step_out",
                    "debug_stop"):
        await rec.silent({"type": command}, command)
    await rec.silent({"type": "debug_update_breakpoints", "breakpoints": [
        {"module": "sheet_funcs", "line": 2, "condition": "a > 1"}]}, "debug_update_breakpoints")
    replies = await rec.ask({"type": "execution_request", "code": 5, "request_id": "x1"},
                            "error", checked=False)
    rec.keep("error_field", replies[-1])
    await rec.session.send_raw("{not json")
    rec.keep("error_invalid_json", await rec.session.receive(TIMEOUT))
    await rec.session.send_raw(" " * (1048576 + 1))
    rec.keep("error_too_large", await rec.session.receive(TIMEOUT))


async def _record(checker: ProtocolChecker) -> dict[str, Any]:
    server = DevBusinessLayer(addin_handler=_addin, kernel_log_level="WARNING", checker=checker)
    await server.start()
    try:
        session = await server.launch_kernel(WORKBOOK_ID, timeout=TIMEOUT)
        rec = _Recorder(session)
        for scenario in (_console, _module_sync, _functions, _streaming, _workbook, _editor,
                         _debug_and_errors):
            await scenario(rec)
        rec.keep("shutdown", {"type": "shutdown"})
    finally:
        await server.stop()
    return rec.examples


def collect_examples() -> dict[str, Any]:
    """Run a kernel and return the named examples, normalised; fails on a protocol violation."""
    checker = ProtocolChecker()
    examples = asyncio.run(_record(checker))
    violations = checker.take()
    if violations:
        raise AssertionError("messages outside the protocol:\n" + "\n".join(map(str, violations)))
    return _Normaliser().apply(examples)


class _Normaliser:
    """Replaces what differs between runs and machines by fixed stand-ins."""

    def __init__(self) -> None:
        self._ids: dict[str, str] = {}
        self._roots = sorted({str(Path(p).resolve()) for p in sys.path if p and p != "."} |
                             {str(Path(__file__).resolve().parents[3])}, key=len, reverse=True)

    def apply(self, value: Any) -> Any:
        if isinstance(value, dict):
            out = {k: self.apply(v) for k, v in value.items()}
            if isinstance(out.get("current_paths"), list):
                out["current_paths"] = self._paths(value["current_paths"])
            return out
        if isinstance(value, list):
            return [self.apply(v) for v in value]
        if isinstance(value, str):
            return self._text(value)
        return value

    def _stand_in(self, found: str, shape: Callable[[int], str]) -> str:
        if found not in self._ids:
            self._ids[found] = shape(len(self._ids) + 1)
        return self._ids[found]

    def _text(self, text: str) -> str:
        text = _UUID.sub(lambda m: self._stand_in(
            m.group(), lambda n: f"00000000-0000-4000-8000-{n:012x}"), text)
        text = _HEX32.sub(lambda m: self._stand_in(m.group(), lambda n: f"{n:032x}"), text)
        text = _CALLABLE_GUID.sub(lambda m: "pyfunc_" + self._stand_in(
            m.group(1), lambda n: f"{n:08x}") + "_", text)
        root = str(Path(__file__).resolve().parents[3])
        return text.replace(root, "<checkout>")

    @staticmethod
    def _paths(paths: list[str]) -> list[str]:
        shown: list[str] = []
        for path in paths:
            mine = path.startswith("/opt/workbook")
            if mine:
                shown.append(path)
            elif not shown or shown[-1] != OTHER_PATHS:
                shown.append(OTHER_PATHS)
        return shown


# --- The reference ----------------------------------------------------------------------------

def format_message(message: Any) -> str:
    """A message as shown in the reference: one line when short, else one line per field."""
    compact = json.dumps(message, ensure_ascii=False)
    if len(compact) <= 96 or not isinstance(message, dict):
        return compact
    lines = [f"  {json.dumps(k)}: {json.dumps(v, ensure_ascii=False)}" for k, v in message.items()]
    return "{\n" + ",\n".join(lines) + "\n}"


def _type_text(node: dict[str, Any] | bool, defs: dict[str, Any]) -> str:
    if not isinstance(node, dict):
        return "any"
    if "$ref" in node and len(node) <= 3:
        name = node["$ref"].rsplit("/", 1)[-1]
        if name == "#":
            return "message"
        if name == "echo":
            return "text or null, as sent"
        if name in ("text", "text_or_null", "request_id", "workbook_id", "source", "count",
                    "text_list", "current_paths", "wire_args"):
            return _type_text(defs[name], defs)
        return name.replace("_", " ")
    if "const" in node:
        return json.dumps(node["const"])
    if "enum" in node:
        return " or ".join(json.dumps(v) for v in node["enum"])
    if "anyOf" in node or "oneOf" in node:
        return " or ".join(_type_text(n, defs) for n in node.get("anyOf", node.get("oneOf")))
    kinds = node.get("type")
    if kinds is None:
        return "any"
    names = []
    for kind in kinds if isinstance(kinds, list) else [kinds]:
        if kind == "array" and "items" in node:
            names.append("array of " + _type_text(node["items"], defs))
        elif kind == "object" and isinstance(node.get("additionalProperties"), dict):
            names.append("object of " + _type_text(node["additionalProperties"], defs))
        else:
            names.append({"string": "text"}.get(kind, kind))
    return " or ".join(names)


def field_table(direction: Direction, name: str) -> str:
    """The markdown table of the fields of `$defs/name` in `direction`'s schema."""
    defs = schema(direction)["$defs"]
    node = defs[name]
    properties = dict(defs[node["$ref"].rsplit("/", 1)[-1]].get("properties", {})
                      if "$ref" in node else {})
    properties.update(node.get("properties", {}))
    required = set(node.get("required", []))
    if "$ref" in node:
        required |= set(defs[node["$ref"].rsplit("/", 1)[-1]].get("required", []))
    rows = ["| field | type | " + ("default" if direction == INCOMING else "present") + " |",
            "|---|---|---|"]
    for field, spec in properties.items():
        if field == "type" and spec is True:  # the message's own type
            continue
        kind = _type_text(spec, defs)
        if field in required:
            extra = "required" if direction == INCOMING else "always"
        elif "default" in spec:
            extra = json.dumps(spec["default"])
        else:
            extra = "optional" if direction == INCOMING else "sometimes"
        rows.append(f"| `{field}` | {kind} | {extra} |")
    if len(rows) == 2:
        return "No fields besides `type`.\n"
    return "\n".join(rows) + "\n"


def render(text: str, examples: dict[str, Any]) -> str:
    """`text` with every example and field block filled in."""

    def fill(match: re.Match[str]) -> str:
        key = match["key"].strip()
        if match["kind"] == "example":
            if key not in examples:
                raise KeyError(f"the run produced no example named {key!r}")
            body = "```json\n" + format_message(examples[key]) + "\n```\n"
        else:
            direction, name = key.split()
            body = field_table(direction, name)  # type: ignore[arg-type]
        return match.group(1) + body + match.group(5)

    return _BLOCK.sub(fill, text)


def samples(text: str) -> list[tuple[Direction, Any]]:
    """The hand-written samples of `text` with their directions."""
    return [(m["direction"], json.loads(m["body"])) for m in _SAMPLE.finditer(text)]


def main() -> None:
    """Rewrite the reference's generated blocks, or check that they are current."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="only report whether it is current")
    args = parser.parse_args()
    current = REFERENCE.read_text(encoding="utf-8")
    fresh = render(current, collect_examples())
    if args.check:
        if fresh != current:
            print(f"{REFERENCE} is not current: run ./run docs", file=sys.stderr)
            sys.exit(1)
        return
    REFERENCE.write_text(fresh, encoding="utf-8")
    print(f"wrote {REFERENCE}")


if __name__ == "__main__":
    main()
