#pragma once
/// PythonKernel._execute_code_async: one execution request, run on the worker pool, reported as
/// run output, value display and a final "execution_result" or "execution_error".

#include "common/coroutine.hpp"

#include <string>

namespace zm::kernel::dispatch {

/// Milliseconds since `start` (seconds of time.time()), with one decimal.
std::string elapsed_ms(double start);

/// Checks the argument types (code and source str; request_id and function_name str or None);
/// raises TypeError before any coroutine exists.
void check_execute_args(py::handle code, py::handle request_id, py::handle function_name,
                        py::handle source);

/// The request's task body. Never lets an exception of the user's code (BaseException included)
/// escape; only cancellation leaves it.
Coro execute_code_async(py::object self, py::object code, py::object request_id,
                        py::object function_name, py::object source);

} // namespace zm::kernel::dispatch
