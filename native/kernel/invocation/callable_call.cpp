#include "kernel/invocation/callable_call.hpp"

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

std::string callable_name(const Call &call) { return text_of(call.callable_id); }

Call read_call(py::handle message, std::optional<std::string> &problem) {
    FieldReader fields(message);
    // Callables are always called by the add-in.
    Call call{py::none(),
              py::none(),
              fields.name("callable_id"),
              fields.list("args"),
              {fields.text("request_id", py::none(), true),
               fields.text("workbook_id", py::none(), true), py::str("addin")}};
    problem = fields.problem;
    core::log().info(
        zm::format(texts::CALLABLE_RECEIVED, callable_name(call), text_of(call.head.request_id)));
    if (is_empty(call.callable_id))
        problem = texts::MISSING_CALLABLE_ID;
    return call;
}

/// The registered callable, or a ValueError / TypeError naming the id.
py::object find_callable(py::handle callable_id) {
    py::object found = messaging().attr("get_callable")(callable_id);
    if (found.is_none())
        raise_error(PyExc_ValueError, zm::format(texts::CALLABLE_NOT_FOUND, text_of(callable_id)));
    if (!PyCallable_Check(found.ptr()))
        raise_error(PyExc_TypeError, zm::format(texts::NOT_CALLABLE, text_of(callable_id)));
    return found;
}

/// execute_callable: the callable's value converted for the wire.
CapturedBody body(const Call &call) {
    return [call](py::handle out, py::handle err) -> py::object {
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::CALLABLE_EXECUTING, thread_name(), callable_name(call)));
        try {
            py::object target = find_callable(call.callable_id);
            py::list arguments = deserialize_args(call.args);
            try {
                py::object value = target(*arguments);
                return call_record(to_wire(value), value, captured_text(out, err));
            } catch (py::error_already_set &e) {
                // Only the callable's own failures (and the result's) are shown as output.
                print_traceback(e.value(), err);
                throw;
            }
        } catch (py::error_already_set &e) {
            // BaseException too: an exit request or interrupt raised by the callable is its
            // failure, reported like any other.
            return call_record(py::none(), py::none(), captured_text(out, err),
                               traceback_text(e.value()));
        }
    };
}

py::dict reply(const Call &call, bool success, const char *key, py::handle value, py::handle logs) {
    py::dict message("type"_a = "python_function_result", "success"_a = success);
    message[key] = value;
    if (logs)
        message["logs"] = logs;
    message.attr("update")("request_id"_a = call.head.request_id,
                           "workbook_id"_a = call.head.workbook_id);
    return message;
}

py::object success(const Call &call, py::handle display, py::handle result, py::handle logs) {
    py::list messages;
    if (!display.is_none())
        messages.append(py::dict("type"_a = "result_output", "content"_a = display,
                                 "request_id"_a = call.head.request_id,
                                 "workbook_id"_a = call.head.workbook_id));
    messages.append(reply(call, true, "result", result, logs));
    return messages;
}

py::object failure(const Call &call, py::handle error, py::handle logs) {
    return py::make_tuple(reply(call, false, "error", error, logs));
}

py::object refusal(const Call &call, py::handle record) {
    return py::make_tuple(reply(call, false, "error", record, py::handle()));
}

const CallKind registered_callable{texts::CALLABLE_DISPATCHING,
                                   texts::CALLABLE_SUCCEEDED,
                                   texts::CALLABLE_FAILED,
                                   texts::CALLABLE_UNEXPECTED,
                                   texts::CALLABLE_LOGS,
                                   texts::CALLABLE_REFUSED,
                                   &read_call,
                                   &callable_name,
                                   &body,
                                   &success,
                                   &failure,
                                   &refusal};

} // namespace

Coro handle_python_function_call(py::object self, py::object message) {
    return handle_call(std::move(self), std::move(message), &registered_callable);
}

} // namespace zm::kernel::invocation
