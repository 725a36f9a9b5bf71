#pragma once
/// The Office.js object proxies: every attribute read, assignment, item read and call on a proxy
/// is one blocking request through the module's `messaging`, answered by the add-in.
///
/// The `cw_*` functions hold the proxy logic (the module's `_cw__*` functions); the special
/// methods of the three classes call them and trim the proxy layer off the traceback.

#include "common/python.hpp"

namespace zm::office_proxy::proxies {

/// OfficeJsObject.__init__.
void init_object(py::handle self, py::handle object_id, py::handle type_name);

/// OfficeJsArray.__init__ / OfficeJsDict.__init__.
void init_container(py::handle self, py::handle object_id, bool dict);

/// A new instance of our own array or dict class `cls`, initialised without a Python call.
py::object new_container_proxy(const py::object &cls, const py::object &object_id, bool dict);

py::object cw_getattr(py::handle self, py::handle name);
py::object cw_getitem(py::handle self, py::handle index);
void cw_setattr(py::handle self, py::handle name, py::handle value);
py::object cw_call(py::handle self, const py::args &args, const py::kwargs &kwargs);
void cw_del(py::handle self);

/// Runs `body`; an Exception leaving it is re-raised with the leading traceback entries of the
/// proxy layer removed and its context suppressed, so the user sees it at their own line.
template <class F> auto trimmed(F &&body) -> decltype(body());

/// Removes the proxy layer's leading entries from `exc`'s traceback; suppresses its context.
void trim_traceback(py::handle exc);

py::str repr_object(py::handle self);
py::str repr_array(py::handle self);
py::str repr_dict(py::handle self);

/// OfficeJsDict.__getattr__ and __setattr__: keys first, the add-in (or refusal) otherwise.
py::object dict_getattr(py::handle self, py::handle name);
void dict_setattr(py::handle self, py::handle name, py::handle value);

template <class F> auto trimmed(F &&body) -> decltype(body()) {
    try {
        return body();
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        py::object exc = e.value();
        trim_traceback(exc);
        PyErr_SetRaisedException(exc.release().ptr());
    }
    throw py::error_already_set();
}

} // namespace zm::office_proxy::proxies
