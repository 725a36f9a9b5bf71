#include "office_proxy/wire/serializer.hpp"

#include "common/args.hpp"
#include "common/exact_text.hpp"
#include "common/text_format.hpp"
#include "office_proxy/core/c_api.hpp"
#include "office_proxy/core/module_state.hpp"
#include "office_proxy/proxies/office_js_object.hpp"
#include "office_proxy/texts.hpp"
#include "office_proxy/wire/base64.hpp"
#include "office_proxy/wire/foreign_types.hpp"

#include <datetime.h>

#include <utility>
#include <vector>

namespace zm::office_proxy::wire {

namespace {

using core::borrow;
using core::check;
using core::module_global;
using core::Names;
using core::state;
using zm::truthy;

void ensure_datetime_api() {
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == nullptr)
            throw py::error_already_set();
    }
}

/// Holds one level of the interpreter's recursion budget, so hostile nesting ends in
/// RecursionError instead of a C stack overflow.
class RecursionGuard {
public:
    RecursionGuard() {
        if (Py_EnterRecursiveCall(texts::RECURSION_WHERE))
            throw py::error_already_set();
    }
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard &) = delete;
    RecursionGuard &operator=(const RecursionGuard &) = delete;
};

/// {"type": tag, "value": value, "isSpec": spec}, keys in this order.
py::object make_wire(PyObject *tag, PyObject *value, PyObject *spec) {
    PyObject *d = _PyDict_NewPresized(3);
    if (d == nullptr)
        throw py::error_already_set();
    py::object out = py::reinterpret_steal<py::object>(d);
    const Names &s = state().s;
    if (PyDict_SetItem(d, s.type, tag) < 0 || PyDict_SetItem(d, s.value, value) < 0 ||
        PyDict_SetItem(d, s.isSpec, spec) < 0)
        throw py::error_already_set();
    return out;
}

/// Plain wire values are copies of a finished map per tag with the payload swapped in: copying
/// a small map clones its table in one step, much cheaper than three insertions.
class PlainTemplates {
public:
    PyObject *get(PyObject *tag) {
        for (auto &[t, map] : maps_)
            if (t == tag)
                return map;
        PyObject *map = make_wire(tag, Py_None, Py_False).release().ptr(); // kept for good
        maps_.emplace_back(tag, map);
        return map;
    }

private:
    std::vector<std::pair<PyObject *, PyObject *>> maps_;
};

PlainTemplates templates;

py::object plain_wire(PyObject *tag, PyObject *value) {
    PyObject *d = PyDict_Copy(templates.get(tag));
    if (d == nullptr)
        throw py::error_already_set();
    py::object out = py::reinterpret_steal<py::object>(d);
    if (PyDict_SetItem(d, state().s.value, value) < 0)
        throw py::error_already_set();
    return out;
}

inline py::object plain(PyObject *tag, PyObject *value) { return plain_wire(tag, value); }

/// The function `Serializer.<name>` as seen right now.
py::object serializer_function(PyObject *name) {
    py::object cls = module_global(state().s.Serializer);
    return check(PyObject_GetAttr(cls.ptr(), name));
}

/// Splits an `items()` entry into key and value.
std::pair<py::object, py::object> unpack_pair(py::handle item) {
    py::object tuple = check(PySequence_Tuple(item.ptr()));
    if (PyTuple_GET_SIZE(tuple.ptr()) != 2) {
        zm::raise_exact(PyExc_ValueError,
                        zm::format(texts::NOT_A_PAIR, PyTuple_GET_SIZE(tuple.ptr())));
    }
    return {borrow(PyTuple_GET_ITEM(tuple.ptr(), 0)), borrow(PyTuple_GET_ITEM(tuple.ptr(), 1))};
}

