#pragma once
/// Fixed texts (messages, log lines, errors) of worksheet custom function calls and registered
/// callable calls, in one place.

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

} // namespace text

namespace doc {

inline constexpr const char *HANDLE_CUSTOM_FUNCTION_CALL =
    "Handle custom function call requests from the Business Layer.";
inline constexpr const char *HANDLE_PYTHON_FUNCTION_CALL =
    "Handle Python callable invocation from Excel.";
inline constexpr const char *DESERIALIZE_ARGS =
    "Convert arguments from wire format to Python objects (Serializer.from_wire of each, in "
    "order).";

} // namespace doc

} // namespace zm::kernel::invocation
