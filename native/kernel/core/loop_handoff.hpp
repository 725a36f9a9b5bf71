#pragma once
/// Hand-offs between the event loop and other threads: one scheduled callback each way.
///
/// asyncio's own bridges (run_coroutine_threadsafe, run_in_executor) pair every hand-off with a
/// concurrent.futures.Future and chain the two futures through Python callbacks; on the paths
/// every request takes that bookkeeping cost as much as the kernel's own work.

#include "common/python.hpp"

namespace zm::kernel::core {

/// Starts `coroutine` as a task of `loop`, from any thread; the task is kept until it ends.
/// When the loop cannot take it (closed), the coroutine is closed and the error raised. Its
/// first step runs in the loop's turn that takes it.
void start_on_loop(py::handle loop, py::object coroutine);

/// Runs `fn()` on the `concurrent.futures` executor `pool` and returns a future of `loop` that
/// gets its result or its exception (BaseException included, as with `run_in_executor`); the
/// worker hands the outcome to the loop itself.
py::object run_on_pool(py::handle loop, py::handle pool, py::object fn);

} // namespace zm::kernel::core
