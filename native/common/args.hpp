#pragma once
/// Argument checks shared by every module's bindings.
///
/// Each raises TypeError "Argument '<name>' has incorrect type (expected <type>, got <type>)"
/// by throwing `py::error_already_set`, so a binding can check before any work (or coroutine)
/// begins.

#include "common/python.hpp"

namespace zm {

/// Raises the argument TypeError for `value`.
[[noreturn]] void raise_argument_type(const char *name, const char *expected, py::handle value);

/// Requires `value` to be exactly of `type` (or None when `allow_none`).
void check_exact(py::handle value, PyTypeObject *type, const char *name, bool allow_none = false);

/// Requires `value` to be an instance of `type` or a subclass (or None when `allow_none`).
void check_instance(py::handle value, PyTypeObject *type, const char *name,
                    bool allow_none = false);

inline void check_str(py::handle value, const char *name, bool allow_none = false) {
    check_exact(value, &PyUnicode_Type, name, allow_none);
}
inline void check_list(py::handle value, const char *name, bool allow_none = false) {
    check_exact(value, &PyList_Type, name, allow_none);
}
inline void check_dict(py::handle value, const char *name, bool allow_none = false) {
    check_exact(value, &PyDict_Type, name, allow_none);
}

/// UTF-8 text of a str object; lone surrogates are escaped instead of failing.
std::string utf8(py::handle str);

/// Python truth of `value` (`bool(value)`); raises what `__bool__` raises.
bool truthy(py::handle value);

/// `text` as an interned str (for attribute and key names looked up on hot paths).
py::object interned(const char *text);

/// Attribute `name` (an interned text) of `obj`.
inline py::object get_attr(py::handle obj, const py::object &name) {
    PyObject *value = PyObject_GetAttr(obj.ptr(), name.ptr());
    if (value == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

/// Attribute `name` of `obj`, or an empty object when `obj` has no such attribute (an object of
/// another version, say); any other error raises.
py::object attr_if_any(py::handle obj, py::handle name);

} // namespace zm
