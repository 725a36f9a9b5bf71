#include "kernel/invocation/module_run.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "kernel/channel/loop_submission.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/dispatch/message_fields.hpp"
#include "kernel/dispatch/run_output.hpp"
#include "kernel/execution/in_memory_module_loader.hpp"
#include "kernel/execution/output_routing.hpp"
#include "kernel/execution/stream_capture.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/invocation/custom_function_call.hpp"
#include "kernel/invocation/error_location.hpp"
#include "kernel/invocation/texts.hpp"

#include <optional>
#include <string>
#include <vector>

namespace zm::kernel::invocation {

namespace {

using core::text_of;

/// Seconds the kernel's teardown waits for a stopped debugged call to unwind (its `finally`
/// blocks run) before the process goes.
constexpr double SESSION_END_WAIT = 2.0;

/// The fields of one run, as read from its message (owning: they live in the run's task).
struct Run {
    py::object module_name, function_name, args, request_id, workbook_id, source;
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
    py::dict location;
    const std::string text = utf8(traceback_text);
    const auto found = parse_error_location(text, modules);
    if (!found)
        return location;
    py::str module(found->module);
    PyObject *line = PyLong_FromString(found->line.c_str(), nullptr, 10);
    if (line == nullptr)
        throw py::error_already_set();
    location["module"] = module;
    location["line"] = py::reinterpret_steal<py::object>(line);
    location["file"] = execution::virtual_file_name(module);
    return location;
}

/// {"type": "execution_error", "success": false, "error", "request_id", "workbook_id", "source"}.
py::dict execution_error(const Run &run, py::handle error) {
    py::dict message;
    message["type"] = "execution_error";
    message["success"] = false;
    message["error"] = error;
    message["request_id"] = run.request_id;
    message["workbook_id"] = run.workbook_id;
    message["source"] = run.source;
    return message;
}

py::dict debug_terminated(const Run &run) {
    py::dict message;
    message["type"] = "debug_terminated";
    message["request_id"] = run.request_id;
    message["workbook_id"] = run.workbook_id;
    return message;
}

py::dict debug_exception(const Run &run, py::handle location, py::handle error) {
    py::dict message;
    message["type"] = "debug_exception";
    message["workbook_id"] = run.workbook_id;
    message["module"] = core::dict_get(location, "module", run.module_name);
    message["line"] = core::dict_get(location, "line", py::int_(1));
    message["file"] = core::dict_get(location, "file", py::str(""));
    message["exception_type"] = error["type"];
    message["exception_message"] = error["message"];
    message["exception_traceback"] = error["traceback"];
    message["locals"] = py::list();
    message["globals"] = py::list();
    message["call_stack"] = py::list();
    return message;
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
            py::str content(std::string(text::YIELD_OPEN) + std::to_string(count) +
                            text::YIELD_CLOSE + text_of(py::repr(value)) + "\n");
            channel::submit_message(
                self, result_output(content, run.request_id, run.workbook_id, run.source));
        }
        return py::make_tuple(values, count);
    });
}

/// Steps 2.1-2.7 of the worker: the call under the debugger and its success record.
py::dict run_under_debugger(py::object self, py::object debugger, const Run &run) {
    py::object function =
        find_function(run.module_name, run.function_name, text::DEBUG_MODULE_NOT_FOUND_2);
    py::list arguments = deserialize_args(run.args);
    py::object runcall = debugger.attr("runcall");
    py::object result = runcall(function, *arguments);
    py::dict record;
    record["status"] = "success";
    if (!PyGen_Check(result.ptr())) {
        record["result"] = result;
        record["is_generator"] = false;
        return record;
    }
    py::object outcome = runcall(make_iteration(self, function, arguments, run));
    py::object values = py::list();
    py::object count = py::int_(-1);
    if (truthy(outcome)) {
        values = outcome[py::int_(0)];
        count = outcome[py::int_(1)];
    }
    record["result"] = values;
    record["is_generator"] = true;
    record["yield_count"] = count;
    return record;
}

/// The worker's exception path: reports "debug_exception" (waiting for its send) and returns the
/// error record with "debug_exception_sent".
py::dict exception_record(py::object self, py::object debugger, const Run &run, py::object exc) {
    const Logger &logger = core::log();
    logger.error(std::string(text::DEBUG_EXECUTION_ERROR) + text_of(exception_text(exc)));
    py::dict error = error_record(exc);
    logger.error(std::string(text::TRACEBACK_PREFIX) + text_of(error["traceback"]));
    py::dict location = location_of(error["traceback"], names_of(source_cache()));
    logger.info(std::string(text::PARSED_ERROR_LOCATION) + text_of(location));
    bool sent = false;
    py::object loop = debugger.is_none() ? py::none() : py::getattr(debugger, "loop", py::none());
    if (!loop.is_none()) {
        logger.info(text::SENDING_DEBUG_EXCEPTION);
        try {
            send_and_wait(self.attr("send_message"), loop, debug_exception(run, location, error),
                          core::DEBUG_MESSAGE_SEND_TIMEOUT);
            sent = true;
            logger.info(text::DEBUG_EXCEPTION_SENT);
        } catch (py::error_already_set &s) {
            if (!s.matches(PyExc_Exception))
                throw;
            logger.error(std::string(text::DEBUG_EXCEPTION_SEND_FAILED) +
                         text_of(exception_text(s.value())));
        }
    } else {
        logger.warning(text::NO_DEBUGGER_OR_LOOP);
    }
    py::dict record;
    record["status"] = "error";
    record["error"] = error;
    record["debug_exception_sent"] = sent;
    return record;
}

