#pragma once
/// The dispatch table of incoming messages: what each type reads, whether it is handled inline,
/// awaited inline or started as a background task, and the replies of the dispatcher's own rows.

#include "common/coroutine.hpp"

namespace zm::kernel::dispatch {

/// Handles one message (chunk reassembly and the receive logs are done by the caller). Returns
/// an awaitable for `handle_message` to await, or None. A malformed field, or an Exception raised
/// by an inline row, is answered with an "error" reply naming the message type and the problem;
/// the kernel keeps serving. "shutdown" still ends the kernel.
py::object dispatch_message(py::object kernel, py::object msg_type, py::object message);

} // namespace zm::kernel::dispatch
