#include "office_proxy/proxies/office_js_object.hpp"

#include "common/args.hpp"
#include "common/exact_text.hpp"
#include "common/text_format.hpp"
#include "office_proxy/core/c_api.hpp"
#include "office_proxy/core/module_state.hpp"
#include "office_proxy/texts.hpp"
#include "office_proxy/wire/serializer.hpp"

namespace zm::office_proxy::proxies {

namespace {

using core::check;
using core::module_global;
using core::Names;
using core::raise;
using core::state;
using wire::call_from_wire;
using wire::call_to_wire;
using zm::truthy;

[[noreturn]] void raise_object(PyObject *type, py::handle message) {
    PyErr_SetObject(type, message.ptr());
    throw py::error_already_set();
}

bool same_text(py::handle a, PyObject *b) {
    if (a.ptr() == b)
        return true;
    const int eq = PyObject_RichCompareBool(a.ptr(), b, Py_EQ);
    if (eq < 0)
        throw py::error_already_set();
    return eq != 0;
}

/// The instance's own attribute, bypassing the class's __getattr__/__setattr__.
py::object own(py::handle self, PyObject *name) {
    return check(PyObject_GenericGetAttr(self.ptr(), name));
}

void set_own(py::handle self, PyObject *name, py::handle value) {
    if (PyObject_GenericSetAttr(self.ptr(), name, value.ptr()) < 0)
        throw py::error_already_set();
}

/// `object_id` as an int: ints as they are, other numbers through int(), anything else refused.
py::object object_id_of(py::handle object_id) {
    PyObject *id = object_id.ptr();
    if (PyLong_CheckExact(id))
        return py::reinterpret_borrow<py::object>(id);
    if (!PyLong_Check(id) && !PyNumber_Check(id))
        zm::raise_argument_type("object_id", "int", object_id);
    return check(PyNumber_Long(id));
}

py::object current_guid() {
    py::object messaging = module_global(state().s.messaging);
    return check(PyObject_GetAttr(messaging.ptr(), state().s.guid));
}

void set_container_attrs(py::handle self, const py::object &id, bool dict) {
    const Names &s = state().s;
    set_own(self, s.internal_id, truthy(id) ? id : py::int_(0));
    set_own(self, s.internal_typeName, dict ? s.Dict : s.Array);
    set_own(self, s.msg_guid, current_guid());
    set_own(self, s.typ, dict ? s.officejs_dict : s.officejs_array);
    set_own(self, s.internal_cache, py::dict());
}

/// Raises the stale-proxy error when the proxy belongs to an earlier messaging context.
void check_live(py::handle self) {
    py::object mine = own(self, state().s.msg_guid);
    py::object current = current_guid();
    const int differs = PyObject_RichCompareBool(mine.ptr(), current.ptr(), Py_NE);
    if (differs < 0)
        throw py::error_already_set();
    if (differs)
        raise(PyExc_RuntimeError, texts::STALE);
}

py::object send(const py::dict &req) {
    py::object messaging = module_global(state().s.messaging);
    py::object fn = check(PyObject_GetAttr(messaging.ptr(), state().s.send_request_sync));
    return check(PyObject_CallOneArg(fn.ptr(), req.ptr()));
}

/// Sends a release without waiting for its answer. A host that replaced only
/// `send_request_sync` on the instance carries every request itself, releases included: they go
/// through its function then.
void send_release(const py::dict &req) {
    const Names &s = state().s;
    py::object messaging = module_global(s.messaging);
    PyObject **own_dict = _PyObject_GetDictPtr(messaging.ptr());
    auto replaced = [&](PyObject *name) {
        if (own_dict == nullptr || *own_dict == nullptr)
            return false;
        const int present = PyDict_Contains(*own_dict, name);
        if (present < 0)
            throw py::error_already_set();
        return present == 1;
    };
    py::object fn = replaced(s.send_request_sync) && !replaced(s.send_request_nowait)
                        ? py::none()
                        : py::getattr(messaging, s.send_request_nowait, py::none());
    if (fn.is_none())
        fn = check(PyObject_GetAttr(messaging.ptr(), s.send_request_sync));
    check(PyObject_CallOneArg(fn.ptr(), req.ptr()));
}

py::object response_get(const py::object &response, PyObject *key) {
    return check(PyObject_CallMethodOneArg(response.ptr(), state().s.get, key));
}

/// The add-in's `error.message`, or `fallback` when the response carries none.
py::object error_message(const py::object &response, const py::object &fallback) {
    py::object error = response_get(response, state().s.error);
    if (!PyDict_Check(error.ptr()))
        return fallback;
    PyObject *message = PyDict_GetItemWithError(error.ptr(), state().s.message);
    if (message == nullptr) {
        if (PyErr_Occurred())
            throw py::error_already_set();
        return fallback;
    }
    return py::reinterpret_borrow<py::object>(message);
}

/// The add-in's `error.message`, or `fallback` filled with str(`subject`) when it sent none.
py::object failure_text(const py::object &response, zm::Template<std::string> fallback,
                        py::handle subject) {
    return error_message(response, zm::exact_str(zm::format(fallback, zm::str_utf8(subject))));
}

py::dict request(PyObject *method, py::handle name) {
    const Names &s = state().s;
    py::dict req;
    req[s.method] = method;
    req[s.name] = name;
    return req;
}

/// A GET or GETITEM of `key` on a live proxy: the decoded result, or AttributeError with the
/// add-in's text (`fallback` filled with str(`subject`) when it sent none).
py::object remote_read(py::handle self, PyObject *method, py::handle key,
                       zm::Template<std::string> fallback, py::handle subject) {
    check_live(self);
    py::dict req = request(method, key);
    req[state().s.caller] = own(self, state().s.internal_id);
    py::object response = send(req);
    if (truthy(response_get(response, state().s.ok)))
        return call_from_wire(response_get(response, state().s.result));
    raise_object(PyExc_AttributeError, failure_text(response, fallback, subject));
}

bool is_internal(py::handle name, bool with_cache) {
    const Names &s = state().s;
    for (PyObject *n : {s.internal_id, s.internal_typeName, s.msg_guid, s.typ})
        if (same_text(name, n))
            return true;
    return with_cache && same_text(name, s.internal_cache);
}

} // namespace

void init_object(py::handle self, py::handle object_id, py::handle type_name) {
    py::object id = object_id_of(object_id);
    zm::check_str(type_name, "type_name");
    const Names &s = state().s;
    set_own(self, s.internal_id, id);
    set_own(self, s.internal_typeName, type_name);
    set_own(self, s.msg_guid, current_guid());
    set_own(self, s.typ, s.officejs_object);
    set_own(self, s.internal_cache, py::dict());
}

void init_container(py::handle self, py::handle object_id, bool dict) {
    set_container_attrs(self, object_id_of(object_id), dict);
}

py::object new_container_proxy(const py::object &cls, const py::object &object_id, bool dict) {
    py::object id = object_id_of(object_id);
    PyTypeObject *base = dict ? &PyDict_Type : &PyList_Type;
    py::object self = check(
        base->tp_new(reinterpret_cast<PyTypeObject *>(cls.ptr()), state().empty_tuple, nullptr));
    set_container_attrs(self, id, dict);
    return self;
}

py::object cw_getattr(py::handle self, py::handle name) {
    zm::check_str(name, "name");
    if (is_internal(name, true))
        return own(self, name.ptr());
    return remote_read(self, state().s.GET, name, texts::GET_FAILED, name);
}

py::object cw_getitem(py::handle self, py::handle index) {
    py::object key;
    PyObject *i = index.ptr();
    if (PyLong_Check(i)) {
        key = check(PyObject_Str(i));
    } else if (PySlice_Check(i)) {
        auto part = [](PyObject *field) {
            return field == Py_None ? std::string() : zm::str_utf8(field);
        };
        auto *slice = reinterpret_cast<PySliceObject *>(i);
        const std::string start = part(slice->start), stop = part(slice->stop);
        key = zm::exact_str(zm::format(texts::SLICE_KEY, start, stop, part(slice->step)));
    } else {
        raise(PyExc_TypeError, texts::BAD_INDEX);
    }
    return remote_read(self, state().s.GETITEM, key, texts::GETITEM_FAILED, index);
}

void cw_setattr(py::handle self, py::handle name, py::handle value) {
    zm::check_str(name, "name");
    if (is_internal(name, false)) {
        set_own(self, name.ptr(), value);
        return;
    }
    check_live(self);
    py::object wire = call_to_wire(value);
    py::dict req = request(state().s.SET, name);
    req[state().s.value] = wire;
    req[state().s.caller] = own(self, state().s.internal_id);
    py::object response = send(req);
    if (!truthy(response_get(response, state().s.ok)))
        raise_object(PyExc_AttributeError, failure_text(response, texts::SET_FAILED, name));
}

py::object cw_call(py::handle self, const py::args &args, const py::kwargs &kwargs) {
    check_live(self);
    const Names &s = state().s;
    py::object type_name = own(self, s.internal_typeName);
    if (!same_text(type_name, py::str(texts::FUNCTION_TYPE).ptr()))
        raise(PyExc_TypeError, texts::NOT_FUNCTION);
    py::list records;
    for (py::handle arg : args) {
        py::dict record;
        record[s.arg_type] = s.PLACED;
        record[s.value] = call_to_wire(arg);
        records.append(record);
    }
    for (auto [key, arg] : kwargs) {
        py::dict record;
        record[s.arg_type] = s.NAMED;
        record[s.name] = key;
        record[s.value] = call_to_wire(arg);
        records.append(record);
    }
    py::dict req = request(s.CALL, s.dunder_call);
    req[s.args] = records;
    req[s.caller] = own(self, s.internal_id);
    py::object response = send(req);
    if (!truthy(response_get(response, s.ok)))
        raise_object(PyExc_RuntimeError, error_message(response, py::str(texts::CALL_FAILED)));
    return call_from_wire(response_get(response, s.result));
}

void cw_del(py::handle self) {
    for (PyObject *root : state().roots)
        if (self.ptr() == root)
            return;
    try {
        const Names &s = state().s;
        py::dict req = request(s.DEL, s.dunder_del);
        req[s.caller] = check(PyObject_GetAttr(self.ptr(), s.internal_id));
        send_release(req);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
    } catch (const std::exception &) {
        // a release that cannot be sent is dropped, like any other release error
    }
}

void trim_traceback(py::handle exc) {
    PyObject *names = PyDict_GetItemWithError(state().globals, state().s.internal_officejs_names);
    if (names == nullptr) {
        PyErr_Clear();
    } else {
        py::object held = py::reinterpret_borrow<py::object>(names);
        py::object tb = py::reinterpret_steal<py::object>(PyException_GetTraceback(exc.ptr()));
        while (tb && !tb.is_none()) {
            py::object code_name = tb.attr("tb_frame").attr("f_code").attr("co_name");
            const int inside = PySequence_Contains(held.ptr(), code_name.ptr());
            if (inside < 0)
                throw py::error_already_set();
            if (!inside)
                break;
            tb = tb.attr("tb_next");
        }
        if (PyException_SetTraceback(exc.ptr(), tb ? tb.ptr() : Py_None) < 0)
            throw py::error_already_set();
    }
    PyException_SetCause(exc.ptr(), nullptr); // `from None`: no cause, context suppressed
}

py::str repr_object(py::handle self) {
    const Names &s = state().s;
    py::object type_name = check(PyObject_GetAttr(self.ptr(), s.internal_typeName));
    py::object id = check(PyObject_GetAttr(self.ptr(), s.internal_id));
    const std::string type_text = zm::str_utf8(type_name);
    return zm::exact_str(zm::format(texts::OBJECT_REPR, type_text, zm::str_utf8(id)));
}

py::str repr_array(py::handle self) {
    py::object id = check(PyObject_GetAttr(self.ptr(), state().s.internal_id));
    const Py_ssize_t n = PyObject_Length(self.ptr());
    if (n < 0)
        throw py::error_already_set();
    return zm::exact_str(zm::format(texts::ARRAY_REPR, zm::str_utf8(id), n));
}

py::str repr_dict(py::handle self) {
    py::object id = check(PyObject_GetAttr(self.ptr(), state().s.internal_id));
    py::object keys = check(PySequence_List(self.attr("keys")().ptr()));
    const std::string id_text = zm::str_utf8(id);
    return zm::exact_str(zm::format(texts::DICT_REPR, id_text, zm::str_utf8(keys)));
}

py::object dict_getattr(py::handle self, py::handle name) {
    zm::check_str(name, "name");
    const int present = PySequence_Contains(self.ptr(), name.ptr());
    if (present < 0)
        throw py::error_already_set();
    if (present)
        return check(PyObject_GetItem(self.ptr(), name.ptr()));
    return trimmed([&] { return cw_getattr(self, name); });
}

void dict_setattr(py::handle self, py::handle name, py::handle value) {
    zm::check_str(name, "name");
    const int present = PySequence_Contains(self.ptr(), name.ptr());
    if (present < 0)
        throw py::error_already_set();
    if (!present)
        raise(PyExc_AttributeError, texts::DICT_SETATTR);
    if (PyObject_SetItem(self.ptr(), name.ptr(), value.ptr()) < 0)
        throw py::error_already_set();
}

} // namespace zm::office_proxy::proxies
