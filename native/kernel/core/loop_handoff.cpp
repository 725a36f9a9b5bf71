#include "kernel/core/loop_handoff.hpp"

#include "kernel/core/runtime.hpp"

namespace zm::kernel::core {

namespace {

struct Handoff {
    py::object call_soon_threadsafe; ///< interned "call_soon_threadsafe"
    py::object create_future;        ///< interned "create_future"
    py::object submit;               ///< interned "submit"
    py::object tasks;                ///< tasks started here, until they end
    py::object forget;               ///< forget(task): done callback of those tasks
    py::object start;                ///< start(coroutine): on the loop, a kept task
    py::object settle;               ///< settle(future, result, error): on the loop
    py::object job;                  ///< job(fn, future, loop): on the worker
};

const Handoff &handoff() {
    // Leaked on purpose: it must outlive static destruction at interpreter exit.
    static const Handoff *h = [] {
        auto *made = new Handoff();
        made->call_soon_threadsafe = interned("call_soon_threadsafe");
        made->create_future = interned("create_future");
        made->submit = interned("submit");
        made->tasks = py::set();
        made->forget = py::cpp_function([](py::object task) {
            handoff().tasks.attr("discard")(task);
            // Retrieved, as the future of a thread-safe submission would have held it: a send
            // that failed has already logged why, and nobody waits for its outcome.
            if (!PyObject_IsTrue(task.attr("cancelled")().ptr()))
                task.attr("exception")();
        });
        made->start = py::cpp_function([](py::object coroutine) {
            // The first step runs in this turn of the loop: a send that does not have to wait
            // for the socket lock is written before this returns, without a second turn.
            const Handoff &self = handoff();
            py::object task = start_eager_task(coroutine, runtime().get_running_loop());
            if (PyObject_IsTrue(task.attr("done")().ptr())) {
                self.forget(task);
                return;
            }
            self.tasks.attr("add")(task);
            task.attr("add_done_callback")(self.forget);
        });
        made->settle = py::cpp_function([](py::object future, py::object result, py::object error) {
            if (PyObject_IsTrue(future.attr("done")().ptr()))
                return; // cancelled meanwhile: nobody waits for the outcome
            if (error.is_none())
                future.attr("set_result")(result);
            else
                future.attr("set_exception")(error);
        });
        made->job = py::cpp_function([](py::object fn, py::object future, py::object loop) {
            py::object result = py::none();
            py::object error = py::none();
            try {
                result = fn();
            } catch (py::error_already_set &e) {
                error = e.value();
            }
            try {
                get_attr(loop, handoff().call_soon_threadsafe)(handoff().settle, future, result,
                                                               error);
            } catch (py::error_already_set &e) {
                // The loop is closed: nobody is left to take the outcome.
                if (!e.matches(PyExc_RuntimeError))
                    throw;
            }
        });
        return made;
    }();
    return *h;
}

} // namespace

void start_on_loop(py::handle loop, py::object coroutine) {
    try {
        get_attr(loop, handoff().call_soon_threadsafe)(handoff().start, coroutine);
    } catch (py::error_already_set &) {
        // Never started: close it so nothing warns about a coroutine that was never awaited.
        try {
            coroutine.attr("close")();
        } catch (py::error_already_set &e) {
            e.discard_as_unraisable("closing a coroutine the loop did not take");
        }
        throw;
    }
}

py::object run_on_pool(py::handle loop, py::handle pool, py::object fn) {
    const Handoff &h = handoff();
    py::object future = get_attr(loop, h.create_future)();
    get_attr(pool, h.submit)(h.job, fn, future, loop);
    return future;
}

} // namespace zm::kernel::core