/// Calls `fn(key, value)` for each entry of the map `map`: straight from its table when
/// `from_table` (an entry added or removed meanwhile is the error iteration raises), otherwise
/// through its items().
template <class F> void each_entry(PyObject *map, bool from_table, F &&fn) {
    if (from_table) {
        const Py_ssize_t size = PyDict_GET_SIZE(map);
        Py_ssize_t pos = 0;
        PyObject *k = nullptr, *v = nullptr;
        while (PyDict_Next(map, &pos, &k, &v)) {
            py::object key = borrow(k), value = borrow(v);
            fn(key, value);
            if (PyDict_GET_SIZE(map) != size)
                core::raise(PyExc_RuntimeError, texts::DICT_CHANGED);
        }
        return;
    }
    py::object items = check(PyObject_CallMethodNoArgs(map, state().s.items));
    py::object iter = check(PyObject_GetIter(items.ptr()));
    while (PyObject *pair = PyIter_Next(iter.ptr())) {
        py::object held = py::reinterpret_steal<py::object>(pair);
        auto [key, value] = unpack_pair(held);
        fn(key, value);
    }
    if (PyErr_Occurred())
        throw py::error_already_set();
}

/// True when `type` iterates and reads items exactly as the builtin `base` does.
bool plain_iteration(PyTypeObject *type, PyTypeObject *base) {
    return type == base || type->tp_iter == base->tp_iter;
}

bool plain_items(PyTypeObject *type) {
    if (type == &PyDict_Type)
        return true;
    PyObject *mine = _PyType_Lookup(type, state().s.items);
    PyObject *builtin = _PyType_Lookup(&PyDict_Type, state().s.items);
    return mine != nullptr && mine == builtin;
}

class Encoder {
public:
    explicit Encoder(bool fast) : fast_(fast) {}

    py::object encode(py::handle value) {
        PyObject *v = value.ptr();
        PyTypeObject *t = Py_TYPE(v);
        const Names &s = state().s;
        if (v == Py_None)
            return plain(s.Null, Py_None);
        if (t == &PyFloat_Type)
            return plain(s.Float, v);
        if (t == &PyLong_Type)
            return plain(s.Int, v);
        if (t == &PyUnicode_Type)
            return plain(s.String, v);
        if (t == &PyBool_Type)
            return plain(s.Bool, v);
        if (t == &PyList_Type || t == &PyTuple_Type)
            return sequence(value);
        if (t == &PyDict_Type)
            return mapping(value);
        return generic(value);
    }

private:
    py::object element(py::handle value) {
        if (fast_)
            return encode(value);
        return check(
            PyObject_CallOneArg(serializer_function(state().s.to_wire).ptr(), value.ptr()));
    }

    /// Every rule in order, for values that are not one of the exact builtin types.
    py::object generic(py::handle value) {
        PyObject *v = value.ptr();
        const Names &s = state().s;
        const NumpyTypes *np = numpy_types();
        auto is_np = [&](PyObject *NumpyTypes::*type) {
            return np != nullptr &&
                   PyObject_TypeCheck(v, reinterpret_cast<PyTypeObject *>(np->*type));
        };
        if (is_np(&NumpyTypes::bool_)) {
            return plain(s.Bool, truthy(value) ? Py_True : Py_False);
        }
        if (PyLong_Check(v))
            return plain(s.Int, check(PyNumber_Long(v)).ptr());
        if (PyFloat_Check(v))
            return plain(s.Float, check(PyNumber_Float(v)).ptr());
        if (PyUnicode_Check(v))
            return plain(s.String, v);
        ensure_datetime_api();
        if (PyDate_Check(v))
            return date(value);
        if (is_np(&NumpyTypes::datetime64))
            return plain(s.Date, numpy_datetime_text(*np, value).ptr());
        if (PyBytes_Check(v) || PyByteArray_Check(v) || PyMemoryView_Check(v))
            return bytes(value);
        if (PyList_Check(v) || PyTuple_Check(v))
            return sequence(value);
        if (PyDict_Check(v))
            return mapping(value);
        if (is_missing_scalar(value))
            return plain(s.Null, Py_None);
        if (const PandasTypes *pd = pandas_types(); pd != nullptr) {
            const int series = PyObject_IsInstance(v, pd->Series);
            if (series < 0)
                throw py::error_already_set();
            const int frame = series ? 0 : PyObject_IsInstance(v, pd->DataFrame);
            if (frame < 0)
                throw py::error_already_set();
            if (series || frame)
                return table(value, series != 0);
        }
        {
            py::object cls = module_global(s.OfficeJsObject);
            const int proxy = PyObject_IsInstance(v, cls.ptr());
            if (proxy < 0)
                throw py::error_already_set();
            if (proxy) {
                py::object type_name = check(PyObject_GetAttr(v, s.internal_typeName));
                py::object id = check(PyObject_GetAttr(v, s.internal_id));
                return make_wire(type_name.ptr(), id.ptr(), Py_True);
            }
        }
        if (PyCallable_Check(v)) {
            py::object messaging = module_global(s.messaging);
            py::object id =
                check(PyObject_CallMethodOneArg(messaging.ptr(), s.register_callable, v));
            return make_wire(s.Python_Function, id.ptr(), Py_True);
        }
        return plain(s.String, check(PyObject_Str(v)).ptr());
    }

