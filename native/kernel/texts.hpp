#pragma once
/// The kernel's fixed texts (messages, log lines, errors, docstrings): whole templates with "{}"
/// holes, filled by zm::format, so that grep finds each message whole.

namespace zm::kernel::text {

// Runs of user code: console execution, custom function calls, registered callable calls, event
// handlers, streaming functions, module runs and debug runs.

// Shared by the runs.
inline constexpr const char *OUT_DISPLAY = "Out: {}\n";
inline constexpr const char *UNKNOWN_ERROR = "Unknown error";
inline constexpr const char *VALIDATION_ERROR = "ValidationError";
inline constexpr const char *SEND_ERROR_FAILED = "[Kernel] Failed to send error message: {}";
inline constexpr const char *MISSING_MODULE_NAME = "Missing module_name";
inline constexpr const char *MISSING_FUNCTION_NAME = "Missing function_name";
inline constexpr const char *FUNCTION_NOT_IN_MODULE = "Function '{}' not found in module '{}'";
inline constexpr const char *EXPECTED_LIST_OR_NULL = "a list or null";
inline constexpr const char *EXPECTED_BOOL_OR_NULL = "true, false or null";

// Console execution requests.
inline constexpr const char *EXECUTION_STARTED = "[TIMING] Execution started: request_id={}, function={}";
inline constexpr const char *EXECUTION_SUBMITTING =
    "[Kernel] [Async Task] Submitting execution to worker thread pool (request_id={})";
inline constexpr const char *EXECUTION_EXECUTING =
    "[Kernel] [Worker Thread {}] Executing code (request_id={})";
inline constexpr const char *EXECUTION_DONE =
    "[Kernel] [Worker Thread {}] Execution completed (request_id={})";
inline constexpr const char *EXECUTION_COMPLETED =
    "[TIMING] Execution completed: request_id={}, elapsed={}ms";
inline constexpr const char *EXECUTION_FINISHED =
    "[Kernel] [Async Task] Execution finished, success={} (request_id={})";
inline constexpr const char *EXECUTION_SENDING_RESULT =
    "[Kernel] Sending execution_result (success) for request_id={}";
inline constexpr const char *EXECUTION_SENDING_ERROR =
    "[Kernel] Sending execution_error for request_id={}: {}";
inline constexpr const char *EXECUTION_FAILED =
    "[TIMING] Execution failed: request_id={}, elapsed={}ms, error={}";
inline constexpr const char *EXECUTION_UNEXPECTED =
    "[Kernel] Unexpected error in _execute_code_async: {}";
inline constexpr const char *OUTPUT_STREAMING_ERROR = "[Kernel] {} streaming error: {}";

// Custom function calls.
inline constexpr const char *CUSTOM_RECEIVED =
    "[Kernel] Received custom_function_call: {} (source={}, request_id={})";
inline constexpr const char *CUSTOM_DISPATCHING =
    "[Kernel] [Async Task] Dispatching custom_function_call to worker: {}";
inline constexpr const char *CUSTOM_EXECUTING =
    "[Kernel] [Worker Thread {}] Executing custom function: {}";
inline constexpr const char *MODULE_NOT_SYNCED =
    "Module '{}' not found in sys.modules. Make sure the module has been synced via "
    "update_module.";
inline constexpr const char *CUSTOM_LOGS = "[Kernel] Function logs:\n{}";
inline constexpr const char *CUSTOM_SUCCEEDED = "[Kernel] Custom function call succeeded: {}";
inline constexpr const char *CUSTOM_FAILED = "[Kernel] Custom function call failed: {}";
inline constexpr const char *CUSTOM_REFUSED = "[Kernel] Custom function call failed: {}: {}";
inline constexpr const char *CUSTOM_UNEXPECTED =
    "[Kernel] Unexpected error in _handle_custom_function_call: {}";

// Registered callable calls.
inline constexpr const char *CALLABLE_RECEIVED =
    "[Kernel] Received python_function_call: callable_id={} (request_id={})";
inline constexpr const char *CALLABLE_DISPATCHING =
    "[Kernel] [Async Task] Dispatching python_function_call to worker: callable_id={}";
inline constexpr const char *CALLABLE_EXECUTING = "[Kernel] [Worker Thread {}] Executing callable: {}";
inline constexpr const char *MISSING_CALLABLE_ID = "Missing callable_id";
inline constexpr const char *CALLABLE_NOT_FOUND = "Callable '{}' not found in registry";
inline constexpr const char *NOT_CALLABLE = "Object with id '{}' is not callable";
inline constexpr const char *CALLABLE_LOGS = "[Kernel] Callable logs:\n{}";
inline constexpr const char *CALLABLE_SUCCEEDED =
    "[Kernel] Python function call succeeded: callable_id={}";
inline constexpr const char *CALLABLE_FAILED = "[Kernel] Python function call failed: callable_id={}";
inline constexpr const char *CALLABLE_REFUSED =
    "[Kernel] Python function call failed: callable_id={}: {}";
inline constexpr const char *CALLABLE_UNEXPECTED =
    "[Kernel] Unexpected error in _handle_python_function_call: {}";

// Module runs and debug runs.
inline constexpr const char *RUN_MODULE_RECEIVED =
    "[Kernel] Received run_module: {} (workbook_id={}, debug={}, source={}, request_id={})";
inline constexpr const char *RUN_MODULE_REFUSED = "[Kernel] run_module refused: {}";
inline constexpr const char *DEBUG_MODULE_NOT_FOUND = "Module '{}' not found";
inline constexpr const char *DEBUG_SESSION_ACTIVE_TYPE = "RuntimeError";
inline constexpr const char *DEBUG_SESSION_ACTIVE =
    "A debug session is already active (request_id={})";
inline constexpr const char *YIELD_DISPLAY = "Yield [{}]: {}\n";
inline constexpr const char *GENERATOR_COMPLETED = "Out: Generator completed with {} yields\n";
inline constexpr const char *GENERATOR_STOPPED = "Out: Generator stoped before ending\n";
inline constexpr const char *DEBUG_COMPLETED =
    "[Kernel] Debug execution completed successfully, sending debug_terminated";
inline constexpr const char *DEBUG_EXCEPTION_ALREADY_SENT =
    "[Kernel] Debug exception already sent, sending debug_terminated";
inline constexpr const char *DEBUG_EXECUTION_FAILED = "[Kernel] Debug execution failed: {}";
inline constexpr const char *DEBUGGER_CLEANED_UP = "[Kernel] Debugger instance cleaned up";
inline constexpr const char *ERROR_IN_DEBUG_EXECUTION = "[Kernel] Error in debug execution: {}";
inline constexpr const char *DEBUG_TRACEBACK = "[Kernel] Traceback: {}";
inline constexpr const char *DEBUG_EXECUTION_ERROR = "[Kernel] Debug execution error: {}";
inline constexpr const char *PARSED_ERROR_LOCATION = "[Kernel] Parsed error location: {}";
inline constexpr const char *SENDING_DEBUG_EXCEPTION =
    "[Kernel] Sending debug_exception message...";
inline constexpr const char *DEBUG_EXCEPTION_SENT =
    "[Kernel] debug_exception message sent successfully";
inline constexpr const char *DEBUG_EXCEPTION_SEND_FAILED =
    "[Kernel] Failed to send debug_exception: {}";
inline constexpr const char *NO_DEBUGGER_OR_LOOP =
    "[Kernel] Cannot send debug_exception - no debugger or loop";
inline constexpr const char *NO_DEBUGGER_CLASS =
    "The debugger (ZentrelDebugger of the debugger module) is not available in this kernel";
inline constexpr const char *DEBUG_SESSION_ENDED =
    "[Kernel] Debug session ended with the kernel: the debugged call was stopped";

// Event handlers.
inline constexpr const char *EVENT_MISSING_NAMES =
    "[Kernel] event_execution missing module_name or function_name";
inline constexpr const char *EVENT_RECEIVED =
    "[Kernel] [Async Task] Received event_execution: {} (object={}/{}, event={})";
inline constexpr const char *EVENT_DISPATCHING =
    "[Kernel] [Async Task] Dispatching event_execution to worker: {}";
inline constexpr const char *EVENT_EXECUTING =
    "[Kernel] [Worker Thread {}] Executing event handler: {}";
inline constexpr const char *EVENT_LOGS = "[Kernel] Event handler logs:\n{}";
inline constexpr const char *EVENT_SUCCEEDED = "[Kernel] Event handler executed successfully: {}";
inline constexpr const char *EVENT_FAILED = "[Kernel] Event handler failed: {}";
inline constexpr const char *EVENT_UNEXPECTED =
    "[Kernel] Unexpected error in _handle_event_execution: {}";
inline constexpr const char *ARGS_NOT_LIST = "field 'args' must be a list, got {}";
inline constexpr const char *MODULE_NOT_IN_SYS_MODULES = "Module '{}' not found in sys.modules";

// Streaming functions.
inline constexpr const char *STREAM_TYPE = "streaming_function_result";
inline constexpr const char *STREAM_CANCELED = "Canceled";
inline constexpr const char *STREAM_STARTED =
    "[TIMING] Streaming execution started: request_id={}, function={}";
inline constexpr const char *STREAM_RECEIVED =
    "[Kernel] _execute_streaming_function: module={}, function={}, request_id={}";
inline constexpr const char *STREAM_NOT_IN_CACHE = "[Kernel] Module '{}' not in cache, requesting sync";
inline constexpr const char *STREAM_FAILED =
    "[TIMING] Streaming failed: request_id={}, elapsed={}ms, error={}";
inline constexpr const char *STREAM_SYNC_FAILED = "Module not found after sync";
inline constexpr const char *STREAM_NOT_FOUND_AFTER_SYNC_LOG =
    "[Kernel] Module '{}' not found after sync attempt";
inline constexpr const char *STREAM_NOT_FOUND_AFTER_SYNC = "Module '{}' not found after sync attempt";
inline constexpr const char *STREAM_CANCELED_LOG = "[TIMING] Streaming canceled: request_id={}, elapsed={}ms";
inline constexpr const char *STREAM_COMPLETED =
    "[TIMING] Streaming completed: request_id={}, elapsed={}ms, results={}";
inline constexpr const char *STREAM_EXCEPTION =
    "[TIMING] Streaming exception: request_id={}, elapsed={}ms, error={}";
inline constexpr const char *STREAM_WORKER_STARTED =
    "[TIMING] Streaming worker started: thread={}, request_id={}";
inline constexpr const char *STREAM_MODULE_MISSING_LOG = "[Kernel] Module not found in sys.modules: {}";
inline constexpr const char *STREAM_SAMPLE_MODULES = "[Kernel] Sample of available modules: {}";
inline constexpr const char *STREAM_CACHE_KEYS = "[Kernel] in_memory_loader.source_cache keys: {}";
inline constexpr const char *STREAM_MODULE_MISSING = "Module not found: {}";
inline constexpr const char *STREAM_FOUND_MODULE = "[Kernel] Found module in sys.modules: {}";
inline constexpr const char *STREAM_FUNCTION_MISSING_LOG = "[Kernel] Function not found in module: {}";
inline constexpr const char *STREAM_AVAILABLE_FUNCTIONS = "[Kernel] Available functions in module: {}";
inline constexpr const char *STREAM_FUNCTION_MISSING = "Function not found: {}";
inline constexpr const char *STREAM_FOUND_FUNCTION = "[Kernel] Found function: {}";
inline constexpr const char *NOT_A_GENERATOR_LOG = "[Kernel] Function {} is not a generator function";
inline constexpr const char *NOT_A_GENERATOR = "Function {} is not a generator function";
inline constexpr const char *STREAM_STARTING = "[Kernel] Starting to stream results from generator: {}";
inline constexpr const char *STREAM_ERROR = "[TIMING] Streaming error: request_id={}, error={}";

} // namespace zm::kernel::text

