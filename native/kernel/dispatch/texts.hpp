#pragma once
/// Fixed texts (messages, log lines, errors) of message dispatch, execution requests and the
/// search-path and module-sync messages, in one place.

namespace zm::kernel::dispatch {

namespace text {

// Dispatcher rows.
inline constexpr const char *RECEIVED_EXECUTION_REQUEST =
    "[Kernel] [Listener Thread] Received execution_request (source=";
inline constexpr const char *REQUEST_ID_CLOSE = ", request_id=";
inline constexpr const char *CLOSE_PAREN = ")";
inline constexpr const char *CODE_LENGTH = "[Kernel] Code length: ";
inline constexpr const char *CHARS = " chars";
inline constexpr const char *DISPATCHING = "[Kernel] [Listener Thread] Dispatching ";
inline constexpr const char *TO_WORKER = " to worker";
inline constexpr const char *DISPATCHING_STREAMING_TIMING =
    "[TIMING] Dispatching streaming function to background task";
inline constexpr const char *DISPATCHING_STREAMING =
    "[Kernel] [Listener Thread] Dispatching execute_streaming_function to background task";
inline constexpr const char *CANCEL_STREAMING =
    "[Kernel] Received cancel_streaming_function for request_id: ";
inline constexpr const char *BREAKPOINTS_NO_DEBUGGER =
    "[Kernel] Received debug_update_breakpoints but no active debugger";
inline constexpr const char *BREAKPOINTS_UPDATED =
    "[Kernel] Updated breakpoints during debug session: ";
inline constexpr const char *BREAKPOINTS_SUFFIX = " breakpoints";
inline constexpr const char *BREAKPOINTS_INVALID = "[Kernel] Invalid breakpoints data type: ";
inline constexpr const char *NO_DEBUG_SESSION = "No active debug session";
inline constexpr const char *GET_OBJECT_REGISTRY = "[Kernel] Received get_object_registry request";
inline constexpr const char *SET_HOVER_MODE = "[Kernel] Received set_hover_mode: ";
inline constexpr const char *NO_CODE_INSIGHT_HOVER =
    "[Kernel] Code Insight not available for hover mode change";

// Synchronous request channel, listener side.
inline constexpr const char *SYS_RESPONSE_RECEIVED =
    "[Kernel] [Listener Thread] Received sys_response for request_id: ";
inline constexpr const char *UNBLOCKING_WORKER = ", unblocking worker";
inline constexpr const char *SYS_RESPONSE_NO_ID = "[Kernel] Received sys_response without requestId";
inline constexpr const char *WORKER_UNBLOCKED =
    "[Kernel] [Listener Thread] Worker unblocked for request_id: ";
inline constexpr const char *SYS_RESPONSE_UNKNOWN =
    "[Kernel] Received sys_response for unknown request_id: ";

// Rejected input and failed inline handlers (the kernel keeps serving).
inline constexpr const char *REJECTED = "[Kernel] Rejected ";
inline constexpr const char *HANDLER_FAILED = "[Kernel] Error handling ";
inline constexpr const char *COLON = ": ";
inline constexpr const char *NOT_AVAILABLE = " is not available in this kernel";
inline constexpr const char *BACKGROUND_ENDED = "[Kernel] Background task for ";
inline constexpr const char *ENDED_WITH = " ended with ";

// Execution requests.
inline constexpr const char *EXECUTION_STARTED = "[TIMING] Execution started: request_id=";
inline constexpr const char *FUNCTION_PART = ", function=";
inline constexpr const char *SUBMITTING =
    "[Kernel] [Async Task] Submitting execution to worker thread pool (request_id=";
inline constexpr const char *EXECUTION_COMPLETED = "[TIMING] Execution completed: request_id=";
inline constexpr const char *ELAPSED_PART = ", elapsed=";
inline constexpr const char *MS = "ms";
inline constexpr const char *EXECUTION_FINISHED = "[Kernel] [Async Task] Execution finished, success=";
inline constexpr const char *REQUEST_ID_PAREN = " (request_id=";
inline constexpr const char *SENDING_RESULT = "[Kernel] Sending execution_result (success) for request_id=";
inline constexpr const char *SENDING_ERROR = "[Kernel] Sending execution_error for request_id=";
inline constexpr const char *EXECUTION_FAILED = "[TIMING] Execution failed: request_id=";
inline constexpr const char *ERROR_PART = "ms, error=";
inline constexpr const char *UNEXPECTED_ERROR = "[Kernel] Unexpected error in _execute_code_async: ";
inline constexpr const char *SEND_ERROR_FAILED = "[Kernel] Failed to send error message: ";
inline constexpr const char *WORKER_THREAD = "[Kernel] [Worker Thread ";
inline constexpr const char *EXECUTING_CODE = "] Executing code (request_id=";
inline constexpr const char *EXECUTION_DONE = "] Execution completed (request_id=";
inline constexpr const char *STREAMING_ERROR = " streaming error: ";
inline constexpr const char *KERNEL_PREFIX = "[Kernel] ";
inline constexpr const char *OUT_PREFIX = "Out: ";

// Search paths and module sync.
inline constexpr const char *REMOVED_OLD_PATH = "Removed old path from sys.path: ";
inline constexpr const char *ADDED_NEW_PATH = "Added new path to sys.path: ";
inline constexpr const char *PACKAGE_PATHS_UPDATED = "Package paths updated: ";
inline constexpr const char *PATHS_ADDED = " paths added, ";
inline constexpr const char *MODULES_UNLOADED_SUFFIX = " modules unloaded";
inline constexpr const char *REMOVED_OLD_PYTHON_PATH = "Removed old python path from sys.path: ";
inline constexpr const char *ADDED_NEW_PYTHON_PATH = "Added new python path to sys.path: ";
inline constexpr const char *PYTHON_PATHS_UPDATED = "Python paths updated: ";
inline constexpr const char *PATHS_ADDED_ONLY = " paths added";
inline constexpr const char *REMOVED_PATH = "Removed path from sys.path: ";
inline constexpr const char *MODULES_UNLOADED = "Modules unloaded: ";
inline constexpr const char *PATHS_CLEARED = ", paths cleared: ";
inline constexpr const char *UPDATE_WITHOUT_NAME = "[Kernel] Received update_module without module_name";
inline constexpr const char *UPDATE_REQUIRES_NAME = "update_module requires module_name";
inline constexpr const char *UPDATED_MODULE = "[Kernel] Updated virtual module: ";
inline constexpr const char *DELETE_WITHOUT_NAME = "[Kernel] Received delete_module without module_name";
inline constexpr const char *DELETE_REQUIRES_NAME = "delete_module requires module_name";
inline constexpr const char *DELETED_MODULE = "[Kernel] Deleted virtual module: ";

// Field problems named in "error" replies.
inline constexpr const char *FIELD = "field '";
inline constexpr const char *MUST_BE = "' must be ";
inline constexpr const char *GOT = ", got ";
inline constexpr const char *TEXT = "text";
inline constexpr const char *TEXT_OR_NULL = "text or null";
inline constexpr const char *LIST_OF_TEXT = "a list of text";
inline constexpr const char *LIST = "a list";
inline constexpr const char *OBJECT = "an object";
inline constexpr const char *LIST_HOLDING = "a list holding ";

} // namespace text

namespace doc {
inline constexpr const char *EXECUTE_CODE_ASYNC =
    "Execute code in a worker thread.\n\n"
    "Runs as an async task so that the listener keeps processing messages while the code is in "
    "progress.";
inline constexpr const char *HANDLE_MESSAGE = "Handle one incoming message from the Business Layer.";
} // namespace doc

} // namespace zm::kernel::dispatch
