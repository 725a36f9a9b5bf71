#include "kernel/core/message_batcher.hpp"

#include "common/text_format.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel::core {

void batcher_init(py::object self, py::object kernel) {
    self.attr("_kernel") = kernel;
    self.attr("_queue") = runtime().asyncio_queue();
    self.attr("_flush_task") = py::none();
    self.attr("_running") = false;
}

Coro batcher_start(py::object self) {
    self.attr("_running") = true;
    self.attr("_flush_task") = runtime().create_task(self.attr("_flush_loop")());
    co_return py::none();
}

Coro batcher_flush_loop(py::object self) {
    while (PyObject_IsTrue(self.attr("_running").ptr())) {
        co_await runtime().asyncio_sleep(self.attr("FLUSH_INTERVAL"));
        co_await self.attr("_flush_now")();
    }
    co_return py::none();
}

Coro batcher_flush_now(py::object self) {
    py::object get_nowait = self.attr("_queue").attr("get_nowait");
    py::list pending;
    for (;;) {
        PyObject *item = PyObject_CallNoArgs(get_nowait.ptr());
        if (item == nullptr) {
            if (!PyErr_ExceptionMatches(runtime().queue_empty.ptr()))
                throw py::error_already_set();
            PyErr_Clear();
            break;
        }
        pending.append(py::reinterpret_steal<py::object>(item));
    }
    if (pending.empty())
        co_return py::none();
    py::object kernel = self.attr("_kernel");
    if (pending.size() == 1) {
        co_await kernel.attr("_send_message_direct")(pending[0]);
        co_return py::none();
    }
    py::dict batch;
    batch["type"] = texts::BATCH_TYPE;
    batch["messages"] = pending;
    co_await kernel.attr("_send_message_direct")(batch);
    co_return py::none();
}

Coro batcher_stop(py::object self) {
    self.attr("_running") = false;
    py::object task = self.attr("_flush_task");
    std::string failure;
    if (!task.is_none()) {
        task.attr("cancel")();
        try {
            co_await task;
        } catch (py::error_already_set &e) {
            // A flush loop that already died of a failed send must not stop the teardown.
            if (!e.matches(runtime().cancelled_error.ptr())) {
                if (!e.matches(PyExc_Exception))
                    throw;
                failure = text_of(e.value());
            }
        }
    }
    try {
        co_await self.attr("_flush_now")();
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        failure = text_of(e.value());
    }
    if (!failure.empty())
        log().error(zm::format(texts::BATCHER_FLUSH_FAILED, failure));
    co_return py::none();
}

Coro batcher_enqueue(py::object self, py::object message) {
    self.attr("_queue").attr("put_nowait")(message);
    co_return py::none();
}

} // namespace zm::kernel::core
