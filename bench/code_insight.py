"""Completion latency of CodeInsight against jedi called directly, in one run.

Details of library names are remembered between requests, so the warm `np.` request is compared
with jedi's bare names (complete() alone); the workbook's modules are never remembered, so that
case is compared with jedi building the same items.

A workbook of 20 modules of about 300 lines each, module 0 importing the others; 50 completion
requests at varying positions in module 0, each carrying every module as the kernel sends them.
The baseline builds the same items with jedi directly over the same text and an equivalent project
whose files were written once (the unavoidable work: complete, signatures, docstrings).
"""

from __future__ import annotations

import os
import re
import statistics
import sys
import tempfile
import time

import jedi

from zentrel_master.python_server import code_insight

__all__ = ["main"]

MODULES = 20
FUNCTIONS_PER_MODULE = 25
REQUESTS = 50
REPEATS = 3


def helper_module(index: int) -> str:
    """About 300 lines: functions with docstrings and a class."""
    lines = [f'"""Workbook module {index}."""', "import math", ""]
    for f in range(FUNCTIONS_PER_MODULE):
        lines += [
            f"def func_{index:02d}_{f:02d}(value: float, scale: float = {f}.0) -> float:",
            f'    """Scale value by {f} in module {index}."""',
            "    result = value * scale",
            "    if result > 100:",
            "        result = math.sqrt(result)",
            "    total = 0.0",
            "    for step in range(3):",
            "        total += result / (step + 1)",
            "    return total",
            "",
            "",
        ]
    lines += [f"class Table{index:02d}:", f'    """Rows of module {index}."""', ""]
    for f in range(5):
        lines += [f"    def column_{f}(self) -> list:", f"        return [{f}]", ""]
    return "\n".join(lines) + "\n"


def main_module() -> tuple[str, list[tuple[int, int]]]:
    """Module 0 and the 50 cursor positions (1-based line, 0-based column) inside it."""
    lines = [f"import mod_{i:02d}" for i in range(1, MODULES)] + ["", ""]
    positions: list[tuple[int, int]] = []
    body: list[str] = []
    for f in range(60):
        target = 1 + f % (MODULES - 1)
        body += [
            f"def report_{f:02d}(rows: list) -> float:",
            f'    """Report {f}."""',
            f"    table = mod_{target:02d}.Table{target:02d}()",
            f"    first = mod_{target:02d}.func_{target:02d}_{f % FUNCTIONS_PER_MODULE:02d}(1.0)",
            "    return first + len(rows) + len(table.column_0())",
            "",
        ]
    lines += body
    text = "\n".join(lines) + "\n"
    numbered = text.split("\n")
    for n, line in enumerate(numbered, start=1):
        if len(positions) >= REQUESTS:
            break
        kind = len(positions) % 5
        if "= mod_" in line and kind in (0, 1):
            # After "mod_NN." (module attributes) or in the middle of a function name.
            dot = line.index(".") + 1
            positions.append((n, dot if kind == 0 else dot + 6))
        elif line.startswith("    return") and kind in (2, 3):
            # A local name ("fir") or a global-scope prefix ("le").
            positions.append((n, line.index("first") + 3 if kind == 2 else line.index("len") + 2))
        elif "table.column_0" in line and kind == 4:
            positions.append((n, line.index("column_0")))
    assert len(positions) == REQUESTS, len(positions)
    return text, positions


def jedi_items(script: jedi.Script, line: int, column: int, private: bool) -> list[dict]:
    """The same items CodeInsight builds, straight from jedi."""
    items = []
    for c in script.complete(line=line, column=column):
        if not private and c.name.startswith("_"):
            continue
        item = {"label": c.name, "kind": c.type, "insertText": c.name}
        if c.type == "function":
            signatures = c.get_signatures()
            if signatures:
                item["detail"] = signatures[0].to_string()
        doc = c.docstring()
        if doc:
            item["documentation"] = doc
        items.append(item)
    return items


def offers_private(text: str, line: int, column: int) -> bool:
    """Whether the identifier before the cursor starts with an underscore."""
    match = re.search(r"[a-zA-Z_][a-zA-Z0-9_]*$", text.split("\n")[line - 1][:column])
    return bool(match) and match.group().startswith("_")


def fastest(fn, line: int, column: int) -> float:
    """The best of REPEATS timed calls (the machine is shared; the minimum is the stable figure)."""
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter()
        fn(line, column)
        best = min(best, time.perf_counter() - start)
    return best


def percentile(values: list[float], fraction: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, round(fraction * (len(ordered) - 1)))]


def row(name: str, values: list[float], baseline: list[float] | None) -> str:
    med, p95 = statistics.median(values), percentile(values, 0.95)
    ratio = f"{med / statistics.median(baseline):6.2f}x" if baseline else "      -"
    return f"{name:<44} {med * 1000:9.1f} {p95 * 1000:9.1f}  {ratio}"


