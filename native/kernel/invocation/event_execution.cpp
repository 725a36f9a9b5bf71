#include "kernel/invocation/event_execution.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/execution_request.hpp"
#include "kernel/dispatch/message_fields.hpp"
#include "kernel/execution/output_routing.hpp"
#include "kernel/execution/stream_capture.hpp"
#include "kernel/invocation/event_support.hpp"
#include "kernel/dispatch/run_output.hpp"
#include "kernel/invocation/event_stream_texts.hpp"

#include <optional>
#include <string>

namespace zm::kernel::invocation {

namespace {

using core::text_of;

/// execute_event: runs on a worker thread; returns {"status", "logs", "error"}. Every exception
/// of the handler (an exit request or interrupt too) is the handler's failure.
py::object make_event_worker(py::object module_name, py::object function_name, py::object args,
                             py::object out_callback, py::object err_callback) {
    return py::cpp_function([module_name, function_name, args, out_callback,
                             err_callback]() -> py::object {
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(std::string(text::WORKER_THREAD) + dispatch::thread_name() +
                         text::EXECUTING_EVENT + text_of(module_name) + "." +
                         text_of(function_name));
        py::object out = execution::new_stream_capture(out_callback);
        py::object err = execution::new_stream_capture(err_callback);
        py::dict record;
        {
            execution::OutputRedirect redirect(out, err);
            try {
                py::list converted = deserialize_args(args);
                py::object module = import_into_sys_modules(module_name);
                if (module.is_none())
                    throw py::import_error(std::string(text::MODULE_QUOTE) +
                                           text_of(module_name) + text::NOT_IN_SYS_MODULES);
                if (!py::hasattr(module, function_name))
                    throw py::attribute_error(std::string(text::FUNCTION_QUOTE) +
                                              text_of(function_name) + text::NOT_IN_MODULE +
                                              text_of(module_name) + text::QUOTE);
                module.attr(function_name)(*converted);
                record["status"] = "success";
                record["logs"] = execution::capture_value(out) + execution::capture_value(err);
                record["error"] = py::none();
            } catch (py::error_already_set &e) {
                print_traceback(e.value());
                record["status"] = "error";
                record["logs"] = execution::capture_value(out) + execution::capture_value(err);
                record["error"] = format_traceback(e.value());
            }
        }
        return record;
    });
}

py::dict event_reply(py::handle status, py::handle logs, py::handle error, py::handle request_id,
                     py::handle module_name, py::handle function_name, py::handle workbook_id) {
    py::dict reply;
    reply["type"] = "event_execution_result";
    reply["status"] = status;
    reply["logs"] = logs;
    reply["error"] = error;
    reply["request_id"] = request_id;
    reply["module_name"] = module_name;
    reply["function_name"] = function_name;
    reply["workbook_id"] = workbook_id;
    return reply;
}

py::object record_get(py::handle record, const char *key, py::handle fallback) {
    if (!PyDict_Check(record.ptr()))
        return py::reinterpret_borrow<py::object>(fallback);
    return core::dict_get(record, key, fallback);
}

Coro run_event(py::object self, py::object module_name, py::object function_name,
               py::object request_id, py::object workbook_id, py::object args) {
    const Logger &logger = core::log();
    const std::string qualified = text_of(module_name) + "." + text_of(function_name);
    std::optional<py::error_already_set> failure;
    try {
        py::object loop = core::runtime().get_running_loop();
        py::str source("addin");
        py::object out = dispatch::make_output_callback(self, loop, "stdout", request_id, workbook_id,
                                                        source);
        py::object err = dispatch::make_output_callback(self, loop, "stderr", request_id, workbook_id,
                                                        source);
        py::object worker = make_event_worker(module_name, function_name, args, out, err);
        py::object record =
            co_await loop.attr("run_in_executor")(self.attr("_thread_pool"), worker);
        py::object logs = record_get(record, "logs", py::str(""));
        if (PyObject_IsTrue(logs.ptr()))
            logger.info(std::string(text::EVENT_LOGS) + text_of(logs));
        py::object status = record_get(record, "status", py::none());
        if (PyUnicode_Check(status.ptr()) && text_of(status) == "success") {
            logger.info(std::string(text::EVENT_SUCCEEDED) + qualified);
            co_await core::send_message(self, event_reply(status, logs, py::none(), request_id,
                                                          module_name, function_name,
                                                          workbook_id));
        } else {
            py::object error = record_get(record, "error", py::str(text::UNKNOWN_ERROR));
            logger.error(std::string(text::EVENT_FAILED) + qualified);
            co_await core::send_message(self, event_reply(py::str("error"), logs, error,
                                                          request_id, module_name, function_name,
                                                          workbook_id));
        }
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        failure.emplace(std::move(e));
    }
    if (failure) {
        py::object exc = failure->value();
        failure.reset();
        logger.error(std::string(text::EVENT_UNEXPECTED) + text_of(exception_text(exc)));
        co_await core::send_message(self, event_reply(py::str("error"), py::str(""),
                                                      format_traceback(exc), request_id,
                                                      module_name, function_name, workbook_id));
    }
    co_return py::none();
}

/// A field read for the log only: its text, whatever its type.
py::object log_field(py::handle message, const char *key) {
    return dispatch::field(message, key, py::str(""));
}

py::object checked_str(py::handle message, const char *key, py::handle fallback,
                       bool allow_none = false) {
    try {
        return dispatch::str_field(message, key, fallback, allow_none);
    } catch (dispatch::FieldError &e) {
        throw py::type_error(e.what());
    }
}

} // namespace

py::object handle_event_execution(py::object self, py::object message) {
    check_dict(message, "message");
    py::object module_name = checked_str(message, "module_name", py::str(""));
    py::object function_name = checked_str(message, "function_name", py::str(""));
    py::object request_id = checked_str(message, "request_id", py::none(), true);
    py::object workbook_id = checked_str(message, "workbook_id", self.attr("workbook_id"));
    const Logger &logger = core::log();
    if (PyUnicode_GET_LENGTH(module_name.ptr()) == 0 ||
        PyUnicode_GET_LENGTH(function_name.ptr()) == 0) {
        // Nothing to run and nothing to answer: the add-in does not wait for events.
        logger.error(text::EVENT_MISSING_NAMES);
        return core::runtime().asyncio_sleep(0);
    }
    py::object args = dispatch::field(message, "args", py::list());
    if (!PyList_Check(args.ptr()))
        throw py::type_error(std::string(text::ARGS_NOT_LIST) +
                             Py_TYPE(args.ptr())->tp_name);
    const std::string qualified = text_of(module_name) + "." + text_of(function_name);
    logger.info(std::string(text::EVENT_RECEIVED) + qualified + text::EVENT_OBJECT +
                text_of(log_field(message, "object_type")) + "/" +
                text_of(log_field(message, "object_name")) + text::EVENT_EVENT +
                text_of(log_field(message, "event_type")) + ")");
    if (logger.debug_enabled())
        logger.debug(std::string(text::EVENT_DISPATCHING) + qualified);
    return run_event(self, module_name, function_name, request_id, workbook_id, args).object();
}

} // namespace zm::kernel::invocation
