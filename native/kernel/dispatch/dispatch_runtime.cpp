#include "kernel/dispatch/dispatch_runtime.hpp"

namespace zm::kernel::dispatch {

namespace {
DispatchRuntime *runtime = nullptr;
}

void init_dispatch_runtime() {
    if (runtime != nullptr)
        return;
    // Deliberately leaked: these objects must outlive static destruction at interpreter exit.
    auto *rt = new DispatchRuntime();
    rt->time_time = py::module_::import("time").attr("time");
    rt->run_coroutine_threadsafe = py::module_::import("asyncio").attr("run_coroutine_threadsafe");
    rt->background_tasks = py::set();
    rt->discard_task = rt->background_tasks.attr("discard");
    runtime = rt;
}

DispatchRuntime &dispatch_runtime() { return *runtime; }

} // namespace zm::kernel::dispatch
