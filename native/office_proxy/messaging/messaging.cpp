#include "office_proxy/messaging/messaging.hpp"

#include "common/args.hpp"
#include "common/exact_text.hpp"
#include "common/text_format.hpp"
#include "common/uuid4.hpp"
#include "office_proxy/core/c_api.hpp"
#include "office_proxy/core/module_state.hpp"
#include "office_proxy/texts.hpp"

namespace zm::office_proxy::messaging {

namespace {

using core::check;
using core::module_global;
using core::state;
using zm::truthy;

/// Holds one of the instance's `threading.Lock`s for a scope.
class Locked {
public:
    Locked(py::handle self, const char *lock_name) : lock_(self.attr(lock_name)) {
        lock_.attr("acquire")();
    }
    ~Locked() {
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        PyObject *r = PyObject_CallMethod(lock_.ptr(), "release", nullptr);
        if (r == nullptr)
            PyErr_WriteUnraisable(lock_.ptr());
        Py_XDECREF(r);
        PyErr_Restore(type, value, tb);
    }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    py::object lock_;
};

/// `module.name`, imported on first use and kept for the life of the process.
PyObject *kept_attr(PyObject *&slot, const char *module, const char *name) {
    if (slot == nullptr)
        slot = py::module_::import(module).attr(name).cast<py::object>().release().ptr();
    return slot;
}

py::object new_lock() {
    static PyObject *allocate = nullptr; // threading.Lock is _thread.allocate_lock
    return check(PyObject_CallNoArgs(kept_attr(allocate, "_thread", "allocate_lock")));
}

py::object future_class() {
    static PyObject *cls = nullptr; // imported on first request: the import is not cheap
    return py::reinterpret_borrow<py::object>(kept_attr(cls, "concurrent.futures", "Future"));
}

py::str new_guid() { return py::str(zm::uuid4_hex()); }

void drop_waiter(py::handle self, const py::str &request_id) {
    Locked lock(self, "_waiters_lock");
    self.attr("waiters").attr("pop")(request_id, py::none());
}

[[noreturn]] void raise_timeout(const py::error_already_set &cause) {
    PyObject *exc = PyObject_CallOneArg(PyExc_TimeoutError, py::str(texts::TIMED_OUT).ptr());
    if (exc == nullptr)
        throw py::error_already_set();
    PyException_SetCause(exc, cause.value().inc_ref().ptr());
    PyException_SetContext(exc, cause.value().inc_ref().ptr());
    PyErr_SetRaisedException(exc);
    throw py::error_already_set();
}

/// The host's send handler; RuntimeError when none is registered.
py::object send_handler(py::handle self) {
    py::object handler = self.attr("_send_handler");
    if (!truthy(handler))
        core::raise(PyExc_RuntimeError, texts::NO_SEND_HANDLER);
    return handler;
}

/// A copy of `req` stamped with `request_id` and the request kind.
py::dict stamped(py::handle req, const py::str &request_id) {
    py::dict message = py::reinterpret_steal<py::dict>(check(PyDict_Copy(req.ptr())).release());
    message["requestId"] = request_id;
    message["kind"] = texts::KIND_REQUEST;
    return message;
}

} // namespace

void init(py::handle self) {
    self.attr("waiters") = py::dict();
    self.attr("_waiters_lock") = new_lock();
    self.attr("_guid") = new_guid();
    self.attr("_send_handler") = py::none();
    self.attr("loop") = py::none();
    self.attr("loop_thread") = py::none();
    self.attr("_callable_registry") = py::dict();
    self.attr("_callable_lock") = new_lock();
    self.attr("_next_callable_id") = py::int_(1);
}

void set_send_handler(py::handle self, py::handle handler) { self.attr("_send_handler") = handler; }

py::object send_request_sync(py::handle self, py::handle req, py::handle timeout) {
    zm::check_dict(req, "req");
    if (!PyLong_Check(timeout.ptr()) && !PyFloat_Check(timeout.ptr()))
        zm::raise_argument_type("timeout", "float", timeout);
    py::object handler = send_handler(self);
    py::str request_id = new_guid();
    py::dict message = stamped(req, request_id);
    py::object future = future_class()();
    {
        Locked lock(self, "_waiters_lock");
        self.attr("waiters")[request_id] = future;
    }
    try {
        handler(message);
    } catch (py::error_already_set &) {
        drop_waiter(self, request_id);
        throw;
    }
    try {
        return future.attr("result")(py::arg("timeout") = timeout);
    } catch (py::error_already_set &e) {
        drop_waiter(self, request_id);
        if (e.matches(PyExc_TimeoutError) && !truthy(future.attr("done")()))
            raise_timeout(e);
        throw;
    }
}

void send_request_nowait(py::handle self, py::handle req) {
    zm::check_dict(req, "req");
    py::object handler = send_handler(self);
    handler(stamped(req, new_guid()));
}

void on_message(py::handle self, py::handle message) {
    zm::check_dict(message, "message");
    py::dict msg = py::reinterpret_borrow<py::dict>(message);
    py::object request_id = msg.attr("get")("requestId");
    // Waiters are keyed by text: any other id (unhashable ones included) matches nothing.
    if (!truthy(request_id) || !PyUnicode_Check(request_id.ptr()))
        return;
    py::object future;
    {
        Locked lock(self, "_waiters_lock");
        future = self.attr("waiters").attr("pop")(request_id, py::none());
    }
    if (future.is_none() || truthy(future.attr("done")()))
        return;
    try {
        if (truthy(msg.attr("get")("ok"))) {
            future.attr("set_result")(msg);
            return;
        }
        py::object error = msg.attr("get")("error", py::dict());
        py::object reason = py::str(texts::REMOTE_ERROR);
        if (PyDict_Check(error.ptr()))
            reason = error.attr("get")("message", reason);
        future.attr("set_exception")(check(PyObject_CallOneArg(PyExc_RuntimeError, reason.ptr())));
    } catch (py::error_already_set &) {
        // A reset may cancel the future between the check and the delivery: drop the response.
        if (!truthy(future.attr("done")()))
            throw;
    }
}

void reset(py::handle self) {
    {
        Locked lock(self, "_waiters_lock");
        py::object waiters = self.attr("waiters");
        py::list pending = py::reinterpret_steal<py::list>(
            check(PySequence_List(waiters.attr("values")().ptr())).release());
        for (py::handle future : pending)
            if (!truthy(future.attr("done")()))
                future.attr("cancel")();
        waiters.attr("clear")();
    }
    py::str guid = new_guid();
    self.attr("_guid") = guid;
    py::object dropped; // released after the lock: a callable's finaliser may register again
    {
        Locked lock(self, "_callable_lock");
        py::object registry = self.attr("_callable_registry");
        dropped = registry.attr("copy")();
        registry.attr("clear")();
        self.attr("_next_callable_id") = py::int_(1);
    }
    // Only the module's own instance owns the root proxies: resetting another Messaging must
    // not tie them to a context their requests never travel through.
    PyObject *module_instance = PyDict_GetItemWithError(state().globals, state().s.messaging);
    if (module_instance != self.ptr()) {
        PyErr_Clear();
        return;
    }
    for (const char *root : {"Context", "Excel"}) {
        try {
            py::object proxy = module_global(py::str(root).ptr());
            proxy.attr("_msg_guid") = guid;
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_Exception))
                throw;
        }
    }
}

