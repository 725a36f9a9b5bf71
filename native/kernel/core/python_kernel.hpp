#pragma once
/// PythonKernel: construction, connection lifecycle, the receive loop and the entry of dispatch.

#include "common/coroutine.hpp"

namespace zm::kernel::core {

void kernel_init(py::object self, py::object workbook_id, py::object host, py::object port);
bool has_active_debugger(py::object self);
Coro connect(py::object self);
Coro disconnect(py::object self);
Coro listen(py::object self);
Coro run(py::object self);
Coro handle_message(py::object self, py::object message);

/// The functions of the hot path as the module defined them, kept at initialisation. While an
/// object still resolves a name to one of them (nothing replaced it on the instance, a subclass
/// or the class), C++ calls the function behind it directly instead of through the attribute;
/// a replacement is called through the attribute as before.
struct OwnMethods {
    py::object handle_message;     ///< PythonKernel.handle_message
    py::object send_message;       ///< PythonKernel.send_message
    py::object execute_code_async; ///< PythonKernel._execute_code_async
    py::object execute;            ///< CodeExecutor.execute
    py::object code_executor;      ///< the CodeExecutor class
    py::object execute_code_async_name, send_message_name, execute_name;
};

OwnMethods &own_methods();

/// `cls.__dict__[name]`, unwrapped when it is an instancemethod (as pybind11 stores them).
py::object class_function(py::handle cls, const char *name);

/// True when `obj.<name>` is `own` bound to `obj`.
bool resolves_to(py::handle obj, const py::object &name, const py::object &own);

/// main(workbook_id, port): one kernel, run to teardown.
Coro kernel_main(py::object workbook_id, py::object port);

} // namespace zm::kernel::core
