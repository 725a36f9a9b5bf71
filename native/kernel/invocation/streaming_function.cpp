#include "kernel/invocation/streaming_function.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/execution_request.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/texts.hpp"

#include <optional>
#include <string>

namespace zm::kernel::invocation {

namespace {

using namespace py::literals;
using core::text_of;

constexpr double MODULE_SYNC_WAIT = 5.0; ///< seconds to wait for a requested module
constexpr double MODULE_SYNC_POLL = 0.1; ///< seconds between two looks at the cache
constexpr double SEND_WAIT = 1.0;        ///< seconds a worker waits for one value's send
constexpr long PAUSE_EVERY = 10;         ///< values between two short pauses of the worker
constexpr std::size_t SAMPLE_SIZE = 20;  ///< module names logged when a module is missing

/// A "streaming_function_result": `fields` between the request id and "workbook_id".
py::dict stream_message(py::handle request_id, py::dict fields, py::handle workbook_id) {
    py::dict message("type"_a = texts::STREAM_TYPE, "request_id"_a = request_id);
    message.attr("update")(fields);
    message["workbook_id"] = workbook_id;
    return message;
}

py::dict error_message(py::handle request_id, py::handle error, py::handle workbook_id) {
    return stream_message(request_id, py::dict("error"_a = error, "done"_a = true), workbook_id);
}

py::dict failure_record(py::str error) { return py::dict("error"_a = error); }

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
    logger.error(zm::format(texts::STREAM_MODULE_MISSING_LOG, text_of(module_name)));
    py::list sample;
    for (auto entry : py::reinterpret_borrow<py::dict>(PyImport_GetModuleDict())) {
        if (sample.size() >= SAMPLE_SIZE)
            break;
        if (PyUnicode_Check(entry.first.ptr()) && !text_of(entry.first).starts_with("_"))
            sample.append(entry.first);
    }
    logger.error(zm::format(texts::STREAM_SAMPLE_MODULES, text_of(sample)));
    logger.error(
        zm::format(texts::STREAM_CACHE_KEYS, text_of(py::list(source_cache().attr("keys")()))));
    return failure_record(py::str(zm::format(texts::STREAM_MODULE_MISSING, text_of(module_name))));
}

py::dict function_missing(py::handle module, py::handle function_name) {
    const Logger &logger = core::log();
    logger.error(zm::format(texts::STREAM_FUNCTION_MISSING_LOG, text_of(function_name)));
    PyObject *listed = PyObject_Dir(module.ptr());
    if (listed == nullptr)
        throw py::error_already_set();
    py::list names;
    for (py::handle name : py::reinterpret_steal<py::list>(listed))
        if (!text_of(name).starts_with("_"))
            names.append(name);
    logger.error(zm::format(texts::STREAM_AVAILABLE_FUNCTIONS, text_of(names)));
    return failure_record(
        py::str(zm::format(texts::STREAM_FUNCTION_MISSING, text_of(function_name))));
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
            send_and_wait(
                send, loop,
                stream_message(request_id,
                               py::dict("result"_a = texts::STREAM_CANCELED, "done"_a = true),
                               kernel_workbook),
                SEND_WAIT);
            return py::dict("canceled"_a = true);
        }
        send_and_wait(send, loop,
                      stream_message(request_id,
                                     py::dict("result"_a = to_wire(value), "done"_a = false),
                                     kernel_workbook),
                      SEND_WAIT);
        if (++count % PAUSE_EVERY == 0)
            sleep(0.001);
    }
    return py::dict("success"_a = true, "result_count"_a = count);
}

/// The fields of one stream (owning: they live in the stream's task).
struct Stream {
    py::object module_name, function_name, args;
    RunHead head;
};

/// run_streaming_in_thread: the worker's whole call, inside the output redirection. Every
/// exception (an exit request or interrupt of the user's code too) becomes the exception record.
CapturedBody body(py::object self, py::object loop, const Stream &stream) {
    return [self, loop, stream](py::handle, py::handle) -> py::object {
        const Logger &logger = core::log();
        py::object request_id = stream.head.request_id;
        if (logger.debug_enabled())
            logger.debug(
                zm::format(texts::STREAM_WORKER_STARTED, thread_name(), text_of(request_id)));
        try {
            py::object module = import_into_sys_modules(stream.module_name);
            if (module.is_none())
                return module_missing(stream.module_name);
            if (logger.debug_enabled())
                logger.debug(zm::format(texts::STREAM_FOUND_MODULE, text_of(stream.module_name)));
            if (!py::hasattr(module, stream.function_name))
                return function_missing(module, stream.function_name);
            py::object function = module.attr(stream.function_name);
            if (logger.debug_enabled())
                logger.debug(
                    zm::format(texts::STREAM_FOUND_FUNCTION, text_of(stream.function_name)));
            py::object returned = function(*deserialize_args(stream.args));
            if (!PyGen_Check(returned.ptr())) {
                const std::string name = text_of(stream.function_name);
                logger.error(zm::format(texts::NOT_A_GENERATOR_LOG, name));
                return failure_record(py::str(zm::format(texts::NOT_A_GENERATOR, name)));
            }
            logger.info(zm::format(texts::STREAM_STARTING, text_of(stream.function_name)));
            return stream_values(self, loop, returned, request_id);
        } catch (py::error_already_set &e) {
            print_traceback(e.value());
            py::str error = failure_text(e.value());
            logger.error(zm::format(texts::STREAM_ERROR, text_of(request_id), text_of(error)));
            py::dict record = failure_record(error);
            record["traceback"] = format_traceback(e.value());
            return record;
        }
    };
}

