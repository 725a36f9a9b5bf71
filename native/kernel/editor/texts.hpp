#pragma once
/// Fixed texts (log lines, errors) and limits of the editor requests, in one place.

#include <cstddef>

namespace zm::kernel::editor {

/// Longest `code`, unsaved module text or pushed module source handed to the analysis: jedi
/// needs tens of seconds near this size. A longer request text is answered with TOO_LARGE; a
/// longer pushed module still loads and runs but is left out of the analysis.
inline constexpr std::size_t MAX_ANALYSED_CHARS = 1000000;

namespace text {

// Request and result log lines.
inline constexpr const char *COMPLETION_REQUEST = "[LSP] Request received: line=";
inline constexpr const char *SIGNATURE_REQUEST = "[LSP] Signature help request: line=";
inline constexpr const char *HOVER_REQUEST = "[LSP] Hover request: line=";
inline constexpr const char *COLUMN_PART = ", column=";
inline constexpr const char *PATH_PART = ", path=";
inline constexpr const char *CODE_LENGTH_PART = ", code_length=";
inline constexpr const char *DIRTY_FILES_PART = ", dirty_files=";
inline constexpr const char *COMPLETION_RESPONSE = "[LSP] Response: ";
inline constexpr const char *COMPLETIONS_ERROR = " completions, error=";
inline constexpr const char *SIGNATURE_RESPONSE = "[LSP] Signature help response: ";
inline constexpr const char *SIGNATURES_ERROR = " signatures, error=";
inline constexpr const char *HOVER_RESPONSE = "[LSP] Hover response: has_contents=";
inline constexpr const char *ERROR_PART = ", error=";
inline constexpr const char *DIAGNOSTIC_REQUEST = "[LSP] Diagnostic request: code_length=";
inline constexpr const char *MODULE_PART = ", module=";
inline constexpr const char *DIAGNOSTIC_RESPONSE = "[LSP] Diagnostic response: ";
inline constexpr const char *DIAGNOSTICS_ERROR = " diagnostics, error=";

// Requests answered without an analysis.
inline constexpr const char *REFUSED = "[LSP] Refused ";
inline constexpr const char *COLON = ": ";
inline constexpr const char *NO_CODE_INSIGHT = "Code Insight not available";
inline constexpr const char *TOO_LARGE = "code is too large to analyse (";
inline constexpr const char *DIRTY_FILE_TOO_LARGE = "unsaved module text is too large to analyse (";
inline constexpr const char *LIMIT_PART = " characters; the limit is ";
inline constexpr const char *CLOSE_PAREN = ")";
inline constexpr const char *DIRTY_FILES_NOT_MAP =
    "dirty_files must be an object mapping module names to source text";
inline constexpr const char *MODULE_NAME_NOT_TEXT = "module_name must be a string or null";
inline constexpr const char *MODULE_TOO_LARGE = "source too large to analyse (";
inline constexpr const char *MODULE_NOT_ANALYSED = "[LSP] Module left out of the analysis: ";

// The editor thread.
inline constexpr const char *EDITOR_THREAD = "editor";
inline constexpr const char *ANALYSIS_FAILED = "[LSP] Analysis failed for ";
inline constexpr const char *EDITOR_JOB_FAILED = "[LSP] Editor job failed: ";
inline constexpr const char *EDITOR_REPLY_FAILED = "[LSP] Could not send an editor reply: ";

} // namespace text

} // namespace zm::kernel::editor
