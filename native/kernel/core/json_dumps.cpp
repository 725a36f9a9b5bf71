#include "kernel/core/json_dumps.hpp"

#include "kernel/core/runtime.hpp"
#include "kernel/core/text_repair.hpp"

#include <cmath>
#include <vector>

namespace zm::kernel::core {

namespace {

py::object decode(py::handle bytes) {
    PyObject *s = PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.ptr()),
                                       PyBytes_GET_SIZE(bytes.ptr()), "strict");
    if (s == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(s);
}

/// `text` with surrogates repaired (see `repair_surrogates`), or `text` itself when it has none.
/// Only the 2- and 4-byte kinds can hold a surrogate, so ASCII and Latin-1 texts cost nothing.
py::object clean_text(py::handle text) {
    const int kind = PyUnicode_KIND(text.ptr());
    if (kind == PyUnicode_1BYTE_KIND)
        return py::reinterpret_borrow<py::object>(text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
    const void *data = PyUnicode_DATA(text.ptr());
    std::vector<char32_t> points(static_cast<std::size_t>(length));
    bool found = false;
    for (Py_ssize_t i = 0; i < length; ++i) {
        const char32_t point = PyUnicode_READ(kind, data, i);
        found = found || is_surrogate(point);
        points[static_cast<std::size_t>(i)] = point;
    }
    if (!found)
        return py::reinterpret_borrow<py::object>(text);
    const std::size_t kept = repair_surrogates(points);
    PyObject *out = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, points.data(),
                                              static_cast<Py_ssize_t>(kept));
    if (out == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(out);
}

/// `obj` made fit for strict JSON in UTF-8: every non-finite float becomes None (`json` would
/// write NaN/Infinity, which is not JSON) and every text, keys included, loses its surrogates
/// (UTF-8 cannot carry them). Containers are copied only where something changed.
py::object sanitized(py::handle obj) {
    if (PyFloat_Check(obj.ptr())) {
        return std::isfinite(PyFloat_AS_DOUBLE(obj.ptr())) ? py::reinterpret_borrow<py::object>(obj)
                                                           : py::none();
    }
    if (PyUnicode_Check(obj.ptr()))
        return clean_text(obj);
    const bool is_dict = PyDict_Check(obj.ptr());
    const bool is_seq = PyList_Check(obj.ptr()) || PyTuple_Check(obj.ptr());
    if (!is_dict && !is_seq)
        return py::reinterpret_borrow<py::object>(obj);
    if (Py_EnterRecursiveCall(" while serializing a message") != 0)
        throw py::error_already_set();
    struct Leave {
        ~Leave() { Py_LeaveRecursiveCall(); }
    } leave;
    bool changed = false;
    if (is_dict) {
        py::dict out;
        for (auto [key, value] : py::reinterpret_borrow<py::dict>(obj)) {
            py::object clean_key = sanitized(key);
            py::object clean_value = sanitized(value);
            changed = changed || !clean_key.is(key) || !clean_value.is(value);
            out[clean_key] = clean_value;
        }
        return changed ? py::object(out) : py::reinterpret_borrow<py::object>(obj);
    }
    py::list out;
    for (py::handle item : obj) {
        py::object clean = sanitized(item);
        changed = changed || !clean.is(item);
        out.append(clean);
    }
    return changed ? py::object(out) : py::reinterpret_borrow<py::object>(obj);
}

/// `json.dumps` of an already sanitized object: its default form, or orjson's compact one.
py::object json_text(py::handle clean, bool compact) {
    Runtime &rt = runtime();
    if (!compact)
        return rt.json_dumps(clean);
    return rt.json_dumps(clean, py::arg("ensure_ascii") = false,
                         py::arg("separators") = py::make_tuple(",", ":"));
}

} // namespace

py::object json_dumps(py::handle obj) {
    Runtime &rt = runtime();
    if (rt.orjson_dumps.is_none())
        return json_text(sanitized(obj), false);
    PyObject *bytes = PyObject_CallOneArg(rt.orjson_dumps.ptr(), obj.ptr());
    if (bytes != nullptr)
        return decode(py::reinterpret_steal<py::object>(bytes));
    // Clean messages never get here: the repairs below cost nothing on the common path.
    if (!PyErr_ExceptionMatches(PyExc_TypeError))
        throw py::error_already_set();
    py::error_already_set original;
    py::object clean;
    try {
        clean = sanitized(obj);
    } catch (py::error_already_set &) {
        throw original;
    }
    // Surrogates are repaired now; keys that are not text orjson writes itself when asked.
    PyObject *retry = PyObject_Call(rt.orjson_dumps.ptr(), py::make_tuple(clean).ptr(),
                                    py::dict(py::arg("option") = rt.orjson_non_str_keys).ptr());
    if (retry != nullptr)
        return decode(py::reinterpret_steal<py::object>(retry));
    PyErr_Clear();
    // Integers beyond 64 bits: json writes them exactly, in orjson's compact form.
    try {
        return json_text(clean, true);
    } catch (py::error_already_set &) {
    }
    throw original;
}

} // namespace zm::kernel::core
