#pragma once
/// Texts between Python and message templates with lone surrogates kept both ways, so a name or
/// key holding one is shown and returned unchanged. (`zm::utf8` escapes them instead: for log
/// lines.)

#include "common/python.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace zm {

/// The UTF-8 bytes of the str `text`, lone surrogates included.
inline std::string exact_utf8(py::handle text) {
    Py_ssize_t size = 0;
    if (const char *data = PyUnicode_AsUTF8AndSize(text.ptr(), &size))
        return std::string(data, static_cast<std::size_t>(size));
    PyErr_Clear();
    auto bytes = py::reinterpret_steal<py::object>(
        PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
    if (!bytes)
        throw py::error_already_set();
    return std::string(PyBytes_AS_STRING(bytes.ptr()),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

/// str(`obj`) as `exact_utf8` gives it.
inline std::string str_utf8(py::handle obj) {
    auto text = py::reinterpret_steal<py::object>(PyObject_Str(obj.ptr()));
    if (!text)
        throw py::error_already_set();
    return exact_utf8(text);
}

/// The str whose UTF-8 bytes (lone surrogates included) are `text`.
inline py::str exact_str(std::string_view text) {
    PyObject *s =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
    if (s == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

/// Raises `type` with the message `text` (as `exact_str` decodes it).
[[noreturn]] inline void raise_exact(PyObject *type, std::string_view text) {
    PyErr_SetObject(type, exact_str(text).ptr());
    throw py::error_already_set();
}

} // namespace zm
