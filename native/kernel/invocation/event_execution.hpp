#pragma once
/// PythonKernel._handle_event_execution: one workbook event's handler, run on the worker pool
/// with captured output, answered with one "event_execution_result".

#include "common/coroutine.hpp"

namespace zm::kernel::invocation {

/// The task body of one "event_execution" message. Reads and checks the fields first: a field
/// of the wrong type raises TypeError before any coroutine exists.
py::object handle_event_execution(py::object self, py::object message);

} // namespace zm::kernel::invocation
