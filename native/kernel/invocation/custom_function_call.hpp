#pragma once
/// PythonKernel._handle_custom_function_call: one worksheet custom function call, run on the
/// worker pool with captured output and answered by a pair of messages (the general execution
/// report, then the worksheet-function reply).

#include "common/coroutine.hpp"

namespace zm::kernel::invocation {

/// The call's task body. Every outcome, malformed fields and exit requests of the user's code
/// included, is answered; only cancellation leaves it.
Coro handle_custom_function_call(py::object self, py::object message);

} // namespace zm::kernel::invocation
