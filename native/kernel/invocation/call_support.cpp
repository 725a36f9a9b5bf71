#include "kernel/invocation/call_support.hpp"

#include "common/error_record.hpp"
#include "kernel/channel/loop_submission.hpp"
#include "kernel/core/loop_handoff.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/message_fields.hpp"
#include "kernel/dispatch/run_output.hpp"
#include "kernel/execution/output_routing.hpp"
#include "kernel/execution/stream_capture.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel::invocation {

using namespace py::literals;

namespace {

py::object serializer() { return core::runtime().zentrel.attr("Serializer"); }

/// Sends the answer to a finished worker call.
Coro report(py::object self, Call call, const CallKind *kind, py::object record) {
    const Logger &logger = core::log();
    py::object logs = core::dict_get(record, "logs", py::str(""));
    log_logs(kind->logs, logs);
    py::object status = core::dict_get(record, "status", py::none());
    if (status.equal(py::str("success"))) {
        py::object result = record["result"];
        py::object display = py::none();
        if (!result.is_none())
            display = value_display(py::repr(record["base_result"]));
        co_await send_each(self, kind->success(call, display, result, logs));
        logger.info(zm::format(kind->succeeded, kind->name(call)));
    } else {
        py::object error = core::dict_get(record, "error", py::str(texts::UNKNOWN_ERROR));
        co_await send_each(self, kind->failure(call, error, logs));
        logger.error(zm::format(kind->failed, kind->name(call)));
    }
    co_return py::none();
}

Coro run_call(py::object self, Call call, const CallKind *kind) {
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(zm::format(kind->dispatching, kind->name(call)));
    py::object loop = core::runtime().get_running_loop();
    py::object record = co_await run_captured(self, loop, call.head, kind->body(call));
    co_await report(self, call, kind, record);
    co_return py::none();
}

} // namespace

py::object FieldReader::raw(const char *key, py::handle fallback) const {
    return dispatch::field(message_, key, fallback);
}

py::object FieldReader::text(const char *key, py::handle fallback, bool allow_none) {
    try {
        return dispatch::str_field(message_, key, fallback, allow_none);
    } catch (dispatch::FieldError &e) {
        if (!problem)
            problem = e.what();
    }
    return raw(key, fallback);
}

py::object FieldReader::name(const char *key) {
    py::object value = raw(key, py::str(""));
    if (!is_empty(value))
        text(key, py::str(""));
    return value;
}

py::object FieldReader::list(const char *key) {
    try {
        return dispatch::list_field(message_, key);
    } catch (dispatch::FieldError &e) {
        if (!problem)
            problem = e.what();
    }
    return raw(key, py::none());
}

bool FieldReader::flag(const char *key) {
    try {
        return dispatch::flag_field(message_, key);
    } catch (dispatch::FieldError &e) {
        if (!problem)
            problem = e.what();
    }
    return false;
}

py::dict call_record(py::handle result, py::handle value, py::handle logs, py::handle error) {
    if (error)
        return py::dict("status"_a = "error", "result"_a = py::none(), "logs"_a = logs,
                        "error"_a = error);
    return py::dict("status"_a = "success", "result"_a = result, "base_result"_a = value,
                    "logs"_a = logs);
}

Coro handle_call(py::object self, py::object message, const CallKind *kind) {
    const Logger &logger = core::log();
    std::optional<std::string> problem;
    Call call = kind->read(message, problem);
    if (problem) {
        logger.warning(zm::format(kind->refused, kind->name(call), *problem));
        py::dict record =
            error_record(py::str(texts::VALIDATION_ERROR), py::str(*problem), py::str(""));
        co_await send_each(self, kind->refusal(call, record));
        co_return py::none();
    }
    // Anything but the task's own cancellation is answered (a repr that raises an exit request
    // included): the caller must not wait for ever, the loop must not stop.
    py::object exc = co_await failure_of(run_call(self, call, kind), &is_not_cancellation);
    if (exc.is_none())
        co_return py::none();
    py::str what = exception_text(exc);
    logger.error(zm::format(kind->unexpected, core::text_of(what)));
    py::dict record = error_record(class_name(exc), what, traceback_text(exc));
    co_await send_answer(self, kind->refusal(call, record), &is_not_cancellation);
    co_return py::none();
}

RunOutput run_output(py::handle self, py::handle loop, const RunHead &head) {
    auto callback = [&](const char *stream) {
        return dispatch::make_output_callback(py::reinterpret_borrow<py::object>(self),
                                              py::reinterpret_borrow<py::object>(loop), stream,
                                              head.request_id, head.workbook_id, head.source);
    };
    py::object out = callback("stdout");
    return RunOutput{out, callback("stderr")};
}

