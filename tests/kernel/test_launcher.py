"""The launcher ends the kernel process once the kernel has torn down, whatever threads remain."""

from __future__ import annotations

import subprocess
import sys

from support.business_layer import ThreadedBusinessLayer
from support.timing import units

# A pool thread that never finishes stands in for user code still running on a worker; the
# interpreter would join it at exit, so only an immediate exit ends this process.
STUCK_WORKER_THEN_LAUNCH = """
import concurrent.futures, sys, threading
from zentrel_master.python_server import launcher
never = threading.Event()
pool = concurrent.futures.ThreadPoolExecutor(max_workers=1)
pool.submit(never.wait)
launcher.main(sys.argv[1:])
"""


def test_process_exits_zero_after_shutdown_while_a_worker_still_runs(
    business_layer: ThreadedBusinessLayer, workbook_id: str
):
    session = business_layer.expect(workbook_id)
    process = subprocess.Popen(
        [sys.executable, "-c", STUCK_WORKER_THEN_LAUNCH, workbook_id, str(business_layer.port)],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        session.send({"type": "shutdown"})  # waits for the connection first
        _, log = process.communicate(timeout=units())
        assert process.returncode == 0
        # The log was flushed before the exit.
        assert log.rstrip().endswith(f"Kernel disconnected for workbook: {workbook_id}")
    finally:
        process.kill()
        process.wait()


def test_bad_arguments_end_with_usage_error(workbook_id: str):
    result = subprocess.run(
        [sys.executable, "-m", "zentrel_master.python_server.launcher", workbook_id],
        capture_output=True, text=True, timeout=units(),
    )
    assert result.returncode == 2
    assert "usage:" in result.stderr
