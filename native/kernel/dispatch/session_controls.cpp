#include "kernel/dispatch/session_controls.hpp"

#include "common/text_format.hpp"
#include "kernel/channel/request_channel.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/message_fields.hpp"
#include "kernel/texts.hpp"

#include <string>

namespace zm::kernel::dispatch {

namespace {

using core::text_of;

bool debugger_active(py::handle kernel) {
    return PyObject_IsTrue(kernel.attr("has_active_debugger")().ptr()) == 1;
}

py::object debugger(py::handle kernel) { return kernel.attr("_debugger"); }

/// Holds a threading.Lock for a scope (its acquire releases the GIL while it waits).
class LockHold {
public:
    explicit LockHold(py::object lock) : lock_(std::move(lock)) { lock_.attr("acquire")(); }
    ~LockHold() {
        try {
            lock_.attr("release")();
        } catch (py::error_already_set &e) {
            e.discard_as_unraisable("kernel lock release");
        }
    }
    LockHold(const LockHold &) = delete;
    LockHold &operator=(const LockHold &) = delete;

private:
    py::object lock_;
};

} // namespace

py::object handle_reset_namespace(py::object kernel, py::object) {
    kernel.attr("executor").attr("reset_namespace")();
    return py::dict(py::arg("type") = "namespace_reset");
}

py::object handle_cancel_streaming(py::object kernel, py::object message) {
    py::object request_id = str_field(message, "request_id", py::none(), true);
    core::log().info(zm::format(texts::CANCEL_STREAMING, text_of(request_id)));
    kernel.attr("_canceled_streaming_requests").attr("add")(request_id);
    return py::none();
}

py::object handle_debug_control(py::object kernel, py::object msg_type) {
    if (!debugger_active(kernel))
        return py::none();
    const std::string type = text_of(msg_type);
    py::object active = debugger(kernel);
    if (type == "debug_continue") {
        active.attr("continue_execution")();
        return py::dict(py::arg("type") = "debug_resumed");
    }
    if (type == "debug_stop") {
        active.attr("stop_debugging")();
        return py::dict(py::arg("type") = "debug_terminated",
                        py::arg("workbook_id") = kernel.attr("workbook_id"));
    }
    if (type == "debug_step_over")
        active.attr("step_over")();
    else if (type == "debug_step_into")
        active.attr("step_into")();
    else
        active.attr("step_out")();
    return py::none();
}

py::object handle_debug_evaluate(py::object kernel, py::object message) {
    py::object expression = str_field(message, "expression", py::str(""));
    py::object request_id = field(message, "request_id", py::none());
    py::dict reply(py::arg("type") = "debug_evaluate_result",
                   py::arg("workbook_id") = kernel.attr("workbook_id"),
                   py::arg("request_id") = request_id, py::arg("expression") = expression);
    if (!debugger_active(kernel)) {
        reply["error"] = texts::NO_DEBUG_SESSION;
        return reply;
    }
    py::object result = debugger(kernel).attr("evaluate_expression")(expression);
    if (PyDict_Merge(reply.ptr(), py::dict(result).ptr(), 1) != 0)
        throw py::error_already_set();
    return reply;
}

py::object handle_debug_breakpoints(py::object kernel, py::object message) {
    py::object breakpoints = field(message, "breakpoints", py::list());
    const Logger &logger = core::log();
    if (!debugger_active(kernel)) {
        logger.warning(texts::BREAKPOINTS_NO_DEBUGGER);
    } else if (PyList_Check(breakpoints.ptr())) {
        debugger(kernel).attr("set_breakpoints")(breakpoints);
        logger.info(zm::format(texts::BREAKPOINTS_UPDATED, PyList_GET_SIZE(breakpoints.ptr())));
    } else {
        logger.warning(
            zm::format(texts::BREAKPOINTS_INVALID, text_of(py::repr(py::type::of(breakpoints)))));
    }
    return py::none();
}

py::object handle_sys_response(py::object kernel, py::object message) {
    py::object payload = field(message, "payload", py::none());
    if (!PyObject_IsTrue(payload.ptr()))
        payload = message;
    if (!PyDict_Check(payload.ptr())) {
        const std::string problem =
            zm::format(texts::FIELD_MUST_BE, "payload", texts::KIND_OBJECT, type_name(payload));
        // The worker waiting for it learns at once instead of timing out.
        py::object top_id = field(message, "requestId", py::none());
        if (PyUnicode_CheckExact(top_id.ptr()))
            channel::fail_waiter(kernel, top_id, problem);
        throw FieldError(problem);
    }
    py::object request_id = field(payload, "requestId", py::none());
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::SYS_RESPONSE_RECEIVED, text_of(request_id)));
    if (!PyObject_IsTrue(request_id.ptr())) {
        logger.warning(texts::SYS_RESPONSE_NO_ID);
        return py::none();
    }
    if (!PyUnicode_CheckExact(request_id.ptr()))
        throw FieldError(
            zm::format(texts::FIELD_MUST_BE, "requestId", texts::KIND_TEXT, type_name(request_id)));
    bool woken = false;
    {
        // Kept only for a waiting worker: nobody would ever take a late or foreign response.
        LockHold hold(kernel.attr("_response_lock"));
        py::dict waiters = kernel.attr("_response_futures");
        PyObject *event = PyDict_GetItem(waiters.ptr(), request_id.ptr()); // borrowed
        if (event != nullptr) {
            py::dict data = kernel.attr("_response_data");
            data[request_id] = payload;
            channel::wake(event);
            woken = true;
        }
    }
    if (!woken)
        logger.warning(zm::format(texts::SYS_RESPONSE_UNKNOWN, text_of(request_id)));
    else if (logger.debug_enabled())
        logger.debug(zm::format(texts::WORKER_UNBLOCKED, text_of(request_id)));
    return py::none();
}

py::object handle_get_object_registry(py::object kernel, py::object) {
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(texts::OBJECT_REGISTRY_REQUEST);
    py::object objects = kernel.attr("get_object_registry")();
    return py::dict(py::arg("type") = "object_registry_response", py::arg("objects") = objects,
                    py::arg("workbook_id") = kernel.attr("workbook_id"));
}

py::object handle_set_hover_mode(py::object kernel, py::object message) {
    py::object mode = str_field(message, "mode", py::str("compact"));
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::SET_HOVER_MODE, text_of(mode)));
    py::object insight = py::getattr(kernel, "_code_insight", py::none());
    if (insight.is_none()) {
        logger.warning(texts::NO_CODE_INSIGHT_HOVER);
        return py::none();
    }
    insight.attr("set_hover_mode")(mode);
    return py::dict(py::arg("type") = "hover_mode_updated", py::arg("mode") = mode,
                    py::arg("workbook_id") = kernel.attr("workbook_id"));
}

} // namespace zm::kernel::dispatch
