#pragma once
/// Every message, log text and error text of code_insight, in one place.

namespace code_insight::texts {

inline constexpr const char *LOGGER_NAME = "zentrel_master.python_server.code_insight";

// Start-up and workspace.
inline constexpr const char *INITIALIZED =
    "[LSP] CodeInsight initialized (pylsp_available=%s, pyflakes_available=%s, temp_dir=%s, "
    "python_server=%s, stubs=%s)";
inline constexpr const char *WORKSPACE_RECORDED =
    "[LSP] Workspace path recorded: %s (using temp_dir for jedi.Project)";
inline constexpr const char *SYNCED_MODULE = "[LSP] Synced module '%s' to %s";
inline constexpr const char *SYNC_FAILED = "[LSP] Failed to sync module '%s': %s";
inline constexpr const char *DELETED_MODULE = "[LSP] Deleted module file '%s'";
inline constexpr const char *DELETE_FAILED = "[LSP] Failed to delete module file '%s': %s";
inline constexpr const char *SYS_PATHS_UPDATED =
    "[LSP] Updated jedi project with %d total paths (%d package paths, stubs path: %s)";
inline constexpr const char *SYS_PATHS_FAILED = "[LSP] Failed to update sys paths: %s";
inline constexpr const char *CLEANED_UP = "[LSP] Cleaned up temporary directory";
inline constexpr const char *CLEANUP_FAILED = "[LSP] Failed to cleanup temporary directory: %s";
inline constexpr const char *HOVER_MODE_SET = "[LSP] Hover mode set to: ";
inline constexpr const char *HOVER_MODE_INVALID =
    "[LSP] Invalid hover mode '%s', keeping current: %s";

// Errors of module files (reported through SYNC_FAILED / DELETE_FAILED).
inline constexpr const char *NAME_ESCAPES_DIRECTORY =
    "module name would place its file outside the temporary directory";
inline constexpr const char *NAME_NOT_TEXT = "module name must be a string, not %s";
inline constexpr const char *CODE_NOT_TEXT = "write() argument must be str, not %s";
inline constexpr const char *EMBEDDED_NULL = "embedded null byte";

// Request validation.
inline constexpr const char *CODE_MUST_BE_STRING = "code must be a string";
inline constexpr const char *LINE_INVALID = "line must be a positive integer (1-based)";
inline constexpr const char *COLUMN_INVALID = "column must be a non-negative integer (0-based)";
inline constexpr const char *PATH_INVALID = "path must be a string or None";
inline constexpr const char *EDITOR_PATH = "<editor>";

// Completions.
inline constexpr const char *COMPLETIONS_REQUEST = "[LSP] Request: get_completions %s";
inline constexpr const char *IN_ALIAS_CONTEXT =
    "[LSP] In import alias context, returning empty completions";
inline constexpr const char *JEDI_RETURNED = "[LSP] Jedi returned %d completions";
inline constexpr const char *COMPLETIONS_RETURNED = "[LSP] Response: %d completions returned";
inline constexpr const char *SAMPLE_COMPLETIONS = "[LSP] Sample completions: %s%s";
inline constexpr const char *COMPLETIONS_FAILED = "[LSP] Error in get_completions: %s";

// Hover and signature help.
inline constexpr const char *HOVER_REQUEST = "[LSP] Request: get_hover line=%d, column=%d, path=%s";
inline constexpr const char *COMPACT_HOVER_FAILED = "[LSP] Error formatting compact hover: ";
inline constexpr const char *HOVER_FOUND = "[LSP] Hover: found %d definitions";
inline constexpr const char *INFER_EMPTY =
    "[LSP] infer() returned empty, trying help() as fallback";
inline constexpr const char *HELP_FOUND = "[LSP] Hover (from help()): found %d results";
inline constexpr const char *HELP_FAILED = "[LSP] help() fallback failed: %s";
inline constexpr const char *HOVER_NOTHING = "[LSP] No type information found for hover";
inline constexpr const char *HOVER_FAILED = "[LSP] Error in get_hover: %s";
inline constexpr const char *SIGNATURE_REQUEST =
    "[LSP] Request: get_signature_help line=%d, column=%d, path=%s";
inline constexpr const char *NO_SIGNATURES = "[LSP] No signatures found";
inline constexpr const char *SIGNATURE_HELP = "[LSP] Signature help: %s, activeParam=%d";
inline constexpr const char *SIGNATURE_FAILED = "[LSP] Error in get_signature_help: %s";
inline constexpr const char *FENCE_OPEN = "```python\n";
inline constexpr const char *FENCE_CLOSE = "\n```";
inline constexpr const char *RULE = "\n\n---\n\n";
inline constexpr const char *UNNAMED_FUNCTION = "function";
inline constexpr const char *COMPACT_FUNCTION = "(function) ";
inline constexpr const char *COMPACT_CLASS = "(class) ";
inline constexpr const char *COMPACT_MODULE = "(module) ";
inline constexpr const char *DETAILED_CLASS = "class ";
inline constexpr const char *DETAILED_MODULE = "module ";

// Diagnostics.
inline constexpr const char *DIAGNOSTICS_REQUEST = "[LSP] Request: get_diagnostics, code_length=%d";
inline constexpr const char *SYNTAX_ERROR_AT = "[LSP] Syntax error at line %d, col %d: %s";
inline constexpr const char *SYNTAX_ERROR = "Syntax error";
inline constexpr const char *DIAGNOSTICS_FAILED = "[LSP] Error in get_diagnostics: %s";
inline constexpr const char *PYFLAKES_RETURNED = "[LSP] Pyflakes returned %d diagnostics";
inline constexpr const char *PYFLAKES_FAILED = "[LSP] Pyflakes check failed: %s";
inline constexpr const char *PYFLAKES_PARSE_FAILED =
    "[LSP] Failed to parse pyflakes message '%s': %s";
inline constexpr const char *IMPORT_CHECK_FOUND = "[LSP] Import check found %d unresolved imports";
inline constexpr const char *IMPORT_CHECK_FAILED = "[LSP] Import check failed: %s";
inline constexpr const char *UNRESOLVED_IMPORT = "import '%s' could not be resolved";

// Module constants.
inline constexpr const char *IMPORT_ALIAS_PATTERN =
    R"(^\s*(import\s+[\w.]+\s+as(\s+\w*)?|from\s+[\w.]+\s+import\s+[\w.]+\s+as(\s+\w*)?)$)";
inline constexpr const char *PYFLAKES_MESSAGE_PATTERN = R"(^(.+?):(\d+)(?::(\d+))?:\s*(.+)$)";

} // namespace code_insight::texts
