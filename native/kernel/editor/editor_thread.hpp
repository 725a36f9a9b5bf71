#pragma once
/// The kernel's one editor thread: every CodeInsight call of the kernel runs there, one at a
/// time and in the order the listener received the messages that asked for it, so the listener
/// keeps reading ("sys_response" included) while jedi works.

#include "common/coroutine.hpp"

namespace zm::kernel::editor {

/// Queues `job` (a callable without arguments, returning a reply dict or None) behind every
/// job queued before it; the reply it returns is sent. Call on the kernel's event loop; without
/// a running loop the job runs at once and its reply is dropped.
void submit_editor_job(py::object kernel, py::object job);

} // namespace zm::kernel::editor
