#pragma once
/// Reading the request id of a "sys_response" whose text cannot be decoded as a whole (nested
/// too deeply, too large, malformed further on); no Python here.

#include <optional>
#include <string>
#include <string_view>

namespace zm::kernel::channel {

/// The `requestId` of `text` when it is (the start of) a JSON object whose `type` is
/// "sys_response": the one inside `payload` when there is one, else the top-level one. Nothing
/// when the text is no such message or the id is not a plain string (one without escapes).
/// The scan keeps state only for the outer two levels, so any nesting depth costs nothing.
std::optional<std::string> sys_response_request_id(std::string_view text);

} // namespace zm::kernel::channel
