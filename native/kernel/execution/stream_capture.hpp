#pragma once
/// StreamCapture: the in-memory capture of one run's output, forwarding each piece as written.

#include "common/python.hpp"

namespace zm::kernel::execution {

/// The class namespace of StreamCapture (an io.TextIOBase subclass).
py::dict stream_capture_namespace();

/// A new StreamCapture with `on_write` (callable or None).
py::object new_stream_capture(py::handle on_write);

/// Everything written to `capture` so far.
py::str capture_value(py::handle capture);

} // namespace zm::kernel::execution
