#pragma once
/// Small helpers over the C API shared by the module's hot paths: results checked into owned
/// objects, truth tests that propagate errors, exceptions with fixed texts.

#include "common/args.hpp"
#include "common/python.hpp"

namespace zm::office_proxy::core {

/// A new reference from the C API, or the pending Python error thrown.
inline py::object check(PyObject *result) {
    if (result == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

inline py::object borrow(PyObject *o) { return py::reinterpret_borrow<py::object>(o); }

[[noreturn]] inline void raise(PyObject *type, const char *message) {
    PyErr_SetString(type, message);
    throw py::error_already_set();
}

} // namespace zm::office_proxy::core
