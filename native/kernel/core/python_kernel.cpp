#include "kernel/core/python_kernel.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "common/text_format.hpp"
#include "kernel/core/chunk_reassembly.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/core/frame_reader.hpp"
#include "kernel/core/kernel_hooks.hpp"
#include "kernel/core/output_queue.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

#include <pythread.h>

#include <optional>

namespace zm::kernel::core {

namespace {

/// `factory(args...)` when the collaborator is available, else None.
template <class... Args> py::object create_if_present(const char *name, Args &&...args) {
    py::object factory = module_attr(name);
    if (factory.is_none())
        return py::none();
    return factory(std::forward<Args>(args)...);
}

py::dict error_message(const std::string &text) {
    return py::dict(py::arg("type") = "error", py::arg("message") = text);
}

} // namespace

OwnMethods &own_methods() {
    // Leaked on purpose: it must outlive static destruction at interpreter exit.
    static auto *own = new OwnMethods();
    return *own;
}

py::object class_function(py::handle cls, const char *name) {
    PyObject *found = PyDict_GetItemString(reinterpret_cast<PyTypeObject *>(cls.ptr())->tp_dict,
                                           name); // borrowed
    if (found == nullptr)
        return py::object();
    if (PyInstanceMethod_Check(found))
        found = PyInstanceMethod_GET_FUNCTION(found);
    return py::reinterpret_borrow<py::object>(found);
}

bool resolves_to(py::handle obj, const py::object &name, const py::object &own) {
    if (!own)
        return false;
    PyObject *bound = PyObject_GetAttr(obj.ptr(), name.ptr());
    if (bound == nullptr) {
        PyErr_Clear();
        return false;
    }
    const bool same = PyMethod_Check(bound) && PyMethod_GET_FUNCTION(bound) == own.ptr() &&
                      PyMethod_GET_SELF(bound) == obj.ptr();
    Py_DECREF(bound);
    return same;
}

void kernel_init(py::object self, py::object workbook_id, py::object host, py::object port) {
    Runtime &rt = runtime();
    self.attr("workbook_id") = workbook_id;
    self.attr("server_url") = py::str("ws://") + host + py::str(":") + port;
    self.attr("websocket") = py::none();
    self.attr("executor") = create_if_present("CodeExecutor");
    self.attr("virtual_env") = create_if_present("VirtualEnvironment", workbook_id);
    self.attr("running") = false;
    self.attr("_loop") = py::none();
    self.attr("_thread_pool") =
        rt.thread_pool(py::arg("max_workers") = self.attr("WORKER_POOL_SIZE"));
    self.attr("_code_insight") = create_if_present("CodeInsight");
    self.attr("agent") = create_if_present("Agent", py::getattr(rt.zentrel, "excel", py::none()),
                                           py::getattr(rt.zentrel, "context", py::none()));
    self.attr("event_manager") = create_if_present("EventManager");
    self.attr("_object_keeper") = py::dict();
    self.attr("_object_keeper_lock") = rt.threading_lock();
    self.attr("_response_futures") = py::dict();
    self.attr("_response_data") = py::dict();
    self.attr("_response_lock") = rt.threading_lock();
    self.attr("_canceled_streaming_requests") = py::set();
    self.attr("_chunk_buffers") = py::dict();
    self.attr("_dropped_chunk_series") = py::dict();
    init_output_queue(self);
    self.attr("_socket_lock") = py::none();
    self.attr("_batcher") = py::none();
    self.attr("_original_stdout") = rt.sys.attr("stdout");
    self.attr("_original_stderr") = rt.sys.attr("stderr");

    py::object loader = module_attr("in_memory_loader");
    if (!loader.is_none()) {
        py::list meta_path = rt.sys.attr("meta_path");
        if (!meta_path.contains(loader)) {
            meta_path.insert(0, loader);
            log().debug(texts::LOADER_REGISTERED);
        }
    }
}

bool has_active_debugger(py::object self) {
    return !py::getattr(self, "_debugger", py::none()).is_none();
}

Coro connect(py::object self) {
    Runtime &rt = runtime();
    py::object server_url = self.attr("server_url");
    py::object url = server_url + py::str("/ws/kernel/") + py::object(self.attr("workbook_id"));
    // max_size admits every frame the size check below can judge; proxy=None reaches the
    // Business Layer directly whatever the environment's proxy settings say; compression adds
    // CPU to every frame on a loopback link and saves nothing there.
    py::object websocket =
        co_await rt.ws_connect(url, py::arg("max_size") = WEBSOCKET_MAX_FRAME_BYTES,
                               py::arg("proxy") = py::none(), py::arg("compression") = py::none());
    self.attr("websocket") = websocket;
    self.attr("running") = true;
    py::object loop = rt.get_running_loop();
    self.attr("_loop") = loop;
    self.attr("_socket_lock") = rt.asyncio_lock();
    if (std::shared_ptr<OutputQueue> output = output_queue_of(self))
        output->set_loop_thread(PyThread_get_thread_ident());
    py::object messaging = py::getattr(rt.zentrel, "messaging", py::none());
    if (!messaging.is_none()) {
        messaging.attr("loop") = loop;
        messaging.attr("loop_thread") = rt.current_thread();
    }
    rt.zentrel.attr("_kernel_instance") = self;
    py::object batcher = rt.module.attr("MessageBatcher")(self);
    self.attr("_batcher") = batcher;
    co_await batcher.attr("start")();
    hooks().install_streams(self);
    hooks().install_request_channel(self);
    co_return py::none();
}

Coro disconnect(py::object self) {
    Runtime &rt = runtime();
    self.attr("running") = false;
    if (std::shared_ptr<OutputQueue> output = output_queue_of(self))
        output->close();
    py::object batcher = self.attr("_batcher");
    if (!batcher.is_none())
        co_await batcher.attr("stop")();
    py::object messaging = py::getattr(rt.zentrel, "messaging", py::none());
    if (!messaging.is_none() && py::hasattr(messaging, "reset"))
        messaging.attr("reset")();
    rt.zentrel.attr("_kernel_instance") = py::none();
    rt.sys.attr("stdout") = self.attr("_original_stdout");
    rt.sys.attr("stderr") = self.attr("_original_stderr");
    py::object websocket = self.attr("websocket");
    if (PyObject_IsTrue(websocket.ptr()))
        co_await websocket.attr("close")();
    self.attr("_thread_pool").attr("shutdown")(py::arg("wait") = false);
    // The editor's mirror holds the workbook's module sources; it ends with the connection.
    // The process may end with os._exit next, which skips the directory's own finaliser.
    py::object insight = py::getattr(self, "_code_insight", py::none());
    if (!insight.is_none() && py::hasattr(insight, "cleanup"))
        insight.attr("cleanup")();
    co_return py::none();
}

namespace {

/// The reason a connection ended, for the log: the close code and reason the library reports.
std::string close_reason(py::handle error) { return text_of(exception_text(error)); }

} // namespace

Coro listen(py::object self) {
    Runtime &rt = runtime();
    const Logger &logger = log();
    py::object recv = self.attr("websocket").attr("recv");
    // Where the kernel can, it reads its connection itself (see core/frame_reader).
    std::shared_ptr<FrameReader> reader = FrameReader::install(self.attr("websocket"));
    const bool own_handler =
        resolves_to(self, runtime().names.handle_message, own_methods().handle_message);
    py::object handle = own_handler ? py::object() : self.attr("handle_message");
    py::object closed_ok = py::module_::import("websockets.exceptions").attr("ConnectionClosedOK");
    bool lost = false;
    try {
        for (;;) {
            py::object frame;
            bool ended = false;
            try {
                if (reader)
                    frame = co_await next_message(reader);
                else
                    frame = co_await recv();
            } catch (py::error_already_set &e) {
                // A normal close ends the receive loop like the end of iteration.
                if (!e.matches(closed_ok.ptr()))
                    throw;
                ended = true;
            }
            if (ended)
                break;
            const Py_ssize_t size = PyObject_Length(frame.ptr());
            if (size < 0)
                throw py::error_already_set();
            if (static_cast<std::size_t>(size) > MAX_MESSAGE_SIZE) {
                logger.warning(zm::format(texts::MESSAGE_TOO_LARGE_LOG, size));
                hooks().undecodable(self, frame, texts::MESSAGE_TOO_LARGE);
                co_await send_message(self, error_message(texts::MESSAGE_TOO_LARGE));
                continue;
            }
            py::object message;
            std::string parse_error;
            try {
                message = rt.json_loads(frame);
            } catch (py::error_already_set &e) {
                // Deeply nested input raises RecursionError, bytes that are not UTF-8 a
                // UnicodeDecodeError: bad input like any other unparsable frame.
                if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_RecursionError))
                    throw;
                parse_error = text_of(exception_text(e.value()));
            }
            if (!message) {
                hooks().undecodable(self, frame, parse_error);
                co_await send_message(self, error_message(texts::INVALID_JSON));
                continue;
            }
            if (!PyDict_Check(message.ptr())) {
                logger.warning(
                    zm::format(texts::NOT_AN_OBJECT_LOG, Py_TYPE(message.ptr())->tp_name));
                co_await send_message(self, error_message(texts::NOT_AN_OBJECT));
                continue;
            }
            // Whatever a handler lets escape is this message's failure, not the kernel's: the
            // user's namespace and modules outlive one bad message.
            std::optional<std::string> failure;
            try {
                if (own_handler)
                    co_await handle_message(self, message);
                else
                    co_await handle(message);
            } catch (py::error_already_set &e) {
                if (e.matches(rt.connection_closed.ptr()) || !e.matches(PyExc_Exception))
                    throw;
                failure = std::string(Py_TYPE(e.value().ptr())->tp_name) + ": " +
                          text_of(exception_text(e.value()));
            }
            if (failure) {
                const std::string type_text =
                    text_of(dict_get(message, runtime().names.type, runtime().names.unknown));
                logger.error(zm::format(texts::MESSAGE_FAILED, type_text, *failure));
                co_await send_message(
                    self, error_message(zm::format(texts::PROBLEM_OF, type_text, *failure)));
            }
        }
    } catch (py::error_already_set &e) {
        if (!e.matches(rt.connection_closed.ptr()))
            throw;
        logger.warning(zm::format(texts::CONNECTION_CLOSED, close_reason(e.value())));
        lost = true;
    }
    if (lost)
        self.attr("running") = false;
    co_return py::none();
}

