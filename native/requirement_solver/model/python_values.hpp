#pragma once
/// Small helpers over Python values shared by the model and the walk: truth and equality that
/// propagate errors, and texts between Python and the templates of `texts.hpp` (UTF-8 with lone
/// surrogates kept both ways, so a name holding one is shown, compared and returned unchanged).

#include "common/python.hpp"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace zm::requirement_solver::model {

/// Python truth of `value`; raises what `__bool__` raises.
inline bool truth(py::handle value) {
    const int on = PyObject_IsTrue(value.ptr());
    if (on < 0)
        throw py::error_already_set();
    return on == 1;
}

/// `a == b` in Python.
inline bool rich_equal(py::handle a, py::handle b) {
    const int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
    if (r < 0)
        throw py::error_already_set();
    return r == 1;
}

/// The UTF-8 bytes of the str `text`, lone surrogates included.
inline std::string utf8_exact(py::handle text) {
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

/// The str whose UTF-8 bytes (lone surrogates included) are `text`.
inline py::str new_str(std::string_view text) {
    PyObject *s =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
    if (s == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

/// str(`obj`) as UTF-8.
inline std::string str_text(py::handle obj) {
    auto text = py::reinterpret_steal<py::object>(PyObject_Str(obj.ptr()));
    if (!text)
        throw py::error_already_set();
    return utf8_exact(text);
}

/// repr(`obj`) as UTF-8.
inline std::string repr_text(py::handle obj) {
    auto text = py::reinterpret_steal<py::object>(PyObject_Repr(obj.ptr()));
    if (!text)
        throw py::error_already_set();
    return utf8_exact(text);
}

/// The name of `obj`'s type cut to 100 bytes, as error texts show it.
inline std::string type_name(py::handle obj) {
    const char *name = Py_TYPE(obj.ptr())->tp_name;
    auto text = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(name, static_cast<Py_ssize_t>(strnlen(name, 100)), "replace"));
    if (!text)
        throw py::error_already_set();
    return utf8_exact(text);
}

} // namespace zm::requirement_solver::model
