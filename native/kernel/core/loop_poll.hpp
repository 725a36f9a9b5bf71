#pragma once
/// The poll of the kernel's event loop; the launcher's selector polls through it. Once the
/// interpreter lock is released, and before the wait, it runs what the loop's thread held for
/// that moment (`after_release`): the responses it handed to workers during its turn, so that
/// they find the lock free.

#include "common/python.hpp"

namespace zm::kernel::core {

/// As `select.epoll.poll(timeout, maxevents)` on the epoll descriptor `epfd`: a list of
/// (fd, events) pairs. `timeout` in seconds, None or negative to wait without a limit.
py::list poll_releasing(int epfd, py::handle timeout, int maxevents);

} // namespace zm::kernel::core
