#include "kernel/channel/request_channel.hpp"

#include "common/args.hpp"
#include "common/text_format.hpp"
#include "common/uuid4.hpp"
#include "kernel/channel/loop_submission.hpp"
#include "kernel/channel/release_channel.hpp"
#include "kernel/channel/response_scan.hpp"
#include "kernel/channel/response_waiter.hpp"
#include "kernel/core/loop_wake.hpp"
#include "kernel/core/output_queue.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

#include <string>

namespace zm::kernel::channel {

namespace {

using core::text_of;

[[noreturn]] void raise_text(PyObject *type, const std::string &message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

/// True when the calling thread runs the loop that delivers responses.
bool on_loop_thread(const py::object &thread) {
    py::object messaging = py::getattr(core::runtime().zentrel, "messaging", py::none());
    if (messaging.is_none())
        return false;
    py::object loop_thread = py::getattr(messaging, "loop_thread", py::none());
    return !loop_thread.is_none() && loop_thread.equal(thread);
}

/// Removes the waiter and the stored response of `request_id`; returns the response or None.
py::object take_entries(py::handle kernel, py::handle request_id) {
    LockHold hold(kernel.attr("_response_lock"));
    py::object data = kernel.attr("_response_data").attr("pop")(request_id, py::none());
    kernel.attr("_response_futures").attr("pop")(request_id, py::none());
    return data;
}

void check_timeout(py::handle timeout) {
    if (!PyLong_Check(timeout.ptr()) && !PyFloat_Check(timeout.ptr()))
        raise_argument_type("timeout", "float", timeout);
}

/// `timeout` in seconds, refused as a lock's wait would refuse it (above threading.TIMEOUT_MAX).
double wait_seconds(py::handle timeout) {
    const double seconds = PyFloat_AsDouble(timeout.ptr());
    if (seconds == -1.0 && PyErr_Occurred())
        throw py::error_already_set();
    if (seconds > core::runtime().timeout_max)
        raise_text(PyExc_OverflowError, texts::TIMEOUT_TOO_LARGE);
    return seconds;
}

} // namespace

py::object send_sys_request(py::handle kernel, py::dict payload, py::handle timeout) {
    const Logger &logger = core::log();
    py::object request_id = payload.attr("get")("requestId");
    py::object thread = core::runtime().current_thread();
    if (on_loop_thread(thread))
        raise_text(PyExc_RuntimeError, texts::LOOP_THREAD_REFUSED);
    const std::string worker = text_of(thread.attr("name"));
    const std::string id_text = text_of(request_id);
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::SENDING_SYS_REQUEST, worker, id_text));

    // The waiter exists before the request leaves, so an immediate answer is never missed.
    auto waiter = std::make_shared<ResponseWaiter>();
    py::object event = py::cast(waiter);
    {
        LockHold hold(kernel.attr("_response_lock"));
        py::dict futures = kernel.attr("_response_futures");
        futures[request_id] = event;
    }
    py::dict message;
    message["type"] = texts::SYS_REQUEST;
    message["payload"] = payload;
    try {
        // Through the output queue: behind the worker's earlier output, and without a task of
        // its own when a drain is already on its way. While releases this thread handed over
        // are still on their way to that queue, through the loop instead, which queues them
        // first: a thread's drops always precede its next request.
        std::shared_ptr<core::OutputQueue> queue = core::output_queue_of(kernel);
        if (queue && !releases_in_transit())
            queue->put_message(kernel, kernel.attr("_loop"), message);
        else
            submit_message(kernel, message);
    } catch (py::error_already_set &) {
        // Nothing was sent, so nothing can answer: do not leave the waiter behind.
        take_entries(kernel, request_id);
        throw;
    }
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::WAITING_SYS_RESPONSE, worker, id_text));

    bool signalled = false;
    try {
        const double seconds = wait_seconds(timeout);
        py::gil_scoped_release released;
        core::LoopWake::instance().let_go();
        signalled = waiter->wait_for(seconds, true);
    } catch (py::error_already_set &) {
        // An unusable timeout (an overflow) or an interrupt: leave no waiter behind.
        take_entries(kernel, request_id);
        throw;
    }
    py::object data = take_entries(kernel, request_id);
    if (signalled) {
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::RECEIVED_SYS_RESPONSE, worker, id_text));
        if (PyExceptionInstance_Check(data.ptr())) {
            // The listener could not decode the response: its error stands for the answer.
            PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(data.ptr())), data.ptr());
            throw py::error_already_set();
        }
        if (data.is_none()) {
            logger.error(zm::format(texts::DATA_MISSING_LOG, id_text));
            raise_text(PyExc_RuntimeError, zm::format(texts::DATA_MISSING, id_text));
        }
        return data;
    }
    // A response stored between the end of the wait and the removal above arrived in time.
    if (!data.is_none())
        return data;
    logger.error(zm::format(texts::SYS_REQUEST_TIMED_OUT, worker, id_text));
    py::object seconds = py::str(py::float_(py::reinterpret_borrow<py::object>(timeout)));
    raise_text(PyExc_TimeoutError, zm::format(texts::TIMEOUT_AFTER, text_of(seconds), id_text));
}

