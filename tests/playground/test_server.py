"""The page server without a browser: static files, origins and malformed page messages."""

from __future__ import annotations

import json
import re
import select
import signal
import subprocess
import sys
import time
import urllib.error
import urllib.request
from pathlib import Path
from typing import Any

import pytest
from websockets.exceptions import InvalidStatus
from websockets.sync.client import connect

from support.timing import units


def exchange(socket: Any, frame: str | bytes) -> dict[str, Any]:
    socket.send(frame)
    return json.loads(socket.recv(units()))


@pytest.fixture
def socket(playground):
    with connect(f"ws://127.0.0.1:{playground.playground.port}/ws") as connection:
        yield connection


class TestHttp:
    def test_the_page_and_its_files_are_served_with_their_types(self, playground):
        for path, kind in [("/", "text/html"), ("/playground.js", "text/javascript"),
                           ("/playground.css", "text/css")]:
            with urllib.request.urlopen(playground.url.rstrip("/") + path, timeout=units()) as r:
                assert r.headers["Content-Type"].startswith(kind)
                assert r.read()

    @pytest.mark.parametrize("path", ["/static/playground.js", "/../server.py", "/%2e%2e/x"],
                             ids=["folder-name", "dot-dot", "escaped-dot-dot"])
    def test_nothing_but_the_page_files_is_served(self, playground, path):
        with pytest.raises(urllib.error.HTTPError) as raised:
            urllib.request.urlopen(playground.url.rstrip("/") + path, timeout=units())
        raised.value.close()  # the error holds the response and its connection
        assert raised.value.code == 404

    @pytest.mark.parametrize("origin", ["http://127.0.0.1:{port}", "http://localhost:{port}"],
                             ids=["address", "localhost"])
    def test_the_page_s_own_origin_may_open_the_websocket(self, playground, origin):
        port = playground.playground.port
        with connect(f"ws://127.0.0.1:{port}/ws", origin=origin.format(port=port)) as socket:
            assert exchange(socket, json.dumps({"type": "hello", "id": 1}))["type"] == "hello"

    @pytest.mark.parametrize("origin", ["http://elsewhere.test", "http://127.0.0.1:1",
                                        "null"], ids=["other-site", "other-port", "null"])
    def test_a_websocket_from_another_origin_is_refused(self, playground, origin):
        with pytest.raises(InvalidStatus) as raised:
            connect(f"ws://127.0.0.1:{playground.playground.port}/ws", origin=origin).close()
        assert raised.value.response.status_code == 403


BAD_MESSAGES = [
    ("binary", b"\x00\x01", "binary"),
    ("not-json", "{type: hello", "not JSON"),
    ("not-an-object", "[1, 2]", "JSON object"),
    ("no-type", json.dumps({"id": 7}), "Unknown message type None"),
    ("unknown-type", json.dumps({"type": "shutdown", "id": 7}), "Unknown message type 'shutdown'"),
    ("code-not-text", json.dumps({"type": "execution_request", "code": 5, "id": 7}),
     "Field 'code' must be text"),
    ("line-not-integer", json.dumps({"type": "completion_request", "code": "x", "line": "2",
                                     "id": 7}), "Field 'line' must be an integer"),
    ("row-is-boolean", json.dumps({"type": "edit", "sheet": "Orders", "row": True, "column": 0,
                                   "value": "1", "id": 7}), "Field 'row' must be an integer"),
    ("cell-off-the-sheet", json.dumps({"type": "edit", "sheet": "Orders", "row": -1,
                                       "column": 0, "value": "1", "id": 7}), "outside the sheet"),
    ("unknown-sheet", json.dumps({"type": "sheet", "name": "Nope", "id": 7}), "does not exist"),
    ("module-name-escaping", json.dumps({"type": "update_module", "module_name": "../evil",
                                         "code": "", "id": 7}), "is not a module name"),
    ("code-too-long", json.dumps({"type": "execution_request", "code": "x" * 1_000_001,
                                  "id": 7}), "longer than 1000000"),
    ("dirty-files-not-a-map", json.dumps({"type": "hover_request", "dirty_files": ["x"],
                                           "id": 7}), "must map module names to texts"),
    ("dirty-file-not-text", json.dumps({"type": "hover_request", "dirty_files": {"m": 1},
                                        "id": 7}), "Field 'dirty_files' must be text"),
    ("dirty-file-bad-name", json.dumps({"type": "hover_request", "dirty_files": {"a/b": ""},
                                        "id": 7}), "is not a module name"),
    ("requirements-not-a-list", json.dumps({"type": "resolve", "requirements": "flask",
                                            "id": 7}), "must be a list of texts"),
    ("no-requirement", json.dumps({"type": "resolve", "requirements": [" "], "id": 7}),
     "at least one requirement"),
]