def main() -> None:
    """Run the measurement and print the table."""
    modules = {f"mod_{i:02d}": helper_module(i) for i in range(1, MODULES)}
    main_text, positions = main_module()
    modules["mod_00"] = main_text
    total_lines = sum(text.count("\n") for text in modules.values())

    numpy_rows = measure_numpy()

    insight = code_insight.CodeInsight()
    with tempfile.TemporaryDirectory() as baseline_dir:
        for name, text in modules.items():
            with open(os.path.join(baseline_dir, name + ".py"), "w", encoding="utf-8") as f:
                f.write(text)
        project = jedi.Project(path=baseline_dir, added_sys_path=[insight._stubs_path])
        main_path = os.path.join(baseline_dir, "mod_00.py")

        def ours(line: int, column: int) -> int:
            r = insight.get_completions(main_text, line, column, path="mod_00",
                                        modules=dict(modules))
            assert r["error"] is None, r["error"]
            return len(r["completions"])

        def baseline(line: int, column: int) -> int:
            script = jedi.Script(code=main_text, path=main_path, project=project)
            return len(jedi_items(script, line, column,
                                  offers_private(main_text, line, column)))

        def bare(line: int, column: int) -> int:
            script = jedi.Script(code=main_text, path=main_path, project=project)
            return len(script.complete(line=line, column=column))

        def rewriting(line: int, column: int) -> int:
            # Every file rewritten before the request, as when unchanged files were not kept.
            for name in modules:
                insight.delete_module(name)
            return ours(line, column)

        for line, column in positions[:5]:  # warm-up: imports, typeshed, parser caches
            ours(line, column), baseline(line, column), bare(line, column)
        timings: dict[str, list[float]] = {"ours": [], "baseline": [], "bare": [], "rewrite": []}
        for line, column in positions:  # interleaved so that drift hits all alike
            for key, fn in (("ours", ours), ("baseline", baseline), ("bare", bare),
                            ("rewrite", rewriting)):
                timings[key].append(fastest(fn, line, column))
    insight.cleanup()

    print(f"code_insight completion latency: {MODULES} modules, {total_lines} lines, "
          f"{REQUESTS} requests (best of {REPEATS} each), Python {sys.version.split()[0]}, "
          f"jedi {jedi.__version__}")
    print(f"{'path':<44} {'median ms':>9} {'p95 ms':>9}  {'ratio':>7}")
    print(row("ours: get_completions, all modules", timings["ours"], timings["baseline"]))
    print(row("baseline: jedi directly, same items", timings["baseline"], None))
    print(row("jedi complete() alone (no docs/signatures)", timings["bare"], timings["baseline"]))
    print(row("ours with every file rewritten first", timings["rewrite"], timings["baseline"]))
    print()
    print("after `import numpy as np; np.` (fresh engine)")
    for name, seconds, count in numpy_rows:
        print(f"{name:<44} {seconds * 1000:9.1f} ms  ({count} completions)")
    print()
    warm, bare_names = numpy_rows[1][1], numpy_rows[3][1]
    workbook = statistics.median(timings["ours"]) / statistics.median(timings["baseline"])
    print("targets")
    print(f"{'np. warm / jedi bare names (at most 2x)':<44} {warm / bare_names:9.2f}x")
    print(f"{'workbook / raw jedi, same items (at most 1.1x)':<44} {workbook:9.2f}x")


def measure_numpy() -> list[tuple[str, float, int]]:
    """First and warm latency of completing numpy's namespace."""
    insight = code_insight.CodeInsight()
    code = "import numpy as np\nnp."
    rows = []
    start = time.perf_counter()
    count = len(insight.get_completions(code, 2, 3)["completions"])
    rows.append(("numpy: first request", time.perf_counter() - start, count))
    warm = []
    for _ in range(5):
        start = time.perf_counter()
        count = len(insight.get_completions(code, 2, 3)["completions"])
        warm.append(time.perf_counter() - start)
    rows.append(("numpy: warm (median of 5)", statistics.median(warm), count))
    warm_jedi = []
    for _ in range(5):
        start = time.perf_counter()
        script = jedi.Script(code=code, project=insight._jedi_project)
        count = len(jedi_items(script, 2, 3, False))
        warm_jedi.append(time.perf_counter() - start)
    rows.append(("numpy: jedi directly, warm (median of 5)", statistics.median(warm_jedi), count))
    bare = []
    for _ in range(5):
        start = time.perf_counter()
        script = jedi.Script(code=code, project=insight._jedi_project)
        count = len(script.complete(line=2, column=3))
        bare.append(time.perf_counter() - start)
    rows.append(("numpy: jedi bare names, warm (median of 5)", statistics.median(bare), count))
    insight.cleanup()
    return rows


if __name__ == "__main__":
    main()
