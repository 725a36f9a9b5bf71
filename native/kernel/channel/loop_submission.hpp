#pragma once
/// Handing messages from any thread to the kernel's event loop.

#include "common/python.hpp"

#include <string>

namespace zm::kernel::channel {

/// Schedules `coroutine` on `loop` from any thread and returns its concurrent future; a
/// coroutine that cannot be scheduled is closed (it never ran) and the failure raised.
py::object submit_coroutine(py::object coroutine, py::handle loop);

/// Schedules `kernel.send_message(message)` on the kernel's loop without waiting for it.
/// Raises when it cannot be scheduled (no loop yet, loop closed).
void submit_message(py::handle kernel, py::handle message);

/// The current thread's name.
std::string current_thread_name();

/// Holds a threading.Lock for a scope (its acquire releases the GIL while it waits).
class LockHold {
public:
    explicit LockHold(py::object lock);
    ~LockHold();
    LockHold(const LockHold &) = delete;
    LockHold &operator=(const LockHold &) = delete;

private:
    py::object lock_;
};

} // namespace zm::kernel::channel
