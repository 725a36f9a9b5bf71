#include "kernel/dispatch/execution_request.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/execution/code_executor.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/texts.hpp"

#include <cstdio>
#include <string>

namespace zm::kernel::dispatch {

using namespace py::literals;
using core::text_of;

std::string elapsed_ms(double start) {
    const double ms = (core::runtime().time_time().cast<double>() - start) * 1000.0;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", ms);
    return buffer;
}

namespace {

/// execute_with_callbacks: runs on a worker thread and returns the executor's record. An
/// exception outside Exception (an exit request, an interrupt) is a failure of the user's code
/// like any other.
py::object make_worker(py::object kernel, py::object code, py::object request_id,
                       invocation::RunOutput output) {
    // The kernel's own executor is called directly; a replaced one through its attribute.
    py::object executor = kernel.attr("executor");
    const core::OwnMethods &own = core::own_methods();
    const bool direct =
        Py_TYPE(executor.ptr()) == reinterpret_cast<PyTypeObject *>(own.code_executor.ptr()) &&
        core::resolves_to(executor, own.execute_name, own.execute);
    py::object execute = direct ? executor : executor.attr("execute");
    return py::cpp_function([direct, execute, code, request_id, output]() -> py::object {
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(
                zm::format(texts::EXECUTING_CODE, invocation::thread_name(), text_of(request_id)));
        py::object record;
        try {
            if (direct)
                record =
                    execute.cast<execution::CodeExecutor &>().execute(code, output.out, output.err);
            else
                record = execute(code, "stdout_callback"_a = output.out,
                                 "stderr_callback"_a = output.err);
        } catch (py::error_already_set &e) {
            if (e.matches(PyExc_Exception))
                throw;
            record = py::dict("success"_a = false, "stdout"_a = "", "stderr"_a = "",
                              "error"_a = error_record(e.value()), "result"_a = py::none());
        }
        if (logger.debug_enabled())
            logger.debug(
                zm::format(texts::EXECUTION_DONE, invocation::thread_name(), text_of(request_id)));
        return record;
    });
}

/// The request from its worker to its report.
Coro attempt(py::object self, py::object code, invocation::RunHead head, py::object function_name,
             double start) {
    const Logger &logger = core::log();
    py::object request_id = head.request_id;
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::SUBMITTING, text_of(request_id)));
    py::object loop = core::runtime().get_running_loop();
    py::object worker =
        make_worker(self, code, request_id, invocation::run_output(self, loop, head));
    py::object record = co_await invocation::on_pool(self, loop, worker);
    if (logger.debug_enabled()) {
        logger.debug(
            zm::format(texts::EXECUTION_COMPLETED, text_of(request_id), elapsed_ms(start)));
        logger.debug(
            zm::format(texts::EXECUTION_FINISHED, text_of(record["success"]), text_of(request_id)));
    }
    py::object workbook_id = self.attr("workbook_id");
    if (PyObject_IsTrue(py::object(record["success"]).ptr())) {
        if (logger.info_enabled())
            logger.info(zm::format(texts::SENDING_RESULT, text_of(request_id)));
        py::object value = record["result"];
        py::object shown = py::none();
        py::list messages;
        if (!value.is_none()) {
            shown = py::repr(value);
            messages.append(invocation::result_output(invocation::value_display(shown),
                                                      {request_id, workbook_id, head.source}));
        }
        const bool raw =
            PyUnicode_Check(function_name.ptr()) && PyUnicode_GET_LENGTH(function_name.ptr()) > 0;
        messages.append(py::dict("type"_a = "execution_result", "success"_a = true,
                                 "result"_a = raw ? value : shown, "request_id"_a = request_id,
                                 "function_name"_a = function_name, "workbook_id"_a = workbook_id,
                                 "source"_a = head.source));
        co_await invocation::send_each(self, messages);
    } else {
        py::object error = record["error"];
        logger.info(zm::format(texts::SENDING_ERROR, text_of(request_id), text_of(error)));
        co_await core::send_message(
            self, py::dict("type"_a = "execution_error", "success"_a = false, "error"_a = error,
                           "request_id"_a = request_id, "function_name"_a = function_name,
                           "workbook_id"_a = workbook_id, "source"_a = head.source));
    }
    co_return py::none();
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
    const double start = core::runtime().time_time().cast<double>();
    if (logger.debug_enabled())
        logger.debug(
            zm::format(texts::EXECUTION_STARTED, text_of(request_id), text_of(function_name)));
    invocation::RunHead head{request_id, self.attr("workbook_id"), source};
    py::object exc = co_await failure_of(attempt(self, code, head, function_name, start),
                                         &invocation::is_not_cancellation);
    if (exc.is_none())
        co_return py::none();
    py::list answer;
    if (!is_exception(exc)) {
        // An exit request or interrupt raised by the user's code: reported as that code's
        // failure; it must never end the task with nothing sent, nor stop the event loop.
        answer.append(py::dict("type"_a = "execution_error", "success"_a = false,
                               "error"_a = error_record(exc), "request_id"_a = request_id,
                               "function_name"_a = function_name,
                               "workbook_id"_a = self.attr("workbook_id"), "source"_a = source));
    } else {
        // A failure of the request's own machinery: no function name, no workbook id.
        const std::string what = text_of(exception_text(exc));
        logger.error(
            zm::format(texts::EXECUTION_FAILED, text_of(request_id), elapsed_ms(start), what));
        logger.error(zm::format(texts::UNEXPECTED_ERROR, what));
        answer.append(py::dict("type"_a = "execution_error", "success"_a = false,
                               "error"_a = error_record(exc), "request_id"_a = request_id,
                               "source"_a = source));
    }
    co_await invocation::send_answer(self, answer, &is_exception);
    co_return py::none();
}

} // namespace zm::kernel::dispatch