bool is_blank(py::handle name) { return name.is_none() || PyUnicode_GET_LENGTH(name.ptr()) == 0; }

/// Logs why the stream failed and closes it with `error`.
Coro close_failed(py::object self, py::object request_id, std::string elapsed, py::object error,
                  py::object workbook_id) {
    core::log().error(
        zm::format(texts::STREAM_FAILED, text_of(request_id), elapsed, text_of(error)));
    co_await core::send_message(self, error_message(request_id, error, workbook_id));
    co_return py::none();
}

/// The stream from the worker's start to its closing message.
Coro attempt_stream(py::object self, Stream stream, double start, py::object kernel_workbook) {
    const Logger &logger = core::log();
    py::object request_id = stream.head.request_id;
    py::object loop = core::runtime().get_running_loop();
    py::object record = co_await run_captured(self, loop, stream.head, body(self, loop, stream));
    const std::string elapsed = dispatch::elapsed_ms(start);
    py::object error = core::dict_get(record, "error", py::none());
    if (PyObject_IsTrue(error.ptr())) {
        co_await close_failed(self, request_id, elapsed, error, kernel_workbook);
    } else if (PyObject_IsTrue(core::dict_get(record, "canceled", py::none()).ptr())) {
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::STREAM_CANCELED_LOG, text_of(request_id), elapsed));
    } else {
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::STREAM_COMPLETED, text_of(request_id), elapsed,
                                    text_of(core::dict_get(record, "result_count", py::int_(0)))));
        co_await core::send_message(
            self, stream_message(request_id, py::dict("done"_a = true), kernel_workbook));
    }
    co_return py::none();
}

} // namespace

void check_streaming_args(py::handle request_id, py::handle module_name, py::handle function_name,
                          py::handle args, py::handle workbook_id, py::handle source) {
    check_str(request_id, "request_id", true);
    check_str(module_name, "module_name", true);
    check_str(function_name, "function_name", true);
    check_list(args, "args");
    check_str(workbook_id, "workbook_id", true);
    check_str(source, "source", true);
}

Coro execute_streaming_function(py::object self, py::object request_id, py::object module_name,
                                py::object function_name, py::object args, py::object workbook_id,
                                py::object source) {
    const Logger &logger = core::log();
    const double start = core::runtime().time_time().cast<double>();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::STREAM_STARTED, text_of(request_id),
                                text_of(module_name) + "." + text_of(function_name)));
    logger.info(zm::format(texts::STREAM_RECEIVED, text_of(module_name), text_of(function_name),
                           text_of(request_id)));
    py::object kernel_workbook = self.attr("workbook_id");

    // Without a module or a function there is nothing to sync or run.
    if (is_blank(module_name) || is_blank(function_name)) {
        co_await close_failed(self, request_id, dispatch::elapsed_ms(start),
                              py::str(is_blank(module_name) ? texts::MISSING_MODULE_NAME
                                                            : texts::MISSING_FUNCTION_NAME),
                              kernel_workbook);
        co_return py::none();
    }

    if (!in_cache(module_name)) {
        const std::string name = text_of(module_name);
        logger.warning(zm::format(texts::STREAM_NOT_IN_CACHE, name));
        co_await core::send_message(self, py::dict("type"_a = "request_module_sync",
                                                   "module_name"_a = module_name,
                                                   "workbook_id"_a = kernel_workbook));
        double waited = 0.0;
        while (!in_cache(module_name) && waited < MODULE_SYNC_WAIT) {
            co_await core::runtime().asyncio_sleep(MODULE_SYNC_POLL);
            waited += MODULE_SYNC_POLL;
        }
        if (!in_cache(module_name)) {
            logger.error(zm::format(texts::STREAM_FAILED, text_of(request_id),
                                    dispatch::elapsed_ms(start), texts::STREAM_SYNC_FAILED));
            logger.error(zm::format(texts::STREAM_NOT_FOUND_AFTER_SYNC_LOG, name));
            py::str error(zm::format(texts::STREAM_NOT_FOUND_AFTER_SYNC, name));
            co_await core::send_message(self, error_message(request_id, error, kernel_workbook));
            co_return py::none();
        }
    }

    // However the stream ends (cancellation of this task included), its mark goes.
    py::object canceled = self.attr("_canceled_streaming_requests");
    ScopeGuard forget([canceled, request_id] { canceled.attr("discard")(request_id); });

    Stream stream{module_name, function_name, args, {request_id, workbook_id, source}};
    py::object exc =
        co_await failure_of(attempt_stream(self, stream, start, kernel_workbook), &is_exception);
    if (!exc.is_none()) {
        py::str what = exception_text(exc);
        logger.error(zm::format(texts::STREAM_EXCEPTION, text_of(request_id),
                                dispatch::elapsed_ms(start), text_of(what)));
        co_await core::send_message(self, error_message(request_id, what, kernel_workbook));
    }
    co_return py::none();
}

} // namespace zm::kernel::invocation
