#include "kernel/invocation/call_support.hpp"

#include "common/error_record.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/dispatch_runtime.hpp"
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

py::object list_field(py::handle message, const char *key) {
    py::object value = dispatch::field(message, key, py::none());
    if (value.is_none())
        return py::list();
    if (!PyList_CheckExact(value.ptr()))
        refuse(key, text::LIST_OR_NULL, value);
    return value;
}

bool flag_field(py::handle message, const char *key) {
    py::object value = dispatch::field(message, key, py::none());
    if (value.is_none())
        return false;
    if (!PyBool_Check(value.ptr()))
        refuse(key, text::BOOL_OR_NULL, value);
    return value.ptr() == Py_True;
}

py::object args_field(py::handle message) { return list_field(message, "args"); }

py::object find_function(py::handle module_name, py::handle function_name,
                         const char *not_in_table_tail) {
    PyObject *top =
        PyImport_ImportModuleLevelObject(module_name.ptr(), nullptr, nullptr, nullptr, 0);
    if (top == nullptr)
        throw py::error_already_set();
    Py_DECREF(top);
    PyObject *module = PyDict_GetItemWithError(PyImport_GetModuleDict(), module_name.ptr());
    if (module == nullptr) {
        if (PyErr_Occurred())
            throw py::error_already_set();
        raise_error(PyExc_ImportError, std::string(text::MODULE_NOT_IN_TABLE_1) +
                                           core::text_of(module_name) + not_in_table_tail);
    }
    py::object held = py::reinterpret_borrow<py::object>(module);
    PyObject *function = PyObject_GetAttr(held.ptr(), function_name.ptr());
    if (function == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            throw py::error_already_set();
        PyErr_Clear();
        raise_error(PyExc_AttributeError,
                    std::string(text::FUNCTION_NOT_FOUND_1) + core::text_of(function_name) +
                        text::FUNCTION_NOT_FOUND_2 + core::text_of(module_name) + text::QUOTE);
    }
    return py::reinterpret_steal<py::object>(function);
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

py::dict result_output(py::handle content, py::handle request_id, py::handle workbook_id,
                       py::handle source) {
    py::dict display;
    display["type"] = "result_output";
    display["content"] = content;
    display["request_id"] = request_id;
    display["workbook_id"] = workbook_id;
    display["source"] = source;
    return display;
}

py::object source_cache() {
    return core::runtime().module.attr("in_memory_loader").attr("source_cache");
}

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

void send_and_wait(py::handle send, py::handle loop, py::object message, double timeout) {
    py::object future = dispatch::dispatch_runtime().run_coroutine_threadsafe(send(message), loop);
    future.attr("result")(timeout);
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
