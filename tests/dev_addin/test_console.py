"""`./run console` driven through its standard input: a kernel, the workbook, and leaving."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

from support.timing import units

ROOT = Path(__file__).resolve().parents[2]


def test_console_runs_python_shows_a_sheet_and_leaves_at_end_of_input() -> None:
    typed = (
        "x = 6 * 7\n"
        "for i in range(2):\n"
        "    print('line', i)\n"
        "\n"
        "x\n"
        'context.workbook.worksheets.getItem("Loan").getRange("B3").values = [[15]]\n'
        ":sheet Loan A3:B4\n"
        "1/0\n"
    )
    done = subprocess.run(
        [sys.executable, str(ROOT / "examples" / "console.py")],
        input=typed, capture_output=True, text=True, timeout=units(3), cwd=ROOT, check=False,
    )
    assert done.returncode == 0, done.stderr
    out = done.stdout
    assert "line 0\nline 1\n" in out and "Out: 42" in out
    assert "3 |Years       |          15" in out
    assert "4 |Payment     |    1,787.21" in out  # the formula followed its input
    assert "ZeroDivisionError: division by zero" in out