py::str register_callable(py::handle self, py::handle callable_obj) {
    if (!PyCallable_Check(callable_obj.ptr())) {
        py::object name = check(PyType_GetName(Py_TYPE(callable_obj.ptr())));
        zm::raise_exact(PyExc_TypeError, zm::format(texts::NOT_CALLABLE, zm::str_utf8(name)));
    }
    Locked lock(self, "_callable_lock");
    py::object guid = self.attr("_guid");
    py::object counter = self.attr("_next_callable_id");
    const std::string guid_head = zm::str_utf8(guid[py::slice(0, 8, 1)]);
    py::str id = zm::exact_str(zm::format(texts::CALLABLE_ID, guid_head, zm::str_utf8(counter)));
    self.attr("_next_callable_id") = check(PyNumber_Add(counter.ptr(), py::int_(1).ptr()));
    self.attr("_callable_registry")[id] = callable_obj;
    return id;
}

py::object get_callable(py::handle self, py::handle callable_id) {
    zm::check_str(callable_id, "callable_id");
    Locked lock(self, "_callable_lock");
    return self.attr("_callable_registry").attr("get")(callable_id);
}

void unregister_callable(py::handle self, py::handle callable_id) {
    zm::check_str(callable_id, "callable_id");
    py::object dropped;
    Locked lock(self, "_callable_lock");
    dropped = self.attr("_callable_registry").attr("pop")(callable_id, py::none());
}

} // namespace zm::office_proxy::messaging
