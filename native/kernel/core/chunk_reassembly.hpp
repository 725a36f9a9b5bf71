#pragma once
/// Reassembly of incoming chunk series.

#include "common/coroutine.hpp"

namespace zm::kernel::core {

/// Files one chunk into `_chunk_buffers`; returns the reassembled message when its series is
/// complete, else None (more expected, or the chunk or series was rejected with an error log).
/// A series that is dropped is answered with an "error" naming its original type and request
/// id, once: later chunks of it are ignored.
Coro handle_chunk_message(py::object self, py::object message);

} // namespace zm::kernel::core
