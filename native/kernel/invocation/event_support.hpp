#pragma once
/// Pieces shared by the worker-side calls of event handlers and streaming functions (with
/// call_support.hpp).

#include "kernel/invocation/call_support.hpp"

namespace zm::kernel::invocation {

/// Imports `module_name` through the normal import machinery (the in-memory loader included)
/// and returns sys.modules.get(module_name), or None when the import left no entry there.
py::object import_into_sys_modules(py::handle module_name);

/// Writes the formatted traceback of `exc` to the thread's current standard error (the run's
/// capture while a redirection is active). A failure to write is dropped.
void print_traceback(py::handle exc);

} // namespace zm::kernel::invocation
