#pragma once
/// Registration of the module's parts, in the order module.cpp calls them.

#include "common/python.hpp"

namespace zm::office_proxy {

/// Serializer (to_wire / from_wire).
void bind_serializer(py::module_ &m);
/// Messaging and the module's one instance, `messaging`.
void bind_messaging(py::module_ &m);
/// The proxy classes, the `_cw__*` functions and the root proxies.
void bind_proxies(py::module_ &m);

} // namespace zm::office_proxy
