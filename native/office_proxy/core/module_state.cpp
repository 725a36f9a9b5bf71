#include "office_proxy/core/module_state.hpp"

#include "common/args.hpp"
#include "common/exact_text.hpp"
#include "common/text_format.hpp"
#include "office_proxy/core/c_api.hpp"
#include "office_proxy/texts.hpp"

namespace zm::office_proxy::core {

namespace {

ModuleState *the_state = nullptr;

PyObject *intern(const char *text) {
    PyObject *s = PyUnicode_InternFromString(text);
    if (s == nullptr)
        throw py::error_already_set();
    return s;
}

} // namespace

ModuleState &state() { return *the_state; }

void init_state(py::module_ &module) {
    if (the_state == nullptr)
        the_state = new ModuleState();
    ModuleState &st = *the_state;
    Names &n = st.s;
    n.type = intern("type");
    n.value = intern("value");
    n.isSpec = intern("isSpec");
    n.id = intern("id");
    n.Null = intern("Null");
    n.Bool = intern("Bool");
    n.Int = intern("Int");
    n.Float = intern("Float");
    n.String = intern("String");
    n.Date = intern("Date");
    n.Bytes = intern("Bytes");
    n.Array = intern("Array");
    n.Dict = intern("Dict");
    n.Python_Function = intern("Python_Function");
    n.messaging = intern("messaging");
    n.Serializer = intern("Serializer");
    n.OfficeJsObject = intern("OfficeJsObject");
    n.OfficeJsArray = intern("OfficeJsArray");
    n.OfficeJsDict = intern("OfficeJsDict");
    n.internal_officejs_names = intern("_internal_officejs_names");
    n.to_wire = intern("to_wire");
    n.from_wire = intern("from_wire");
    n.register_callable = intern("register_callable");
    n.send_request_sync = intern("send_request_sync");
    n.send_request_nowait = intern("send_request_nowait");
    n.guid = intern("_guid");
    n.internal_id = intern("_internal_id");
    n.internal_typeName = intern("_internal_typeName");
    n.msg_guid = intern("_msg_guid");
    n.typ = intern("_typ");
    n.internal_cache = intern("_internal_cache");
    n.items = intern("items");
    n.extend = intern("extend");
    n.update = intern("update");
    n.get = intern("get");
    n.message = intern("message");
    n.error = intern("error");
    n.ok = intern("ok");
    n.result = intern("result");
    n.tolist = intern("tolist");
    n.to_frame = intern("to_frame");
    n.columns = intern("columns");
    n.values = intern("values");
    n.isoformat = intern("isoformat");
    n.astimezone = intern("astimezone");
    n.tzinfo = intern("tzinfo");
    n.method = intern("method");
    n.name = intern("name");
    n.caller = intern("caller");
    n.args = intern("args");
    n.arg_type = intern("arg_type");
    n.GET = intern("GET");
    n.GETITEM = intern("GETITEM");
    n.SET = intern("SET");
    n.CALL = intern("CALL");
    n.DEL = intern("DEL");
    n.dunder_call = intern("__call__");
    n.dunder_del = intern("__del__");
    n.PLACED = intern("PLACED");
    n.NAMED = intern("NAMED");
    n.officejs_object = intern("officejs_object");
    n.officejs_array = intern("officejs_array");
    n.officejs_dict = intern("officejs_dict");

    st.module = module.inc_ref().ptr();
    st.globals = PyModule_GetDict(st.module);
    st.empty_tuple = PyTuple_New(0);
    if (st.empty_tuple == nullptr)
        throw py::error_already_set();
}

PyObject *module_global_raw(PyObject *name) {
    PyObject *value = PyDict_GetItemWithError(state().globals, name);
    if (value == nullptr) {
        if (!PyErr_Occurred()) {
            py::str text = zm::exact_str(zm::format(texts::NAME_NOT_DEFINED, zm::utf8(name)));
            PyErr_SetObject(PyExc_NameError, text.ptr());
        }
        return nullptr;
    }
    return Py_NewRef(value);
}

py::object module_global(PyObject *name) {
    PyObject *value = module_global_raw(name);
    if (value == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

} // namespace zm::office_proxy::core
