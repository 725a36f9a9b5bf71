"""The main job until the kernel serves requests: load the four modules and run a C++ coroutine."""

from __future__ import annotations

import asyncio
import importlib

MODULES = [
    "zentrel_master.python_server.kernel",
    "zentrel_master.python_server.code_insight",
    "zentrel_master.python_server.zentrel.office_proxy",
    "zentrel_master.business_layer.requirement_solver",
]


def main() -> None:
    for name in MODULES:
        module = importlib.import_module(name)
        print(f"{name}\n    {module.__doc__}")


if __name__ == "__main__":
    main()
    asyncio.run(asyncio.sleep(0))
