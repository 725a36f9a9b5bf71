#pragma once
/// Requests whose answer nobody reads (proxy releases): the dropping thread hands them over and
/// goes on at once. Each still leaves as its own "sys_request" with a new `requestId` and `kind`
/// "request", in the order they were handed over and before any later request of the same
/// thread; the add-in's answer is taken off the listener's tables without a warning.

#include "common/python.hpp"

namespace zm::kernel::channel {

/// Stands in the kernel's waiter table for a release: the listener stores the answer and calls
/// `set()`, which drops both entries again (nobody waits for them).
struct ReleaseWaiter {
    py::object kernel;
    py::object request_id;
    void set() const;
};

/// Queues a copy of `req` for sending from the kernel's loop; never waits. Callable from any
/// thread, the event-loop thread included. Raises when the loop cannot take it (closed).
void new_send_request_nowait(py::handle kernel, py::handle req);

/// True while releases are handed over but not yet all in the output queue: a request sent now
/// must go through the loop, behind them.
bool releases_in_transit();

/// At connect: the kernel's function replaces `zentrel.messaging.send_request_nowait`.
void install_release_channel(py::object kernel);

} // namespace zm::kernel::channel
