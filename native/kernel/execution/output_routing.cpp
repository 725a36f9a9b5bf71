#include "kernel/execution/output_routing.hpp"

#include <vector>

namespace zm::kernel::execution {

namespace {

constexpr const char *STREAM_NAMES[2] = {"stdout", "stderr"};

/// Captures of the runs active on this thread, innermost last (owned references). Pushed and
/// popped in pairs by OutputRedirect, so they are empty whenever a thread ends.
thread_local std::vector<PyObject *> thread_captures[2];

/// Shared by all threads; touched only with the GIL held.
struct RoutingState {
    PyObject *routers[2] = {nullptr, nullptr}; ///< the router objects (owned, never released)
    long active_runs = 0;
};
RoutingState state;

StreamRouter &router(StdStream which) {
    return py::handle(state.routers[static_cast<int>(which)]).cast<StreamRouter &>();
}

} // namespace

py::object StreamRouter::target() const {
    const auto &captures = thread_captures[static_cast<int>(which_)];
    if (!captures.empty())
        return py::reinterpret_borrow<py::object>(captures.back());
    return fallback;
}

py::object StreamRouter::write(py::object text) const {
    py::object stream = target();
    if (stream.is_none()) // no console at all (the interpreter may run without streams)
        return py::int_(py::len(text));
    return stream.attr("write")(text);
}

py::object StreamRouter::flush() const {
    py::object stream = target();
    if (stream.is_none())
        return py::none();
    return stream.attr("flush")();
}

void init_output_routing() {
    for (int i = 0; i < 2; ++i) {
        if (state.routers[i] != nullptr)
            continue;
        py::object router_obj = py::cast(StreamRouter(static_cast<StdStream>(i)));
        router_obj.cast<StreamRouter &>().fallback = py::none();
        state.routers[i] = router_obj.release().ptr();
    }
}

py::object router_object(StdStream which) {
    return py::reinterpret_borrow<py::object>(state.routers[static_cast<int>(which)]);
}

OutputRedirect::OutputRedirect(py::handle out, py::handle err) {
    if (state.active_runs == 0) {
        for (int i = 0; i < 2; ++i) {
            PyObject *current = PySys_GetObject(STREAM_NAMES[i]); // borrowed
            // A router left in place by something else keeps the fallback it already has.
            if (current != state.routers[i]) {
                router(static_cast<StdStream>(i)).fallback =
                    current == nullptr ? py::none() : py::reinterpret_borrow<py::object>(current);
                if (PySys_SetObject(STREAM_NAMES[i], state.routers[i]) != 0)
                    throw py::error_already_set();
            }
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
            py::object previous = router(static_cast<StdStream>(i)).fallback;
            if (PySys_SetObject(STREAM_NAMES[i], previous.ptr()) != 0)
                PyErr_WriteUnraisable(nullptr);
        }
    }
    // Released last: dropping a capture may run arbitrary code.
    Py_DECREF(popped[1]);
    Py_DECREF(popped[0]);
}

} // namespace zm::kernel::execution
