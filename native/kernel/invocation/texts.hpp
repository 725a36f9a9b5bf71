#pragma once
/// Fixed texts (messages, log lines, errors) of worksheet custom function calls, registered
/// callable calls, module runs and debug runs, in one place.

namespace zm::kernel::invocation {

namespace text {

// Shared by the calls.
inline constexpr const char *WORKER_THREAD = "[Kernel] [Worker Thread ";
inline constexpr const char *OUT_PREFIX = "Out: ";
inline constexpr const char *UNKNOWN_ERROR = "Unknown error";
inline constexpr const char *VALIDATION_ERROR = "ValidationError";
inline constexpr const char *SEND_ERROR_FAILED = "[Kernel] Failed to send error message: ";
inline constexpr const char *FIELD = "field '";
inline constexpr const char *MUST_BE = "' must be ";
inline constexpr const char *GOT = ", got ";
inline constexpr const char *TEXT = "text";
inline constexpr const char *TEXT_OR_NULL = "text or null";
inline constexpr const char *LIST_OR_NULL = "a list or null";
inline constexpr const char *BOOL_OR_NULL = "true, false or null";

// Custom function calls.
inline constexpr const char *RECEIVED_CUSTOM = "[Kernel] Received custom_function_call: ";
inline constexpr const char *SOURCE_PART = " (source=";
inline constexpr const char *REQUEST_ID_PART = ", request_id=";
inline constexpr const char *CLOSE_PAREN = ")";
inline constexpr const char *MISSING_MODULE_NAME = "Missing module_name";
inline constexpr const char *MISSING_FUNCTION_NAME = "Missing function_name";
inline constexpr const char *DISPATCHING_CUSTOM =
    "[Kernel] [Async Task] Dispatching custom_function_call to worker: ";
inline constexpr const char *EXECUTING_CUSTOM = "] Executing custom function: ";
inline constexpr const char *MODULE_NOT_IN_TABLE_1 = "Module '";
inline constexpr const char *MODULE_NOT_IN_TABLE_2 =
    "' not found in sys.modules. Make sure the module has been synced via update_module.";
inline constexpr const char *FUNCTION_NOT_FOUND_1 = "Function '";
inline constexpr const char *FUNCTION_NOT_FOUND_2 = "' not found in module '";
inline constexpr const char *QUOTE = "'";
inline constexpr const char *FUNCTION_LOGS = "[Kernel] Function logs:\n";
inline constexpr const char *CUSTOM_SUCCEEDED = "[Kernel] Custom function call succeeded: ";
inline constexpr const char *CUSTOM_FAILED = "[Kernel] Custom function call failed: ";
inline constexpr const char *CUSTOM_UNEXPECTED =
    "[Kernel] Unexpected error in _handle_custom_function_call: ";

// Registered callable calls.
inline constexpr const char *RECEIVED_CALLABLE =
    "[Kernel] Received python_function_call: callable_id=";
inline constexpr const char *REQUEST_ID_OPEN = " (request_id=";
inline constexpr const char *MISSING_CALLABLE_ID = "Missing callable_id";
inline constexpr const char *DISPATCHING_CALLABLE =
    "[Kernel] [Async Task] Dispatching python_function_call to worker: callable_id=";
inline constexpr const char *EXECUTING_CALLABLE = "] Executing callable: ";
inline constexpr const char *CALLABLE_NOT_FOUND_1 = "Callable '";
inline constexpr const char *CALLABLE_NOT_FOUND_2 = "' not found in registry";
inline constexpr const char *NOT_CALLABLE_1 = "Object with id '";
inline constexpr const char *NOT_CALLABLE_2 = "' is not callable";
inline constexpr const char *CALLABLE_LOGS = "[Kernel] Callable logs:\n";
inline constexpr const char *CALLABLE_SUCCEEDED =
    "[Kernel] Python function call succeeded: callable_id=";
inline constexpr const char *CALLABLE_FAILED = "[Kernel] Python function call failed: callable_id=";
inline constexpr const char *CALLABLE_UNEXPECTED =
    "[Kernel] Unexpected error in _handle_python_function_call: ";

// Module runs and debug runs.
inline constexpr const char *RECEIVED_RUN_MODULE = "[Kernel] Received run_module: ";
inline constexpr const char *WORKBOOK_ID_OPEN = " (workbook_id=";
inline constexpr const char *DEBUG_PART = ", debug=";
inline constexpr const char *SOURCE_MID = ", source=";
inline constexpr const char *RUN_MODULE_REFUSED = "[Kernel] run_module refused: ";
inline constexpr const char *DEBUG_MODULE_NOT_FOUND_2 = "' not found";
inline constexpr const char *DEBUG_SESSION_ACTIVE_TYPE = "RuntimeError";
inline constexpr const char *DEBUG_SESSION_ACTIVE =
    "A debug session is already active (request_id=";
inline constexpr const char *YIELD_OPEN = "Yield [";
inline constexpr const char *YIELD_CLOSE = "]: ";
inline constexpr const char *GENERATOR_COMPLETED_1 = "Out: Generator completed with ";
inline constexpr const char *GENERATOR_COMPLETED_2 = " yields\n";
inline constexpr const char *GENERATOR_STOPPED = "Out: Generator stoped before ending\n";
inline constexpr const char *DEBUG_COMPLETED =
    "[Kernel] Debug execution completed successfully, sending debug_terminated";
inline constexpr const char *DEBUG_EXCEPTION_ALREADY_SENT =
    "[Kernel] Debug exception already sent, sending debug_terminated";
inline constexpr const char *DEBUG_EXECUTION_FAILED = "[Kernel] Debug execution failed: ";
inline constexpr const char *DEBUGGER_CLEANED_UP = "[Kernel] Debugger instance cleaned up";
inline constexpr const char *ERROR_IN_DEBUG_EXECUTION = "[Kernel] Error in debug execution: ";
inline constexpr const char *TRACEBACK_PREFIX = "[Kernel] Traceback: ";
inline constexpr const char *DEBUG_EXECUTION_ERROR = "[Kernel] Debug execution error: ";
inline constexpr const char *PARSED_ERROR_LOCATION = "[Kernel] Parsed error location: ";
inline constexpr const char *SENDING_DEBUG_EXCEPTION =
    "[Kernel] Sending debug_exception message...";
inline constexpr const char *DEBUG_EXCEPTION_SENT =
    "[Kernel] debug_exception message sent successfully";
inline constexpr const char *DEBUG_EXCEPTION_SEND_FAILED =
    "[Kernel] Failed to send debug_exception: ";
inline constexpr const char *NO_DEBUGGER_OR_LOOP =
    "[Kernel] Cannot send debug_exception - no debugger or loop";
inline constexpr const char *NO_DEBUGGER_CLASS =
    "The debugger (ZentrelDebugger of the debugger module) is not available in this kernel";
inline constexpr const char *DEBUG_SESSION_ENDED =
    "[Kernel] Debug session ended with the kernel: the debugged call was stopped";

} // namespace text

namespace doc {

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

} // namespace doc

} // namespace zm::kernel::invocation
