#pragma once
/// The kernel's synchronous request channel: a worker thread sends a "sys_request" through the
/// kernel's connection and blocks until the listener stores the matching "sys_response" and
/// wakes it. The listener side is the dispatcher's "sys_response" row.

#include "common/python.hpp"

#include <string>

namespace zm::kernel::channel {

/// Sends {"type": "sys_request", "payload": payload} and waits at most `timeout` seconds for the
/// response dict. RuntimeError on the event-loop thread or when the response data is missing,
/// TimeoutError when nothing arrives in time.
py::object send_sys_request(py::handle kernel, py::dict payload, py::handle timeout);

/// Stamps a copy of `req` with a new `requestId` and `kind` "request" and sends it.
py::object new_send_request_sync(py::handle kernel, py::handle req, py::handle timeout);

/// Sets `waiter`, an entry of the kernel's waiter table: the kernel's own waiter directly, any
/// other object (a `threading.Event`, a release's stand-in) through its `set()`.
void wake(py::handle waiter);

/// Wakes the worker waiting for `request_id` (if any) with a RuntimeError "sys_response could
/// not be decoded: " + `problem` instead of a response; returns whether one was waiting.
bool fail_waiter(py::handle kernel, py::handle request_id, const std::string &problem);

/// For a received text the listener could not decode (`problem` says why): when it is a
/// "sys_response" whose request id can still be read, its waiter is woken with the error.
void wake_undecodable_response(py::object kernel, py::object text, const std::string &problem);

/// At connect: the kernel's request function replaces `zentrel.messaging.send_request_sync`.
void install_request_channel(py::object kernel);

} // namespace zm::kernel::channel
