#include "kernel/core/loop_handoff.hpp"

#include "kernel/core/loop_wake.hpp"
#include "kernel/core/runtime.hpp"

namespace zm::kernel::core {

namespace {

struct Handoff {
    py::object call_soon_threadsafe; ///< interned "call_soon_threadsafe"
    py::object call_soon;            ///< interned "call_soon"
    py::object get_debug;            ///< interned "get_debug"
    py::object create_future;        ///< interned "create_future"
    py::object submit;               ///< interned "submit"
    py::object tasks;                ///< tasks started here, until they end
    py::object forget;               ///< forget(task): done callback of those tasks
    py::object start;                ///< start(coroutine): on the loop, a kept task
    py::object settle;               ///< settle(future, result, error): on the loop
    py::object job;                  ///< job(fn, future, loop): on the worker
    py::object job_out; ///< job_out(fn, future, loop, submitted): on the worker, loop served
};

void settle(py::handle future, py::handle result, py::handle error) {
    if (PyObject_IsTrue(future.attr("done")().ptr()))
        return; // cancelled meanwhile: nobody waits for the outcome
    if (error.is_none())
        future.attr("set_result")(result);
    else
        future.attr("set_exception")(error);
}

/// fn() as a worker runs it: its result and the exception it raised (one of them None).
std::pair<py::object, py::object> outcome_of(py::handle fn) {
    try {
        return {fn(), py::none()};
    } catch (py::error_already_set &e) {
        return {py::none(), e.value()};
    }
}

/// Whether a callback this thread queues on `loop` is announced through `LoopWake` (the loop
/// polls through the kernel, this is another thread, and asyncio's debug mode, which refuses
/// `call_soon` from other threads, is off) rather than by `call_soon_threadsafe`.
bool wakes_through_poll(py::handle loop);

/// Queues fn(args...) on `loop` from another thread (`call_soon` when `quiet`); a closed loop
/// leaves nobody to take it.
template <class... Args> void queue_on(py::handle loop, bool quiet, Args &&...args);

const Handoff &handoff() {
    // Leaked on purpose: it must outlive static destruction at interpreter exit.
    static const Handoff *h = [] {
        auto *made = new Handoff();
        made->call_soon_threadsafe = interned("call_soon_threadsafe");
        made->call_soon = interned("call_soon");
        made->get_debug = interned("get_debug");
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
            settle(future, result, error);
        });
        made->job = py::cpp_function([](py::object fn, py::object future, py::object loop) {
            auto [result, error] = outcome_of(fn);
            queue_on(loop, false, handoff().settle, future, result, error);
        });
        made->job_out = py::cpp_function([](py::object fn, py::object future, py::object loop,
                                            std::int64_t submitted) {
            auto [result, error] = outcome_of(fn);
            LoopWake &wake = LoopWake::instance();
            const auto took = [submitted] {
                return std::chrono::nanoseconds(steady_ns() - submitted);
            };
            try {
                queue_on(loop, wakes_through_poll(loop), handoff().settle, future, result, error);
            } catch (py::error_already_set &) {
                wake.run_back(took());
                throw;
            }
            // Announced once this worker no longer holds the lock the loop needs next.
            py::gil_scoped_release released;
            wake.run_back(took());
        });
        return made;
    }();
    return *h;
}

bool wakes_through_poll(py::handle loop) {
    const LoopWake &wake = LoopWake::instance();
    return wake.serves(loop.ptr()) && !wake.on_loop_thread() &&
           !PyObject_IsTrue(get_attr(loop, handoff().get_debug)().ptr());
}

template <class... Args> void queue_on(py::handle loop, bool quiet, Args &&...args) {
    const Handoff &h = handoff();
    try {
        // Under the interpreter lock, the callback joins the loop's list at once, in the order
        // this thread queues things; only the wake-up differs.
        get_attr(loop, quiet ? h.call_soon : h.call_soon_threadsafe)(std::forward<Args>(args)...);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_RuntimeError)) // "Event loop is closed"
            throw;
    }
}

} // namespace

void start_on_loop(py::handle loop, py::object coroutine) {
    try {
        const bool quiet = wakes_through_poll(loop);
        get_attr(loop, quiet ? handoff().call_soon
                             : handoff().call_soon_threadsafe)(handoff().start, coroutine);
        if (quiet)
            LoopWake::instance().queued();
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
    LoopWake &wake = LoopWake::instance();
    if (wake.serves(loop.ptr())) {
        get_attr(pool, h.submit)(h.job_out, fn, future, loop, steady_ns());
        wake.run_out(); // after a submission that took: a refused one never comes back
    } else {
        get_attr(pool, h.submit)(h.job, fn, future, loop);
    }
    return future;
}

} // namespace zm::kernel::core