class TestMalformedMessages:
    @pytest.mark.parametrize(("frame", "text"), [case[1:] for case in BAD_MESSAGES],
                             ids=[case[0] for case in BAD_MESSAGES])
    def test_is_answered_with_an_error_and_the_connection_serves_on(self, socket, frame, text):
        reply = exchange(socket, frame)
        assert reply["type"] == "error"
        assert text in reply["message"]
        if isinstance(frame, str) and '"id": 7' in frame:
            assert reply["id"] == 7
        hello = exchange(socket, json.dumps({"type": "hello", "id": 8}))
        assert (hello["type"], hello["id"]) == ("hello", 8)

    def test_a_relayed_request_still_reaches_the_kernel_afterwards(self, socket):
        exchange(socket, "garbage")
        reply = exchange(socket, json.dumps({"type": "completion_request", "id": 9,
                                             "code": "import pricing\npricing.ti", "line": 2,
                                             "column": 10}))
        assert reply["type"] == "completion_response"
        assert "ticks" in [c["label"] for c in reply["completions"]]


def replies_until(socket: Any, final: set[str]) -> list[dict[str, Any]]:
    seen = []
    while not seen or seen[-1]["type"] not in final:
        seen.append(json.loads(socket.recv(units())))
    return seen


class TestKernelLink:
    def test_a_module_too_long_for_one_kernel_frame_is_sent_in_chunks(self, socket):
        text = '"' * 600_000  # each quote is escaped: the frame is over the kernel's limit
        code = f"TEXT = {text!r}\n"
        saved = exchange(socket, json.dumps({"type": "update_module", "module_name": "big",
                                             "code": code, "id": 1}))
        assert saved == {"type": "module_saved", "id": 1, "module_name": "big"}
        socket.send(json.dumps({"type": "execution_request", "code": "import big; len(big.TEXT)",
                                "id": 2}))
        final = replies_until(socket, {"execution_result", "execution_error"})[-1]
        assert (final["type"], final["result"], final["id"]) == ("execution_result", "600000", 2)

    def test_requests_waiting_on_an_ended_kernel_are_answered(self, own_playground):
        url = f"ws://127.0.0.1:{own_playground.playground.port}/ws"
        with connect(url) as socket:
            socket.send(json.dumps({"type": "execution_request", "id": 1,
                                    "code": "import threading; threading.Event().wait(60)"}))
            socket.send(json.dumps({"type": "execution_request", "id": 2, "code": "1"}))
            assert replies_until(socket, {"execution_result"})[-1]["id"] == 2

            async def kill() -> None:
                await own_playground.playground.session.kill()

            own_playground.call(kill())
            ended = json.loads(socket.recv(units()))
            assert ended == {"type": "error", "id": 1,
                             "message": "The kernel has ended; restart the playground"}
            again = exchange(socket, json.dumps({"type": "hover_request", "code": "x", "id": 3}))
            assert again == {"type": "error", "id": 3,
                             "message": "The kernel has ended; restart the playground"}


class TestCommand:
    def test_serves_the_example_workbook_and_ends_with_its_kernel_on_sigterm(self):
        process = subprocess.Popen(
            [sys.executable, "-m", "zentrel_master.business_layer.playground"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            ready = select.select([process.stdout], [], [], units(2))[0]
            assert ready, "no address printed"
            line = process.stdout.readline()
            match = re.fullmatch(r"Playground on (http://127\.0\.0\.1:\d+/) .*\n", line)
            assert match, line
            with urllib.request.urlopen(match[1], timeout=units()) as response:
                assert b"<title>Zentrel playground</title>" in response.read()
            children = Path(f"/proc/{process.pid}/task/{process.pid}/children").read_text()
            kernels = [int(pid) for pid in children.split()]
            assert kernels, "no kernel process"
            with connect(match[1].replace("http", "ws") + "ws") as socket:
                hello = exchange(socket, json.dumps({"type": "hello", "id": 1}))
                assert "finance" in hello["modules"]
                assert any(c["input"].startswith("=") for c in hello["grid"]["cells"].values())
            process.send_signal(signal.SIGTERM)
            assert process.wait(units()) == 0
            deadline = time.monotonic() + units()
            while any(Path(f"/proc/{pid}").exists() for pid in kernels):
                assert time.monotonic() < deadline, "kernel process left running"
                time.sleep(0.05)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            process.stdout.close()
            process.stderr.close()