py::object captured(RunOutput output, CapturedBody body) {
    return py::cpp_function([output, body]() -> py::object {
        py::object out = execution::new_stream_capture(output.out);
        py::object err = execution::new_stream_capture(output.err);
        execution::OutputRedirect redirect(out, err);
        return body(out, err);
    });
}

py::object on_pool(py::handle self, py::handle loop, py::handle worker) {
    return core::run_on_pool(loop, self.attr("_thread_pool"),
                             py::reinterpret_borrow<py::object>(worker));
}

py::object run_captured(py::handle self, py::handle loop, const RunHead &head, CapturedBody body) {
    return on_pool(self, loop, captured(run_output(self, loop, head), std::move(body)));
}

std::string thread_name() { return channel::current_thread_name(); }

py::object find_function(py::handle module_name, py::handle function_name,
                         Template<std::string> not_in_table) {
    PyObject *top =
        PyImport_ImportModuleLevelObject(module_name.ptr(), nullptr, nullptr, nullptr, 0);
    if (top == nullptr)
        throw py::error_already_set();
    Py_DECREF(top);
    PyObject *module = PyDict_GetItemWithError(PyImport_GetModuleDict(), module_name.ptr());
    if (module == nullptr) {
        if (PyErr_Occurred())
            throw py::error_already_set();
        raise_error(PyExc_ImportError, zm::format(not_in_table, core::text_of(module_name)));
    }
    py::object held = py::reinterpret_borrow<py::object>(module);
    PyObject *function = PyObject_GetAttr(held.ptr(), function_name.ptr());
    if (function == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            throw py::error_already_set();
        PyErr_Clear();
        raise_error(PyExc_AttributeError,
                    zm::format(texts::FUNCTION_NOT_IN_MODULE, core::text_of(function_name),
                               core::text_of(module_name)));
    }
    return py::reinterpret_steal<py::object>(function);
}

py::object import_into_sys_modules(py::handle module_name) {
    // Import by name (no statement text is compiled: a name is never run as code).
    py::module_::import("importlib").attr("import_module")(module_name);
    PyObject *module = PyDict_GetItemWithError(PyImport_GetModuleDict(), module_name.ptr());
    if (module == nullptr) {
        if (PyErr_Occurred())
            throw py::error_already_set();
        return py::none();
    }
    return py::reinterpret_borrow<py::object>(module);
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

py::str value_display(py::handle shown) {
    const std::string_view tmpl = texts::RESULT_OUTPUT;
    const std::size_t hole = tmpl.find("{}");
    return py::str(py::str(std::string(tmpl.substr(0, hole))) + shown +
                   py::str(std::string(tmpl.substr(hole + 2))));
}

py::dict result_output(py::handle content, const RunHead &head) {
    return py::dict("type"_a = "result_output", "content"_a = content,
                    "request_id"_a = head.request_id, "workbook_id"_a = head.workbook_id,
                    "source"_a = head.source);
}

py::object source_cache() {
    return core::runtime().module.attr("in_memory_loader").attr("source_cache");
}

py::object messaging() { return core::runtime().zentrel.attr("messaging"); }

void print_traceback(py::handle exc, py::handle stream) {
    try {
        py::str text = format_traceback(exc);
        if (!stream) {
            stream = PySys_GetObject("stderr"); // borrowed
            if (stream.ptr() == nullptr || stream.is_none())
                return;
        }
        stream.attr("write")(text);
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
    channel::submit_coroutine(send(message), loop).attr("result")(timeout);
}

bool is_cancellation(py::handle exc) {
    return PyObject_IsInstance(exc.ptr(), core::runtime().cancelled_error.ptr()) == 1;
}

bool is_not_cancellation(py::handle exc) { return !is_cancellation(exc); }

Coro send_each(py::object self, py::object messages) {
    for (py::handle message : messages)
        co_await core::send_message(self, py::reinterpret_borrow<py::object>(message));
    co_return py::none();
}

Coro send_answer(py::object self, py::object messages, ErrorFilter keep) {
    py::object failed = co_await failure_of(send_each(self, messages), keep);
    if (!failed.is_none())
        core::log().error(zm::format(texts::SEND_ERROR_FAILED, core::text_of(failed)));
    co_return py::none();
}

void log_logs(Template<std::string> tmpl, py::handle logs) {
    if (!is_empty(logs))
        core::log().info(zm::format(tmpl, core::text_of(logs)));
}

} // namespace zm::kernel::invocation
