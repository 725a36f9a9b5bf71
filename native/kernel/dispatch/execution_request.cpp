#include "kernel/dispatch/execution_request.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "common/exact_text.hpp"
#include "common/text_format.hpp"
#include "kernel/core/loop_handoff.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/dispatch_runtime.hpp"
#include "kernel/dispatch/run_output.hpp"
#include "kernel/execution/code_executor.hpp"
#include "kernel/texts.hpp"

#include <cstdio>
#include <optional>
#include <string>

namespace zm::kernel::dispatch {

using core::text_of;

std::string elapsed_ms(double start) {
    const double ms = (dispatch_runtime().time_time().cast<double>() - start) * 1000.0;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", ms);
    return buffer;
}

std::string thread_name() {
    return text_of(core::runtime().current_thread().attr("name"));
}

namespace {

/// The record of a run that ended by an exception outside Exception (an exit request, an
/// interrupt): a failure of the user's code like any other.
py::dict base_exception_record(py::handle exc) {
    py::dict record;
    record["success"] = false;
    record["stdout"] = py::str("");
    record["stderr"] = py::str("");
    record["error"] = error_record(exc);
    record["result"] = py::none();
    return record;
}

/// execute_with_callbacks: runs on a worker thread and returns the executor's record.
py::object make_worker(py::object kernel, py::object code, py::object request_id,
                       py::object out, py::object err) {
    // The kernel's own executor is called directly; a replaced one through its attribute.
    py::object executor = kernel.attr("executor");
    const core::OwnMethods &own = core::own_methods();
    const bool direct =
        Py_TYPE(executor.ptr()) == reinterpret_cast<PyTypeObject *>(own.code_executor.ptr()) &&
        core::resolves_to(executor, own.execute_name, own.execute);
    py::object execute = direct ? executor : executor.attr("execute");
    return py::cpp_function([direct, execute, code, request_id, out, err]() -> py::object {
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::EXECUTING_CODE, thread_name(), text_of(request_id)));
        py::object record;
        try {
            if (direct)
                record = execute.cast<execution::CodeExecutor &>().execute(code, out, err);
            else
                record = execute(code, py::arg("stdout_callback") = out,
                                 py::arg("stderr_callback") = err);
        } catch (py::error_already_set &e) {
            if (e.matches(PyExc_Exception))
                throw;
            record = base_exception_record(e.value());
        }
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::EXECUTION_DONE, thread_name(), text_of(request_id)));
        return record;
    });
}

/// The reduced failure of the request's own machinery: no function name, no workbook id.
py::dict machinery_error(py::handle exc, py::handle request_id, py::handle source) {
    py::dict error;
    error["type"] = py::handle(reinterpret_cast<PyObject *>(Py_TYPE(exc.ptr()))).attr("__name__");
    error["message"] = exception_text(exc);
    error["traceback"] = format_traceback(exc);
    py::dict message;
    message["type"] = "execution_error";
    message["success"] = false;
    message["error"] = error;
    message["request_id"] = request_id;
    message["source"] = source;
    return message;
}

/// Whether a BaseException that reached the task is the user's (not cancellation of the task).
bool is_user_base_exception(py::error_already_set &e) {
    return !e.matches(PyExc_Exception) && !e.matches(core::runtime().cancelled_error.ptr());
}

} // namespace

void check_execute_args(py::handle code, py::handle request_id, py::handle function_name,
                        py::handle source) {
    check_str(code, "code");
    check_str(request_id, "request_id", true);
    check_str(function_name, "function_name", true);
    check_str(source, "source");
}

