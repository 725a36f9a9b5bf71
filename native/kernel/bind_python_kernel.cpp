// Registration of PythonKernel: the whole Python-visible interface of the kernel class in one
// place. The methods are implemented in the area folders; each wrapper checks the argument types
// before a coroutine exists.
#include "common/args.hpp"
#include "common/coroutine.hpp"
#include "common/python_class.hpp"
#include "kernel/bindings.hpp"
#include "kernel/core/chunk_reassembly.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/execution_request.hpp"
#include "kernel/editor/editor_requests.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/invocation/callable_call.hpp"
#include "kernel/invocation/custom_function_call.hpp"
#include "kernel/invocation/event_execution.hpp"
#include "kernel/invocation/module_run.hpp"
#include "kernel/invocation/streaming_function.hpp"
#include "kernel/registry/object_registry.hpp"
#include "kernel/registry/workbook_controls.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel {

namespace {

namespace editor_doc {

inline constexpr const char *COMPLETION =
    "Answer a \"completion_request\" with a \"completion_response\": the completions at the "
    "cursor, seen against the workbook's in-memory modules and the editor's unsaved ones.";
inline constexpr const char *SIGNATURE_HELP =
    "Answer a \"signature_help_request\" with a \"signature_help_response\": the signature of the "
    "call around the cursor and the parameter being typed.";
inline constexpr const char *HOVER =
    "Answer a \"hover_request\" with a \"hover_response\": the markdown text for the name under "
    "the cursor, or null.";
inline constexpr const char *DIAGNOSTIC =
    "Answer a \"diagnostic_request\" with a \"diagnostic_response\": the editor markers (syntax "
    "errors, pyflakes findings, unresolved imports) of one module's text.";

} // namespace editor_doc

/// A coroutine method taking one message map, checked to be exactly a dict.
template <class F> py::object message_method(const char *name, F f, const char *docstring) {
    return coroutine_method(
        name,
        [f](py::object self, py::object message) {
            check_dict(message, "message");
            return f(std::move(self), std::move(message));
        },
        py::arg("self"), py::arg("message"), docstring);
}

template <editor::Request R> py::object editor_method(const char *name, const char *docstring) {
    return message_method(
        name,
        [](py::object self, py::object message) {
            return editor::handle_editor_request(std::move(self), std::move(message), R);
        },
        docstring);
}

/// Connection, send path and receive loop.
void add_core_methods(py::dict &ns) {
    using namespace core;
    ns["WORKER_POOL_SIZE"] = WORKER_POOL_SIZE;
    ns["__init__"] = method(
        "__init__",
        [](py::object self, py::object workbook_id, py::object host, py::object port) {
            check_str(workbook_id, "workbook_id");
            check_str(host, "host");
            check_str(port, "port");
            kernel_init(self, workbook_id, host, port);
        },
        py::arg("self"), py::arg("workbook_id"), py::arg("host") = DEFAULT_HOST,
        py::arg("port") = DEFAULT_PORT);
    ns["has_active_debugger"] =
        method("has_active_debugger", &has_active_debugger, py::arg("self"),
               "True when a debug run has stored a debugger in `_debugger`.");
    ns["connect"] =
        coroutine_method("connect", &connect, py::arg("self"), "Connect to the Business Layer.");
    ns["disconnect"] = coroutine_method("disconnect", &disconnect, py::arg("self"),
                                        "Disconnect from the Business Layer.");
    ns["send_message"] = coroutine_method(
        "send_message",
        [](py::object self, py::object message) {
            check_instance(message, &PyDict_Type, "message");
            return send_message(self, message);
        },
        py::arg("self"), py::arg("message"), "Send a JSON message to the Business Layer.");
    ns["_send_message_direct"] = coroutine_method(
        "_send_message_direct",
        [](py::object self, py::object message) {
            check_instance(message, &PyDict_Type, "message");
            return send_message_direct(self, message);
        },
        py::arg("self"), py::arg("message"), "Send a message directly, chunking if necessary.");
    ns["_send_chunked_message"] = coroutine_method(
        "_send_chunked_message",
        [](py::object self, py::object raw_json, py::object message_type, py::object request_id) {
            check_str(raw_json, "raw_json");
            check_str(message_type, "message_type");
            check_str(request_id, "request_id");
            return send_chunked_message(self, raw_json, message_type, request_id);
        },
        py::arg("self"), py::arg("raw_json"), py::arg("message_type"), py::arg("request_id"),
        "Send a large message in chunks.");
    ns["_handle_chunk_message"] = coroutine_method(
        "_handle_chunk_message",
        [](py::object self, py::object message) {
            check_instance(message, &PyDict_Type, "message");
            return handle_chunk_message(self, message);
        },
        py::arg("self"), py::arg("message"),
        "Handle a chunk message and return the reassembled message when complete.");
    ns["handle_message"] = coroutine_method(
        "handle_message",
        [](py::object self, py::object message) {
            check_instance(message, &PyDict_Type, "message");
            return handle_message(self, message);
        },
        py::arg("self"), py::arg("message"),
        "Handle one incoming message from the Business Layer.");
    ns["listen"] = coroutine_method("listen", &listen, py::arg("self"),
                                    "Main loop to listen for messages from the Business Layer.");
    ns["run"] =
        coroutine_method("run", &run, py::arg("self"), "Connect and start listening for messages.");
}

/// Execution requests (dispatch/).
void add_dispatch_methods(py::dict &ns) {
    ns["_execute_code_async"] = coroutine_method(
        "_execute_code_async",
        [](py::object self, py::object code, py::object request_id, py::object function_name,
           py::object source) {
            dispatch::check_execute_args(code, request_id, function_name, source);
            return dispatch::execute_code_async(self, code, request_id, function_name, source);
        },
        py::arg("self"), py::arg("code"), py::arg("request_id"),
        py::arg("function_name") = py::none(), py::arg("source") = "ide",
        texts::doc::EXECUTE_CODE_ASYNC);
}

/// Editor requests (editor/).
void add_editor_methods(py::dict &ns) {
    using editor::Request;
    ns["_handle_completion_request"] =
        editor_method<Request::Completion>("_handle_completion_request", editor_doc::COMPLETION);
    ns["_handle_signature_help_request"] = editor_method<Request::SignatureHelp>(
        "_handle_signature_help_request", editor_doc::SIGNATURE_HELP);
    ns["_handle_hover_request"] =
        editor_method<Request::Hover>("_handle_hover_request", editor_doc::HOVER);
    ns["_handle_diagnostic_request"] =
        editor_method<Request::Diagnostic>("_handle_diagnostic_request", editor_doc::DIAGNOSTIC);
}

/// Runs of user functions: custom functions, callables, module and debug runs, event handlers,
/// streaming functions (invocation/).
void add_invocation_methods(py::dict &ns) {
    using namespace invocation;
    namespace doc = texts::doc;
    ns["_handle_custom_function_call"] =
        message_method("_handle_custom_function_call", &handle_custom_function_call,
                       doc::HANDLE_CUSTOM_FUNCTION_CALL);
    ns["_handle_python_function_call"] =
        message_method("_handle_python_function_call", &handle_python_function_call,
                       doc::HANDLE_PYTHON_FUNCTION_CALL);
    ns["_handle_run_module"] =
        message_method("_handle_run_module", &handle_run_module, doc::HANDLE_RUN_MODULE);
    ns["_handle_debug_run_module"] = coroutine_method(
        "_handle_debug_run_module",
        [](py::object self, py::object module_name, py::object function_name, py::object args,
           py::object breakpoints, py::object request_id, py::object workbook_id,
           py::object source) {
            check_str(module_name, "module_name");
            check_str(function_name, "function_name");
            check_list(args, "args");
            check_list(breakpoints, "breakpoints");
            check_str(request_id, "request_id", true);
            check_str(workbook_id, "workbook_id");
            check_str(source, "source");
            return handle_debug_run_module(self, module_name, function_name, args, breakpoints,
                                           request_id, workbook_id, source);
        },
        py::arg("self"), py::arg("module_name"), py::arg("function_name"), py::arg("args"),
        py::arg("breakpoints"), py::arg("request_id"), py::arg("workbook_id"),
        py::arg("source") = "ide", doc::HANDLE_DEBUG_RUN_MODULE);
    ns["_deserialize_args"] = method(
        "_deserialize_args",
        [](py::object, py::object args) -> py::list {
            check_list(args, "args");
            return deserialize_args(args);
        },
        py::arg("self"), py::arg("args"), doc::DESERIALIZE_ARGS);
    // Checks its message and fields itself before it makes the coroutine.
    ns["_handle_event_execution"] =
        coroutine_method("_handle_event_execution", &handle_event_execution, py::arg("self"),
                         py::arg("message"), doc::HANDLE_EVENT_EXECUTION);
    ns["_execute_streaming_function"] = coroutine_method(
        "_execute_streaming_function",
        [](py::object self, py::object request_id, py::object module_name, py::object function_name,
           py::object args, py::object workbook_id, py::object source) {
            check_streaming_args(request_id, module_name, function_name, args, workbook_id, source);
            return execute_streaming_function(self, request_id, module_name, function_name, args,
                                              workbook_id, source);
        },
        py::arg("self"), py::arg("request_id"), py::arg("module_name"), py::arg("function_name"),
        py::arg("args"), py::arg("workbook_id"), py::arg("source"),
        doc::EXECUTE_STREAMING_FUNCTION);
}

/// The object registry and the workbook controls (registry/).
void add_registry_methods(py::dict &ns) {
    using namespace registry;
    namespace doc = texts::doc;
    ns["save_object"] = method(
        "save_object",
        [](py::object self, py::object key, py::object value) {
            check_str(key, "key");
            save_object(self, key, value);
        },
        py::arg("self"), py::arg("key"), py::arg("value"), doc::SAVE_OBJECT);
    ns["get_object"] = method(
        "get_object",
        [](py::object self, py::object key) {
            check_str(key, "key");
            return get_object(self, key);
        },
        py::arg("self"), py::arg("key"), doc::GET_OBJECT);
    ns["clear_object"] = method(
        "clear_object",
        [](py::object self, py::object key) {
            check_str(key, "key");
            clear_object(self, key);
        },
        py::arg("self"), py::arg("key"), doc::CLEAR_OBJECT);
    ns["clear_all_objects"] = method(
        "clear_all_objects", [](py::object self) { clear_all_objects(self); }, py::arg("self"),
        doc::CLEAR_ALL_OBJECTS);
    ns["get_object_registry"] = method(
        "get_object_registry", [](py::object self) { return get_object_registry(self); },
        py::arg("self"), doc::GET_OBJECT_REGISTRY);
    ns["set_enable_events"] = method(
        "set_enable_events",
        [](py::object self, py::object enable) { set_enable_events(self, enable); },
        py::arg("self"), py::arg("enable"), doc::SET_ENABLE_EVENTS);
    ns["show_message_box"] = method(
        "show_message_box",
        [](py::object self, py::object message, py::object title, py::object type) {
            check_str(message, "message");
            check_str(title, "title");
            check_str(type, "type");
            show_message_box(self, message, title, type);
        },
        py::arg("self"), py::arg("message"), py::arg("title") = texts::DEFAULT_TITLE,
        py::arg("type") = texts::DEFAULT_MSG_TYPE, doc::SHOW_MESSAGE_BOX);
}

} // namespace

