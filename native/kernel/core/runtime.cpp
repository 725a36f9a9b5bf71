#include "kernel/core/runtime.hpp"

namespace zm::kernel::core {

namespace {

Runtime *instance = nullptr;
const Logger *module_log = nullptr;

/// `from <package>.<name> import <attr>`, else `from <name> import <attr>`, else None: a sibling
/// that is missing or does not define the name yet leaves the attribute None.
py::object import_sibling(const char *name, const char *attr) {
    for (const std::string &full :
         {std::string("zentrel_master.python_server.") + name, std::string(name)}) {
        try {
            py::object module = py::module_::import(full.c_str());
            if (py::hasattr(module, attr))
                return module.attr(attr);
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_ImportError))
                throw;
        }
    }
    return py::none();
}

} // namespace

Runtime &runtime() { return *instance; }

bool debug_on() {
    PyObject *r = PyObject_CallOneArg(instance->is_enabled_for.ptr(), instance->debug_level.ptr());
    if (r == nullptr)
        throw py::error_already_set();
    const bool on = r == Py_True;
    Py_DECREF(r);
    return on;
}

const Logger &log() { return *module_log; }

py::object module_attr(const char *name) {
    py::object value = py::getattr(instance->module, name, py::none());
    return value;
}

py::object start_eager_task(py::object coroutine, py::handle loop) {
    return instance->task_type(std::move(coroutine), py::arg("loop") = loop,
                               py::arg("eager_start") = true);
}

void init_runtime(py::module_ &m) {
    // Leaked on purpose: these outlive every kernel and must not be released after finalisation.
    auto *rt = new Runtime();
    rt->module = m;
    for (const char *name :
         {"concurrent.futures", "functools", "importlib.abc", "importlib.machinery",
          "importlib.util", "linecache", "inspect", "io", "logging", "traceback", "contextlib"})
        py::module_::import(name);
    rt->asyncio = py::module_::import("asyncio");
    rt->create_task = rt->asyncio.attr("create_task");
    rt->task_type = rt->asyncio.attr("Task");
    rt->get_running_loop = rt->asyncio.attr("get_running_loop");
    rt->asyncio_lock = rt->asyncio.attr("Lock");
    rt->asyncio_queue = rt->asyncio.attr("Queue");
    rt->asyncio_sleep = rt->asyncio.attr("sleep");
    rt->queue_empty = rt->asyncio.attr("QueueEmpty");
    rt->cancelled_error = rt->asyncio.attr("CancelledError");
    py::object json = py::module_::import("json");
    rt->json_loads = json.attr("loads");
    rt->json_dumps = json.attr("dumps");
    py::object websockets = py::module_::import("websockets");
    rt->ws_connect = websockets.attr("connect");
    rt->connection_closed = websockets.attr("ConnectionClosed");
    rt->socket = {py::module_::import("websockets.asyncio.client").attr("ClientConnection"),
                  py::module_::import("websockets.protocol").attr("State").attr("OPEN"),
                  interned("protocol"),
                  interned("state"),
                  interned("transport"),
                  interned("send_in_progress"),
                  interned("paused"),
                  interned("is_closing"),
                  interned("write"),
                  interned("drain")};
    rt->time_time = py::module_::import("time").attr("time");
    rt->uuid4 = py::module_::import("uuid").attr("uuid4");
    rt->thread_pool = py::module_::import("concurrent.futures").attr("ThreadPoolExecutor");
    py::object threading = py::module_::import("threading");
    rt->threading_lock = threading.attr("Lock");
    rt->current_thread = threading.attr("current_thread");
    rt->timeout_max = threading.attr("TIMEOUT_MAX").cast<double>();
    rt->sys = py::module_::import("sys");
    rt->run_coroutine_threadsafe = rt->asyncio.attr("run_coroutine_threadsafe");
    rt->background_tasks = py::set();
    rt->discard_task = rt->background_tasks.attr("discard");
    rt->builtins = py::module_::import("builtins");
    rt->compile = rt->builtins.attr("compile");
    rt->linecache = py::module_::import("linecache");
    rt->module_spec = py::module_::import("importlib.machinery").attr("ModuleSpec");
    py::module_ io = py::module_::import("io");
    rt->string_io = io.attr("StringIO");
    rt->text_io_base = io.attr("TextIOBase");
    rt->user_package = py::none();
    rt->stream_capture = py::none();
    rt->console_globals = py::none();
    py::object contextlib = py::module_::import("contextlib");
    m.attr("redirect_stdout") = contextlib.attr("redirect_stdout");
    m.attr("redirect_stderr") = contextlib.attr("redirect_stderr");

    rt->orjson_dumps = py::none();
    rt->orjson_non_str_keys = py::none();
    try {
        py::object orjson = py::module_::import("orjson");
        rt->orjson_dumps = orjson.attr("dumps");
        rt->orjson_non_str_keys = orjson.attr("OPT_NON_STR_KEYS");
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ImportError))
            throw;
    }

    m.attr("CodeInsight") = import_sibling("code_insight", "CodeInsight");
    m.attr("Agent") = import_sibling("agent", "Agent");
    m.attr("EventManager") = import_sibling("event_manager", "EventManager");
    m.attr("ZentrelDebugger") = import_sibling("debugger", "ZentrelDebugger");

    py::object logging_config = py::module_::import("zentrel_master.logging_config");
    logging_config.attr("setup_logging_subprocess")();
    module_log = &module_logger(py::str(m.attr("__name__")).cast<std::string>().c_str());
    m.attr("logger") = module_log->logger();
    rt->is_enabled_for = module_log->logger().attr("isEnabledFor");
    rt->debug_level = py::int_(static_cast<int>(Logger::DEBUG));
    rt->names = {interned("type"),          interned("request_id"), interned("websocket"),
                 interned("_socket_lock"),  interned("acquire"),    interned("release"),
                 interned("send"),          interned("unknown"),    interned("N/A"),
                 interned("handle_message")};
    instance = rt;
}

} // namespace zm::kernel::core