Coro execute_code_async(py::object self, py::object code, py::object request_id,
                        py::object function_name, py::object source) {
    const Logger &logger = core::log();
    const double start = dispatch_runtime().time_time().cast<double>();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::EXECUTION_STARTED, text_of(request_id),
                                text_of(function_name)));
    std::optional<py::error_already_set> failure;
    std::optional<py::error_already_set> user_exit;
    try {
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::SUBMITTING, text_of(request_id)));
        py::object loop = core::runtime().get_running_loop();
        py::object workbook = self.attr("workbook_id");
        py::object out = make_output_callback(self, loop, "stdout", request_id, workbook, source);
        py::object err = make_output_callback(self, loop, "stderr", request_id, workbook, source);
        py::object worker = make_worker(self, code, request_id, out, err);
        py::object record = co_await core::run_on_pool(loop, self.attr("_thread_pool"), worker);
        if (logger.debug_enabled()) {
            logger.debug(zm::format(texts::EXECUTION_COMPLETED, text_of(request_id),
                                    elapsed_ms(start)));
            logger.debug(zm::format(texts::EXECUTION_FINISHED, text_of(record["success"]),
                                    text_of(request_id)));
        }
        py::object workbook_id = self.attr("workbook_id");
        if (PyObject_IsTrue(py::object(record["success"]).ptr())) {
            if (logger.info_enabled())
                logger.info(zm::format(texts::SENDING_RESULT, text_of(request_id)));
            py::object value = record["result"];
            py::object shown = py::none();
            if (!value.is_none()) {
                shown = py::repr(value);
                py::dict display;
                display["type"] = "result_output";
                display["content"] =
                    zm::exact_str(zm::format(texts::RESULT_OUTPUT, zm::exact_utf8(shown)));
                display["request_id"] = request_id;
                display["workbook_id"] = workbook_id;
                display["source"] = source;
                co_await core::send_message(self, display);
            }
            const bool raw = PyUnicode_Check(function_name.ptr()) &&
                             PyUnicode_GET_LENGTH(function_name.ptr()) > 0;
            py::dict result;
            result["type"] = "execution_result";
            result["success"] = true;
            result["result"] = raw ? value : shown;
            result["request_id"] = request_id;
            result["function_name"] = function_name;
            result["workbook_id"] = workbook_id;
            result["source"] = source;
            co_await core::send_message(self, result);
        } else {
            py::object error = record["error"];
            logger.info(zm::format(texts::SENDING_ERROR, text_of(request_id), text_of(error)));
            py::dict message;
            message["type"] = "execution_error";
            message["success"] = false;
            message["error"] = error;
            message["request_id"] = request_id;
            message["function_name"] = function_name;
            message["workbook_id"] = workbook_id;
            message["source"] = source;
            co_await core::send_message(self, message);
        }
    } catch (py::error_already_set &e) {
        if (is_user_base_exception(e))
            user_exit.emplace(std::move(e));
        else if (e.matches(PyExc_Exception))
            failure.emplace(std::move(e));
        else
            throw;
    }
    if (user_exit) {
        // An exit request or interrupt raised by the user's code: reported as that code's
        // failure; it must never end the task with nothing sent, nor stop the event loop.
        try {
            py::dict message;
            message["type"] = "execution_error";
            message["success"] = false;
            message["error"] = error_record(user_exit->value());
            message["request_id"] = request_id;
            message["function_name"] = function_name;
            message["workbook_id"] = self.attr("workbook_id");
            message["source"] = source;
            user_exit.reset();
            co_await core::send_message(self, message);
        } catch (py::error_already_set &s) {
            if (!s.matches(PyExc_Exception))
                throw;
            logger.error(zm::format(texts::SEND_ERROR_FAILED, text_of(s.value())));
        }
        co_return py::none();
    }
    if (failure) {
        py::object exc = failure->value();
        failure.reset();
        const std::string what = text_of(exception_text(exc));
        logger.error(zm::format(texts::EXECUTION_FAILED, text_of(request_id), elapsed_ms(start),
                                what));
        logger.error(zm::format(texts::UNEXPECTED_ERROR, what));
        bool send_failed = false;
        std::string send_error;
        try {
            co_await core::send_message(self, machinery_error(exc, request_id, source));
        } catch (py::error_already_set &s) {
            if (!s.matches(PyExc_Exception))
                throw;
            send_failed = true;
            send_error = text_of(s.value());
        }
        if (send_failed)
            logger.error(zm::format(texts::SEND_ERROR_FAILED, send_error));
    }
    co_return py::none();
}

} // namespace zm::kernel::dispatch
