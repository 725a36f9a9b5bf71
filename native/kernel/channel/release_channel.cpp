#include "kernel/channel/release_channel.hpp"

#include "common/args.hpp"
#include "common/text_format.hpp"
#include "kernel/channel/loop_submission.hpp"
#include "kernel/core/output_queue.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

#include <string>

namespace zm::kernel::channel {

namespace {

/// Requests handed over and not yet taken by the loop, oldest first. Only touched with the GIL
/// held and no Python call in between, so the GIL is its lock. While it is non-empty, one flush
/// is scheduled on the loop. Kept for good, like the channel's other objects.
PyObject *pending = nullptr;

/// True while the loop moves a batch into the output queue (the GIL guards it too).
bool flushing = false;
/// The flush callback bound to the connected kernel (kept for good).
PyObject *flush_callback = nullptr;

py::object take_pending() {
    py::object batch = py::reinterpret_steal<py::object>(pending);
    pending = PyList_New(0);
    if (pending == nullptr)
        throw py::error_already_set();
    return batch;
}

/// On the loop: stamps each queued request, lets the listener expect its answer, and starts its
/// send. The sends are started here, one task each, in order: tasks take the socket lock in the
/// order they start, so these frames precede any request submitted after the hand-over.
void flush(const py::object &kernel) {
    flushing = true;
    ScopeGuard done([]() { flushing = false; });
    py::object batch = take_pending();
    if (PyList_GET_SIZE(batch.ptr()) == 0)
        return;
    py::object loop = kernel.attr("_loop");
    py::object send_message = kernel.attr("send_message");
    py::list messages;
    {
        LockHold hold(kernel.attr("_response_lock"));
        py::dict waiters = kernel.attr("_response_futures");
        for (py::handle item : batch) {
            py::dict payload = py::reinterpret_borrow<py::dict>(item);
            py::object request_id = core::runtime().uuid4().attr("hex");
            payload["requestId"] = request_id;
            payload["kind"] = texts::KIND_REQUEST;
            waiters[request_id] = py::cast(ReleaseWaiter{kernel, request_id});
            py::dict message;
            message["type"] = texts::SYS_REQUEST;
            message["payload"] = payload;
            messages.append(message);
        }
    }
    // Through the output queue when there is one (the path every other request of a worker
    // takes), else one task each: tasks take the socket lock in the order they start.
    std::shared_ptr<core::OutputQueue> queue = core::output_queue_of(kernel);
    for (py::handle message : messages) {
        if (queue)
            queue->put_message(kernel, loop, py::reinterpret_borrow<py::dict>(message));
        else
            loop.attr("create_task")(send_message(message));
    }
}

} // namespace

bool releases_in_transit() {
    return flushing || (pending != nullptr && PyList_GET_SIZE(pending) > 0);
}

void ReleaseWaiter::set() const {
    // Called by the listener right after it stored the answer (under `_response_lock`).
    kernel.attr("_response_data").attr("pop")(request_id, py::none());
    kernel.attr("_response_futures").attr("pop")(request_id, py::none());
}

void new_send_request_nowait(py::handle kernel, py::handle req) {
    check_dict(req, "req");
    PyObject *copy = PyDict_Copy(req.ptr());
    if (copy == nullptr)
        throw py::error_already_set();
    py::object payload = py::reinterpret_steal<py::object>(copy);
    const bool scheduled = PyList_GET_SIZE(pending) > 0;
    if (PyList_Append(pending, payload.ptr()) < 0)
        throw py::error_already_set();
    if (scheduled)
        return;
    try {
        kernel.attr("_loop").attr("call_soon_threadsafe")(py::handle(flush_callback));
    } catch (py::error_already_set &) {
        // No loop to carry them (the connection is gone, and with it every object they
        // release): drop them, so the next release schedules again.
        take_pending();
        throw;
    }
}

void install_release_channel(py::object kernel) {
    py::object messaging = py::getattr(core::runtime().zentrel, "messaging", py::none());
    if (messaging.is_none())
        return;
    if (pending == nullptr) {
        pending = PyList_New(0);
        if (pending == nullptr)
            throw py::error_already_set();
    }
    Py_XDECREF(flush_callback);
    py::cpp_function callback(
        [kernel]() {
            try {
                flush(kernel);
            } catch (py::error_already_set &e) {
                core::log().warning(zm::format(texts::RELEASE_FAILED, e.what()));
            }
        },
        py::name("flush_releases"));
    flush_callback = callback.release().ptr();
    py::cpp_function send([kernel](py::object req) { new_send_request_nowait(kernel, req); },
                          py::name("new_send_request_nowait"), py::arg("req"),
                          texts::doc::NEW_SEND_REQUEST_NOWAIT);
    messaging.attr("send_request_nowait") = send;
}

} // namespace zm::kernel::channel
