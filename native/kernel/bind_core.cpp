// Registration of the kernel core: module initialisation, MessageBatcher, json_dumps, main.
#include "common/args.hpp"
#include "common/coroutine.hpp"
#include "common/python_class.hpp"
#include "kernel/bindings.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/core/json_dumps.hpp"
#include "kernel/core/loop_poll.hpp"
#include "kernel/core/loop_wake.hpp"
#include "kernel/core/message_batcher.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/quick_wait.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel {

namespace {

py::object make_message_batcher() {
    using namespace core;
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

} // namespace

void bind_core_init(py::module_ &m) {
    using namespace core;
    init_runtime(m);
    m.attr("DEBUG_MESSAGE_SEND_TIMEOUT") = DEBUG_MESSAGE_SEND_TIMEOUT;
    m.attr("MAX_MESSAGE_SIZE") = MAX_MESSAGE_SIZE;
    m.attr("CHUNK_SIZE") = CHUNK_SIZE;
    m.attr("CHUNK_HEADER_TYPE") = CHUNK_HEADER_TYPE;
}

void bind_core(py::module_ &m) {
    using namespace core;
    m.attr("MessageBatcher") = make_message_batcher();
    m.def(
        "json_dumps", [](py::object obj) { return json_dumps(obj); }, py::arg("obj"),
        "Serialize a message to strict JSON text (orjson when available).");
    m.def("_poll_releasing", &poll_releasing, py::arg("epfd"), py::arg("timeout"),
          py::arg("maxevents"), texts::doc::POLL_RELEASING);
    m.def(
        "_hold_until_release",
        [](bool hold, py::object loop) {
            hold_until_release(hold);
            LoopWake::instance().serve(hold && !loop.is_none() ? loop.ptr() : nullptr);
        },
        py::arg("hold"), py::arg("loop") = py::none(), texts::doc::HOLD_UNTIL_RELEASE);
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
