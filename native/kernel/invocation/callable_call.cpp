#include "kernel/invocation/callable_call.hpp"

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
    py::object callable_id, args, request_id, workbook_id;
};

/// The registered callable, or a ValueError / TypeError naming the id.
py::object find_callable(py::handle callable_id) {
    py::object found = messaging().attr("get_callable")(callable_id);
    if (found.is_none())
        raise_error(PyExc_ValueError, std::string(text::CALLABLE_NOT_FOUND_1) +
                                          text_of(callable_id) + text::CALLABLE_NOT_FOUND_2);
    if (!PyCallable_Check(found.ptr()))
        raise_error(PyExc_TypeError,
              std::string(text::NOT_CALLABLE_1) + text_of(callable_id) + text::NOT_CALLABLE_2);
    return found;
}

/// execute_callable: runs on a pool thread and returns the call-outcome record.
py::object make_worker(Call call, py::object out_callback, py::object err_callback) {
    return py::cpp_function([call, out_callback, err_callback]() -> py::object {
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(std::string(text::WORKER_THREAD) + thread_name() +
                         text::EXECUTING_CALLABLE + text_of(call.callable_id));
        py::object out = execution::new_stream_capture(out_callback);
        py::object err = execution::new_stream_capture(err_callback);
        py::object value;
        py::object converted;
        std::optional<py::str> error;
        {
            execution::OutputRedirect redirect(out, err);
            try {
                py::object target = find_callable(call.callable_id);
                py::list arguments = deserialize_args(call.args);
                try {
                    value = target(*arguments);
                    converted = to_wire(value);
                } catch (py::error_already_set &e) {
                    // Only the callable's own failures (and the result's) are shown as output.
                    print_traceback(err, e.value());
                    throw;
                }
            } catch (py::error_already_set &e) {
                // BaseException too: an exit request or interrupt raised by the callable is its
                // failure, reported like any other.
                error = traceback_text(e.value());
            }
        }
        py::dict record;
        if (error) {
            record["status"] = "error";
            record["result"] = py::none();
            record["logs"] = captured_text(out, err);
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

py::dict reply_head(bool success) {
    py::dict message;
    message["type"] = "python_function_result";
    message["success"] = success;
    return message;
}

/// send_error: the validation/machinery reply, awaited.
Coro send_error(py::object self, Call call, py::object error_type, py::object error_message,
                py::object traceback_text) {
    py::dict record = error_record(error_type, error_message, traceback_text);
    py::dict reply = reply_head(false);
    reply["error"] = record;
    reply["request_id"] = call.request_id;
    reply["workbook_id"] = call.workbook_id;
    co_await core::send_message(self, reply);
    co_return py::none();
}

/// Sends the answer to a finished worker call.
Coro report(py::object self, Call call, py::object record) {
    const Logger &logger = core::log();
    py::object logs = core::dict_get(record, "logs", py::str(""));
    if (!is_empty(logs))
        logger.info(std::string(text::CALLABLE_LOGS) + text_of(logs));
    py::object status = core::dict_get(record, "status", py::none());
    if (status.equal(py::str("success"))) {
        py::object result = record["result"];
        if (!result.is_none()) {
            py::dict display;
            display["type"] = "result_output";
            display["content"] = py::str(py::str(text::OUT_PREFIX) +
                                         py::repr(record["base_result"]) + py::str("\n"));
            display["request_id"] = call.request_id;
            display["workbook_id"] = call.workbook_id;
            co_await core::send_message(self, display);
        }
        py::dict reply = reply_head(true);
        reply["result"] = result;
        reply["logs"] = logs;
        reply["request_id"] = call.request_id;
        reply["workbook_id"] = call.workbook_id;
        co_await core::send_message(self, reply);
        logger.info(std::string(text::CALLABLE_SUCCEEDED) + text_of(call.callable_id));
    } else {
        py::dict reply = reply_head(false);
        reply["error"] = core::dict_get(record, "error", py::str(text::UNKNOWN_ERROR));
        reply["logs"] = logs;
        reply["request_id"] = call.request_id;
        reply["workbook_id"] = call.workbook_id;
        co_await core::send_message(self, reply);
        logger.error(std::string(text::CALLABLE_FAILED) + text_of(call.callable_id));
    }
    co_return py::none();
}

/// Reads the four fields with their defaults; a field of the wrong type gives its problem text.
Call read_call(py::handle message, std::optional<std::string> &problem) {
    Call call{dispatch::field(message, "callable_id", py::str("")),
              dispatch::field(message, "args", py::list()),
              dispatch::field(message, "request_id", py::none()),
              dispatch::field(message, "workbook_id", py::none())};
    try {
        if (!is_empty(call.callable_id))
            text_field(message, "callable_id", py::str(""));
        call.args = args_field(message);
        text_field(message, "request_id", py::none(), true);
        text_field(message, "workbook_id", py::none(), true);
    } catch (dispatch::FieldError &e) {
        problem = e.what();
    }
    return call;
}

} // namespace

Coro handle_python_function_call(py::object self, py::object message) {
    const Logger &logger = core::log();
    std::optional<std::string> problem;
    Call call = read_call(message, problem);
    logger.info(std::string(text::RECEIVED_CALLABLE) + text_of(call.callable_id) +
                text::REQUEST_ID_OPEN + text_of(call.request_id) + text::CLOSE_PAREN);
    if (is_empty(call.callable_id))
        problem = text::MISSING_CALLABLE_ID;
    if (problem) {
        logger.warning(std::string(text::CALLABLE_FAILED) + text_of(call.callable_id) + ": " +
                       *problem);
        co_await send_error(self, call, py::str(text::VALIDATION_ERROR), py::str(*problem),
                            py::str(""));
        co_return py::none();
    }
    std::optional<py::error_already_set> failure;
    try {
        if (logger.debug_enabled())
            logger.debug(std::string(text::DISPATCHING_CALLABLE) + text_of(call.callable_id));
        py::object loop = core::runtime().get_running_loop();
        // Callables are always called by the add-in.
        py::str source("addin");
        py::object out = dispatch::make_output_callback(self, loop, "stdout", call.request_id,
                                                        call.workbook_id, source);
        py::object err = dispatch::make_output_callback(self, loop, "stderr", call.request_id,
                                                        call.workbook_id, source);
        py::object worker = make_worker(call, out, err);
        py::object record =
            co_await loop.attr("run_in_executor")(self.attr("_thread_pool"), worker);
        co_await report(self, call, record);
    } catch (py::error_already_set &e) {
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
        co_await answer_unexpected(exc, text::CALLABLE_UNEXPECTED, send);
    }
    co_return py::none();
}

} // namespace zm::kernel::invocation
