#pragma once
/// The editor's completion, signature-help, hover and diagnostic requests, answered with the
/// kernel's CodeInsight over the workbook's in-memory modules.

#include "common/coroutine.hpp"

#include <cstddef>

namespace zm::kernel::editor {

/// Longest `code`, unsaved module text or pushed module source handed to the analysis: jedi
/// needs tens of seconds near this size. A longer request text is answered with CODE_TOO_LARGE;
/// a longer pushed module still loads and runs but is left out of the analysis.
inline constexpr std::size_t MAX_ANALYSED_CHARS = 1000000;

/// The requests; each builds its reply synchronously on the listener and then sends it.
enum class Request { Completion, SignatureHelp, Hover, Diagnostic };

/// The body of `_handle_<request>_request(message)`: reads the request, asks CodeInsight, sends
/// the reply. Input the analysis cannot take (oversized text, a `dirty_files` that is not a map,
/// a diagnostics `module_name` that is not text, no CodeInsight) gets the reply with `error` set.
Coro handle_editor_request(py::object self, py::object message, Request request);

} // namespace zm::kernel::editor
