#pragma once
/// The process-wide stream sender: text written to the process's standard output or standard
/// error while the kernel is connected becomes a "stdout" / "stderr" message without a request.

#include "common/python.hpp"

namespace zm::kernel::channel {

/// Queues {"type": stream_type, "content": content, "workbook_id"} on the kernel's output queue
/// (merged with the previous piece of the stream while that one waits); never raises
/// an Exception (a failure is logged at debug level and the text is lost).
void send_stream_message(py::handle kernel, py::handle stream_type, py::handle content);

/// At connect: sys.stdout and sys.stderr become KernelStreamHook objects over the sender.
/// `disconnect` puts the streams the kernel found at construction back.
void install_streams(py::object kernel);

} // namespace zm::kernel::channel
