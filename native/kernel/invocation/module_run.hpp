#pragma once
/// PythonKernel._handle_run_module and _handle_debug_run_module: the editor's Run (exactly the
/// worksheet-function call) and Debug (the call on a worker thread under ZentrelDebugger, while
/// the event loop keeps serving the debug commands).

#include "common/coroutine.hpp"

namespace zm::kernel::invocation {

/// The run_module task body. Fields of the wrong type are answered with an "execution_error"
/// whose record has the type "ValidationError"; only cancellation leaves it.
Coro handle_run_module(py::object self, py::object message);

/// One debug session (argument types checked by the binding). A second session while one is
/// active is refused with an "execution_error" naming the active request. When the task is
/// cancelled (the kernel is going away) the debugged call is stopped, so its worker is freed.
Coro handle_debug_run_module(py::object self, py::object module_name, py::object function_name,
                             py::object args, py::object breakpoints, py::object request_id,
                             py::object workbook_id, py::object source);

/// _parse_error_location: {"module", "line", "file"} of the innermost frame in an in-memory
/// module, or an empty dict. `in_memory_modules` is an iterable of str.
py::dict parse_error_location(py::handle traceback_str, py::handle in_memory_modules);

} // namespace zm::kernel::invocation
