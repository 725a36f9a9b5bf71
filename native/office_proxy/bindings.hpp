#pragma once
/// Registration of the module's parts, in the order module.cpp calls them.

#include "common/python.hpp"

namespace office_proxy {

inline constexpr const char *MODULE_NAME = "zentrel_master.python_server.zentrel.office_proxy";

/// Serializer (to_wire / from_wire).
void bind_serializer(py::module_ &m);
/// Messaging and the module's one instance, `messaging`.
void bind_messaging(py::module_ &m);
/// The proxy classes, the `_cw__*` functions and the root proxies.
void bind_proxies(py::module_ &m);

} // namespace office_proxy