/// debug_execute: runs on a pool thread with the run's output captured and returns its record.
py::object make_debug_worker(py::object self, py::object debugger, Run run,
                             py::object out_callback, py::object err_callback) {
    return py::cpp_function([self, debugger, run, out_callback, err_callback]() -> py::object {
        py::object out = execution::new_stream_capture(out_callback);
        py::object err = execution::new_stream_capture(err_callback);
        std::optional<py::error_already_set> failure;
        py::dict record;
        {
            // This thread's writes go to the run's captures; other threads keep their own.
            execution::OutputRedirect redirect(out, err);
            try {
                record = run_under_debugger(self, debugger, run);
            } catch (py::error_already_set &e) {
                // BaseException too: an exit request of the user's code is the run's failure.
                failure.emplace(std::move(e));
            }
        }
        if (!failure)
            return record;
        py::object exc = failure->value();
        failure.reset();
        return exception_record(self, debugger, run, exc);
    });
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
            content = completed == 1 ? py::str(text::GENERATOR_COMPLETED_1 + text_of(count) +
                                               text::GENERATOR_COMPLETED_2)
                                     : py::str(text::GENERATOR_STOPPED);
        } else if (PyDict_Contains(record.ptr(), py::str("result").ptr()) == 1) {
            content = py::str(py::str(text::OUT_PREFIX) + py::repr(record["result"]) +
                              py::str("\n"));
        }
        if (content)
            co_await core::send_message(
                self, result_output(*content, run.request_id, run.workbook_id, run.source));
        logger.info(text::DEBUG_COMPLETED);
        co_await core::send_message(self, debug_terminated(run));
    } else if (truthy(core::dict_get(record, "debug_exception_sent", py::bool_(false)))) {
        logger.info(text::DEBUG_EXCEPTION_ALREADY_SENT);
        co_await core::send_message(self, debug_terminated(run));
    } else {
        logger.error(std::string(text::DEBUG_EXECUTION_FAILED) + text_of(record));
        co_await core::send_message(self, execution_error(run, record));
    }
    co_return py::none();
}

py::object new_debugger(py::object self, const Run &run) {
    py::object factory = core::module_attr("ZentrelDebugger");
    if (factory.is_none())
        raise_error(PyExc_RuntimeError, text::NO_DEBUGGER_CLASS);
    return factory(self.attr("send_message"), run.workbook_id,
                   py::arg("request_id") = run.request_id);
}

/// Frees the kernel's debugger slot when it still holds `debugger`.
void end_session(py::handle self, py::handle debugger) {
    if (debugger.is_none() || !py::getattr(self, "_debugger", py::none()).is(debugger))
        return;
    py::setattr(self, "_debugger", py::none());
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(text::DEBUGGER_CLEANED_UP);
}

/// The kernel is going away while the session runs: stop the call and give it a moment to unwind.
Coro stop_session(py::object debugger, py::object worker_future) {
    core::log().info(text::DEBUG_SESSION_ENDED);
    std::optional<std::string> stop_failed;
    try {
        debugger.attr("stop_debugging")();
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        stop_failed = text_of(exception_text(e.value()));
    }
    if (stop_failed)
        core::log().error(std::string(text::ERROR_IN_DEBUG_EXECUTION) + *stop_failed);
    if (!worker_future.is_none()) {
        py::object asyncio = core::runtime().asyncio;
        py::list pending;
        pending.append(asyncio.attr("wrap_future")(worker_future));
        co_await asyncio.attr("wait")(pending, py::arg("timeout") = SESSION_END_WAIT);
    }
    co_return py::none();
}

Coro send_refusal(py::object self, Run run, std::string error_type, std::string problem) {
    core::log().warning(std::string(text::RUN_MODULE_REFUSED) + problem);
    py::dict record = error_record(py::str(error_type), py::str(problem), py::str(""));
    co_await core::send_message(self, execution_error(run, record));
    co_return py::none();
}

} // namespace

