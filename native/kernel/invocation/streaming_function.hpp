#pragma once
/// PythonKernel._execute_streaming_function: a generator function of a workbook module run on
/// the worker pool, each yielded value sent as it comes, cancellable between values.

#include "common/coroutine.hpp"

namespace zm::kernel::invocation {

/// Checks the argument types (the five texts str or None, args a list); raises TypeError before
/// any coroutine exists.
void check_streaming_args(py::handle request_id, py::handle module_name, py::handle function_name,
                          py::handle args, py::handle workbook_id, py::handle source);

/// The stream's task body: module sync when needed, the worker, the closing message.
Coro execute_streaming_function(py::object self, py::object request_id, py::object module_name,
                                py::object function_name, py::object args, py::object workbook_id,
                                py::object source);

} // namespace zm::kernel::invocation
