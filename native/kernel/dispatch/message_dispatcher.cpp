#include "kernel/dispatch/message_dispatcher.hpp"

#include "common/error_record.hpp"
#include "common/text_format.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/execution_request.hpp"
#include "kernel/dispatch/message_fields.hpp"
#include "kernel/dispatch/path_sync.hpp"
#include "kernel/dispatch/session_controls.hpp"
#include "kernel/texts.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zm::kernel::dispatch {

namespace {

using core::text_of;

using Handler = py::object (*)(py::object kernel, py::object msg_type, py::object message);

/// The awaitable that sends `reply`, or None when there is nothing to send.
py::object send(py::handle kernel, py::object reply) {
    if (reply.is_none())
        return py::none();
    return core::send_message(py::reinterpret_borrow<py::object>(kernel), std::move(reply))
        .object();
}

/// {"type": "error", "message": type + ": " + problem}, with the request's id when it has one.
py::dict error_reply(py::handle msg_type, py::handle message, const std::string &problem) {
    py::dict reply;
    reply["type"] = "error";
    reply["message"] = py::str(zm::format(texts::PROBLEM_OF, text_of(msg_type), problem));
    PyObject *request_id = PyDict_GetItemString(message.ptr(), "request_id"); // borrowed
    if (request_id != nullptr && PyUnicode_CheckExact(request_id))
        reply["request_id"] = py::handle(request_id);
    return reply;
}

std::string describe(py::handle exc) {
    return zm::format(
        texts::PROBLEM_OF,
        text_of(py::handle(reinterpret_cast<PyObject *>(Py_TYPE(exc.ptr()))).attr("__name__")),
        text_of(exception_text(exc)));
}

/// Starts `awaitable` as a task the dispatcher keeps until it finishes (an unreferenced task may
/// be collected by the loop midway).
void start_task(py::object awaitable) {
    core::Runtime &rt = core::runtime();
    py::object task = core::runtime().create_task(awaitable);
    rt.background_tasks.attr("add")(task);
    task.attr("add_done_callback")(rt.discard_task);
}

/// Awaits a handler of another area that runs as a background task. Whatever escapes it is
/// logged; an exit request or interrupt must not reach the event loop, which it would stop.
Coro guard_task(py::object awaitable, py::object msg_type) {
    std::optional<std::string> failure;
    try {
        co_await awaitable;
    } catch (py::error_already_set &e) {
        if (e.matches(core::runtime().cancelled_error.ptr()))
            throw;
        failure = describe(e.value());
    }
    if (failure)
        core::log().error(zm::format(texts::BACKGROUND_ENDED, text_of(msg_type), *failure));
    co_return py::none();
}

/// Awaits an awaited-inline handler; an Exception it raises is answered with an "error" reply.
Coro guard_inline(py::object kernel, py::object msg_type, py::object message,
                  py::object awaitable) {
    std::optional<std::string> failure;
    try {
        co_await awaitable;
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        failure = describe(e.value());
    }
    if (failure) {
        core::log().error(zm::format(texts::HANDLER_FAILED, text_of(msg_type), *failure));
        co_await core::send_message(kernel, error_reply(msg_type, message, *failure));
    }
    co_return py::none();
}

/// A row whose handler is a kernel method of another area that is not there yet: answered so
/// that the caller is not left waiting.
py::object not_available(py::object kernel, py::object msg_type, py::object message) {
    const std::string type = text_of(msg_type);
    const std::string problem = zm::format(texts::NOT_AVAILABLE, type);
    core::log().warning(zm::format(texts::HANDLER_FAILED, type, problem));
    return send(kernel, error_reply(msg_type, message, problem));
}

py::object execution_request(py::object kernel, py::object, py::object message) {
    py::object code = str_field(message, "code", py::str(""));
    py::object request_id = str_field(message, "request_id", py::none(), true);
    py::object function_name = str_field(message, "function_name", py::none(), true);
    py::object source = str_field(message, "source", py::str("ide"));
    const Logger &logger = core::log();
    if (logger.info_enabled())
        logger.info(
            zm::format(texts::RECEIVED_EXECUTION_REQUEST, text_of(source), text_of(request_id)));
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::CODE_LENGTH, PyUnicode_GET_LENGTH(code.ptr())));
    // The fields are checked above; the kernel's own handler needs no second round of checks.
    const core::OwnMethods &own = core::own_methods();
    if (core::resolves_to(kernel, own.execute_code_async_name, own.execute_code_async))
        start_task(execute_code_async(kernel, code, request_id, function_name, source).object());
    else
        start_task(kernel.attr("_execute_code_async")(code, request_id, function_name, source));
    return py::none();
}

template <const char *Method>
py::object editor_request(py::object kernel, py::object msg_type, py::object message) {
    if (!py::hasattr(kernel, Method))
        return not_available(kernel, msg_type, message);
    return guard_inline(kernel, msg_type, message, kernel.attr(Method)(message)).object();
}

