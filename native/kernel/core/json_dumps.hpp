#pragma once
/// The serializer of every outgoing message.

#include "common/python.hpp"

namespace zm::kernel::core {

/// Serializes `obj` to strict JSON text (a str).
///
/// orjson is the fast path. What orjson refuses but JSON can say is still sent: dict keys that are
/// not text are written as text (as `json` writes them) and integers beyond 64 bits exactly. NaN
/// and infinities become null on every path. Anything else unencodable raises orjson's TypeError.
py::object json_dumps(py::handle obj);

} // namespace zm::kernel::core
