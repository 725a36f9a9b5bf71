#pragma once
/// PythonKernel._handle_python_function_call: a call of a Python callable that user code handed
/// to the workbook (registered in the messaging object's callable registry), run on the worker
/// pool with captured output and answered by one "python_function_result".

#include "common/coroutine.hpp"

namespace zm::kernel::invocation {

/// The call's task body. Every outcome, malformed fields and exit requests of the user's code
/// included, is answered; only cancellation leaves it.
Coro handle_python_function_call(py::object self, py::object message);

} // namespace zm::kernel::invocation
