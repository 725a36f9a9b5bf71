#pragma once
/// What the module keeps for its whole life: its globals, interned names, and the identity of
/// its own functions and classes (so hot paths can tell whether a global was replaced).
///
/// Everything here is created once at import and deliberately never destroyed: these objects
/// must outlive every proxy finaliser that may still run during interpreter shutdown.

#include "common/python.hpp"

#include <vector>

namespace zm::office_proxy::core {

/// Interned texts used as dict keys, tags and attribute names.
struct Names {
    // wire value keys and kind tags
    PyObject *type, *value, *isSpec, *id;
    PyObject *Null, *Bool, *Int, *Float, *String, *Date, *Bytes, *Array, *Dict, *Python_Function;
    // module globals
    PyObject *messaging, *Serializer, *OfficeJsObject, *OfficeJsArray, *OfficeJsDict,
        *internal_officejs_names;
    // attributes
    PyObject *to_wire, *from_wire, *register_callable, *send_request_sync, *send_request_nowait,
        *guid, *internal_id, *internal_typeName, *msg_guid, *typ, *internal_cache, *items, *extend,
        *update, *get, *message, *error, *ok, *result, *tolist, *to_frame, *columns, *values,
        *isoformat, *astimezone, *tzinfo;
    // request maps
    PyObject *method, *name, *caller, *args, *arg_type, *GET, *GETITEM, *SET, *CALL, *DEL,
        *dunder_call, *dunder_del, *PLACED, *NAMED;
    // proxy kinds
    PyObject *officejs_object, *officejs_array, *officejs_dict;
};

struct ModuleState {
    Names s{};
    PyObject *module = nullptr;     ///< the module object (strong, never released)
    PyObject *globals = nullptr;    ///< its __dict__ (borrowed from `module`)
    PyObject *to_wire_fn = nullptr; ///< our own Serializer.to_wire
    PyObject *from_wire_fn = nullptr;
    PyObject *object_cls = nullptr; ///< our own OfficeJsObject
    PyObject *array_cls = nullptr;
    PyObject *dict_cls = nullptr;
    PyObject *empty_tuple = nullptr;
    /// The module's root proxies (Context, Excel, GetSetting, Union, Intersect): held here for
    /// good and never released, since their objects belong to the add-in's whole session.
    std::vector<PyObject *> roots;
};

/// The one state of the module (created by `init_state`).
ModuleState &state();

/// Creates the state for `module`; called first at module initialisation.
void init_state(py::module_ &module);

/// The module global `name` (new reference); NameError like Python when it is missing.
py::object module_global(PyObject *name);

/// The same, returning a new reference or nullptr with the error set.
PyObject *module_global_raw(PyObject *name);

} // namespace zm::office_proxy::core
