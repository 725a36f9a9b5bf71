#pragma once
/// The search-path and module-sync messages: each handler reads its fields (FieldError on a
/// wrong type), changes sys.path, sys.modules, the workbook's VirtualEnvironment, the in-memory
/// loader and Code Insight, and returns the reply to send.

#include "common/python.hpp"

namespace zm::kernel::dispatch {

py::dict handle_add_path(py::object kernel, py::object message);
py::dict handle_remove_path(py::object kernel, py::object message);
py::dict handle_reset_path(py::object kernel, py::object message);
py::dict handle_set_package_paths(py::object kernel, py::object message);
py::dict handle_set_python_paths(py::object kernel, py::object message);
py::dict handle_unload_and_clear_paths(py::object kernel, py::object message);
py::dict handle_update_module(py::object kernel, py::object message);
py::dict handle_delete_module(py::object kernel, py::object message);

} // namespace zm::kernel::dispatch
