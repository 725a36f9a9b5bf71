#pragma once
/// Random version-4 UUIDs as 32 lowercase hex digits (what `uuid.uuid4().hex` gives), without
/// importing `uuid` (whose import costs more than this whole module's).

#include <string>

namespace zm {

/// A fresh UUID4 from the system's random source; throws std::runtime_error if none works.
std::string uuid4_hex();

} // namespace zm
