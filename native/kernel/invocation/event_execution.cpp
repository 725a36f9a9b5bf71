#include "kernel/invocation/event_execution.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/texts.hpp"

#include <string>

namespace zm::kernel::invocation {

namespace {

using namespace py::literals;
using core::text_of;

/// The fields of one event (owning: they live in the event's task).
struct Event {
    py::object module_name, function_name, args;
    RunHead head;
};

std::string qualified(const Event &event) {
    return text_of(event.module_name) + "." + text_of(event.function_name);
}

/// execute_event: {"status", "logs", "error"}. Every exception of the handler (an exit request
/// or interrupt too) is the handler's failure.
CapturedBody body(const Event &event) {
    return [event](py::handle out, py::handle err) -> py::object {
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::EVENT_EXECUTING, thread_name(), qualified(event)));
        try {
            py::list converted = deserialize_args(event.args);
            py::object module = import_into_sys_modules(event.module_name);
            // Raised as Python errors, so that they are the handler's failure like any other:
            // caught below, the traceback streamed and the captured output kept.
            if (module.is_none())
                raise_error(PyExc_ImportError, zm::format(texts::MODULE_NOT_IN_SYS_MODULES,
                                                          text_of(event.module_name)));
            if (!py::hasattr(module, event.function_name))
                raise_error(PyExc_AttributeError,
                            zm::format(texts::FUNCTION_NOT_IN_MODULE, text_of(event.function_name),
                                       text_of(event.module_name)));
            module.attr(event.function_name)(*converted);
            return py::dict("status"_a = "success", "logs"_a = captured_text(out, err),
                            "error"_a = py::none());
        } catch (py::error_already_set &e) {
            print_traceback(e.value());
            return py::dict("status"_a = "error", "logs"_a = captured_text(out, err),
                            "error"_a = format_traceback(e.value()));
        }
    };
}

py::dict event_reply(const Event &event, py::handle status, py::handle logs, py::handle error) {
    return py::dict("type"_a = "event_execution_result", "status"_a = status, "logs"_a = logs,
                    "error"_a = error, "request_id"_a = event.head.request_id,
                    "module_name"_a = event.module_name, "function_name"_a = event.function_name,
                    "workbook_id"_a = event.head.workbook_id);
}

py::object record_get(py::handle record, const char *key, py::handle fallback) {
    if (!PyDict_Check(record.ptr()))
        return py::reinterpret_borrow<py::object>(fallback);
    return core::dict_get(record, key, fallback);
}

Coro attempt_event(py::object self, Event event) {
    const Logger &logger = core::log();
    py::object loop = core::runtime().get_running_loop();
    py::object record = co_await run_captured(self, loop, event.head, body(event));
    py::object logs = record_get(record, "logs", py::str(""));
    log_logs(texts::EVENT_LOGS, logs);
    py::object status = record_get(record, "status", py::none());
    if (PyUnicode_Check(status.ptr()) && text_of(status) == "success") {
        logger.info(zm::format(texts::EVENT_SUCCEEDED, qualified(event)));
        co_await core::send_message(self, event_reply(event, status, logs, py::none()));
    } else {
        py::object error = record_get(record, "error", py::str(texts::UNKNOWN_ERROR));
        logger.error(zm::format(texts::EVENT_FAILED, qualified(event)));
        co_await core::send_message(self, event_reply(event, py::str("error"), logs, error));
    }
    co_return py::none();
}

Coro run_event(py::object self, Event event) {
    py::object exc = co_await failure_of(attempt_event(self, event), &is_exception);
    if (!exc.is_none()) {
        core::log().error(zm::format(texts::EVENT_UNEXPECTED, text_of(exception_text(exc))));
        co_await core::send_message(
            self, event_reply(event, py::str("error"), py::str(""), format_traceback(exc)));
    }
    co_return py::none();
}

} // namespace

py::object handle_event_execution(py::object self, py::object message) {
    check_dict(message, "message");
    FieldReader fields(message);
    Event event{fields.text("module_name", py::str("")),
                fields.text("function_name", py::str("")),
                fields.raw("args", py::list()),
                {fields.text("request_id", py::none(), true),
                 fields.text("workbook_id", self.attr("workbook_id")), py::str("addin")}};
    if (fields.problem)
        throw py::type_error(*fields.problem);
    const Logger &logger = core::log();
    if (PyUnicode_GET_LENGTH(event.module_name.ptr()) == 0 ||
        PyUnicode_GET_LENGTH(event.function_name.ptr()) == 0) {
        // Nothing to run and nothing to answer: the add-in does not wait for events.
        logger.error(texts::EVENT_MISSING_NAMES);
        return core::runtime().asyncio_sleep(0);
    }
    if (!PyList_Check(event.args.ptr()))
        throw py::type_error(zm::format(texts::ARGS_NOT_LIST, Py_TYPE(event.args.ptr())->tp_name));
    logger.info(zm::format(texts::EVENT_RECEIVED, qualified(event),
                           text_of(fields.raw("object_type", py::str(""))),
                           text_of(fields.raw("object_name", py::str(""))),
                           text_of(fields.raw("event_type", py::str("")))));
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::EVENT_DISPATCHING, qualified(event)));
    return run_event(self, event).object();
}

} // namespace zm::kernel::invocation
