#include "kernel/channel/loop_submission.hpp"

#include "kernel/core/loop_handoff.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/core/send_path.hpp"

namespace zm::kernel::channel {

namespace {
ChannelRuntime *runtime = nullptr;
}

void init_channel_runtime() {
    if (runtime != nullptr)
        return;
    // Deliberately leaked: these objects must outlive static destruction at interpreter exit.
    auto *rt = new ChannelRuntime();
    rt->run_coroutine_threadsafe = py::module_::import("asyncio").attr("run_coroutine_threadsafe");
    py::module_ threading = py::module_::import("threading");
    rt->threading_event = threading.attr("Event");
    rt->current_thread = threading.attr("current_thread");
    rt->uuid4 = py::module_::import("uuid").attr("uuid4");
    runtime = rt;
}

ChannelRuntime &channel_runtime() { return *runtime; }

void submit_message(py::handle kernel, py::handle message) {
    py::object loop = kernel.attr("_loop");
    const core::OwnMethods &own = core::own_methods();
    py::object coroutine =
        core::resolves_to(kernel, own.send_message_name, own.send_message)
            ? core::send_message(py::reinterpret_borrow<py::object>(kernel),
                                 py::reinterpret_borrow<py::object>(message))
                  .object()
            : kernel.attr("send_message")(message);
    core::start_on_loop(loop, coroutine);
}

std::string current_thread_name() {
    return core::text_of(channel_runtime().current_thread().attr("name"));
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
