#include "office_proxy/bindings.hpp"
#include "office_proxy/core/c_api.hpp"
#include "office_proxy/core/module_state.hpp"
#include "office_proxy/proxies/office_js_object.hpp"
#include "office_proxy/texts.hpp"

#include "common/python_class.hpp"

namespace zm::office_proxy {

namespace {

using namespace proxies;
using core::state;

/// The wrappers shared by all three classes: __getattr__ (unless given), __call__, __del__.
void add_remote_methods(py::dict &ns) {
    ns["__call__"] = zm::method("__call__", [](py::object self, py::args args, py::kwargs kwargs) {
        return trimmed([&] { return cw_call(self, args, kwargs); });
    });
    ns["__del__"] = zm::method("__del__", [](py::object self) {
        trimmed([&] {
            cw_del(self);
            return 0;
        });
    });
}

py::object getattr_method() {
    return zm::method(
        "__getattr__",
        [](py::object self, py::object name) {
            return trimmed([&] { return cw_getattr(self, name); });
        },
        py::arg("self"), py::arg("name"));
}

py::object make_object_class() {
    py::dict ns;
    ns["__init__"] = zm::method(
        "__init__",
        [](py::object self, py::object object_id, py::object type_name) {
            init_object(self, object_id, type_name);
        },
        py::arg("self"), py::arg("object_id"), py::arg("type_name"));
    ns["__getattr__"] = getattr_method();
    ns["__getitem__"] = zm::method(
        "__getitem__",
        [](py::object self, py::object index) {
            return trimmed([&] { return cw_getitem(self, index); });
        },
        py::arg("self"), py::arg("index"));
    ns["__setattr__"] = zm::method(
        "__setattr__",
        [](py::object self, py::object name, py::object value) {
            trimmed([&] {
                cw_setattr(self, name, value);
                return 0;
            });
        },
        py::arg("self"), py::arg("name"), py::arg("value"));
    add_remote_methods(ns);
    ns["__repr__"] = zm::method("__repr__", [](py::object self) { return repr_object(self); });
    return zm::make_class(texts::MODULE_NAME, "OfficeJsObject", py::tuple(), ns, texts::OBJECT_DOC);
}

/// OfficeJsArray (a list) or OfficeJsDict (a dict): a dict proxy reads and assigns its keys as
/// attributes, an array proxy refuses assignments.
py::object make_container_class(bool dict) {
    py::dict ns;
    ns["__init__"] = zm::method(
        "__init__",
        [dict](py::object self, py::object object_id) { init_container(self, object_id, dict); },
        py::arg("self"), py::arg("object_id"));
    if (dict) {
        ns["__getattr__"] = zm::method(
            "__getattr__",
            [](py::object self, py::object name) { return dict_getattr(self, name); },
            py::arg("self"), py::arg("name"));
        ns["__setattr__"] = zm::method(
            "__setattr__",
            [](py::object self, py::object name, py::object value) {
                dict_setattr(self, name, value);
            },
            py::arg("self"), py::arg("name"), py::arg("value"));
    } else {
        ns["__getattr__"] = getattr_method();
        ns["__setattr__"] = zm::method(
            "__setattr__",
            [](py::object, py::object, py::object) {
                core::raise(PyExc_AttributeError, texts::ARRAY_SETATTR);
            },
            py::arg("self"), py::arg("name"), py::arg("value"));
    }
    add_remote_methods(ns);
    ns["__repr__"] = zm::method(
        "__repr__", [dict](py::object self) { return dict ? repr_dict(self) : repr_array(self); });
    PyTypeObject *base = dict ? &PyDict_Type : &PyList_Type;
    return zm::make_class(texts::MODULE_NAME, dict ? "OfficeJsDict" : "OfficeJsArray",
                          py::make_tuple(py::handle(reinterpret_cast<PyObject *>(base))), ns,
                          dict ? texts::DICT_DOC : texts::ARRAY_DOC);
}

} // namespace

void bind_proxies(py::module_ &m) {
    m.def(
        "_cw__getattr__", [](py::object self, py::object name) { return cw_getattr(self, name); },
        py::arg("self"), py::arg("name"), py::doc(texts::CW_GETATTR_DOC));
    m.def(
        "_cw__getitem__", [](py::object self, py::object index) { return cw_getitem(self, index); },
        py::arg("self"), py::arg("index"), py::doc(texts::CW_GETITEM_DOC));
    m.def(
        "_cw__setattr__",
        [](py::object self, py::object name, py::object value) { cw_setattr(self, name, value); },
        py::arg("self"), py::arg("name"), py::arg("value"), py::doc(texts::CW_SETATTR_DOC));
    m.def(
        "_cw__call__",
        [](py::object self, py::args args, py::kwargs kwargs) {
            return cw_call(self, args, kwargs);
        },
        py::arg("self"), py::doc(texts::CW_CALL_DOC));
    m.def(
        "_cw__del__", [](py::object self) { cw_del(self); }, py::arg("self"),
        py::doc(texts::CW_DEL_DOC));

    py::object object_cls = make_object_class();
    py::object array_cls = make_container_class(false);
    py::object dict_cls = make_container_class(true);
    state().object_cls = object_cls.inc_ref().ptr();
    state().array_cls = array_cls.inc_ref().ptr();
    state().dict_cls = dict_cls.inc_ref().ptr();
    m.attr("OfficeJsObject") = object_cls;
    m.attr("OfficeJsArray") = array_cls;
    m.attr("OfficeJsDict") = dict_cls;

    const std::pair<const char *, std::pair<int, const char *>> roots[] = {
        {"Context", {0, "RequestContext"}},
        {"Excel", {1, "Excel"}},
        {"GetSetting", {2, "Function"}},
        {"Union", {3, "Function"}},
        {"Intersect", {4, "Function"}}};
    for (const auto &[global, spec] : roots) {
        py::object root =
            object_cls(py::arg("object_id") = spec.first, py::arg("type_name") = spec.second);
        state().roots.push_back(root.inc_ref().ptr());
        m.attr(global) = root;
    }

    m.attr("_internal_officejs_names") = py::make_tuple(
        "_cw__getattr__", "_cw__getitem__", "_cw__setattr__", "_cw__call__", "_cw__del__",
        "__getattr__", "__getitem__", "__setattr__", "__call__", "__del__");
    m.attr("_internal_officejs_names") = py::list(m.attr("_internal_officejs_names"));
}

} // namespace zm::office_proxy
