#pragma once
/// The dispatcher's own inline handlers besides paths and module sync: namespace reset, debugger
/// controls, the listener side of "sys_response", the object registry query, hover mode and the
/// streaming cancel set. Each returns the reply to send, or None.

#include "common/python.hpp"

namespace zm::kernel::dispatch {

py::object handle_reset_namespace(py::object kernel, py::object message);
py::object handle_cancel_streaming(py::object kernel, py::object message);
/// "debug_continue", "debug_step_over", "debug_step_into", "debug_step_out", "debug_stop".
py::object handle_debug_control(py::object kernel, py::object msg_type);
py::object handle_debug_evaluate(py::object kernel, py::object message);
py::object handle_debug_breakpoints(py::object kernel, py::object message);
py::object handle_sys_response(py::object kernel, py::object message);
py::object handle_get_object_registry(py::object kernel, py::object message);
py::object handle_set_hover_mode(py::object kernel, py::object message);

} // namespace zm::kernel::dispatch
