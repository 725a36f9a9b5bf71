#pragma once
/// Wire values: the {"type", "value", "isSpec"} maps in which every value crosses between Python
/// and the add-in.
///
/// Both directions look `Serializer.to_wire` / `from_wire` up on the module's `Serializer` at
/// call time and recurse through them. While both are still this module's own functions the
/// recursion stays in C++ (same result, no Python call per element); once someone replaces them,
/// every element goes through the replacement.

#include "common/python.hpp"

namespace zm::office_proxy::wire {

/// Serializer.to_wire(value).
py::object to_wire(py::handle value);

/// Serializer.from_wire(wire); `wire` must be exactly a dict.
py::object from_wire(py::handle wire);

/// What `Serializer.to_wire(value)` gives right now (the current class attribute, called).
py::object call_to_wire(py::handle value);

/// What `Serializer.from_wire(wire)` gives right now.
py::object call_from_wire(py::handle wire);

} // namespace zm::office_proxy::wire
