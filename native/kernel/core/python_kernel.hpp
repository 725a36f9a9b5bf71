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

/// main(workbook_id, port): one kernel, run to teardown.
Coro kernel_main(py::object workbook_id, py::object port);

} // namespace zm::kernel::core
