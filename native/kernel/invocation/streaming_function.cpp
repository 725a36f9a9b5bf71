#include "kernel/invocation/streaming_function.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/dispatch_runtime.hpp"
#include "kernel/dispatch/execution_request.hpp"
#include "kernel/execution/output_routing.hpp"
#include "kernel/execution/stream_capture.hpp"
#include "kernel/invocation/event_support.hpp"
#include "kernel/dispatch/run_output.hpp"
#include "kernel/invocation/event_stream_texts.hpp"

#include <optional>
#include <string>

namespace zm::kernel::invocation {

namespace {

using core::text_of;

constexpr double MODULE_SYNC_WAIT = 5.0;    ///< seconds to wait for a requested module
constexpr double MODULE_SYNC_POLL = 0.1;    ///< seconds between two looks at the cache
constexpr double SEND_WAIT = 1.0;           ///< seconds a worker waits for one value's send
constexpr long PAUSE_EVERY = 10;            ///< values between two short pauses of the worker
constexpr std::size_t SAMPLE_SIZE = 20;     ///< module names logged when a module is missing

py::dict stream_message(py::handle request_id) {
    py::dict message;
    message["type"] = text::STREAM_TYPE;
    message["request_id"] = request_id;
    return message;
}

py::dict value_message(py::handle request_id, py::handle result, py::handle workbook_id) {
    py::dict message = stream_message(request_id);
    message["result"] = result;
    message["done"] = false;
    message["workbook_id"] = workbook_id;
    return message;
}

py::dict canceled_message(py::handle request_id, py::handle workbook_id) {
    py::dict message = stream_message(request_id);
    message["result"] = text::CANCELED;
    message["done"] = true;
    message["workbook_id"] = workbook_id;
    return message;
}

py::dict completed_message(py::handle request_id, py::handle workbook_id) {
    py::dict message = stream_message(request_id);
    message["done"] = true;
    message["workbook_id"] = workbook_id;
    return message;
}

py::dict error_message(py::handle request_id, py::handle error, py::handle workbook_id) {
    py::dict message = stream_message(request_id);
    message["error"] = error;
    message["done"] = true;
    message["workbook_id"] = workbook_id;
    return message;
}

py::dict failure_record(py::str error) {
    py::dict record;
    record["error"] = error;
    return record;
}

bool in_cache(py::handle module_name) {
    const int found = PySequence_Contains(source_cache().ptr(), module_name.ptr());
    if (found < 0)
        throw py::error_already_set();
    return found == 1;
}

/// The text of an exception record: str(e), or the class name when that is empty (a send that
/// timed out), so that a failure is never taken for a completed stream.
py::str failure_text(py::handle exc) {
    py::str text = exception_text(exc);
    if (PyUnicode_GET_LENGTH(text.ptr()) > 0)
        return text;
    return py::str(Py_TYPE(exc.ptr())->tp_name);
}

/// The record of a module missing from sys.modules after its import, with what is there.
py::dict module_missing(py::handle module_name) {
    const Logger &logger = core::log();
    logger.error(std::string(text::NOT_IN_SYS_MODULES_LOG) + text_of(module_name));
    py::list sample;
    for (auto entry : py::reinterpret_borrow<py::dict>(PyImport_GetModuleDict())) {
        if (sample.size() >= SAMPLE_SIZE)
            break;
        if (PyUnicode_Check(entry.first.ptr()) && !text_of(entry.first).starts_with("_"))
            sample.append(entry.first);
    }
    logger.error(std::string(text::SAMPLE_MODULES) + text_of(sample));
    logger.error(std::string(text::CACHE_KEYS) + text_of(py::list(source_cache().attr("keys")())));
    return failure_record(py::str(std::string(text::MODULE_NOT_FOUND) + text_of(module_name)));
}

py::dict function_missing(py::handle module, py::handle function_name) {
    const Logger &logger = core::log();
    logger.error(std::string(text::FUNCTION_NOT_FOUND_LOG) + text_of(function_name));
    PyObject *listed = PyObject_Dir(module.ptr());
    if (listed == nullptr)
        throw py::error_already_set();
    py::list names;
    for (py::handle name : py::reinterpret_steal<py::list>(listed))
        if (!text_of(name).starts_with("_"))
            names.append(name);
    logger.error(std::string(text::AVAILABLE_FUNCTIONS) + text_of(names));
    return failure_record(py::str(std::string(text::FUNCTION_NOT_FOUND) + text_of(function_name)));
}

/// Iterates the generator, sending each value as it comes; honours cancellation between values.
py::dict stream_values(py::object self, py::object loop, py::object generator,
                       py::object request_id) {
    py::object canceled = self.attr("_canceled_streaming_requests");
    py::object send = self.attr("send_message");
    py::object kernel_workbook = self.attr("workbook_id");
    py::object to_wire = core::runtime().zentrel.attr("Serializer").attr("to_wire");
    py::object sleep = py::module_::import("time").attr("sleep");
    long count = 0;
    while (true) {
        PyObject *item = PyIter_Next(generator.ptr());
        if (item == nullptr) {
            if (PyErr_Occurred())
                throw py::error_already_set();
            break;
        }
        py::object value = py::reinterpret_steal<py::object>(item);
        const int marked = PySequence_Contains(canceled.ptr(), request_id.ptr());
        if (marked < 0)
            throw py::error_already_set();
        if (marked == 1) {
            canceled.attr("discard")(request_id);
            send_and_wait(send, loop, canceled_message(request_id, kernel_workbook), SEND_WAIT);
            py::dict record;
            record["canceled"] = true;
            return record;
        }
        send_and_wait(send, loop, value_message(request_id, to_wire(value), kernel_workbook),
                      SEND_WAIT);
        if (++count % PAUSE_EVERY == 0)
            sleep(0.001);
    }
    py::dict record;
    record["success"] = true;
    record["result_count"] = count;
    return record;
}

/// run_streaming_in_thread: the worker's whole call, inside the output redirection. Every
/// exception (an exit request or interrupt of the user's code too) becomes the exception record.
py::object make_stream_worker(py::object self, py::object loop, py::object request_id,
                              py::object module_name, py::object function_name, py::object args,
                              py::object out_callback, py::object err_callback) {
    return py::cpp_function([self, loop, request_id, module_name, function_name, args,
                             out_callback, err_callback]() -> py::object {
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(std::string(text::WORKER_STARTED) + dispatch::thread_name() +
                         text::REQUEST_ID_PART + text_of(request_id));
        py::object out = execution::new_stream_capture(out_callback);
        py::object err = execution::new_stream_capture(err_callback);
        execution::OutputRedirect redirect(out, err);
        try {
            py::object module = import_into_sys_modules(module_name);
            if (module.is_none())
                return module_missing(module_name);
            if (logger.debug_enabled())
                logger.debug(std::string(text::FOUND_MODULE) + text_of(module_name));
            if (!py::hasattr(module, function_name))
                return function_missing(module, function_name);
            py::object function = module.attr(function_name);
            if (logger.debug_enabled())
                logger.debug(std::string(text::FOUND_FUNCTION) + text_of(function_name));
            py::object returned = function(*deserialize_args(args));
            if (!PyGen_Check(returned.ptr())) {
                const std::string what = text_of(function_name) + text::NOT_A_GENERATOR;
                logger.error(std::string(text::KERNEL_FUNCTION) + what);
                return failure_record(py::str(std::string(text::FUNCTION_SPACE) + what));
            }
            logger.info(std::string(text::STARTING_STREAM) + text_of(function_name));
            return stream_values(self, loop, returned, request_id);
        } catch (py::error_already_set &e) {
            print_traceback(e.value());
            py::str error = failure_text(e.value());
            logger.error(std::string(text::STREAM_ERROR) + text_of(request_id) + text::ERROR_PART +
                         text_of(error));
            py::dict record = failure_record(error);
            record["traceback"] = format_traceback(e.value());
            return record;
        }
    });
}

bool is_blank(py::handle name) {
    return name.is_none() || PyUnicode_GET_LENGTH(name.ptr()) == 0;
}

} // namespace

void check_streaming_args(py::handle request_id, py::handle module_name,
                          py::handle function_name, py::handle args, py::handle workbook_id,
                          py::handle source) {
    check_str(request_id, "request_id", true);
    check_str(module_name, "module_name", true);
    check_str(function_name, "function_name", true);
    check_list(args, "args");
    check_str(workbook_id, "workbook_id", true);
    check_str(source, "source", true);
}

Coro execute_streaming_function(py::object self, py::object request_id, py::object module_name,
                                py::object function_name, py::object args,
                                py::object workbook_id, py::object source) {
    const Logger &logger = core::log();
    const double start = dispatch::dispatch_runtime().time_time().cast<double>();
    if (logger.debug_enabled())
        logger.debug(std::string(text::STREAM_STARTED) + text_of(request_id) +
                     text::FUNCTION_PART + text_of(module_name) + "." + text_of(function_name));
    logger.info(std::string(text::STREAM_INFO) + text_of(module_name) + text::FUNCTION_PART +
                text_of(function_name) + text::REQUEST_ID_PART + text_of(request_id));
    py::object kernel_workbook = self.attr("workbook_id");

    // Without a module or a function there is nothing to sync or run.
    if (is_blank(module_name) || is_blank(function_name)) {
        py::str error(is_blank(module_name) ? text::MISSING_MODULE_NAME
                                            : text::MISSING_FUNCTION_NAME);
        logger.error(std::string(text::STREAM_FAILED) + text_of(request_id) + text::ELAPSED_PART +
                     dispatch::elapsed_ms(start) + text::MS_ERROR + text_of(error));
        co_await core::send_message(self, error_message(request_id, error, kernel_workbook));
        co_return py::none();
    }

    if (!in_cache(module_name)) {
        const std::string name = text_of(module_name);
        logger.warning(std::string(text::KERNEL_MODULE_QUOTE) + name + text::NOT_IN_CACHE);
        py::dict sync;
        sync["type"] = "request_module_sync";
        sync["module_name"] = module_name;
        sync["workbook_id"] = kernel_workbook;
        co_await core::send_message(self, sync);
        double waited = 0.0;
        while (!in_cache(module_name) && waited < MODULE_SYNC_WAIT) {
            co_await core::runtime().asyncio_sleep(MODULE_SYNC_POLL);
            waited += MODULE_SYNC_POLL;
        }
        if (!in_cache(module_name)) {
            logger.error(std::string(text::STREAM_FAILED) + text_of(request_id) +
                         text::ELAPSED_PART + dispatch::elapsed_ms(start) + text::MS_ERROR +
                         text::AFTER_SYNC_ERROR);
            logger.error(std::string(text::KERNEL_MODULE_QUOTE) + name +
                         text::NOT_FOUND_AFTER_SYNC);
            py::str error(std::string(text::MODULE_QUOTE) + name + text::NOT_FOUND_AFTER_SYNC);
            co_await core::send_message(self, error_message(request_id, error, kernel_workbook));
            co_return py::none();
        }
    }

    // However the stream ends (cancellation of this task included), its mark goes.
    py::object canceled = self.attr("_canceled_streaming_requests");
    ScopeGuard forget([canceled, request_id] { canceled.attr("discard")(request_id); });

    std::optional<py::error_already_set> failure;
    try {
        py::object loop = core::runtime().get_running_loop();
        py::object out = dispatch::make_output_callback(self, loop, "stdout", request_id, workbook_id,
                                                        source);
        py::object err = dispatch::make_output_callback(self, loop, "stderr", request_id, workbook_id,
                                                        source);
        py::object worker = make_stream_worker(self, loop, request_id, module_name, function_name,
                                               args, out, err);
        py::object record =
            co_await loop.attr("run_in_executor")(self.attr("_thread_pool"), worker);
        const std::string elapsed = dispatch::elapsed_ms(start);
        py::object error = core::dict_get(record, "error", py::none());
        if (PyObject_IsTrue(error.ptr())) {
            logger.error(std::string(text::STREAM_FAILED) + text_of(request_id) +
                         text::ELAPSED_PART + elapsed + text::MS_ERROR + text_of(error));
            co_await core::send_message(self, error_message(request_id, error, kernel_workbook));
        } else if (PyObject_IsTrue(core::dict_get(record, "canceled", py::none()).ptr())) {
            if (logger.debug_enabled())
                logger.debug(std::string(text::STREAM_CANCELED) + text_of(request_id) +
                             text::ELAPSED_PART + elapsed + text::MS);
        } else {
            if (logger.debug_enabled())
                logger.debug(std::string(text::STREAM_COMPLETED) + text_of(request_id) +
                             text::ELAPSED_PART + elapsed + text::MS_RESULTS +
                             text_of(core::dict_get(record, "result_count", py::int_(0))));
            co_await core::send_message(self, completed_message(request_id, kernel_workbook));
        }
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        failure.emplace(std::move(e));
    }
    if (failure) {
        py::object exc = failure->value();
        failure.reset();
        py::str what = exception_text(exc);
        logger.error(std::string(text::STREAM_EXCEPTION) + text_of(request_id) +
                     text::ELAPSED_PART + dispatch::elapsed_ms(start) + text::MS_ERROR +
                     text_of(what));
        co_await core::send_message(self, error_message(request_id, what, kernel_workbook));
    }
    co_return py::none();
}

} // namespace zm::kernel::invocation
