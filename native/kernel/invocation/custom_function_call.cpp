#include "kernel/invocation/custom_function_call.hpp"

#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/texts.hpp"

#include <optional>
#include <string>

namespace zm::kernel::invocation {

namespace {

using namespace py::literals;
using core::text_of;

std::string qualified(const Call &call) {
    return text_of(call.module_name) + "." + text_of(call.function_name);
}

Call read_call(py::handle message, std::optional<std::string> &problem) {
    FieldReader fields(message);
    // Empty names are answered as missing (below); any other value must be text.
    Call call{fields.name("module_name"),
              fields.name("function_name"),
              py::none(),
              fields.list("args"),
              {fields.text("request_id", py::none(), true),
               fields.text("workbook_id", py::none(), true),
               fields.text("source", py::str("addin"))}};
    problem = fields.problem;
    core::log().info(zm::format(texts::CUSTOM_RECEIVED, qualified(call), text_of(call.head.source),
                                text_of(call.head.request_id)));
    if (is_empty(call.module_name))
        problem = texts::MISSING_MODULE_NAME;
    else if (is_empty(call.function_name))
        problem = texts::MISSING_FUNCTION_NAME;
    return call;
}

/// execute_function: the function's value converted for the wire (a generator's values, listed).
CapturedBody body(const Call &call) {
    return [call](py::handle out, py::handle err) -> py::object {
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::CUSTOM_EXECUTING, thread_name(), qualified(call)));
        try {
            py::object function =
                find_function(call.module_name, call.function_name, texts::MODULE_NOT_SYNCED);
            py::list arguments = deserialize_args(call.args);
            py::object value = function(*arguments);
            py::object converted;
            if (PyGen_Check(value.ptr())) {
                py::list items;
                for (py::handle item : value)
                    items.append(to_wire(item));
                converted = items;
            } else {
                converted = to_wire(value);
            }
            return call_record(converted, value, captured_text(out, err));
        } catch (py::error_already_set &e) {
            // BaseException too: an exit request or interrupt raised by the function is its
            // failure, reported like any other; it must not end the worker call unanswered.
            print_traceback(e.value(), err);
            return call_record(py::none(), py::none(), py::str(""), traceback_text(e.value()));
        }
    };
}

py::dict general(const Call &call, bool success, const char *key, py::handle value,
                 py::handle logs) {
    py::dict message("type"_a = success ? "execution_result" : "execution_error",
                     "success"_a = success);
    message[key] = value;
    if (logs)
        message["logs"] = logs;
    message.attr("update")("request_id"_a = call.head.request_id,
                           "module_name"_a = call.module_name,
                           "function_name"_a = call.function_name,
                           "workbook_id"_a = call.head.workbook_id, "source"_a = call.head.source);
    return message;
}

py::object success(const Call &call, py::handle display, py::handle result, py::handle logs) {
    py::list messages;
    if (!display.is_none())
        messages.append(result_output(display, call.head));
    messages.append(general(call, true, "result", result, logs));
    messages.append(py::dict("type"_a = "function_execution_result",
                             "request_id"_a = call.head.request_id, "status"_a = "success",
                             "result"_a = result, "logs"_a = logs));
    return messages;
}

py::object failure(const Call &call, py::handle error, py::handle logs) {
    return py::make_tuple(general(call, false, "error", error, logs),
                          py::dict("type"_a = "function_execution_result",
                                   "request_id"_a = call.head.request_id, "status"_a = "error",
                                   "result"_a = py::none(), "logs"_a = logs, "error"_a = error));
}

py::object refusal(const Call &call, py::handle record) {
    return py::make_tuple(general(call, false, "error", record, py::handle()),
                          py::dict("type"_a = "function_execution_result",
                                   "request_id"_a = call.head.request_id, "status"_a = "error",
                                   "error"_a = record));
}

const CallKind custom_function{texts::CUSTOM_DISPATCHING,
                               texts::CUSTOM_SUCCEEDED,
                               texts::CUSTOM_FAILED,
                               texts::CUSTOM_UNEXPECTED,
                               texts::CUSTOM_LOGS,
                               texts::CUSTOM_REFUSED,
                               &read_call,
                               &qualified,
                               &body,
                               &success,
                               &failure,
                               &refusal};

} // namespace

Coro handle_custom_function_call(py::object self, py::object message) {
    return handle_call(std::move(self), std::move(message), &custom_function);
}

} // namespace zm::kernel::invocation