template <const char *Method>
py::object worker_request(py::object kernel, py::object msg_type, py::object message) {
    if (!py::hasattr(kernel, Method))
        return not_available(kernel, msg_type, message);
    core::log().info(zm::format(texts::DISPATCHING, text_of(msg_type)));
    start_task(guard_task(kernel.attr(Method)(message), msg_type).object());
    return py::none();
}

py::object execute_streaming_function(py::object kernel, py::object msg_type, py::object message) {
    if (!py::hasattr(kernel, "_execute_streaming_function"))
        return not_available(kernel, msg_type, message);
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(texts::DISPATCHING_STREAMING_TIMING);
    logger.info(texts::DISPATCHING_STREAMING);
    py::object task = kernel.attr("_execute_streaming_function")(
        field(message, "request_id", py::none()), field(message, "module_name", py::none()),
        field(message, "function_name", py::none()), field(message, "args", py::list()),
        field(message, "workbook_id", py::str("")), field(message, "source", py::str("addin")));
    start_task(guard_task(task, msg_type).object());
    return py::none();
}

py::object shutdown(py::object kernel, py::object, py::object) {
    return kernel.attr("disconnect")();
}

template <py::dict (*Fn)(py::object, py::object)>
py::object reply_row(py::object kernel, py::object, py::object message) {
    return send(kernel, Fn(kernel, message));
}

template <py::object (*Fn)(py::object, py::object)>
py::object control_row(py::object kernel, py::object, py::object message) {
    return send(kernel, Fn(kernel, message));
}

py::object debug_control(py::object kernel, py::object msg_type, py::object) {
    return send(kernel, handle_debug_control(kernel, msg_type));
}

constexpr char COMPLETION[] = "_handle_completion_request";
constexpr char SIGNATURE_HELP[] = "_handle_signature_help_request";
constexpr char HOVER[] = "_handle_hover_request";
constexpr char DIAGNOSTIC[] = "_handle_diagnostic_request";
constexpr char CUSTOM_FUNCTION[] = "_handle_custom_function_call";
constexpr char RUN_MODULE[] = "_handle_run_module";
constexpr char EVENT_EXECUTION[] = "_handle_event_execution";
constexpr char PYTHON_FUNCTION[] = "_handle_python_function_call";

const std::unordered_map<std::string_view, Handler> &table() {
    static const std::unordered_map<std::string_view, Handler> rows = {
        {"execution_request", &execution_request},
        {"add_path", &reply_row<handle_add_path>},
        {"remove_path", &reply_row<handle_remove_path>},
        {"reset_namespace", &control_row<handle_reset_namespace>},
        {"reset_path", &reply_row<handle_reset_path>},
        {"set_package_paths", &reply_row<handle_set_package_paths>},
        {"set_python_paths", &reply_row<handle_set_python_paths>},
        {"unload_and_clear_paths", &reply_row<handle_unload_and_clear_paths>},
        {"update_module", &reply_row<handle_update_module>},
        {"delete_module", &reply_row<handle_delete_module>},
        {"completion_request", &editor_request<COMPLETION>},
        {"signature_help_request", &editor_request<SIGNATURE_HELP>},
        {"hover_request", &editor_request<HOVER>},
        {"diagnostic_request", &editor_request<DIAGNOSTIC>},
        {"shutdown", &shutdown},
        {"custom_function_call", &worker_request<CUSTOM_FUNCTION>},
        {"run_module", &worker_request<RUN_MODULE>},
        {"event_execution", &worker_request<EVENT_EXECUTION>},
        {"python_function_call", &worker_request<PYTHON_FUNCTION>},
        {"execute_streaming_function", &execute_streaming_function},
        {"cancel_streaming_function", &control_row<handle_cancel_streaming>},
        {"debug_continue", &debug_control},
        {"debug_step_over", &debug_control},
        {"debug_step_into", &debug_control},
        {"debug_step_out", &debug_control},
        {"debug_stop", &debug_control},
        {"debug_evaluate", &control_row<handle_debug_evaluate>},
        {"debug_update_breakpoints", &control_row<handle_debug_breakpoints>},
        {"sys_response", &control_row<handle_sys_response>},
        {"get_object_registry", &control_row<handle_get_object_registry>},
        {"set_hover_mode", &control_row<handle_set_hover_mode>},
    };
    return rows;
}

} // namespace

py::object dispatch_message(py::object kernel, py::object msg_type, py::object message) {
    if (!PyUnicode_CheckExact(msg_type.ptr()))
        return py::none();
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(msg_type.ptr(), &size);
    if (data == nullptr) {
        PyErr_Clear(); // a type with lone surrogates names no row
        return py::none();
    }
    const auto &rows = table();
    const auto row = rows.find(std::string_view(data, static_cast<std::size_t>(size)));
    if (row == rows.end())
        return py::none();
    std::string problem;
    try {
        return row->second(kernel, msg_type, message);
    } catch (FieldError &e) {
        problem = e.what();
        core::log().warning(zm::format(texts::REJECTED, text_of(msg_type), problem));
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        problem = describe(e.value());
        core::log().error(zm::format(texts::HANDLER_FAILED, text_of(msg_type), problem));
    }
    return send(kernel, error_reply(msg_type, message, problem));
}

} // namespace zm::kernel::dispatch
