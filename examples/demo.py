"""The main job: a development Business Layer, one kernel process, and a round trip with it."""

from __future__ import annotations

import asyncio
import importlib

from zentrel_master.business_layer.dev_server import DevBusinessLayer

MODULES = [
    "zentrel_master.python_server.kernel",
    "zentrel_master.python_server.code_insight",
    "zentrel_master.python_server.zentrel.office_proxy",
    "zentrel_master.business_layer.requirement_solver",
]

WORKBOOK = "demo-workbook"
REPLY_WAIT = 5.0


def show_modules() -> None:
    for name in MODULES:
        module = importlib.import_module(name)
        print(f"{name}\n    {module.__doc__}")


async def round_trip() -> None:
    server = DevBusinessLayer(port=0)
    await server.start()
    print(f"\nBusiness Layer listening on ws://127.0.0.1:{server.port}/ws/kernel/<workbook id>")
    session = await server.launch_kernel(WORKBOOK, timeout=30)
    print(f"kernel process {session.process.pid} connected for {WORKBOOK!r}")
    try:
        request = {"type": "execution_request", "code": "print(6 * 7)", "request_id": "demo-1"}
        print(f"-> {request}")
        await session.send_chunked(request, chunk_size=16)  # the Business Layer's own chunk series
        try:
            while True:
                reply = await session.receive(REPLY_WAIT)
                print(f"<- {reply}")
                if reply.get("type") in ("execution_result", "execution_error"):
                    break
        except asyncio.TimeoutError:
            print("   (no execution reply: this build of the kernel does not execute code yet)")
        for frame in ["{not json", "[1, 2]"]:
            print(f"-> {frame!r}")
            await session.send_raw(frame)
            print(f"<- {await session.receive(REPLY_WAIT)}")
        print("-> {'type': 'shutdown'}")
        status = await session.shutdown(REPLY_WAIT)
        print(f"kernel process exited with status {status}")
    finally:
        await server.stop()


def main() -> None:
    show_modules()
    asyncio.run(round_trip())


if __name__ == "__main__":
    main()
