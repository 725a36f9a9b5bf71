#pragma once
/// The poll of the kernel's event loop; the launcher's selector polls through it. Once the
/// interpreter lock is released, and before the wait, it runs the `loop_released` hook: the
/// request channel sets there the waiters the listener woke during the loop's turn, so they
/// find the lock free instead of waking only to sleep again on it.

#include "common/python.hpp"

namespace zm::kernel::core {

/// As `select.epoll.poll(timeout, maxevents)` on the epoll descriptor `epfd`: a list of
/// (fd, events) pairs. `timeout` in seconds, None or negative to wait without a limit.
py::list poll_releasing(int epfd, py::handle timeout, int maxevents);

} // namespace zm::kernel::core