void bind_python_kernel(py::module_ &m) {
    py::dict ns;
    add_core_methods(ns);
    add_dispatch_methods(ns);
    add_editor_methods(ns);
    add_invocation_methods(ns);
    add_registry_methods(ns);
    py::object kernel_class =
        make_class("zentrel_master.python_server.kernel", "PythonKernel", py::make_tuple(), ns,
                   "The kernel of one workbook: its connection, send path and dispatch.");
    m.attr("PythonKernel") = kernel_class;
    // The hot path calls these directly while an object still resolves the name to them.
    core::OwnMethods &own = core::own_methods();
    own.handle_message = core::class_function(kernel_class, "handle_message");
    own.send_message = core::class_function(kernel_class, "send_message");
    own.send_message_name =
        py::reinterpret_steal<py::object>(PyUnicode_InternFromString("send_message"));
    own.execute_code_async = core::class_function(kernel_class, "_execute_code_async");
    own.execute_code_async_name =
        py::reinterpret_steal<py::object>(PyUnicode_InternFromString("_execute_code_async"));
    own.code_executor = m.attr("CodeExecutor");
    own.execute = core::class_function(own.code_executor, "execute");
    own.execute_name = py::reinterpret_steal<py::object>(PyUnicode_InternFromString("execute"));
}

} // namespace zm::kernel
