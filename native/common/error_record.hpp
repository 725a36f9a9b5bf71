#pragma once
/// The error record {"type", "message", "traceback"} sent for a failure in user code.

#include "common/python.hpp"

namespace zm {

/// The text the interpreter prints for the uncaught exception `exc`, ending in a newline.
py::str format_traceback(py::handle exc);

/// {"type": class name, "message": str(exc), "traceback": format_traceback(exc)}, in that order.
py::dict error_record(py::handle exc);

/// {"type": `type`, "message": `message`, "traceback": `traceback`}: the record of a failure that
/// is not an exception (a refused request).
py::dict error_record(py::handle type, py::handle message, py::handle traceback);

/// str(exc), or a placeholder when str() itself fails.
py::str exception_text(py::handle exc);

} // namespace zm
