#pragma once
/// What the invocation paths share: reading a call's fields, converting arguments and results
/// through the user package's Serializer, and the pieces of a captured call on a worker thread.

#include "common/coroutine.hpp"

#include <string>

namespace zm::kernel::invocation {

/// `message[key]` when present, else `fallback`; refused (dispatch::FieldError) unless text, or
/// null with `allow_none`.
py::object text_field(py::handle message, const char *key, py::handle fallback,
                      bool allow_none = false);

/// A list field: a list, or null / absent (an empty list); anything else is refused.
py::object list_field(py::handle message, const char *key);

/// The "args" field (list_field).
py::object args_field(py::handle message);

/// The function `function_name` of the module `module_name`: the module is imported when it is
/// not loaded yet (through the in-memory loader for workbook modules), without binding any name
/// anywhere. ImportError "Module '<name>" + `not_in_table_tail` when the import leaves no entry
/// in sys.modules; AttributeError "Function '<f>' not found in module '<m>'" when it has no such
/// attribute.
py::object find_function(py::handle module_name, py::handle function_name,
                         const char *not_in_table_tail);

/// A flag field: true or false; null or absent is false; anything else is refused.
bool flag_field(py::handle message, const char *key);

/// True when `value` is a false value (absent, null, "").
bool is_empty(py::handle value);

/// Serializer.from_wire of each element of `args` (a list), in a new list.
py::list deserialize_args(py::handle args);

/// Serializer.to_wire(value).
py::object to_wire(py::handle value);

/// The value display {"type": "result_output", "content", "request_id", "workbook_id",
/// "source"} of a call.
py::dict result_output(py::handle content, py::handle request_id, py::handle workbook_id,
                       py::handle source);

/// The in-memory loader's source_cache (module name -> source text).
py::object source_cache();

/// The user package's messaging object.
py::object messaging();

/// The current thread's name.
std::string thread_name();

/// Writes the formatted traceback of `exc` to `stream` (the call's stderr capture, so that it is
/// also streamed). A failure to do so is dropped: the call's outcome does not depend on it.
void print_traceback(py::handle stream, py::handle exc);

/// The stdout capture's text followed by the stderr capture's text.
py::str captured_text(py::handle out, py::handle err);

/// The formatted traceback of `exc`; if formatting fails, "<class name>: <text>".
py::str traceback_text(py::handle exc);

/// The class name of `exc`.
py::str class_name(py::handle exc);

/// A traceback-bearing exception of `type` with `message`, raised and caught here so that the
/// caller can report it like one raised by user code.
[[noreturn]] void raise_error(PyObject *type, const std::string &message);

/// Hands `message` to `loop` (`send(message)`, a coroutine) from a worker thread and waits for
/// its send, at most `timeout` seconds (the GIL is released meanwhile); raises on failure.
void send_and_wait(py::handle send, py::handle loop, py::object message, double timeout);

/// True for asyncio.CancelledError: the only exception that leaves a call's task.
bool is_cancellation(py::handle exc);

/// The end of a call's task after an unexpected failure `exc`: logs `unexpected` + its text,
/// awaits `send(error_type, message, traceback)` and logs a failure to send. Only cancellation
/// leaves it.
Coro answer_unexpected(py::object exc, std::string unexpected, py::object send);

} // namespace zm::kernel::invocation
