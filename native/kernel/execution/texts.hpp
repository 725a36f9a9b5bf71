#pragma once
/// Fixed texts (messages, log lines, errors) and names of the kernel's code execution.

namespace zm::kernel::execution {

/// The kernel module's import name: its logger, and the frames cut from user tracebacks.
inline constexpr const char *KERNEL_MODULE_NAME = "zentrel_master.python_server.kernel";
/// The user package as the kernel imports it, and the name user code imports it by.
inline constexpr const char *USER_PACKAGE_MODULE = "zentrel_master.python_server.zentrel";
inline constexpr const char *USER_PACKAGE_NAME = "zentrel";

/// File name of an evaluated console expression.
inline constexpr const char *EVAL_FILENAME = "<kernel>";
/// File name of executed console statements (the interpreter's default for executed strings).
inline constexpr const char *EXEC_FILENAME = "<string>";
/// Virtual file name of in-memory module N: VIRTUAL_FILE_PREFIX + N + VIRTUAL_FILE_SUFFIX.
inline constexpr const char *VIRTUAL_FILE_PREFIX = "<virtual:";
inline constexpr const char *VIRTUAL_FILE_SUFFIX = ">";

namespace text {

inline constexpr const char *NO_SOURCE_PREFIX = "No source code found for module '";
inline constexpr const char *NO_SOURCE_SUFFIX = "'";
inline constexpr const char *LOADER_EXEC_ERROR_PREFIX =
    "[InMemoryModuleLoader] Error executing module '";
inline constexpr const char *LOADER_EXEC_ERROR_MIDDLE = "': ";
inline constexpr const char *LOADER_REMOVED_PREFIX = "[InMemoryModuleLoader] Removed '";
inline constexpr const char *LOADER_FORCE_RELOAD_SUFFIX = "' from sys.modules to force reload";
inline constexpr const char *LOADER_FROM_SOURCE_CACHE = "' from source_cache";
inline constexpr const char *LOADER_FROM_SYS_MODULES = "' from sys.modules";
inline constexpr const char *LOADER_FROM_LINECACHE = "' from linecache";
inline constexpr const char *UNLOADED_MODULE = "Unloaded module: ";
inline constexpr const char *KEPT_STARTUP_MODULE = "[Kernel] Kept loaded (the kernel runs on it): ";
inline constexpr const char *HOOK_ERROR_PREFIX = "[KernelStreamHook Error] ";

} // namespace text

namespace doc {

inline constexpr const char *CODE_EXECUTOR =
    "Executes Python code and captures output.\n\n"
    "Uses exec() for code execution and captures stdout/stderr.\n"
    "Injects zentrel module (excel, context) into user namespace.";
inline constexpr const char *EXECUTE =
    "Run `code` in the persistent namespace and return the result record "
    "{success, stdout, stderr, error, result}; each callback receives every piece written to its "
    "stream as it is written.";
inline constexpr const char *RESET_NAMESPACE =
    "Reset the execution namespace while keeping zentrel injected.";
inline constexpr const char *STREAM_CAPTURE =
    "Custom stream class that captures output and streams it in real-time.";
inline constexpr const char *STREAM_CAPTURE_FLUSH =
    "Flush the stream (no-op for StringIO-backed buffer).";
inline constexpr const char *KERNEL_STREAM_HOOK =
    "Custom stream hook for kernel-level stdout/stderr streaming.";
inline constexpr const char *STREAM_ROUTER =
    "Stands in for sys.stdout or sys.stderr while runs are active: each write goes to the "
    "writing thread's current capture, else to the stream that was in place before.";
inline constexpr const char *CONSOLE_GLOBALS =
    "Global mapping of console code: a name missing here is looked up in the console's "
    "locals, then in the builtins.";
inline constexpr const char *IN_MEMORY_MODULE_LOADER =
    "Custom module loader that supports importing modules from in-memory source code.";
inline constexpr const char *UPDATE_MODULE = "Update or add a module's source code in the cache.";
inline constexpr const char *DELETE_MODULE =
    "Forget the module everywhere: source cache, sys.modules and linecache.";
inline constexpr const char *VIRTUAL_ENVIRONMENT =
    "Mock virtual environment structure for managing sys.path.";
inline constexpr const char *EXTRACT_TRACEBACK =
    "The text the interpreter prints for the uncaught exception `e`, ending in a newline.";
inline constexpr const char *UNLOAD_BY_PREFIX =
    "Remove from sys.modules every module whose top-level package has a module file under one "
    "of `paths` (plain prefix test); returns how many names were selected.";

} // namespace doc

} // namespace zm::kernel::execution
