#pragma once
/// Messages and log lines of event handler execution and streaming functions.

namespace zm::kernel::invocation::text {

// Event handler execution.
inline constexpr const char *EVENT_MISSING_NAMES =
    "[Kernel] event_execution missing module_name or function_name";
inline constexpr const char *EVENT_RECEIVED = "[Kernel] [Async Task] Received event_execution: ";
inline constexpr const char *EVENT_OBJECT = " (object=";
inline constexpr const char *EVENT_EVENT = ", event=";
inline constexpr const char *EVENT_DISPATCHING =
    "[Kernel] [Async Task] Dispatching event_execution to worker: ";
inline constexpr const char *EVENT_LOGS = "[Kernel] Event handler logs:\n";
inline constexpr const char *EVENT_SUCCEEDED = "[Kernel] Event handler executed successfully: ";
inline constexpr const char *EVENT_FAILED = "[Kernel] Event handler failed: ";
inline constexpr const char *EVENT_UNEXPECTED =
    "[Kernel] Unexpected error in _handle_event_execution: ";
inline constexpr const char *EXECUTING_EVENT = "] Executing event handler: ";
inline constexpr const char *UNKNOWN_ERROR = "Unknown error";
inline constexpr const char *ARGS_NOT_LIST = "field 'args' must be a list, got ";

// Shared by both paths.
inline constexpr const char *WORKER_THREAD = "[Kernel] [Worker Thread ";
inline constexpr const char *MODULE_QUOTE = "Module '";
inline constexpr const char *NOT_IN_SYS_MODULES = "' not found in sys.modules";
inline constexpr const char *FUNCTION_QUOTE = "Function '";
inline constexpr const char *NOT_IN_MODULE = "' not found in module '";
inline constexpr const char *QUOTE = "'";

// Streaming functions.
inline constexpr const char *STREAM_TYPE = "streaming_function_result";
inline constexpr const char *CANCELED = "Canceled";
inline constexpr const char *STREAM_STARTED = "[TIMING] Streaming execution started: request_id=";
inline constexpr const char *FUNCTION_PART = ", function=";
inline constexpr const char *STREAM_INFO = "[Kernel] _execute_streaming_function: module=";
inline constexpr const char *REQUEST_ID_PART = ", request_id=";
inline constexpr const char *NOT_IN_CACHE = "' not in cache, requesting sync";
inline constexpr const char *KERNEL_MODULE_QUOTE = "[Kernel] Module '";
inline constexpr const char *NOT_FOUND_AFTER_SYNC = "' not found after sync attempt";
inline constexpr const char *STREAM_FAILED = "[TIMING] Streaming failed: request_id=";
inline constexpr const char *ELAPSED_PART = ", elapsed=";
inline constexpr const char *MS_ERROR = "ms, error=";
inline constexpr const char *MS = "ms";
inline constexpr const char *MS_RESULTS = "ms, results=";
inline constexpr const char *AFTER_SYNC_ERROR = "Module not found after sync";
inline constexpr const char *STREAM_CANCELED = "[TIMING] Streaming canceled: request_id=";
inline constexpr const char *STREAM_COMPLETED = "[TIMING] Streaming completed: request_id=";
inline constexpr const char *STREAM_EXCEPTION = "[TIMING] Streaming exception: request_id=";
inline constexpr const char *WORKER_STARTED = "[TIMING] Streaming worker started: thread=";
inline constexpr const char *NOT_IN_SYS_MODULES_LOG = "[Kernel] Module not found in sys.modules: ";
inline constexpr const char *SAMPLE_MODULES = "[Kernel] Sample of available modules: ";
inline constexpr const char *CACHE_KEYS = "[Kernel] in_memory_loader.source_cache keys: ";
inline constexpr const char *MODULE_NOT_FOUND = "Module not found: ";
inline constexpr const char *FOUND_MODULE = "[Kernel] Found module in sys.modules: ";
inline constexpr const char *FUNCTION_NOT_FOUND_LOG = "[Kernel] Function not found in module: ";
inline constexpr const char *AVAILABLE_FUNCTIONS = "[Kernel] Available functions in module: ";
inline constexpr const char *FUNCTION_NOT_FOUND = "Function not found: ";
inline constexpr const char *FOUND_FUNCTION = "[Kernel] Found function: ";
inline constexpr const char *KERNEL_FUNCTION = "[Kernel] Function ";
inline constexpr const char *FUNCTION_SPACE = "Function ";
inline constexpr const char *NOT_A_GENERATOR = " is not a generator function";
inline constexpr const char *STARTING_STREAM =
    "[Kernel] Starting to stream results from generator: ";
inline constexpr const char *STREAM_ERROR = "[TIMING] Streaming error: request_id=";
inline constexpr const char *ERROR_PART = ", error=";
inline constexpr const char *MISSING_MODULE_NAME = "Missing module_name";
inline constexpr const char *MISSING_FUNCTION_NAME = "Missing function_name";

} // namespace zm::kernel::invocation::text
