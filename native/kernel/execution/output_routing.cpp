#include "kernel/execution/output_routing.hpp"

#include "kernel/execution/stream_capture.hpp"

#include <vector>

namespace zm::kernel::execution {

namespace {

constexpr const char *STREAM_NAMES[2] = {"stdout", "stderr"};

/// Captures of the runs active on this thread, innermost last (owned references). Pushed and
/// popped in pairs by OutputRedirect, so they are empty whenever a thread ends.
thread_local std::vector<PyObject *> thread_captures[2];

/// Shared by all threads; touched only with the GIL held.
struct RoutingState {
    PyObject *routers[2] = {nullptr, nullptr};   ///< the router objects (owned, never released)
    PyObject *fallbacks[2] = {nullptr, nullptr}; ///< streams in place before the runs (owned)
    long active_runs = 0;
};
RoutingState state;

/// Borrowed: the writing thread's capture for stream `i`, else the fallback.
PyObject *target_of(int i) {
    const auto &captures = thread_captures[i];
    return captures.empty() ? state.fallbacks[i] : captures.back();
}

PyObject *write_name() {
    static PyObject *name = PyUnicode_InternFromString("write");
    return name;
}

PyObject *router_write(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "write() takes exactly one argument");
        return nullptr;
    }
    const int i = args[0] == state.routers[0] ? 0 : 1;
    PyObject *text = args[1];
    PyObject *target = target_of(i);
    if (target == Py_None) { // no console at all (the interpreter may run without streams)
        const Py_ssize_t length = PyObject_Length(text);
        return length < 0 ? nullptr : PyLong_FromSsize_t(length);
    }
    if (!is_stream_capture(target))
        return PyObject_CallMethodOneArg(target, write_name(), text);
    Py_INCREF(target); // the write may run code that ends this run's redirection
    PyObject *result = nullptr;
    try {
        result = PyLong_FromSsize_t(capture_write(target, text));
    } catch (py::error_already_set &e) {
        e.restore();
    } catch (const std::exception &e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    Py_DECREF(target);
    return result;
}

PyMethodDef router_write_def = {
    "write", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&router_write)),
    METH_FASTCALL, "Write `text` to the writing thread's capture, else to the previous stream."};

} // namespace

py::object StreamRouter::target() const {
    return py::reinterpret_borrow<py::object>(target_of(static_cast<int>(which_)));
}

py::object StreamRouter::flush() const {
    py::object stream = target();
    if (stream.is_none())
        return py::none();
    return stream.attr("flush")();
}

py::object router_write_method() { return fast_method(&router_write_def); }

void init_output_routing() {
    for (int i = 0; i < 2; ++i) {
        if (state.routers[i] != nullptr)
            continue;
        state.fallbacks[i] = py::none().release().ptr();
        state.routers[i] = py::cast(StreamRouter(static_cast<StdStream>(i))).release().ptr();
    }
}

OutputRedirect::OutputRedirect(py::handle out, py::handle err) {
    if (state.active_runs == 0) {
        for (int i = 0; i < 2; ++i) {
            PyObject *current = PySys_GetObject(STREAM_NAMES[i]); // borrowed
            // A router left in place by something else keeps the fallback it already has.
            if (current == state.routers[i])
                continue;
            PyObject *previous = current == nullptr ? Py_None : current;
            Py_INCREF(previous);
            Py_SETREF(state.fallbacks[i], previous);
            if (PySys_SetObject(STREAM_NAMES[i], state.routers[i]) != 0)
                throw py::error_already_set();
        }
    }
    ++state.active_runs;
    thread_captures[0].push_back(py::reinterpret_borrow<py::object>(out).release().ptr());
    thread_captures[1].push_back(py::reinterpret_borrow<py::object>(err).release().ptr());
}

OutputRedirect::~OutputRedirect() {
    PyObject *popped[2];
    for (int i = 1; i >= 0; --i) {
        popped[i] = thread_captures[i].back();
        thread_captures[i].pop_back();
    }
    if (--state.active_runs == 0) {
        for (int i = 1; i >= 0; --i) {
            if (PySys_GetObject(STREAM_NAMES[i]) != state.routers[i])
                continue; // replaced meanwhile (for example by a disconnecting kernel): keep that
            if (PySys_SetObject(STREAM_NAMES[i], state.fallbacks[i]) != 0)
                PyErr_WriteUnraisable(nullptr);
        }
    }
    // Released last: dropping a capture may run arbitrary code.
    Py_DECREF(popped[1]);
    Py_DECREF(popped[0]);
}

} // namespace zm::kernel::execution