Coro handle_debug_run_module(py::object self, py::object module_name, py::object function_name,
                             py::object args, py::object breakpoints, py::object request_id,
                             py::object workbook_id, py::object source) {
    const Logger &logger = core::log();
    Run run{module_name, function_name, args, request_id, workbook_id, source};
    if (core::has_active_debugger(self)) {
        // One slot: a second session would take it over and leave the first one's worker
        // paused for ever, and the first one's end would then free the second one's slot.
        py::object active = py::getattr(self.attr("_debugger"), "request_id", py::none());
        co_await send_refusal(self, run, text::DEBUG_SESSION_ACTIVE_TYPE,
                              std::string(text::DEBUG_SESSION_ACTIVE) + text_of(active) +
                                  text::CLOSE_PAREN);
        co_return py::none();
    }
    py::object debugger = py::none();
    py::object worker_future = py::none();
    std::optional<py::error_already_set> failure;
    bool cancelled = false;
    try {
        py::object loop = core::runtime().get_running_loop();
        debugger = new_debugger(self, run);
        py::setattr(self, "_debugger", debugger);
        debugger.attr("loop") = loop;
        debugger.attr("step_mode") = py::none();
        debugger.attr("set_breakpoints")(breakpoints);
        debugger.attr("set_in_memory_modules")(py::list(source_cache()));
        py::object out = dispatch::make_output_callback(self, loop, "stdout", request_id,
                                                        workbook_id, source);
        py::object err = dispatch::make_output_callback(self, loop, "stderr", request_id,
                                                        workbook_id, source);
        worker_future = self.attr("_thread_pool").attr("submit")(
            make_debug_worker(self, debugger, run, out, err));
        py::object record = co_await core::runtime().asyncio.attr("wrap_future")(
            worker_future, py::arg("loop") = loop);
        // Freed before the last messages go out: a client that starts the next session on
        // "debug_terminated" must find the slot free.
        end_session(self, debugger);
        co_await report(self, run, record);
    } catch (py::error_already_set &e) {
        cancelled = is_cancellation(e.value());
        failure.emplace(std::move(e));
    }
    end_session(self, debugger);
    if (cancelled) {
        if (!debugger.is_none())
            co_await stop_session(debugger, worker_future);
        py::error_already_set pending = std::move(*failure);
        failure.reset();
        throw pending;
    }
    if (failure) {
        py::object exc = failure->value();
        failure.reset();
        logger.error(std::string(text::ERROR_IN_DEBUG_EXECUTION) + text_of(exception_text(exc)));
        py::dict error = error_record(exc);
        logger.error(std::string(text::TRACEBACK_PREFIX) + text_of(error["traceback"]));
        co_await core::send_message(self, execution_error(run, error));
    }
    co_return py::none();
}

Coro handle_run_module(py::object self, py::object message) {
    const Logger &logger = core::log();
    Run run{dispatch::field(message, "module_name", py::str("")),
            dispatch::field(message, "function_name", py::str("")),
            dispatch::field(message, "args", py::list()),
            dispatch::field(message, "request_id", py::none()),
            dispatch::field(message, "workbook_id", py::str("")),
            dispatch::field(message, "source", py::str("ide"))};
    py::object debug = dispatch::field(message, "debug", py::bool_(false));
    py::object breakpoints = dispatch::field(message, "breakpoints", py::list());
    logger.info(std::string(text::RECEIVED_RUN_MODULE) + text_of(run.module_name) + "." +
                text_of(run.function_name) + text::WORKBOOK_ID_OPEN + text_of(run.workbook_id) +
                text::DEBUG_PART + text_of(debug) + text::SOURCE_MID + text_of(run.source) +
                text::REQUEST_ID_PART + text_of(run.request_id) + text::CLOSE_PAREN);
    std::optional<std::string> problem;
    bool debugging = false;
    try {
        debugging = flag_field(message, "debug");
        if (debugging) {
            // The custom function call checks its own fields; a debug run checks them here.
            text_field(message, "module_name", py::str(""));
            text_field(message, "function_name", py::str(""));
            text_field(message, "workbook_id", py::str(""));
            text_field(message, "source", py::str("ide"));
            text_field(message, "request_id", py::none(), true);
            run.args = args_field(message);
            breakpoints = list_field(message, "breakpoints");
        }
    } catch (dispatch::FieldError &e) {
        problem = e.what();
    }
    if (problem) {
        co_await send_refusal(self, run, text::VALIDATION_ERROR, *problem);
        co_return py::none();
    }
    if (debugging) {
        co_await handle_debug_run_module(self, run.module_name, run.function_name, run.args,
                                         breakpoints, run.request_id, run.workbook_id,
                                         run.source);
        co_return py::none();
    }
    py::dict call;
    call["type"] = "custom_function_call";
    call["module_name"] = run.module_name;
    call["function_name"] = run.function_name;
    call["args"] = run.args;
    call["request_id"] = run.request_id;
    call["workbook_id"] = run.workbook_id;
    call["source"] = run.source;
    co_await handle_custom_function_call(self, call);
    co_return py::none();
}

py::dict parse_error_location(py::handle traceback_str, py::handle in_memory_modules) {
    check_str(traceback_str, "traceback_str");
    return location_of(traceback_str, names_of(in_memory_modules));
}

} // namespace zm::kernel::invocation
