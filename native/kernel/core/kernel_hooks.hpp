#pragma once
/// Extension points by which other areas of the kernel plug into the core.

#include "common/python.hpp"

#include <functional>
#include <string>

namespace zm::kernel::core {

struct KernelHooks {
    /// Handles one incoming message once chunk reassembly and the receive logs are done; returns
    /// an awaitable that `handle_message` awaits, or None. The default answers "shutdown" and
    /// ignores every other type.
    std::function<py::object(py::object kernel, py::object msg_type, py::object message)> dispatch;
    /// Installs the process-wide output hooks at the end of `connect` (default: none).
    std::function<void(py::object kernel)> install_streams;
    /// Installs the synchronous request function into the messaging object (default: none).
    std::function<void(py::object kernel)> install_request_channel;
    /// Told of every received text the listener drops undecoded (too large, unparsable), with
    /// the reason, so that a worker waiting for it can be woken (default: nothing).
    std::function<void(py::object kernel, py::object text, const std::string &problem)> undecodable;
};

/// The hooks in force; areas replace members during module initialisation.
KernelHooks &hooks();

/// The core's own dispatch: "shutdown" awaits `disconnect()`, other types are ignored.
py::object core_dispatch(py::object kernel, py::object msg_type, py::object message);

/// True when `value` is the str `text`.
bool is_text(py::handle value, const char *text);

} // namespace zm::kernel::core