Coro run(py::object self) {
    const Logger &logger = log();
    std::optional<py::error_already_set> pending;
    std::optional<std::string> failure;
    try {
        co_await self.attr("connect")();
        logger.info(zm::format(texts::KERNEL_CONNECTED, text_of(self.attr("workbook_id"))));
        co_await self.attr("listen")();
    } catch (py::error_already_set &e) {
        if (e.matches(PyExc_Exception))
            failure = text_of(e.value());
        else
            pending.emplace(e); // cancellation and exits still tear down first
    } catch (std::exception &e) {
        failure = e.what();
    }
    if (failure)
        logger.error(zm::format(texts::KERNEL_ERROR, *failure));
    co_await self.attr("disconnect")();
    logger.info(zm::format(texts::KERNEL_DISCONNECTED, text_of(self.attr("workbook_id"))));
    if (pending)
        throw *pending;
    co_return py::none();
}

Coro handle_message(py::object self, py::object message) {
    const Runtime::Names &n = runtime().names;
    py::object msg_type = dict_get(message, n.type, py::none());
    if (is_text(msg_type, CHUNK_HEADER_TYPE)) {
        py::object whole = co_await handle_chunk_message(self, message);
        if (PyDict_Check(whole.ptr()) && PyDict_GET_SIZE(whole.ptr()) > 0) {
            if (resolves_to(self, n.handle_message, own_methods().handle_message))
                co_await handle_message(self, whole);
            else
                co_await get_attr(self, n.handle_message)(whole);
        }
        co_return py::none();
    }
    if (debug_on()) {
        const Logger &logger = log();
        const std::string type_text = text_of(msg_type);
        logger.debug(zm::format(texts::MESSAGE_RECEIVED, type_text,
                                text_of(dict_get(message, n.request_id, n.na))));
        logger.debug(zm::format(texts::RECEIVED_TYPE, type_text));
    }
    py::object pending = hooks().dispatch(self, msg_type, message);
    if (!pending.is_none())
        co_await pending;
    co_return py::none();
}

Coro kernel_main(py::object workbook_id, py::object port) {
    py::object kernel = runtime().module.attr("PythonKernel")(workbook_id, py::arg("port") = port);
    co_await kernel.attr("run")();
    co_return py::none();
}

} // namespace zm::kernel::core
