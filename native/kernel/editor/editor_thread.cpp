#include "kernel/editor/editor_thread.hpp"

#include "common/error_record.hpp"
#include "common/text_format.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

#include <optional>
#include <string>

namespace zm::kernel::editor {

namespace {

using core::text_of;

std::string describe(const py::error_already_set &e) {
    return zm::format(texts::PROBLEM_OF, Py_TYPE(e.value().ptr())->tp_name,
                      text_of(exception_text(e.value())));
}

/// Takes the jobs in order, runs each on the editor thread and sends its reply before taking
/// the next, so replies leave in request order. Ends with the connection.
Coro editor_loop(py::object kernel, py::object queue, py::object pool) {
    const Logger &logger = core::log();
    py::object run_in_executor = core::runtime().get_running_loop().attr("run_in_executor");
    py::object get = queue.attr("get");
    for (;;) {
        py::object job = co_await get();
        py::object reply = py::none();
        std::optional<std::string> failure;
        try {
            reply = co_await run_in_executor(pool, job);
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_Exception))
                throw;
            failure = describe(e);
        }
        job = py::none();
        if (failure) {
            logger.error(zm::format(texts::EDITOR_JOB_FAILED, *failure));
            continue;
        }
        if (reply.is_none())
            continue;
        bool closed = false;
        try {
            co_await core::send_message(kernel, reply);
        } catch (py::error_already_set &e) {
            if (e.matches(core::runtime().connection_closed.ptr()))
                closed = true;
            else if (!e.matches(PyExc_Exception))
                throw;
            else
                failure = describe(e);
        }
        if (closed)
            co_return py::none();
        if (failure)
            logger.error(zm::format(texts::EDITOR_REPLY_FAILED, *failure));
    }
}

bool loop_running() {
    try {
        core::runtime().get_running_loop();
        return true;
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_RuntimeError))
            throw;
        return false;
    }
}

} // namespace

void submit_editor_job(py::object kernel, py::object job) {
    if (!loop_running()) {
        job();
        return;
    }
    py::object queue = py::getattr(kernel, "_editor_jobs", py::none());
    if (queue.is_none()) {
        core::Runtime &rt = core::runtime();
        queue = rt.asyncio_queue();
        py::object pool = rt.thread_pool(py::arg("max_workers") = 1,
                                         py::arg("thread_name_prefix") = texts::EDITOR_THREAD);
        kernel.attr("_editor_jobs") = queue;
        kernel.attr("_editor_pool") = pool;
        kernel.attr("_editor_task") = rt.create_task(editor_loop(kernel, queue, pool).object());
    }
    queue.attr("put_nowait")(job);
}

} // namespace zm::kernel::editor
