#pragma once
/// Small helpers over Python values shared by the model and the walk: truth and equality that
/// propagate errors, and the texts of objects that fill the templates of `texts.hpp`.

#include "common/exact_text.hpp"
#include "common/python.hpp"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace zm::requirement_solver::model {

/// `a == b` in Python.
inline bool rich_equal(py::handle a, py::handle b) {
    const int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
    if (r < 0)
        throw py::error_already_set();
    return r == 1;
}

/// repr(`obj`) as UTF-8 (`zm::exact_utf8`).
inline std::string repr_text(py::handle obj) {
    auto text = py::reinterpret_steal<py::object>(PyObject_Repr(obj.ptr()));
    if (!text)
        throw py::error_already_set();
    return zm::exact_utf8(text);
}

/// The name of `obj`'s type cut to 100 bytes, as error texts show it.
inline std::string type_name(py::handle obj) {
    const char *name = Py_TYPE(obj.ptr())->tp_name;
    auto text = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(name, static_cast<Py_ssize_t>(strnlen(name, 100)), "replace"));
    if (!text)
        throw py::error_already_set();
    return zm::exact_utf8(text);
}

} // namespace zm::requirement_solver::model
