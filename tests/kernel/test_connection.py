"""The kernel process and its connection: launch, receive loop checks, teardown."""

from __future__ import annotations

import asyncio
import json
import sys

import pytest

from support.business_layer import Session, ThreadedBusinessLayer
from support.timing import units
from zentrel_master.python_server import kernel as kernel_module

MAX = kernel_module.MAX_MESSAGE_SIZE


@pytest.mark.shared_kernel
class TestReceiveLoop:
    def test_frame_one_over_the_limit_is_answered_and_kernel_keeps_serving(self, kernel: Session):
        kernel.send_raw("x" * (MAX + 1))
        assert kernel.receive() == {"type": "error", "message": "Message too large"}
        kernel.wait_for_log(f"Message too large: {MAX + 1} bytes")
        kernel.wait_for_log("[TIMING] Acquiring socket lock for: type=error, request_id=N/A")
        kernel.wait_for_log("[TIMING] Message sent: type=error, request_id=N/A")
        assert kernel.probe()["type"] == "error"

    def test_frame_of_multibyte_characters_over_the_limit_gets_the_kernels_own_answer(
        self, kernel: Session
    ):
        # Four UTF-8 bytes per character: over 4 MiB on the wire, still answered, not closed.
        kernel.send_raw("\U0001f600" * (MAX + 1))
        assert kernel.receive() == {"type": "error", "message": "Message too large"}
        assert kernel.probe()["type"] == "error"

    def test_frame_of_exactly_the_limit_is_parsed(self, kernel: Session):
        frame = json.dumps({"type": "no_such_type", "pad": ""})
        frame = frame[:-2] + "x" * (MAX - len(frame)) + '"}'
        assert len(frame) == MAX
        kernel.send_raw(frame)
        # Parsed and ignored as an unknown type: the probe's answer is the next message.
        assert kernel.probe() == {"type": "error", "message": "Invalid message: expected a JSON object"}

    @pytest.mark.parametrize(
        "frame",
        ["{not json", "", "[" * 100_000 + "]" * 100_000, b"\xff\xfe{}"],
        ids=["broken", "empty", "nested-too-deep", "binary-not-utf8"],
    )
    def test_unparsable_frame_gets_invalid_json_and_next_message_is_handled(
        self, kernel: Session, frame
    ):
        kernel.send_raw(frame)
        assert kernel.receive() == {"type": "error", "message": "Invalid JSON received"}
        assert kernel.probe()["type"] == "error"

    @pytest.mark.parametrize("frame", ["[1, 2]", "3", "null", '"text"'],
                             ids=["array", "number", "null", "string"])
    def test_json_that_is_not_an_object_gets_an_error_and_kernel_keeps_serving(
        self, kernel: Session, frame
    ):
        kernel.send_raw(frame)
        assert kernel.receive() == {
            "type": "error",
            "message": "Invalid message: expected a JSON object",
        }
        assert kernel.probe()["type"] == "error"

    @pytest.mark.off_protocol("incoming")
    def test_unknown_and_missing_types_are_ignored(self, kernel: Session):
        kernel.send({"type": "no_such_type", "request_id": "r1"})
        kernel.send({"request_id": "r2"})
        kernel.send({"type": 42})
        assert kernel.probe()["message"] == "Invalid message: expected a JSON object"


class TestLifecycle:
    def test_kernel_connects_to_its_workbook_path_and_logs_it(
        self, business_layer: ThreadedBusinessLayer, workbook_id: str
    ):
        session = business_layer.launch(workbook_id)
        try:
            assert session.session.connection.request.path == f"/ws/kernel/{workbook_id}"
            session.wait_for_log(f"Kernel connected for workbook: {workbook_id}")
        finally:
            assert session.shutdown() == 0
        assert f"Kernel disconnected for workbook: {workbook_id}" in session.log_text()

    def test_shutdown_message_ends_the_process_with_status_zero(self, kernel: Session):
        kernel.send({"type": "shutdown"})
        assert kernel.wait_exit() == 0
        # disconnect runs twice (the message, then the closed connection) without an error.
        assert "Kernel error" not in kernel.log_text()
        assert "Traceback" not in kernel.log_text()

    def test_server_closing_the_connection_ends_the_kernel(
        self, business_layer: ThreadedBusinessLayer, kernel: Session
    ):
        async def close() -> None:
            await kernel.session.connection.close()

        business_layer.call(close())
        assert kernel.wait_exit() == 0
        assert "Kernel disconnected for workbook" in kernel.log_text()

    def test_nothing_listening_logs_error_then_disconnect_and_main_returns(self, caplog):
        async def scenario() -> None:
            # A port that was just free: bind, read it, release.
            import socket

            with socket.socket() as sock:
                sock.bind(("127.0.0.1", 0))
                port = sock.getsockname()[1]
            await kernel_module.main("wb-nowhere", str(port))

        before = sys.stdout, sys.stderr
        with caplog.at_level("INFO", logger=kernel_module.__name__):
            asyncio.run(scenario())
        texts = [r.getMessage() for r in caplog.records]
        assert sum(t.startswith("Kernel error: ") for t in texts) == 1
        assert texts[-1] == "Kernel disconnected for workbook: wb-nowhere"
        assert (sys.stdout, sys.stderr) == before
        assert sys.modules["zentrel"]._kernel_instance is None

    @pytest.mark.parametrize(
        "args", [("wb", 9000), (1, "9000"), (None, "9000")], ids=["int-port", "int-id", "none-id"]
    )
    def test_main_rejects_non_text_arguments_before_connecting(self, args):
        with pytest.raises(TypeError, match="has incorrect type"):
            kernel_module.main(*args)


class TestInProcessKernel:
    """A kernel in this process against the same server: its attributes during and after a run."""

    def test_connected_state_and_teardown(self, business_layer: ThreadedBusinessLayer):
        session = business_layer.expect("wb-inproc")
        import zentrel

        stdout_before, stderr_before = sys.stdout, sys.stderr

        async def scenario() -> dict:
            kernel = kernel_module.PythonKernel("wb-inproc", port=str(business_layer.port))
            assert kernel.server_url == f"ws://127.0.0.1:{business_layer.port}"
            task = asyncio.create_task(kernel.run())
            await session.asend_raw("[]")  # first answer proves the connection is served
            await session.areceive()
            seen = {
                "running": kernel.running,
                "instance": zentrel._kernel_instance is kernel,
                "loop": kernel._loop is asyncio.get_running_loop(),
                "lock": type(kernel._socket_lock).__name__,
                "batcher": type(kernel._batcher).__name__,
            }
            sys.stdout = sys.stderr = None  # whatever replaced them, teardown restores
            await session.aclose_connection()
            await asyncio.wait_for(task, units())
            seen["after_running"] = kernel.running
            await kernel.disconnect()  # a second teardown is harmless
            seen["pool_shut"] = kernel._thread_pool._shutdown
            return seen

        try:
            seen = asyncio.run(scenario())
        finally:
            restored = (sys.stdout, sys.stderr)
            sys.stdout, sys.stderr = stdout_before, stderr_before
        assert seen == {
            "running": True,
            "instance": True,
            "loop": True,
            "lock": "Lock",
            "batcher": "MessageBatcher",
            "after_running": False,
            "pool_shut": True,
        }
        assert restored == (stdout_before, stderr_before)
        assert zentrel._kernel_instance is None
