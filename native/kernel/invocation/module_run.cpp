#include "kernel/invocation/module_run.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "kernel/channel/loop_submission.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/execution/in_memory_module_loader.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/invocation/custom_function_call.hpp"
#include "kernel/invocation/error_location.hpp"
#include "kernel/texts.hpp"

#include <string>
#include <vector>

namespace zm::kernel::invocation {

namespace {

using namespace py::literals;
using core::text_of;

/// Seconds the kernel's teardown waits for a stopped debugged call to unwind (its `finally`
/// blocks run) before the process goes.
constexpr double SESSION_END_WAIT = 2.0;

/// The fields of one run, as read from its message (owning: they live in the run's task).
struct Run {
    py::object module_name, function_name, args;
    RunHead head;
};

bool truthy(py::handle value) { return !is_empty(value); }

std::vector<std::string> names_of(py::handle modules) {
    std::vector<std::string> names;
    for (py::handle name : modules) {
        check_str(name, "in_memory_modules");
        names.push_back(utf8(name));
    }
    return names;
}

py::dict location_of(py::handle traceback_text, const std::vector<std::string> &modules) {
    const std::string text = utf8(traceback_text);
    const auto found = parse_error_location(text, modules);
    if (!found)
        return py::dict();
    py::str module(found->module);
    PyObject *line = PyLong_FromString(found->line.c_str(), nullptr, 10);
    if (line == nullptr)
        throw py::error_already_set();
    return py::dict("module"_a = module, "line"_a = py::reinterpret_steal<py::object>(line),
                    "file"_a = execution::virtual_file_name(module));
}

/// {"type": "execution_error", "success": false, "error", "request_id", "workbook_id", "source"}.
py::dict execution_error(const Run &run, py::handle error) {
    return py::dict("type"_a = "execution_error", "success"_a = false, "error"_a = error,
                    "request_id"_a = run.head.request_id, "workbook_id"_a = run.head.workbook_id,
                    "source"_a = run.head.source);
}

py::dict debug_terminated(const Run &run) {
    return py::dict("type"_a = "debug_terminated", "request_id"_a = run.head.request_id,
                    "workbook_id"_a = run.head.workbook_id);
}

py::dict debug_exception(const Run &run, py::handle location, py::handle error) {
    return py::dict("type"_a = "debug_exception", "workbook_id"_a = run.head.workbook_id,
                    "module"_a = core::dict_get(location, "module", run.module_name),
                    "line"_a = core::dict_get(location, "line", py::int_(1)),
                    "file"_a = core::dict_get(location, "file", py::str("")),
                    "exception_type"_a = error["type"], "exception_message"_a = error["message"],
                    "exception_traceback"_a = error["traceback"], "locals"_a = py::list(),
                    "globals"_a = py::list(), "call_stack"_a = py::list());
}

/// iteration_to_debug: calls the generator function again inside the debugger, so that its body
/// is debugged, and displays each value as it comes; returns (values, count).
py::object make_iteration(py::object self, py::object function, py::list arguments, Run run) {
    return py::cpp_function([self, function, arguments, run]() -> py::object {
        py::list values;
        long long count = 0;
        py::object generator = function(*arguments);
        for (py::handle value : generator) {
            ++count;
            values.append(value);
            py::str content(zm::format(texts::YIELD_DISPLAY, count, text_of(py::repr(value))));
            channel::submit_message(self, result_output(content, run.head));
        }
        return py::make_tuple(values, count);
    });
}

/// Steps 2.1-2.7 of the worker: the call under the debugger and its success record.
py::dict run_under_debugger(py::object self, py::object debugger, const Run &run) {
    py::object function =
        find_function(run.module_name, run.function_name, texts::DEBUG_MODULE_NOT_FOUND);
    py::list arguments = deserialize_args(run.args);
    py::object runcall = debugger.attr("runcall");
    py::object result = runcall(function, *arguments);
    if (!PyGen_Check(result.ptr()))
        return py::dict("status"_a = "success", "result"_a = result, "is_generator"_a = false);
    py::object outcome = runcall(make_iteration(self, function, arguments, run));
    py::object values = py::list();
    py::object count = py::int_(-1);
    if (truthy(outcome)) {
        values = outcome[py::int_(0)];
        count = outcome[py::int_(1)];
    }
    return py::dict("status"_a = "success", "result"_a = values, "is_generator"_a = true,
                    "yield_count"_a = count);
}

/// The worker's exception path: reports "debug_exception" (waiting for its send) and returns the
/// error record with "debug_exception_sent".
py::dict exception_record(py::object self, py::object debugger, const Run &run, py::object exc) {
    const Logger &logger = core::log();
    logger.error(zm::format(texts::DEBUG_EXECUTION_ERROR, text_of(exception_text(exc))));
    py::dict error = error_record(exc);
    logger.error(zm::format(texts::DEBUG_TRACEBACK, text_of(error["traceback"])));
    py::dict location = location_of(error["traceback"], names_of(source_cache()));
    logger.info(zm::format(texts::PARSED_ERROR_LOCATION, text_of(location)));
    bool sent = false;
    py::object loop = debugger.is_none() ? py::none() : py::getattr(debugger, "loop", py::none());
    if (!loop.is_none()) {
        logger.info(texts::SENDING_DEBUG_EXCEPTION);
        try {
            send_and_wait(self.attr("send_message"), loop, debug_exception(run, location, error),
                          core::DEBUG_MESSAGE_SEND_TIMEOUT);
            sent = true;
            logger.info(texts::DEBUG_EXCEPTION_SENT);
        } catch (py::error_already_set &s) {
            if (!s.matches(PyExc_Exception))
                throw;
            logger.error(
                zm::format(texts::DEBUG_EXCEPTION_SEND_FAILED, text_of(exception_text(s.value()))));
        }
    } else {
        logger.warning(texts::NO_DEBUGGER_OR_LOOP);
    }
    return py::dict("status"_a = "error", "error"_a = error, "debug_exception_sent"_a = sent);
}

/// debug_execute: the run's record; an exception of the user's code (BaseException too: an exit
/// request is the run's failure) is reported as "debug_exception" first.
CapturedBody debug_body(py::object self, py::object debugger, const Run &run) {
    return [self, debugger, run](py::handle, py::handle) -> py::object {
        std::optional<py::error_already_set> failure;
        try {
            return run_under_debugger(self, debugger, run);
        } catch (py::error_already_set &e) {
            failure.emplace(std::move(e));
        }
        // Out of the catch block: the report waits for a send, which may take a while.
        py::object exc = failure->value();
        failure.reset();
        return exception_record(self, debugger, run, exc);
    };
}

/// Sends what a finished worker call produced.
Coro report(py::object self, Run run, py::object record) {
    const Logger &logger = core::log();
    py::object status = core::dict_get(record, "status", py::none());
    if (status.equal(py::str("success"))) {
        std::optional<py::str> content;
        if (truthy(core::dict_get(record, "is_generator", py::bool_(false)))) {
            py::object count = core::dict_get(record, "yield_count", py::int_(0));
            const int completed = PyObject_RichCompareBool(count.ptr(), py::int_(0).ptr(), Py_GE);
            if (completed < 0)
                throw py::error_already_set();
            content = completed == 1
                          ? py::str(zm::format(texts::GENERATOR_COMPLETED, text_of(count)))
                          : py::str(texts::GENERATOR_STOPPED);
        } else if (PyDict_Contains(record.ptr(), py::str("result").ptr()) == 1) {
            content = value_display(py::repr(record["result"]));
        }
        if (content)
            co_await core::send_message(self, result_output(*content, run.head));
        logger.info(texts::DEBUG_COMPLETED);
        co_await core::send_message(self, debug_terminated(run));
    } else if (truthy(core::dict_get(record, "debug_exception_sent", py::bool_(false)))) {
        logger.info(texts::DEBUG_EXCEPTION_ALREADY_SENT);
        co_await core::send_message(self, debug_terminated(run));
    } else {
        logger.error(zm::format(texts::DEBUG_EXECUTION_FAILED, text_of(record)));
        co_await core::send_message(self, execution_error(run, record));
    }
    co_return py::none();
}

py::object new_debugger(py::object self, const Run &run) {
    py::object factory = core::module_attr("ZentrelDebugger");
    if (factory.is_none())
        raise_error(PyExc_RuntimeError, texts::NO_DEBUGGER_CLASS);
    return factory(self.attr("send_message"), run.head.workbook_id,
                   py::arg("request_id") = run.head.request_id);
}

/// Frees the kernel's debugger slot when it still holds `debugger`.
void end_session(py::handle self, py::handle debugger) {
    if (debugger.is_none() || !py::getattr(self, "_debugger", py::none()).is(debugger))
        return;
    py::setattr(self, "_debugger", py::none());
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(texts::DEBUGGER_CLEANED_UP);
}

/// The kernel is going away while the session runs: stop the call and give it a moment to unwind.
Coro stop_session(py::object debugger, py::object worker_future) {
    core::log().info(texts::DEBUG_SESSION_ENDED);
    try {
        debugger.attr("stop_debugging")();
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        core::log().error(
            zm::format(texts::ERROR_IN_DEBUG_EXECUTION, text_of(exception_text(e.value()))));
    }
    if (!worker_future.is_none()) {
        py::object asyncio = core::runtime().asyncio;
        py::list pending;
        pending.append(asyncio.attr("wrap_future")(worker_future));
        co_await asyncio.attr("wait")(pending, py::arg("timeout") = SESSION_END_WAIT);
    }
    co_return py::none();
}

Coro send_refusal(py::object self, Run run, std::string error_type, std::string problem) {
    core::log().warning(zm::format(texts::RUN_MODULE_REFUSED, problem));
    py::dict record = error_record(py::str(error_type), py::str(problem), py::str(""));
    co_await core::send_message(self, execution_error(run, record));
    co_return py::none();
}

/// One debug session from the debugger's creation to its report; `session` receives the
/// debugger and the worker's future as they come, for the clean-up of the caller.
Coro run_session(py::object self, Run run, py::object breakpoints, py::list session) {
    py::object loop = core::runtime().get_running_loop();
    py::object debugger = new_debugger(self, run);
    session[0] = debugger;
    py::setattr(self, "_debugger", debugger);
    debugger.attr("loop") = loop;
    debugger.attr("step_mode") = py::none();
    debugger.attr("set_breakpoints")(breakpoints);
    debugger.attr("set_in_memory_modules")(py::list(source_cache()));
    py::object worker = captured(run_output(self, loop, run.head), debug_body(self, debugger, run));
    py::object worker_future = self.attr("_thread_pool").attr("submit")(worker);
    session[1] = worker_future;
    py::object record =
        co_await core::runtime().asyncio.attr("wrap_future")(worker_future, py::arg("loop") = loop);
    // Freed before the last messages go out: a client that starts the next session on
    // "debug_terminated" must find the slot free.
    end_session(self, debugger);
    co_await report(self, run, record);
    co_return py::none();
}

} // namespace

Coro handle_debug_run_module(py::object self, py::object module_name, py::object function_name,
                             py::object args, py::object breakpoints, py::object request_id,
                             py::object workbook_id, py::object source) {
    const Logger &logger = core::log();
    Run run{module_name, function_name, args, {request_id, workbook_id, source}};
    if (core::has_active_debugger(self)) {
        // One slot: a second session would take it over and leave the first one's worker
        // paused for ever, and the first one's end would then free the second one's slot.
        py::object active = py::getattr(self.attr("_debugger"), "request_id", py::none());
        co_await send_refusal(self, run, texts::DEBUG_SESSION_ACTIVE_TYPE,
                              zm::format(texts::DEBUG_SESSION_ACTIVE, text_of(active)));
        co_return py::none();
    }
    py::list session;
    session.append(py::none());
    session.append(py::none());
    py::object exc = co_await failure_of(run_session(self, run, breakpoints, session), &any_error);
    py::object debugger = session[0];
    end_session(self, debugger);
    if (exc.is_none())
        co_return py::none();
    if (is_cancellation(exc)) {
        if (!debugger.is_none())
            co_await stop_session(debugger, session[1]);
        raise_again(exc);
    }
    logger.error(zm::format(texts::ERROR_IN_DEBUG_EXECUTION, text_of(exception_text(exc))));
    py::dict error = error_record(exc);
    logger.error(zm::format(texts::DEBUG_TRACEBACK, text_of(error["traceback"])));
    co_await core::send_message(self, execution_error(run, error));
    co_return py::none();
}

Coro handle_run_module(py::object self, py::object message) {
    FieldReader fields(message);
    Run run{fields.raw("module_name", py::str("")),
            fields.raw("function_name", py::str("")),
            fields.raw("args", py::list()),
            {fields.raw("request_id", py::none()), fields.raw("workbook_id", py::str("")),
             fields.raw("source", py::str("ide"))}};
    py::object breakpoints = fields.raw("breakpoints", py::list());
    core::log().info(zm::format(
        texts::RUN_MODULE_RECEIVED, text_of(run.module_name) + "." + text_of(run.function_name),
        text_of(run.head.workbook_id), text_of(fields.raw("debug", py::bool_(false))),
        text_of(run.head.source), text_of(run.head.request_id)));
    const bool debugging = fields.flag("debug");
    if (debugging) {
        // The custom function call checks its own fields; a debug run checks them here.
        fields.text("module_name", py::str(""));
        fields.text("function_name", py::str(""));
        fields.text("workbook_id", py::str(""));
        fields.text("source", py::str("ide"));
        fields.text("request_id", py::none(), true);
        run.args = fields.list("args");
        breakpoints = fields.list("breakpoints");
    }
    if (fields.problem) {
        co_await send_refusal(self, run, texts::VALIDATION_ERROR, *fields.problem);
        co_return py::none();
    }
    if (debugging) {
        co_await handle_debug_run_module(self, run.module_name, run.function_name, run.args,
                                         breakpoints, run.head.request_id, run.head.workbook_id,
                                         run.head.source);
        co_return py::none();
    }
    co_await handle_custom_function_call(
        self, py::dict("type"_a = "custom_function_call", "module_name"_a = run.module_name,
                       "function_name"_a = run.function_name, "args"_a = run.args,
                       "request_id"_a = run.head.request_id, "workbook_id"_a = run.head.workbook_id,
                       "source"_a = run.head.source));
    co_return py::none();
}

py::dict parse_error_location(py::handle traceback_str, py::handle in_memory_modules) {
    check_str(traceback_str, "traceback_str");
    return location_of(traceback_str, names_of(in_memory_modules));
}

} // namespace zm::kernel::invocation