namespace zm::kernel::doc {

// Runs of user code.
inline constexpr const char *HANDLE_RUN_MODULE =
    "Run one function of an in-memory module for the editor, optionally under the debugger.\n\n"
    "This method provides a unified execution path for IDE Run (F5) and Excel function calls. "
    "It uses the same execution logic as custom_function_call, with optional debug support.";
inline constexpr const char *HANDLE_DEBUG_RUN_MODULE =
    "Run one function of an in-memory module on a worker thread under ZentrelDebugger.";
inline constexpr const char *PARSE_ERROR_LOCATION =
    "Parse a traceback string to find the error location in user code.";
inline constexpr const char *HANDLE_CUSTOM_FUNCTION_CALL =
    "Handle custom function call requests from the Business Layer.";
inline constexpr const char *HANDLE_PYTHON_FUNCTION_CALL =
    "Handle Python callable invocation from Excel.";
inline constexpr const char *DESERIALIZE_ARGS =
    "Convert arguments from wire format to Python objects (Serializer.from_wire of each, in "
    "order).";
inline constexpr const char *HANDLE_EVENT_EXECUTION =
    "Handle event execution requests from the Excel Add-in.\n\n"
    "NO BACKWARD COMPATIBILITY - requires split module_name and function_name.";
inline constexpr const char *EXECUTE_STREAMING_FUNCTION =
    "Execute a streaming (generator) function in a worker thread.";

} // namespace zm::kernel::doc