    py::object date(py::handle value) {
        py::object moment = borrow(value.ptr());
        if (PyDateTime_Check(value.ptr())) {
            py::object tz = check(PyObject_GetAttr(value.ptr(), state().s.tzinfo));
            if (truthy(tz))
                moment = check(PyObject_CallMethodOneArg(value.ptr(), state().s.astimezone,
                                                         PyDateTime_TimeZone_UTC));
        }
        py::object text = check(PyObject_CallMethodNoArgs(moment.ptr(), state().s.isoformat));
        return plain(state().s.Date, text.ptr());
    }

    py::object bytes(py::handle value) {
        py::object raw = PyBytes_CheckExact(value.ptr())
                             ? borrow(value.ptr())
                             : check(PyObject_CallOneArg(
                                   reinterpret_cast<PyObject *>(&PyBytes_Type), value.ptr()));
        const auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(raw.ptr()));
        py::object text = check(PyUnicode_New(static_cast<Py_ssize_t>(base64_length(size)), 127));
        base64_encode(reinterpret_cast<const unsigned char *>(PyBytes_AS_STRING(raw.ptr())), size,
                      reinterpret_cast<char *>(PyUnicode_1BYTE_DATA(text.ptr())));
        return plain(state().s.Bytes, text.ptr());
    }

    py::object sequence(py::handle value) {
        RecursionGuard guard;
        PyObject *v = value.ptr();
        py::object out;
        if (PyList_Check(v) && plain_iteration(Py_TYPE(v), &PyList_Type)) {
            // Index loop over the live list, as iteration would: an element's own conversion
            // may change the list.
            out = check(PyList_New(0));
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(v); ++i) {
                py::object item = borrow(PyList_GET_ITEM(v, i));
                if (PyList_Append(out.ptr(), element(item).ptr()) < 0)
                    throw py::error_already_set();
            }
        } else if (PyTuple_Check(v) && plain_iteration(Py_TYPE(v), &PyTuple_Type)) {
            const Py_ssize_t n = PyTuple_GET_SIZE(v);
            out = check(PyList_New(n));
            for (Py_ssize_t i = 0; i < n; ++i)
                PyList_SET_ITEM(out.ptr(), i, element(PyTuple_GET_ITEM(v, i)).release().ptr());
        } else {
            out = check(PyList_New(0));
            py::object iter = check(PyObject_GetIter(v));
            while (PyObject *item = PyIter_Next(iter.ptr())) {
                py::object held = py::reinterpret_steal<py::object>(item);
                if (PyList_Append(out.ptr(), element(held).ptr()) < 0)
                    throw py::error_already_set();
            }
            if (PyErr_Occurred())
                throw py::error_already_set();
        }
        return plain(state().s.Array, out.ptr());
    }

    py::object mapping(py::handle value) {
        RecursionGuard guard;
        PyObject *v = value.ptr();
        py::object out = check(PyDict_New());
        each_entry(v, plain_items(Py_TYPE(v)), [&](const py::object &key, const py::object &item) {
            if (PyDict_SetItem(out.ptr(), key.ptr(), element(item).ptr()) < 0)
                throw py::error_already_set();
        });
        return plain(state().s.Dict, out.ptr());
    }

    /// A pandas Series or DataFrame: an array of rows, the column labels first.
    py::object table(py::handle value, bool series) {
        const Names &s = state().s;
        py::object frame = series ? check(PyObject_CallMethodNoArgs(value.ptr(), s.to_frame))
                                  : borrow(value.ptr());
        py::object columns = check(PyObject_GetAttr(frame.ptr(), s.columns));
        py::object rows = check(PyList_New(0));
        if (PyList_Append(rows.ptr(),
                          check(PyObject_CallMethodNoArgs(columns.ptr(), s.tolist)).ptr()) < 0)
            throw py::error_already_set();
        py::object values = check(PyObject_GetAttr(frame.ptr(), s.values));
        const NumpyTypes *np = numpy_types();
        if (np != nullptr &&
            Py_TYPE(values.ptr()) == reinterpret_cast<PyTypeObject *>(np->ndarray) &&
            py::int_(values.attr("ndim")).cast<long>() == 2) {
            // A 2-D array's tolist() is exactly the list of its rows' tolist().
            py::object all = check(PyObject_CallMethodNoArgs(values.ptr(), s.tolist));
            if (PyList_SetSlice(rows.ptr(), PY_SSIZE_T_MAX, PY_SSIZE_T_MAX, all.ptr()) < 0)
                throw py::error_already_set();
        } else {
            py::object iter = check(PyObject_GetIter(values.ptr()));
            while (PyObject *row = PyIter_Next(iter.ptr())) {
                py::object held = py::reinterpret_steal<py::object>(row);
                if (PyList_Append(rows.ptr(),
                                  check(PyObject_CallMethodNoArgs(held.ptr(), s.tolist)).ptr()) < 0)
                    throw py::error_already_set();
            }
            if (PyErr_Occurred())
                throw py::error_already_set();
        }
        return element(rows);
    }

    bool fast_;
};

