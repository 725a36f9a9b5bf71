#include "kernel/channel/loop_submission.hpp"

#include "kernel/core/loop_handoff.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"

namespace zm::kernel::channel {

py::object submit_coroutine(py::object coroutine, py::handle loop) {
    try {
        return core::runtime().run_coroutine_threadsafe(coroutine, loop);
    } catch (py::error_already_set &) {
        // Never started: close it so nothing warns about a coroutine that was never awaited.
        try {
            coroutine.attr("close")();
        } catch (py::error_already_set &e) {
            e.discard_as_unraisable("closing an unsent message");
        }
        throw;
    }
}

void submit_message(py::handle kernel, py::handle message) {
    py::object loop = kernel.attr("_loop");
    const core::OwnMethods &own = core::own_methods();
    py::object coroutine = core::resolves_to(kernel, own.send_message_name, own.send_message)
                               ? core::send_message(py::reinterpret_borrow<py::object>(kernel),
                                                    py::reinterpret_borrow<py::object>(message))
                                     .object()
                               : kernel.attr("send_message")(message);
    core::start_on_loop(loop, coroutine);
}

std::string current_thread_name() {
    return core::text_of(core::runtime().current_thread().attr("name"));
}

LockHold::LockHold(py::object lock) : lock_(std::move(lock)) { lock_.attr("acquire")(); }

LockHold::~LockHold() {
    try {
        lock_.attr("release")();
    } catch (py::error_already_set &e) {
        e.discard_as_unraisable("kernel lock release");
    }
}

} // namespace zm::kernel::channel
