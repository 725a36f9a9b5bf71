// Registration of the kernel core: module initialisation, MessageBatcher, PythonKernel, main.
#include "common/args.hpp"
#include "common/coroutine.hpp"
#include "common/python_class.hpp"
#include "kernel/bindings.hpp"
#include "kernel/core/chunk_reassembly.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/core/json_dumps.hpp"
#include "kernel/core/message_batcher.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"

namespace zm::kernel {

namespace {

using namespace core;

/// A coroutine method for a class built with make_class.
template <class F, class... Extra>
py::object coroutine_method(const char *name, F &&f, const Extra &...extra) {
    py::cpp_function fn(std::forward<F>(f), py::name(name), extra...);
    return mark_coroutine_function(fn);
}

void import_user_package(py::module_ &m) {
    py::object sys_modules = py::module_::import("sys").attr("modules");
    py::object zentrel;
    try {
        zentrel = py::module_::import("zentrel_master.python_server.zentrel");
        sys_modules["zentrel"] = zentrel;
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ImportError))
            throw;
        zentrel = py::module_::import("zentrel");
    }
    m.attr("zentrel") = zentrel;
    runtime().zentrel = zentrel;
}

py::object make_message_batcher() {
    py::dict ns;
    ns["FLUSH_INTERVAL"] = FLUSH_INTERVAL;
    ns["__init__"] = method("__init__", &batcher_init, py::arg("self"), py::arg("kernel"));
    ns["start"] = coroutine_method("start", &batcher_start, py::arg("self"),
                                   "Start the background flush loop.");
    ns["stop"] = coroutine_method("stop", &batcher_stop, py::arg("self"),
                                  "Stop the batcher and flush remaining messages.");
    ns["enqueue"] = coroutine_method(
        "enqueue",
        [](py::object self, py::object message) {
            check_dict(message, "message");
            return batcher_enqueue(self, message);
        },
        py::arg("self"), py::arg("message"), "Add a message to the batch queue.");
    ns["_flush_loop"] = coroutine_method("_flush_loop", &batcher_flush_loop, py::arg("self"),
                                         "Background loop that flushes batches periodically.");
    ns["_flush_now"] = coroutine_method("_flush_now", &batcher_flush_now, py::arg("self"),
                                        "Flush all queued messages as a batch.");
    return make_class("zentrel_master.python_server.kernel", "MessageBatcher", py::make_tuple(), ns,
                      "Batches outgoing messages to reduce WebSocket overhead.");
}

py::object make_python_kernel() {
    py::dict ns;
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
    ns["connect"] = coroutine_method("connect", &connect, py::arg("self"),
                                     "Connect to the Business Layer.");
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
        py::arg("self"), py::arg("message"), "Handle one incoming message from the Business Layer.");
    ns["listen"] = coroutine_method("listen", &listen, py::arg("self"),
                                    "Main loop to listen for messages from the Business Layer.");
    ns["run"] = coroutine_method("run", &run, py::arg("self"),
                                 "Connect and start listening for messages.");
    return make_class("zentrel_master.python_server.kernel", "PythonKernel", py::make_tuple(), ns,
                      "The kernel of one workbook: its connection, send path and dispatch.");
}

} // namespace

void bind_core_init(py::module_ &m) {
    init_runtime(m);
    m.attr("DEBUG_MESSAGE_SEND_TIMEOUT") = DEBUG_MESSAGE_SEND_TIMEOUT;
    import_user_package(m);
    m.attr("MAX_MESSAGE_SIZE") = MAX_MESSAGE_SIZE;
    m.attr("CHUNK_SIZE") = CHUNK_SIZE;
    m.attr("CHUNK_HEADER_TYPE") = CHUNK_HEADER_TYPE;
}

void bind_core(py::module_ &m) {
    m.attr("MessageBatcher") = make_message_batcher();
    m.attr("PythonKernel") = make_python_kernel();
    OwnMethods &own = own_methods();
    own.handle_message = class_function(m.attr("PythonKernel"), "handle_message");
    own.send_message = class_function(m.attr("PythonKernel"), "send_message");
    own.send_message_name =
        py::reinterpret_steal<py::object>(PyUnicode_InternFromString("send_message"));
    m.def(
        "json_dumps", [](py::object obj) { return json_dumps(obj); }, py::arg("obj"),
        "Serialize a message to strict JSON text (orjson when available).");
    def_coroutine(
        m, "main",
        [](py::object workbook_id, py::object port) {
            check_str(workbook_id, "workbook_id");
            check_str(port, "port");
            return kernel_main(workbook_id, port);
        },
        py::arg("workbook_id"), py::arg("port"), "Main entry point for the kernel.");
}

} // namespace zm::kernel
