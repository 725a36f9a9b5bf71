#pragma once
/// MessageBatcher: collects outgoing messages for a short interval and sends them as one batch.

#include "common/coroutine.hpp"

namespace zm::kernel::core {

void batcher_init(py::object self, py::object kernel);
Coro batcher_start(py::object self);
Coro batcher_stop(py::object self);
Coro batcher_enqueue(py::object self, py::object message);
Coro batcher_flush_loop(py::object self);
Coro batcher_flush_now(py::object self);

} // namespace zm::kernel::core
