#pragma once
/// The run-output callback of one request: every piece that the request's code writes becomes a
/// "stdout" or "stderr" message, handed to the event loop from the writing (worker) thread.

#include "common/python.hpp"

namespace zm::kernel::dispatch {

/// A callable taking one text piece: queues it on the kernel's output queue, which sends
/// {"type": `stream`, "content", "request_id", "workbook_id", "source"} from `loop`, merging it
/// with the previous piece of the same stream while that one is still waiting (and holding the
/// writer while too much output waits). A failure (an Exception) is logged at debug level and
/// loses the piece for streaming only.
py::object make_output_callback(py::object kernel, py::object loop, const char *stream,
                                py::object request_id, py::object workbook_id, py::object source);

} // namespace zm::kernel::dispatch
