#pragma once
/// Every message, log text and error text of code_insight, in one place: whole texts with "{}"
/// holes, filled by `zm::format`.

namespace zm::code_insight::texts {

inline constexpr const char *LOGGER_NAME = "zentrel_master.python_server.code_insight";

inline constexpr const char *MODULE_DOC =
    "Editor assistance for the workbook's modules: completions, hover, signature help and "
    "diagnostics.";
inline constexpr const char *CLASS_DOC =
    "Bridge class for LSP-like functionality.\n\n"
    "Answers the editor's completion, hover, signature-help and diagnostic requests with jedi\n"
    "and pyflakes. Cross-module analysis uses a Sync-to-Disk strategy: the workbook's in-memory\n"
    "modules are written as <module name>.py files into a private temporary directory, which is\n"
    "the root of the jedi project, so imports between the workbook's modules resolve. Every\n"
    "interaction is logged with the prefix \"[LSP]\".";

// Start-up and workspace.
inline constexpr const char *INITIALIZED =
    "[LSP] CodeInsight initialized (pylsp_available={}, pyflakes_available={}, temp_dir={}, "
    "python_server={}, stubs={})";
inline constexpr const char *WORKSPACE_RECORDED =
    "[LSP] Workspace path recorded: {} (using temp_dir for jedi.Project)";
inline constexpr const char *SYNCED_MODULE = "[LSP] Synced module '{}' to {}";
inline constexpr const char *SYNC_FAILED = "[LSP] Failed to sync module '{}': {}";
inline constexpr const char *DELETED_MODULE = "[LSP] Deleted module file '{}'";
inline constexpr const char *DELETE_FAILED = "[LSP] Failed to delete module file '{}': {}";
inline constexpr const char *SYS_PATHS_UPDATED =
    "[LSP] Updated jedi project with {} total paths ({} package paths, stubs path: {})";
inline constexpr const char *SYS_PATHS_FAILED = "[LSP] Failed to update sys paths: {}";
inline constexpr const char *CLEANED_UP = "[LSP] Cleaned up temporary directory";
inline constexpr const char *CLEANUP_FAILED = "[LSP] Failed to cleanup temporary directory: {}";
inline constexpr const char *HOVER_MODE_SET = "[LSP] Hover mode set to: {}";
inline constexpr const char *HOVER_MODE_INVALID =
    "[LSP] Invalid hover mode '{}', keeping current: {}";

// Errors of module files (reported through SYNC_FAILED / DELETE_FAILED).
inline constexpr const char *NAME_ESCAPES_DIRECTORY =
    "module name would place its file outside the temporary directory";
inline constexpr const char *NAME_NOT_TEXT = "module name must be a string, not {}";
inline constexpr const char *CODE_NOT_TEXT = "write() argument must be str, not {}";
inline constexpr const char *EMBEDDED_NULL = "embedded null byte";
inline constexpr const char *OS_ERROR = "[Errno {}] {}: '{}'";
inline constexpr const char *NOT_REGULAR_FILE = "Not a regular file: '{}'";
inline constexpr const char *UNPRINTABLE = "<unprintable {}>";

// Request validation.
inline constexpr const char *CODE_MUST_BE_STRING = "code must be a string";
inline constexpr const char *LINE_INVALID = "line must be a positive integer (1-based)";
inline constexpr const char *COLUMN_INVALID = "column must be a non-negative integer (0-based)";
inline constexpr const char *PATH_INVALID = "path must be a string or None";
inline constexpr const char *EDITOR_PATH = "<editor>";
inline constexpr const char *MODULE_PATH = "<{}>";
inline constexpr const char *MODULE_FILE = "{}.py";

// Completions.
inline constexpr const char *COMPLETIONS_REQUEST = "[LSP] Request: get_completions {}";
inline constexpr const char *IN_ALIAS_CONTEXT =
    "[LSP] In import alias context, returning empty completions";
inline constexpr const char *JEDI_RETURNED = "[LSP] Jedi returned {} completions";
inline constexpr const char *COMPLETIONS_RETURNED = "[LSP] Response: {} completions returned";
inline constexpr const char *SAMPLE_COMPLETIONS = "[LSP] Sample completions: {}";
inline constexpr const char *MORE_SAMPLE_COMPLETIONS = "[LSP] Sample completions: {}...";
inline constexpr const char *COMPLETIONS_FAILED = "[LSP] Error in get_completions: {}";

// Hover and signature help.
inline constexpr const char *HOVER_REQUEST = "[LSP] Request: get_hover line={}, column={}, path={}";
inline constexpr const char *COMPACT_HOVER_FAILED = "[LSP] Error formatting compact hover: {}";
inline constexpr const char *HOVER_FOUND = "[LSP] Hover: found {} definitions";
inline constexpr const char *INFER_EMPTY =
    "[LSP] infer() returned empty, trying help() as fallback";
inline constexpr const char *HELP_FOUND = "[LSP] Hover (from help()): found {} results";
inline constexpr const char *HELP_FAILED = "[LSP] help() fallback failed: {}";
inline constexpr const char *HOVER_NOTHING = "[LSP] No type information found for hover";
inline constexpr const char *HOVER_FAILED = "[LSP] Error in get_hover: {}";
inline constexpr const char *SIGNATURE_REQUEST =
    "[LSP] Request: get_signature_help line={}, column={}, path={}";
inline constexpr const char *NO_SIGNATURES = "[LSP] No signatures found";
inline constexpr const char *SIGNATURE_HELP = "[LSP] Signature help: {}, activeParam={}";
inline constexpr const char *SIGNATURE_FAILED = "[LSP] Error in get_signature_help: {}";
inline constexpr const char *TO_STRING_NOT_TEXT = "to_string() returned {}";
inline constexpr const char *NOT_TEXT = "expected str instance, {} found";
inline constexpr const char *PARAMETER_LIST = "({})";
/// A signature's label: its name followed by its parameter part.
inline constexpr const char *SIGNATURE_LABEL = "{}{}";
inline constexpr const char *UNNAMED_FUNCTION = "function";
inline constexpr const char *HOVER_RULE = "\n\n---\n\n";
// Hover blocks: {} stands for the name, the signature's parameter part or the description.
inline constexpr const char *HOVER_NAME = "```python\n{}\n```";
inline constexpr const char *HOVER_SIGNATURE = "```python\n{}{}\n```";
inline constexpr const char *HOVER_DESCRIBED = "```python\n({}) {}\n```";
inline constexpr const char *HOVER_TYPED = "```python\n{}: {}\n```";
inline constexpr const char *COMPACT_FUNCTION = "```python\n(function) {}\n```";
inline constexpr const char *COMPACT_FUNCTION_SIGNATURE = "```python\n(function) {}{}\n```";
inline constexpr const char *COMPACT_CLASS = "```python\n(class) {}\n```";
inline constexpr const char *COMPACT_MODULE = "```python\n(module) {}\n```";
inline constexpr const char *COMPACT_OTHER = "```python\n({}) {}: {}\n```";
inline constexpr const char *DETAILED_CLASS = "```python\nclass {}\n```";
inline constexpr const char *DETAILED_MODULE = "```python\nmodule {}\n```";

// Diagnostics.
inline constexpr const char *DIAGNOSTICS_REQUEST = "[LSP] Request: get_diagnostics, code_length={}";
inline constexpr const char *SYNTAX_ERROR_AT = "[LSP] Syntax error at line {}, col {}: {}";
inline constexpr const char *SYNTAX_ERROR = "Syntax error";
inline constexpr const char *DIAGNOSTICS_FAILED = "[LSP] Error in get_diagnostics: {}";
inline constexpr const char *PYFLAKES_RETURNED = "[LSP] Pyflakes returned {} diagnostics";
inline constexpr const char *PYFLAKES_FAILED = "[LSP] Pyflakes check failed: {}";
inline constexpr const char *PYFLAKES_PARSE_FAILED =
    "[LSP] Failed to parse pyflakes message '{}': {}";
inline constexpr const char *IMPORT_CHECK_FOUND = "[LSP] Import check found {} unresolved imports";
inline constexpr const char *IMPORT_CHECK_FAILED = "[LSP] Import check failed: {}";
inline constexpr const char *UNRESOLVED_IMPORT = "import '{}' could not be resolved";

// Module constants.
inline constexpr const char *IMPORT_ALIAS_PATTERN =
    R"(^\s*(import\s+[\w.]+\s+as(\s+\w*)?|from\s+[\w.]+\s+import\s+[\w.]+\s+as(\s+\w*)?)$)";
inline constexpr const char *PYFLAKES_MESSAGE_PATTERN = R"(^(.+?):(\d+)(?::(\d+))?:\s*(.+)$)";

} // namespace zm::code_insight::texts