enum class Tag { Null, Bool, Int, Float, String, Date, Bytes, Array, Dict, Other };

/// Exact, case-sensitive comparison of the wire's `type` with the known tags.
Tag classify(PyObject *type) {
    if (type == nullptr || !PyUnicode_Check(type) || !PyUnicode_IS_ASCII(type))
        return Tag::Other;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(type);
    const char *c = reinterpret_cast<const char *>(PyUnicode_1BYTE_DATA(type));
    const std::string_view t(c, static_cast<std::size_t>(n));
    switch (n) {
    case 3:
        return t == "Int" ? Tag::Int : Tag::Other;
    case 4:
        if (t == "Null")
            return Tag::Null;
        if (t == "Bool")
            return Tag::Bool;
        if (t == "Date")
            return Tag::Date;
        if (t == "Dict")
            return Tag::Dict;
        return Tag::Other;
    case 5:
        if (t == "Float")
            return Tag::Float;
        if (t == "Bytes")
            return Tag::Bytes;
        if (t == "Array")
            return Tag::Array;
        return Tag::Other;
    case 6:
        return t == "String" ? Tag::String : Tag::Other;
    default:
        return Tag::Other;
    }
}

py::object b64decode_function() {
    static PyObject *fn = nullptr; // kept for the life of the process
    if (fn == nullptr)
        fn = py::module_::import("base64").attr("b64decode").cast<py::object>().release().ptr();
    return borrow(fn);
}

class Decoder {
public:
    explicit Decoder(bool fast) : fast_(fast) {}

