// Floors for bench/wire_serializer.py: the wire maps and decoded containers of the serializer,
// built by plain C++ loops that never look at a value's type.
#include "common/python.hpp"

namespace {

struct Keys {
    PyObject *type = PyUnicode_InternFromString("type");
    PyObject *value = PyUnicode_InternFromString("value");
    PyObject *isSpec = PyUnicode_InternFromString("isSpec");
    PyObject *id = PyUnicode_InternFromString("id");
    PyObject *Array = PyUnicode_InternFromString("Array");
    PyObject *Float = PyUnicode_InternFromString("Float");
    PyObject *internal_id = PyUnicode_InternFromString("_internal_id");
    PyObject *internal_typeName = PyUnicode_InternFromString("_internal_typeName");
    PyObject *msg_guid = PyUnicode_InternFromString("_msg_guid");
    PyObject *typ = PyUnicode_InternFromString("_typ");
    PyObject *internal_cache = PyUnicode_InternFromString("_internal_cache");
    PyObject *officejs_array = PyUnicode_InternFromString("officejs_array");
};

Keys &keys() {
    static Keys *k = new Keys(); // kept for the life of the process
    return *k;
}

py::object check(PyObject *o) {
    if (o == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(o);
}

py::object wire_map(PyObject *tag, PyObject *value) {
    py::object d = check(_PyDict_NewPresized(3));
    if (PyDict_SetItem(d.ptr(), keys().type, tag) < 0 ||
        PyDict_SetItem(d.ptr(), keys().value, value) < 0 ||
        PyDict_SetItem(d.ptr(), keys().isSpec, Py_False) < 0)
        throw py::error_already_set();
    return d;
}

/// Lists become "Array" maps of their elements; anything else a "Float" map of itself.
py::object to_floor(PyObject *value) {
    if (!PyList_CheckExact(value))
        return wire_map(keys().Float, value);
    const Py_ssize_t n = PyList_GET_SIZE(value);
    py::object out = check(PyList_New(n));
    for (Py_ssize_t i = 0; i < n; ++i)
        PyList_SET_ITEM(out.ptr(), i, to_floor(PyList_GET_ITEM(value, i)).release().ptr());
    return wire_map(keys().Array, out.ptr());
}

/// Maps whose payload is a list become instances of `cls` (a list subclass) with the proxy
/// attributes, holding their decoded elements; any other map gives its payload.
py::object from_floor(PyObject *wire, PyObject *cls, PyObject *guid, PyObject *empty) {
    PyObject *value = PyDict_GetItemWithError(wire, keys().value);
    if (value == nullptr && PyErr_Occurred())
        throw py::error_already_set();
    if (value == nullptr || !PyList_CheckExact(value))
        return py::reinterpret_borrow<py::object>(value == nullptr ? Py_None : value);
    py::object out =
        check(PyList_Type.tp_new(reinterpret_cast<PyTypeObject *>(cls), empty, nullptr));
    PyObject *id = PyDict_GetItemWithError(wire, keys().id);
    py::object cache = check(PyDict_New());
    const Keys &k = keys();
    if (PyObject_GenericSetAttr(out.ptr(), k.internal_id, id ? id : Py_None) < 0 ||
        PyObject_GenericSetAttr(out.ptr(), k.internal_typeName, k.Array) < 0 ||
        PyObject_GenericSetAttr(out.ptr(), k.msg_guid, guid) < 0 ||
        PyObject_GenericSetAttr(out.ptr(), k.typ, k.officejs_array) < 0 ||
        PyObject_GenericSetAttr(out.ptr(), k.internal_cache, cache.ptr()) < 0)
        throw py::error_already_set();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(value); ++i)
        if (PyList_Append(out.ptr(),
                          from_floor(PyList_GET_ITEM(value, i), cls, guid, empty).ptr()) < 0)
            throw py::error_already_set();
    return out;
}

} // namespace

void bind_wire_floor(py::module_ &m) {
    m.def(
        "wire_floor_to", [](py::object value) { return to_floor(value.ptr()); }, py::arg("value"),
        "The wire maps of `value` (nested lists) built without type tests.");
    m.def(
        "wire_floor_from",
        [](py::dict wire, py::object cls, py::object guid) {
            py::tuple empty;
            return from_floor(wire.ptr(), cls.ptr(), guid.ptr(), empty.ptr());
        },
        py::arg("wire"), py::arg("cls"), py::arg("guid"),
        "The decoded containers of `wire` (instances of `cls`) built without type tests.");
}