py::object new_send_request_sync(py::handle kernel, py::handle req, py::handle timeout) {
    check_dict(req, "req");
    check_timeout(timeout);
    PyObject *copy = PyDict_Copy(req.ptr());
    if (copy == nullptr)
        throw py::error_already_set();
    py::dict payload = py::reinterpret_steal<py::dict>(copy);
    payload["requestId"] = py::str(zm::uuid4_hex());
    payload["kind"] = texts::KIND_REQUEST;
    return send_sys_request(kernel, payload, timeout);
}

void wake(py::handle waiter) {
    static const py::handle own = py::type::of<ResponseWaiter>();
    if (Py_TYPE(waiter.ptr()) == reinterpret_cast<PyTypeObject *>(own.ptr()))
        set_soon(waiter.cast<std::shared_ptr<ResponseWaiter>>());
    else
        waiter.attr("set")();
}

bool fail_waiter(py::handle kernel, py::handle request_id, const std::string &problem) {
    py::object error = py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(
        py::str(zm::format(texts::UNDECODABLE_RESPONSE, problem)));
    bool woken = false;
    {
        LockHold hold(kernel.attr("_response_lock"));
        py::dict waiters = kernel.attr("_response_futures");
        PyObject *event = PyDict_GetItemWithError(waiters.ptr(), request_id.ptr()); // borrowed
        if (event == nullptr && PyErr_Occurred())
            throw py::error_already_set();
        if (event != nullptr) {
            py::dict data = kernel.attr("_response_data");
            data[request_id] = error;
            wake(event);
            woken = true;
        }
    }
    if (woken)
        core::log().warning(zm::format(texts::WAITER_FAILED, text_of(request_id), problem));
    return woken;
}

void wake_undecodable_response(py::object kernel, py::object text, const std::string &problem) {
    if (!PyUnicode_Check(text.ptr()))
        return;
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (data == nullptr) {
        PyErr_Clear(); // surrogates from escapes: no id of ours holds one
        return;
    }
    const auto request_id =
        sys_response_request_id(std::string_view(data, static_cast<std::size_t>(size)));
    if (request_id)
        fail_waiter(kernel, py::str(*request_id), problem);
}

void install_request_channel(py::object kernel) {
    py::object messaging = py::getattr(core::runtime().zentrel, "messaging", py::none());
    if (messaging.is_none())
        return;
    // Holds the kernel, which lives as long as the process.
    py::cpp_function send(
        [kernel](py::object req, py::object timeout) {
            return new_send_request_sync(kernel, req, timeout);
        },
        py::name("new_send_request_sync"), py::arg("req"), py::arg("timeout") = 30.0,
        texts::doc::NEW_SEND_REQUEST_SYNC);
    messaging.attr("send_request_sync") = send;
}

} // namespace zm::kernel::channel