    py::object decode(py::handle wire) {
        PyObject *w = wire.ptr();
        if (!PyDict_CheckExact(w))
            zm::raise_argument_type("wire", "dict", wire);
        const Names &s = state().s;
        // Held strongly: converting one entry may run code that changes the map.
        py::object type = get(w, s.type), value = get(w, s.value);
        switch (classify(type.ptr())) {
        case Tag::Null:
            return py::none();
        case Tag::Bool:
            return py::bool_(truthy(value));
        case Tag::Int:
            return PyLong_CheckExact(value.ptr()) ? value : check(PyNumber_Long(value.ptr()));
        case Tag::Float:
            return PyFloat_CheckExact(value.ptr()) ? value : check(PyNumber_Float(value.ptr()));
        case Tag::String:
            return PyUnicode_CheckExact(value.ptr()) ? value : check(PyObject_Str(value.ptr()));
        case Tag::Date:
            return date(value);
        case Tag::Bytes:
            return b64decode_function()(truthy(value) ? value : py::str(""));
        case Tag::Array:
            return array(get(w, s.id), value);
        case Tag::Dict:
            return dict(get(w, s.id), value);
        case Tag::Other:
            break;
        }
        if (truthy(get(w, s.isSpec))) {
            py::object id = check(PyNumber_Long(value.ptr()));
            py::object cls = module_global(s.OfficeJsObject);
            return check(PyObject_CallFunctionObjArgs(cls.ptr(), id.ptr(), type.ptr(), nullptr));
        }
        return check(PyObject_Str(value.ptr()));
    }

private:
    /// The decoded value of a scalar wire map whose payload already is what decoding gives (an
    /// exact float, int, text or bool under its own tag, or any "Null"), borrowed; nullptr for
    /// anything else (decoded the full way). Nothing of anyone else's runs on this path.
    static PyObject *plain_scalar(PyObject *w) {
        if (!PyDict_CheckExact(w))
            return nullptr;
        const Names &s = state().s;
        PyObject *type = PyDict_GetItemWithError(w, s.type);
        if (type == nullptr || !PyUnicode_CheckExact(type)) {
            PyErr_Clear(); // the full way meets the same error again and reports it
            return nullptr;
        }
        const Tag tag = classify(type);
        if (tag == Tag::Null)
            return Py_None;
        PyObject *value = PyDict_GetItemWithError(w, s.value);
        if (value == nullptr) {
            PyErr_Clear();
            return nullptr;
        }
        switch (tag) {
        case Tag::Float:
            return PyFloat_CheckExact(value) ? value : nullptr;
        case Tag::Int:
            return PyLong_CheckExact(value) ? value : nullptr;
        case Tag::String:
            return PyUnicode_CheckExact(value) ? value : nullptr;
        case Tag::Bool:
            return PyBool_Check(value) ? value : nullptr;
        default:
            return nullptr;
        }
    }

    static py::object get(PyObject *w, PyObject *key) {
        PyObject *v = PyDict_GetItemWithError(w, key);
        if (v == nullptr && PyErr_Occurred())
            throw py::error_already_set();
        return v == nullptr ? py::none() : borrow(v);
    }

    py::object element(py::handle wire) {
        if (fast_)
            return decode(wire);
        return check(
            PyObject_CallOneArg(serializer_function(state().s.from_wire).ptr(), wire.ptr()));
    }

    static py::object date(const py::object &value) {
        ensure_datetime_api();
        PyObject *parsed =
            PyObject_CallMethod(reinterpret_cast<PyObject *>(PyDateTimeAPI->DateTimeType),
                                "fromisoformat", "O", value.ptr());
        if (parsed != nullptr)
            return py::reinterpret_steal<py::object>(parsed);
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            throw py::error_already_set();
        PyErr_Clear();
        return value;
    }

    /// A new array or dict proxy and where its elements go: the proxy itself when it is exactly
    /// our own class, otherwise a plain list or map handed to its extend or update at the end.
    struct Filling {
        py::object proxy;
        py::object target;
        bool direct;
    };

