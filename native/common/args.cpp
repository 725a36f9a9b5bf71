#include "common/args.hpp"

namespace zm {

void raise_argument_type(const char *name, const char *expected, py::handle value) {
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name,
                 expected, Py_TYPE(value.ptr())->tp_name);
    throw py::error_already_set();
}

void check_exact(py::handle value, PyTypeObject *type, const char *name, bool allow_none) {
    if (Py_IS_TYPE(value.ptr(), type) || (allow_none && value.is_none()))
        return;
    raise_argument_type(name, type->tp_name, value);
}

void check_instance(py::handle value, PyTypeObject *type, const char *name, bool allow_none) {
    if (PyObject_TypeCheck(value.ptr(), type) || (allow_none && value.is_none()))
        return;
    raise_argument_type(name, type->tp_name, value);
}

std::string utf8(py::handle str) {
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(str.ptr(), &size);
    if (data != nullptr)
        return std::string(data, static_cast<size_t>(size));
    PyErr_Clear();
    PyObject *bytes = PyUnicode_AsEncodedString(str.ptr(), "utf-8", "backslashreplace");
    if (bytes == nullptr)
        throw py::error_already_set();
    std::string out(PyBytes_AS_STRING(bytes), static_cast<size_t>(PyBytes_GET_SIZE(bytes)));
    Py_DECREF(bytes);
    return out;
}

py::object interned(const char *text) {
    PyObject *s = PyUnicode_InternFromString(text);
    if (s == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(s);
}

py::object attr_if_any(py::handle obj, py::handle name) {
    PyObject *value = PyObject_GetAttr(obj.ptr(), name.ptr());
    if (value == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            throw py::error_already_set();
        PyErr_Clear();
        return py::object();
    }
    return py::reinterpret_steal<py::object>(value);
}

bool truthy(py::handle value) {
    const int on = PyObject_IsTrue(value.ptr());
    if (on < 0)
        throw py::error_already_set();
    return on == 1;
}

} // namespace zm
