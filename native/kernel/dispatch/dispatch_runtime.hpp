#pragma once
/// The Python objects dispatch uses on every message, looked up once at import.

#include "common/python.hpp"

namespace zm::kernel::dispatch {

struct DispatchRuntime {
    py::object time_time;                ///< time.time
    py::object run_coroutine_threadsafe; ///< asyncio.run_coroutine_threadsafe
    py::object background_tasks;         ///< set of the tasks started by the dispatcher
    py::object discard_task;             ///< background_tasks.discard
};

/// Looks the objects up; called once while the kernel module initialises.
void init_dispatch_runtime();

/// The objects looked up by init_dispatch_runtime (never destroyed).
DispatchRuntime &dispatch_runtime();

} // namespace zm::kernel::dispatch