    static Filling start_container(const py::object &id, bool dict) {
        const Names &s = state().s;
        py::object cls = module_global(dict ? s.OfficeJsDict : s.OfficeJsArray);
        const bool ours = cls.ptr() == (dict ? state().dict_cls : state().array_cls);
        py::object out = ours ? proxies::new_container_proxy(cls, id, dict)
                              : check(PyObject_CallOneArg(cls.ptr(), id.ptr()));
        const bool direct =
            ours && Py_TYPE(out.ptr()) == reinterpret_cast<PyTypeObject *>(cls.ptr());
        py::object target = direct ? out : check(dict ? PyDict_New() : PyList_New(0));
        return {std::move(out), std::move(target), direct};
    }

    static py::object finish(const Filling &filling, bool dict) {
        if (!filling.direct)
            check(PyObject_CallMethodOneArg(filling.proxy.ptr(),
                                            dict ? state().s.update : state().s.extend,
                                            filling.target.ptr()));
        return filling.proxy;
    }

    py::object array(const py::object &id, const py::object &payload) {
        RecursionGuard guard;
        const Filling filling = start_container(id, false);
        const py::object &items = filling.target;
        if (truthy(payload)) {
            PyObject *p = payload.ptr();
            if (PyList_CheckExact(p)) {
                for (Py_ssize_t i = 0; i < PyList_GET_SIZE(p); ++i) {
                    PyObject *x = PyList_GET_ITEM(p, i);
                    if (PyObject *plain = fast_ ? plain_scalar(x) : nullptr) {
                        if (PyList_Append(items.ptr(), plain) < 0)
                            throw py::error_already_set();
                        continue;
                    }
                    py::object held = borrow(x);
                    if (PyList_Append(items.ptr(), element(held).ptr()) < 0)
                        throw py::error_already_set();
                }
            } else {
                py::object iter = check(PyObject_GetIter(p));
                while (PyObject *x = PyIter_Next(iter.ptr())) {
                    py::object held = py::reinterpret_steal<py::object>(x);
                    if (PyList_Append(items.ptr(), element(held).ptr()) < 0)
                        throw py::error_already_set();
                }
                if (PyErr_Occurred())
                    throw py::error_already_set();
            }
        }
        return finish(filling, false);
    }

    py::object dict(const py::object &id, const py::object &payload) {
        RecursionGuard guard;
        const Filling filling = start_container(id, true);
        const py::object &entries = filling.target;
        if (truthy(payload)) {
            PyObject *p = payload.ptr();
            each_entry(p, PyDict_CheckExact(p), [&](const py::object &key, const py::object &x) {
                if (PyDict_SetItem(entries.ptr(), key.ptr(), element(x).ptr()) < 0)
                    throw py::error_already_set();
            });
        }
        return finish(filling, true);
    }

    bool fast_;
};

} // namespace

py::object to_wire(py::handle value) {
    const bool fast = serializer_function(state().s.to_wire).ptr() == state().to_wire_fn;
    return Encoder(fast).encode(value);
}

py::object from_wire(py::handle wire) {
    if (!PyDict_CheckExact(wire.ptr()))
        zm::raise_argument_type("wire", "dict", wire);
    const bool fast = serializer_function(state().s.from_wire).ptr() == state().from_wire_fn;
    return Decoder(fast).decode(wire);
}

py::object call_to_wire(py::handle value) {
    py::object fn = serializer_function(state().s.to_wire);
    if (fn.ptr() == state().to_wire_fn)
        return Encoder(true).encode(value);
    return check(PyObject_CallOneArg(fn.ptr(), value.ptr()));
}

py::object call_from_wire(py::handle wire) {
    py::object fn = serializer_function(state().s.from_wire);
    if (fn.ptr() == state().from_wire_fn)
        return Decoder(true).decode(wire);
    return check(PyObject_CallOneArg(fn.ptr(), wire.ptr()));
}

} // namespace zm::office_proxy::wire
