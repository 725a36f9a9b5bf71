#pragma once
/// Small helpers over the C API shared by the module's hot paths: results checked into owned
/// objects, truth tests that propagate errors, and texts that keep lone surrogates both ways (a
/// name or key holding one reaches the user unchanged).

#include "common/python.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace zm::office_proxy::core {

/// A new reference from the C API, or the pending Python error thrown.
inline py::object check(PyObject *result) {
    if (result == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

inline py::object borrow(PyObject *o) { return py::reinterpret_borrow<py::object>(o); }

/// Python truth of `value`; raises what `__bool__` raises.
inline bool truthy(py::handle value) {
    const int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0)
        throw py::error_already_set();
    return truth != 0;
}

[[noreturn]] inline void raise(PyObject *type, const char *message) {
    PyErr_SetString(type, message);
    throw py::error_already_set();
}

/// str(`value`) as UTF-8, lone surrogates kept.
inline std::string text_of(py::handle value) {
    py::object text = check(PyObject_Str(value.ptr()));
    py::object bytes = check(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
    return std::string(PyBytes_AS_STRING(bytes.ptr()),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

/// The str whose UTF-8 bytes (lone surrogates kept) are `text`.
inline py::str new_str(std::string_view text) {
    PyObject *s =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
    if (s == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

/// Raises `type` with the message `text`.
[[noreturn]] inline void raise_text(PyObject *type, std::string_view text) {
    PyErr_SetObject(type, new_str(text).ptr());
    throw py::error_already_set();
}

} // namespace zm::office_proxy::core
