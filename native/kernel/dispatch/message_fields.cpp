#include "kernel/dispatch/message_fields.hpp"

#include "common/text_format.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel::dispatch {

namespace {

[[noreturn]] void refuse(const char *key, const char *expected, const std::string &got) {
    throw FieldError(zm::format(texts::FIELD_MUST_BE, key, expected, got));
}

} // namespace

std::string type_name(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

py::object field(py::handle message, const char *key, py::handle fallback) {
    PyObject *value = PyDict_GetItemString(message.ptr(), key); // borrowed
    return py::reinterpret_borrow<py::object>(value != nullptr ? value : fallback.ptr());
}

py::object str_field(py::handle message, const char *key, py::handle fallback, bool allow_none) {
    py::object value = field(message, key, fallback);
    if (PyUnicode_CheckExact(value.ptr()) || (allow_none && value.is_none()))
        return value;
    refuse(key, allow_none ? texts::KIND_TEXT_OR_NULL : texts::KIND_TEXT, type_name(value));
}

py::object list_field(py::handle message, const char *key) {
    py::object value = field(message, key, py::none());
    if (value.is_none())
        return py::list();
    if (!PyList_CheckExact(value.ptr()))
        refuse(key, kernel::texts::EXPECTED_LIST_OR_NULL, type_name(value));
    return value;
}

bool flag_field(py::handle message, const char *key) {
    py::object value = field(message, key, py::none());
    if (value.is_none())
        return false;
    if (!PyBool_Check(value.ptr()))
        refuse(key, kernel::texts::EXPECTED_BOOL_OR_NULL, type_name(value));
    return value.ptr() == Py_True;
}

py::object str_list_field(py::handle message, const char *key) {
    PyObject *value = PyDict_GetItemString(message.ptr(), key); // borrowed
    if (value == nullptr)
        return py::list();
    if (!PyList_CheckExact(value))
        refuse(key, texts::KIND_LIST_OF_TEXT, type_name(value));
    const Py_ssize_t n = PyList_GET_SIZE(value);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *entry = PyList_GET_ITEM(value, i);
        if (!PyUnicode_CheckExact(entry))
            refuse(key, texts::KIND_LIST_OF_TEXT,
                   zm::format(texts::LIST_HOLDING, Py_TYPE(entry)->tp_name));
    }
    return py::reinterpret_borrow<py::object>(value);
}

} // namespace zm::kernel::dispatch
