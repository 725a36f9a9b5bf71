#include "kernel/invocation/custom_function_call.hpp"

#include "common/error_record.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/message_fields.hpp"
#include "kernel/dispatch/run_output.hpp"
#include "kernel/execution/output_routing.hpp"
#include "kernel/execution/stream_capture.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/invocation/texts.hpp"

#include <optional>
#include <string>

namespace zm::kernel::invocation {

namespace {

using core::text_of;

/// The fields of one call, as read from its message (owning: they live in the call's task).
struct Call {
    py::object module_name, function_name, args, request_id, workbook_id, source;
};

std::string qualified(const Call &call) {
    return text_of(call.module_name) + "." + text_of(call.function_name);
}

/// execute_function: runs on a pool thread and returns the call-outcome record.
py::object make_worker(Call call, py::object out_callback, py::object err_callback) {
    return py::cpp_function([call, out_callback, err_callback]() -> py::object {
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(std::string(text::WORKER_THREAD) + thread_name() + text::EXECUTING_CUSTOM +
                         qualified(call));
        py::object out = execution::new_stream_capture(out_callback);
        py::object err = execution::new_stream_capture(err_callback);
        py::object value;
        py::object converted;
        std::optional<py::str> error;
        {
            // This thread's writes go to the call's captures; other threads keep their own.
            execution::OutputRedirect redirect(out, err);
            try {
                py::object function = find_function(call.module_name, call.function_name,
                                                    text::MODULE_NOT_IN_TABLE_2);
                py::list arguments = deserialize_args(call.args);
                value = function(*arguments);
                if (PyGen_Check(value.ptr())) {
                    py::list items;
                    for (py::handle item : value)
                        items.append(to_wire(item));
                    converted = items;
                } else {
                    converted = to_wire(value);
                }
            } catch (py::error_already_set &e) {
                // BaseException too: an exit request or interrupt raised by the function is its
                // failure, reported like any other; it must not end the worker call unanswered.
                py::object exc = e.value();
                print_traceback(err, exc);
                error = traceback_text(exc);
            }
        }
        py::dict record;
        if (error) {
            record["status"] = "error";
            record["result"] = py::none();
            record["logs"] = py::str("");
            record["error"] = *error;
        } else {
            record["status"] = "success";
            record["result"] = converted;
            record["base_result"] = value;
            record["logs"] = captured_text(out, err);
        }
        return record;
    });
}

/// The message pair of a validation or machinery failure.
py::dict error_report(const Call &call, py::handle record) {
    py::dict message;
    message["type"] = "execution_error";
    message["success"] = false;
    message["error"] = record;
    message["request_id"] = call.request_id;
    message["module_name"] = call.module_name;
    message["function_name"] = call.function_name;
    message["workbook_id"] = call.workbook_id;
    message["source"] = call.source;
    return message;
}

py::dict error_reply(const Call &call, py::handle record) {
    py::dict message;
    message["type"] = "function_execution_result";
    message["request_id"] = call.request_id;
    message["status"] = "error";
    message["error"] = record;
    return message;
}

/// send_error: the validation/machinery pair, each send awaited.
Coro send_error(py::object self, Call call, py::object error_type, py::object error_message,
                py::object traceback_text) {
    py::dict record = error_record(error_type, error_message, traceback_text);
    co_await core::send_message(self, error_report(call, record));
    co_await core::send_message(self, error_reply(call, record));
    co_return py::none();
}

/// Sends the answer to a finished worker call.
Coro report(py::object self, Call call, py::object record) {
    const Logger &logger = core::log();
    py::object logs = core::dict_get(record, "logs", py::str(""));
    if (!is_empty(logs))
        logger.info(std::string(text::FUNCTION_LOGS) + text_of(logs));
    py::object status = core::dict_get(record, "status", py::none());
    if (status.equal(py::str("success"))) {
        py::object result = record["result"];
        if (!result.is_none()) {
            py::str content(py::str(text::OUT_PREFIX) + py::repr(record["base_result"]) +
                            py::str("\n"));
            co_await core::send_message(
                self, result_output(content, call.request_id, call.workbook_id, call.source));
        }
        py::dict general;
        general["type"] = "execution_result";
        general["success"] = true;
        general["result"] = result;
        general["logs"] = logs;
        general["request_id"] = call.request_id;
        general["module_name"] = call.module_name;
        general["function_name"] = call.function_name;
        general["workbook_id"] = call.workbook_id;
        general["source"] = call.source;
        co_await core::send_message(self, general);
        py::dict reply;
        reply["type"] = "function_execution_result";
        reply["request_id"] = call.request_id;
        reply["status"] = "success";
        reply["result"] = result;
        reply["logs"] = logs;
        co_await core::send_message(self, reply);
        logger.info(std::string(text::CUSTOM_SUCCEEDED) + qualified(call));
    } else {
        py::object error = core::dict_get(record, "error", py::str(text::UNKNOWN_ERROR));
        py::dict general;
        general["type"] = "execution_error";
        general["success"] = false;
        general["error"] = error;
        general["logs"] = logs;
        general["request_id"] = call.request_id;
        general["module_name"] = call.module_name;
        general["function_name"] = call.function_name;
        general["workbook_id"] = call.workbook_id;
        general["source"] = call.source;
        co_await core::send_message(self, general);
        py::dict reply;
        reply["type"] = "function_execution_result";
        reply["request_id"] = call.request_id;
        reply["status"] = "error";
        reply["result"] = py::none();
        reply["logs"] = logs;
        reply["error"] = error;
        co_await core::send_message(self, reply);
        logger.error(std::string(text::CUSTOM_FAILED) + qualified(call));
    }
    co_return py::none();
}

/// Reads the six fields with their defaults; a field of the wrong type gives its problem text.
Call read_call(py::handle message, std::optional<std::string> &problem) {
    Call call{dispatch::field(message, "module_name", py::str("")),
              dispatch::field(message, "function_name", py::str("")),
              dispatch::field(message, "args", py::list()),
              dispatch::field(message, "request_id", py::none()),
              dispatch::field(message, "workbook_id", py::none()),
              dispatch::field(message, "source", py::str("addin"))};
    try {
        // Empty names are answered as missing (below); any other value must be text.
        if (!is_empty(call.module_name))
            text_field(message, "module_name", py::str(""));
        if (!is_empty(call.function_name))
            text_field(message, "function_name", py::str(""));
        call.args = args_field(message);
        text_field(message, "request_id", py::none(), true);
        text_field(message, "workbook_id", py::none(), true);
        text_field(message, "source", py::str("addin"));
    } catch (dispatch::FieldError &e) {
        problem = e.what();
    }
    return call;
}

} // namespace

Coro handle_custom_function_call(py::object self, py::object message) {
    const Logger &logger = core::log();
    std::optional<std::string> problem;
    Call call = read_call(message, problem);
    logger.info(std::string(text::RECEIVED_CUSTOM) + qualified(call) + text::SOURCE_PART +
                text_of(call.source) + text::REQUEST_ID_PART + text_of(call.request_id) +
                text::CLOSE_PAREN);
    if (is_empty(call.module_name))
        problem = text::MISSING_MODULE_NAME;
    else if (is_empty(call.function_name))
        problem = text::MISSING_FUNCTION_NAME;
    if (problem) {
        logger.warning(std::string(text::CUSTOM_FAILED) + qualified(call) + ": " + *problem);
        co_await send_error(self, call, py::str(text::VALIDATION_ERROR), py::str(*problem),
                            py::str(""));
        co_return py::none();
    }
    std::optional<py::error_already_set> failure;
    try {
        if (logger.debug_enabled())
            logger.debug(std::string(text::DISPATCHING_CUSTOM) + qualified(call));
        py::object loop = core::runtime().get_running_loop();
        py::object out = dispatch::make_output_callback(self, loop, "stdout", call.request_id,
                                                        call.workbook_id, call.source);
        py::object err = dispatch::make_output_callback(self, loop, "stderr", call.request_id,
                                                        call.workbook_id, call.source);
        py::object worker = make_worker(call, out, err);
        py::object record =
            co_await loop.attr("run_in_executor")(self.attr("_thread_pool"), worker);
        co_await report(self, call, record);
    } catch (py::error_already_set &e) {
        // Anything but the task's own cancellation is answered (a repr that raises an exit
        // request included): the cell must not wait for ever, the loop must not stop.
        if (is_cancellation(e.value()))
            throw;
        failure.emplace(std::move(e));
    }
    if (failure) {
        py::object exc = failure->value();
        failure.reset();
        py::object send = py::cpp_function(
            [self, call](py::object type, py::object what, py::object traceback) {
                return send_error(self, call, type, what, traceback);
            });
        co_await answer_unexpected(exc, text::CUSTOM_UNEXPECTED, send);
    }
    co_return py::none();
}

} // namespace zm::kernel::invocation
