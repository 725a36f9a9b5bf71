#include "kernel/invocation/call_support.hpp"

#include "common/error_record.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/message_fields.hpp"
#include "kernel/execution/stream_capture.hpp"
#include "kernel/invocation/texts.hpp"

#include <optional>

namespace zm::kernel::invocation {

namespace {

[[noreturn]] void refuse(const char *key, const char *expected, py::handle got) {
    throw dispatch::FieldError(std::string(text::FIELD) + key + text::MUST_BE + expected +
                               text::GOT + dispatch::type_name(got));
}

py::object serializer() { return core::runtime().zentrel.attr("Serializer"); }

} // namespace

py::object text_field(py::handle message, const char *key, py::handle fallback, bool allow_none) {
    py::object value = dispatch::field(message, key, fallback);
    if (PyUnicode_CheckExact(value.ptr()) || (allow_none && value.is_none()))
        return value;
    refuse(key, allow_none ? text::TEXT_OR_NULL : text::TEXT, value);
}

py::object args_field(py::handle message) {
    py::object value = dispatch::field(message, "args", py::none());
    if (value.is_none())
        return py::list();
    if (!PyList_CheckExact(value.ptr()))
        refuse("args", text::LIST_OR_NULL, value);
    return value;
}

bool is_empty(py::handle value) {
    const int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0)
        throw py::error_already_set();
    return truth == 0;
}

py::list deserialize_args(py::handle args) {
    py::list converted;
    if (PyList_GET_SIZE(args.ptr()) == 0)
        return converted;
    py::object from_wire = serializer().attr("from_wire");
    // Indexed on each turn: a conversion may run code that changes the list.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(args.ptr()); ++i) {
        py::object arg = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(args.ptr(), i));
        converted.append(from_wire(arg));
    }
    return converted;
}

py::object to_wire(py::handle value) { return serializer().attr("to_wire")(value); }

py::object messaging() { return core::runtime().zentrel.attr("messaging"); }

std::string thread_name() {
    return core::text_of(core::runtime().current_thread().attr("name"));
}

void print_traceback(py::handle stream, py::handle exc) {
    try {
        stream.attr("write")(traceback_text(exc));
    } catch (py::error_already_set &) {
    }
}

py::str captured_text(py::handle out, py::handle err) {
    return py::str(execution::capture_value(out) + execution::capture_value(err));
}

py::str traceback_text(py::handle exc) {
    try {
        return format_traceback(exc);
    } catch (py::error_already_set &) {
        return py::str(core::text_of(class_name(exc)) + ": " + core::text_of(exception_text(exc)) +
                       "\n");
    }
}

py::str class_name(py::handle exc) {
    return py::handle(reinterpret_cast<PyObject *>(Py_TYPE(exc.ptr()))).attr("__name__");
}

void raise_error(PyObject *type, const std::string &message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

bool is_cancellation(py::handle exc) {
    return PyObject_IsInstance(exc.ptr(), core::runtime().cancelled_error.ptr()) == 1;
}

Coro answer_unexpected(py::object exc, std::string unexpected, py::object send) {
    const Logger &logger = core::log();
    py::str what = exception_text(exc);
    logger.error(unexpected + core::text_of(what));
    std::optional<std::string> send_failed;
    try {
        co_await send(class_name(exc), what, traceback_text(exc));
    } catch (py::error_already_set &s) {
        if (is_cancellation(s.value()))
            throw;
        send_failed = core::text_of(s.value());
    }
    if (send_failed)
        logger.error(std::string(text::SEND_ERROR_FAILED) + *send_failed);
    co_return py::none();
}

} // namespace zm::kernel::invocation
