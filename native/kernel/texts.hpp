#pragma once
/// Every message, log line, error text, name and docstring of the kernel module, whole: a text
/// with parts that vary is one template with "{}" holes, filled by `zm::format`
/// (common/text_format.hpp), so that grep finds each text as it is written out.
/// No pybind11 here.

namespace zm::kernel::texts {

// Names.

/// The kernel module's import name: its logger, and the frames cut from user tracebacks.
inline constexpr const char *KERNEL_MODULE_NAME = "zentrel_master.python_server.kernel";
/// The user package as the kernel imports it, the start of its submodules' names, and the name
/// user code imports it by.
inline constexpr const char *USER_PACKAGE_MODULE = "zentrel_master.python_server.zentrel";
inline constexpr const char *USER_SUBMODULE_PREFIX = "zentrel_master.python_server.zentrel.";
inline constexpr const char *USER_PACKAGE_NAME = "zentrel";
inline constexpr const char *USER_SUBMODULE = "zentrel.{}";
/// File name of an evaluated console expression.
inline constexpr const char *EVAL_FILENAME = "<kernel>";
/// File name of executed console statements (the interpreter's default for executed strings).
inline constexpr const char *EXEC_FILENAME = "<string>";
/// Virtual file name of an in-memory module.
inline constexpr const char *VIRTUAL_FILE = "<virtual:{}>";
/// Thread name prefix of the editor's worker.
inline constexpr const char *EDITOR_THREAD = "editor";
/// Wire values of the message types and fields the kernel writes itself.
inline constexpr const char *BATCH_TYPE = "batch";
inline constexpr const char *SYS_REQUEST = "sys_request";
inline constexpr const char *KIND_REQUEST = "request";
/// Defaults of `show_message_box`.
inline constexpr const char *DEFAULT_TITLE = "Zentrel";
inline constexpr const char *DEFAULT_MSG_TYPE = "Info";

/// A problem named after what it belongs to: "<message type>: <problem>",
/// "<exception type>: <exception text>".
inline constexpr const char *PROBLEM_OF = "{}: {}";

// Connection, listener and incoming messages.

inline constexpr const char *MESSAGE_TOO_LARGE = "Message too large";
inline constexpr const char *INVALID_JSON = "Invalid JSON received";
inline constexpr const char *NOT_AN_OBJECT = "Invalid message: expected a JSON object";
inline constexpr const char *LOADER_REGISTERED =
    "[Kernel] Registered InMemoryModuleLoader in sys.meta_path";
inline constexpr const char *KERNEL_CONNECTED = "Kernel connected for workbook: {}";
inline constexpr const char *KERNEL_ERROR = "Kernel error: {}";
inline constexpr const char *KERNEL_DISCONNECTED = "Kernel disconnected for workbook: {}";
inline constexpr const char *MESSAGE_TOO_LARGE_LOG = "Message too large: {} bytes";
inline constexpr const char *NOT_AN_OBJECT_LOG =
    "[Kernel] Dropped message that is not a JSON object: {}";
inline constexpr const char *MESSAGE_FAILED = "[Kernel] Failed to handle message type {}: {}";
inline constexpr const char *CONNECTION_CLOSED = "[Kernel] Connection closed: {}";
inline constexpr const char *MESSAGE_RECEIVED = "[TIMING] Message received: type={}, request_id={}";
inline constexpr const char *RECEIVED_TYPE = "[Kernel] [Listener Thread] Received message type: {}";

// Send path and output.

inline constexpr const char *ACQUIRING_LOCK =
    "[TIMING] Acquiring socket lock for: type={}, request_id={}";
inline constexpr const char *LOCK_WAITED = "[TIMING] Socket lock waited {}ms for: type={}";
inline constexpr const char *MESSAGE_SENT = "[TIMING] Message sent: type={}, request_id={}";
inline constexpr const char *CANNOT_SEND_NOT_CONNECTED =
    "[Kernel] Cannot send message type '{}': WebSocket not connected";
inline constexpr const char *CANNOT_SEND_NO_LOCK =
    "[Kernel] Cannot send message type '{}': Socket lock not initialized";
inline constexpr const char *CHUNKING =
    "[Kernel] Chunking large message: type={}, size={}, chunks={}";
inline constexpr const char *CHUNKS_SENT =
    "[Kernel] Sent {} chunks for message: type={}, chunk_id={}";
inline constexpr const char *SEND_FAILED =
    "[Kernel] Could not send message type '{}' (request_id={}), dropped: {}";
inline constexpr const char *STREAMING_ERROR = "[Kernel] {} streaming error: {}";
inline constexpr const char *BATCHER_FLUSH_FAILED = "[Kernel] Batcher flush failed: {}";

// Incoming chunk series.

inline constexpr const char *CHUNK_MISSING_FIELDS =
    "[Kernel] Invalid chunk message: missing required fields";
inline constexpr const char *CHUNK_ID_NOT_TEXT =
    "[Kernel] Invalid chunk message: chunk_id must be text";
inline constexpr const char *CHUNK_NOT_INTEGERS =
    "[Kernel] Invalid chunk message: chunk_index and total_chunks must be integers";
inline constexpr const char *INVALID_CHUNK_INDEX =
    "[Kernel] Invalid chunk_index {} for total_chunks {}";
inline constexpr const char *INCOMPLETE_BUFFER = "[Kernel] Incomplete chunk buffer for chunk_id {}";
inline constexpr const char *REASSEMBLY_PARSE_FAILED =
    "[Kernel] Failed to parse reassembled message: {}";
inline constexpr const char *REASSEMBLED_NOT_OBJECT =
    "[Kernel] Reassembled message is not a JSON object for chunk_id {}, dropping it";
inline constexpr const char *NESTED_CHUNK =
    "[Kernel] Nested chunk message detected for chunk_id {}, rejecting";
inline constexpr const char *CHUNK_SERIES_TOO_LONG =
    "[Kernel] Chunk series too long: total_chunks {} exceeds the limit of {}";
inline constexpr const char *CHUNK_SERIES_TOO_LARGE =
    "[Kernel] Chunk series too large for chunk_id {} exceeds the limit of {} characters, "
    "dropping it";
inline constexpr const char *CHUNK_TOTAL_MISMATCH =
    "[Kernel] Chunk total_chunks {} differs from the series' {} for chunk_id {}, dropping the "
    "series";
inline constexpr const char *CHUNK_DATA_NOT_TEXT =
    "[Kernel] Chunk data must be text or null for chunk_id {} (got {}), dropping the series";
inline constexpr const char *TOO_MANY_SERIES_REFUSED =
    "[Kernel] Too many open chunk series ({}), refusing the new chunk_id {}";
inline constexpr const char *TOO_MANY_SERIES_DROPPED_IDLE =
    "[Kernel] Too many open chunk series ({}), dropping the idle chunk_id {}";
inline constexpr const char *CHUNK_BUFFERS_FULL =
    "[Kernel] Open chunk series would hold more than {} characters, dropping chunk_id {}";
inline constexpr const char *CHUNK_OF_DROPPED_SERIES =
    "[Kernel] Ignored chunk of dropped chunk_id {}";
inline constexpr const char *SERIES_DROPPED = "Chunk series of {} (request_id {}) dropped: {}";

// Synchronous requests from worker threads, and proxy releases.

inline constexpr const char *SENDING_SYS_REQUEST =
    "[Kernel] [Worker Thread {}] Sending sys_request: {}";
inline constexpr const char *WAITING_SYS_RESPONSE =
    "[Kernel] [Worker Thread {}] Waiting for sys_response: {}";
inline constexpr const char *RECEIVED_SYS_RESPONSE =
    "[Kernel] [Worker Thread {}] Received sys_response: {}";
inline constexpr const char *SYS_REQUEST_TIMED_OUT =
    "[Kernel] [Worker Thread {}] sys_request timeout: {}";
inline constexpr const char *LOOP_THREAD_REFUSED =
    "send_sys_request must not be called from the async event loop thread to avoid deadlock";
inline constexpr const char *DATA_MISSING = "sys_response data missing for request_id: {}";
inline constexpr const char *DATA_MISSING_LOG =
    "[Kernel] sys_response data missing for request_id: {}";
inline constexpr const char *TIMEOUT_AFTER = "sys_request timeout after {}s: {}";
inline constexpr const char *TIMEOUT_TOO_LARGE = "timeout value is too large";
inline constexpr const char *UNDECODABLE_RESPONSE = "sys_response could not be decoded: {}";
inline constexpr const char *WAITER_FAILED =
    "[Kernel] [Listener Thread] Woke worker with an error for request_id: {}: {}";
inline constexpr const char *RELEASE_FAILED = "[Kernel] Could not send proxy releases: {}";
// The loop's poll refuses what select.epoll.poll refuses, in its words.
inline constexpr const char *POLL_TIMEOUT_TOO_LARGE = "timeout is too large";
inline constexpr const char *POLL_TIMEOUT_NAN = "Invalid value NaN (not a number)";
inline constexpr const char *POLL_MAXEVENTS = "maxevents must be greater than 0, got {}";

// Object registry and workbook controls.

inline constexpr const char *EMPTY_KEY = "ObjectKeeper key must be a non-empty string";
inline constexpr const char *SAVED_OBJECT = "[Kernel] Saved object: {} (type: {})";
inline constexpr const char *CLEARED_OBJECT = "[Kernel] Cleared object: {}";
inline constexpr const char *CLEARED_ALL = "[Kernel] Cleared all objects";
inline constexpr const char *SET_ENABLE_EVENTS = "[Kernel] Set enable_events: {}";
inline constexpr const char *MESSAGE_BOX_REQUESTED =
    "[Kernel] Requested message box: title='{}', type='{}'";
inline constexpr const char *NOTIFY_FAILED = "[Kernel] Could not hand {} to the event loop: {}";
inline constexpr const char *REPR_FAILED = "<{} object (repr failed: {})>";

// Message dispatch.

inline constexpr const char *RECEIVED_EXECUTION_REQUEST =
    "[Kernel] [Listener Thread] Received execution_request (source={}, request_id={})";
inline constexpr const char *CODE_LENGTH = "[Kernel] Code length: {} chars";
inline constexpr const char *DISPATCHING = "[Kernel] [Listener Thread] Dispatching {} to worker";
inline constexpr const char *DISPATCHING_STREAMING_TIMING =
    "[TIMING] Dispatching streaming function to background task";
inline constexpr const char *DISPATCHING_STREAMING =
    "[Kernel] [Listener Thread] Dispatching execute_streaming_function to background task";
inline constexpr const char *CANCEL_STREAMING =
    "[Kernel] Received cancel_streaming_function for request_id: {}";
inline constexpr const char *BREAKPOINTS_NO_DEBUGGER =
    "[Kernel] Received debug_update_breakpoints but no active debugger";
inline constexpr const char *BREAKPOINTS_UPDATED =
    "[Kernel] Updated breakpoints during debug session: {} breakpoints";
inline constexpr const char *BREAKPOINTS_INVALID = "[Kernel] Invalid breakpoints data type: {}";
inline constexpr const char *NO_DEBUG_SESSION = "No active debug session";
inline constexpr const char *OBJECT_REGISTRY_REQUEST =
    "[Kernel] Received get_object_registry request";
inline constexpr const char *SET_HOVER_MODE = "[Kernel] Received set_hover_mode: {}";
inline constexpr const char *NO_CODE_INSIGHT_HOVER =
    "[Kernel] Code Insight not available for hover mode change";
inline constexpr const char *SYS_RESPONSE_RECEIVED =
    "[Kernel] [Listener Thread] Received sys_response for request_id: {}, unblocking worker";
inline constexpr const char *SYS_RESPONSE_NO_ID =
    "[Kernel] Received sys_response without requestId";
inline constexpr const char *WORKER_UNBLOCKED =
    "[Kernel] [Listener Thread] Worker unblocked for request_id: {}";
inline constexpr const char *SYS_RESPONSE_UNKNOWN =
    "[Kernel] Received sys_response for unknown request_id: {}";
/// Rejected input and failed inline handlers (the kernel keeps serving).
inline constexpr const char *REJECTED = "[Kernel] Rejected {}: {}";
inline constexpr const char *HANDLER_FAILED = "[Kernel] Error handling {}: {}";
inline constexpr const char *NOT_AVAILABLE = "{} is not available in this kernel";
inline constexpr const char *BACKGROUND_ENDED = "[Kernel] Background task for {} ended with {}";

/// A field of the wrong type, named in an "error" reply: "field '<key>' must be <kind>, got
/// <type>", with one of the kinds below.
inline constexpr const char *FIELD_MUST_BE = "field '{}' must be {}, got {}";
inline constexpr const char *KIND_TEXT = "text";
inline constexpr const char *KIND_TEXT_OR_NULL = "text or null";
inline constexpr const char *KIND_LIST_OF_TEXT = "a list of text";
inline constexpr const char *KIND_OBJECT = "an object";
/// What a list of text held instead.
inline constexpr const char *LIST_HOLDING = "a list holding {}";

// Console execution requests.

inline constexpr const char *EXECUTION_STARTED =
    "[TIMING] Execution started: request_id={}, function={}";
inline constexpr const char *SUBMITTING =
    "[Kernel] [Async Task] Submitting execution to worker thread pool (request_id={})";
inline constexpr const char *EXECUTION_COMPLETED =
    "[TIMING] Execution completed: request_id={}, elapsed={}ms";
inline constexpr const char *EXECUTION_FINISHED =
    "[Kernel] [Async Task] Execution finished, success={} (request_id={})";
inline constexpr const char *SENDING_RESULT =
    "[Kernel] Sending execution_result (success) for request_id={}";
inline constexpr const char *SENDING_ERROR =
    "[Kernel] Sending execution_error for request_id={}: {}";
inline constexpr const char *EXECUTION_FAILED =
    "[TIMING] Execution failed: request_id={}, elapsed={}ms, error={}";
inline constexpr const char *UNEXPECTED_ERROR =
    "[Kernel] Unexpected error in _execute_code_async: {}";
inline constexpr const char *SEND_ERROR_FAILED = "[Kernel] Failed to send error message: {}";
inline constexpr const char *EXECUTING_CODE =
    "[Kernel] [Worker Thread {}] Executing code (request_id={})";
inline constexpr const char *EXECUTION_DONE =
    "[Kernel] [Worker Thread {}] Execution completed (request_id={})";
/// The console's display of a result.
inline constexpr const char *RESULT_OUTPUT = "Out: {}\n";

// Search paths and module sync.

inline constexpr const char *REMOVED_OLD_PATH = "Removed old path from sys.path: {}";
inline constexpr const char *ADDED_NEW_PATH = "Added new path to sys.path: {}";
inline constexpr const char *PACKAGE_PATHS_UPDATED =
    "Package paths updated: {} paths added, {} modules unloaded";
inline constexpr const char *REMOVED_OLD_PYTHON_PATH = "Removed old python path from sys.path: {}";
inline constexpr const char *ADDED_NEW_PYTHON_PATH = "Added new python path to sys.path: {}";
inline constexpr const char *PYTHON_PATHS_UPDATED = "Python paths updated: {} paths added";
inline constexpr const char *REMOVED_PATH = "Removed path from sys.path: {}";
inline constexpr const char *MODULES_UNLOADED = "Modules unloaded: {}, paths cleared: {}";
inline constexpr const char *UPDATE_WITHOUT_NAME =
    "[Kernel] Received update_module without module_name";
inline constexpr const char *UPDATE_REQUIRES_NAME = "update_module requires module_name";
inline constexpr const char *UPDATED_MODULE = "[Kernel] Updated virtual module: {}";
inline constexpr const char *DELETE_WITHOUT_NAME =
    "[Kernel] Received delete_module without module_name";
inline constexpr const char *DELETE_REQUIRES_NAME = "delete_module requires module_name";
inline constexpr const char *DELETED_MODULE = "[Kernel] Deleted virtual module: {}";

// Editor requests.

inline constexpr const char *COMPLETION_REQUEST =
    "[LSP] Request received: line={}, column={}, path={}, code_length={}, dirty_files={}";
inline constexpr const char *SIGNATURE_REQUEST =
    "[LSP] Signature help request: line={}, column={}, path={}, code_length={}";
inline constexpr const char *HOVER_REQUEST =
    "[LSP] Hover request: line={}, column={}, path={}, code_length={}";
inline constexpr const char *DIAGNOSTIC_REQUEST =
    "[LSP] Diagnostic request: code_length={}, module={}";
inline constexpr const char *COMPLETION_RESPONSE = "[LSP] Response: {} completions, error={}";
inline constexpr const char *SIGNATURE_RESPONSE =
    "[LSP] Signature help response: {} signatures, error={}";
inline constexpr const char *HOVER_RESPONSE = "[LSP] Hover response: has_contents={}, error={}";
inline constexpr const char *DIAGNOSTIC_RESPONSE =
    "[LSP] Diagnostic response: {} diagnostics, error={}";
/// Requests answered without an analysis.
inline constexpr const char *REFUSED = "[LSP] Refused {}: {}";
inline constexpr const char *NO_CODE_INSIGHT = "Code Insight not available";
inline constexpr const char *CODE_TOO_LARGE =
    "code is too large to analyse ({} characters; the limit is {})";
inline constexpr const char *DIRTY_FILE_TOO_LARGE =
    "unsaved module text is too large to analyse ({} characters; the limit is {})";
inline constexpr const char *MODULE_TOO_LARGE =
    "source too large to analyse ({} characters; the limit is {})";
inline constexpr const char *MODULE_NOT_ANALYSED = "[LSP] Module left out of the analysis: {}: {}";
inline constexpr const char *DIRTY_FILES_NOT_MAP =
    "dirty_files must be an object mapping module names to source text";
inline constexpr const char *MODULE_NAME_NOT_TEXT = "module_name must be a string or null";
inline constexpr const char *ANALYSIS_FAILED = "[LSP] Analysis failed for {}: {}";
inline constexpr const char *EDITOR_JOB_FAILED = "[LSP] Editor job failed: {}";
inline constexpr const char *EDITOR_REPLY_FAILED = "[LSP] Could not send an editor reply: {}";

// Console code execution, in-memory modules and the stream hooks.

inline constexpr const char *NO_SOURCE = "No source code found for module '{}'";
inline constexpr const char *LOADER_EXEC_ERROR =
    "[InMemoryModuleLoader] Error executing module '{}': {}";
inline constexpr const char *LOADER_FORCE_RELOAD =
    "[InMemoryModuleLoader] Removed '{}' from sys.modules to force reload";
inline constexpr const char *LOADER_REMOVED_FROM_SOURCE_CACHE =
    "[InMemoryModuleLoader] Removed '{}' from source_cache";
inline constexpr const char *LOADER_REMOVED_FROM_SYS_MODULES =
    "[InMemoryModuleLoader] Removed '{}' from sys.modules";
inline constexpr const char *LOADER_REMOVED_FROM_LINECACHE =
    "[InMemoryModuleLoader] Removed '{}' from linecache";
inline constexpr const char *UNLOADED_MODULE = "Unloaded module: {}";
inline constexpr const char *KEPT_STARTUP_MODULE =
    "[Kernel] Kept loaded (the kernel runs on it): {}";
inline constexpr const char *HOOK_ERROR = "[KernelStreamHook Error] {}\n";

// Runs of user code: console execution, custom function calls, registered callable calls, event
// handlers, streaming functions, module runs and debug runs.

// Shared by the runs.
inline constexpr const char *UNKNOWN_ERROR = "Unknown error";
inline constexpr const char *VALIDATION_ERROR = "ValidationError";
inline constexpr const char *MISSING_MODULE_NAME = "Missing module_name";
inline constexpr const char *MISSING_FUNCTION_NAME = "Missing function_name";
inline constexpr const char *FUNCTION_NOT_IN_MODULE = "Function '{}' not found in module '{}'";
inline constexpr const char *EXPECTED_LIST_OR_NULL = "a list or null";
inline constexpr const char *EXPECTED_BOOL_OR_NULL = "true, false or null";

// Console execution requests.

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
inline constexpr const char *CALLABLE_EXECUTING =
    "[Kernel] [Worker Thread {}] Executing callable: {}";
inline constexpr const char *MISSING_CALLABLE_ID = "Missing callable_id";
inline constexpr const char *CALLABLE_NOT_FOUND = "Callable '{}' not found in registry";
inline constexpr const char *NOT_CALLABLE = "Object with id '{}' is not callable";
inline constexpr const char *CALLABLE_LOGS = "[Kernel] Callable logs:\n{}";
inline constexpr const char *CALLABLE_SUCCEEDED =
    "[Kernel] Python function call succeeded: callable_id={}";
inline constexpr const char *CALLABLE_FAILED =
    "[Kernel] Python function call failed: callable_id={}";
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
inline constexpr const char *STREAM_NOT_IN_CACHE =
    "[Kernel] Module '{}' not in cache, requesting sync";
inline constexpr const char *STREAM_FAILED =
    "[TIMING] Streaming failed: request_id={}, elapsed={}ms, error={}";
inline constexpr const char *STREAM_SYNC_FAILED = "Module not found after sync";
inline constexpr const char *STREAM_NOT_FOUND_AFTER_SYNC_LOG =
    "[Kernel] Module '{}' not found after sync attempt";
inline constexpr const char *STREAM_NOT_FOUND_AFTER_SYNC =
    "Module '{}' not found after sync attempt";
inline constexpr const char *STREAM_CANCELED_LOG =
    "[TIMING] Streaming canceled: request_id={}, elapsed={}ms";
inline constexpr const char *STREAM_COMPLETED =
    "[TIMING] Streaming completed: request_id={}, elapsed={}ms, results={}";
inline constexpr const char *STREAM_EXCEPTION =
    "[TIMING] Streaming exception: request_id={}, elapsed={}ms, error={}";
inline constexpr const char *STREAM_WORKER_STARTED =
    "[TIMING] Streaming worker started: thread={}, request_id={}";
inline constexpr const char *STREAM_MODULE_MISSING_LOG =
    "[Kernel] Module not found in sys.modules: {}";
inline constexpr const char *STREAM_SAMPLE_MODULES = "[Kernel] Sample of available modules: {}";
inline constexpr const char *STREAM_CACHE_KEYS = "[Kernel] in_memory_loader.source_cache keys: {}";
inline constexpr const char *STREAM_MODULE_MISSING = "Module not found: {}";
inline constexpr const char *STREAM_FOUND_MODULE = "[Kernel] Found module in sys.modules: {}";
inline constexpr const char *STREAM_FUNCTION_MISSING_LOG =
    "[Kernel] Function not found in module: {}";
inline constexpr const char *STREAM_AVAILABLE_FUNCTIONS =
    "[Kernel] Available functions in module: {}";
inline constexpr const char *STREAM_FUNCTION_MISSING = "Function not found: {}";
inline constexpr const char *STREAM_FOUND_FUNCTION = "[Kernel] Found function: {}";
inline constexpr const char *NOT_A_GENERATOR_LOG =
    "[Kernel] Function {} is not a generator function";
inline constexpr const char *NOT_A_GENERATOR = "Function {} is not a generator function";
inline constexpr const char *STREAM_STARTING =
    "[Kernel] Starting to stream results from generator: {}";
inline constexpr const char *STREAM_ERROR = "[TIMING] Streaming error: request_id={}, error={}";

} // namespace zm::kernel::texts

/// Docstrings of the Python-visible classes and functions that are not written at their
/// binding.
namespace zm::kernel::texts::doc {

// Object registry, workbook controls and the request channel.

inline constexpr const char *SAVE_OBJECT =
    "Store an object in the ObjectKeeper and notify IDE.\n\n"
    "Threading Note: This method is thread-safe due to _object_keeper_lock.\n"
    "Can be called from any thread (worker or listener).";
inline constexpr const char *GET_OBJECT =
    "Retrieve an object from the ObjectKeeper.\n\n"
    "Threading Note: This method is thread-safe due to _object_keeper_lock.\n"
    "Can be called from any thread (worker or listener).";
inline constexpr const char *CLEAR_OBJECT =
    "Remove an object from the ObjectKeeper and notify IDE.\n\n"
    "Threading Note: This method is thread-safe due to _object_keeper_lock.\n"
    "Can be called from any thread (worker or listener).";
inline constexpr const char *CLEAR_ALL_OBJECTS =
    "Clear all objects from the ObjectKeeper and notify IDE.\n\n"
    "Threading Note: This method is thread-safe due to _object_keeper_lock.\n"
    "Can be called from any thread (worker or listener).";
inline constexpr const char *GET_OBJECT_REGISTRY =
    "Get the full object registry.\n\n"
    "Threading Note: This method is thread-safe due to _object_keeper_lock.\n"
    "Can be called from any thread (worker or listener).";
inline constexpr const char *SET_ENABLE_EVENTS =
    "Enable or disable event handling in the Excel add-in.\n\n"
    "Threading Note: This method is thread-safe due to _loop usage.\n"
    "Can be called from any thread (worker or listener).";
inline constexpr const char *SHOW_MESSAGE_BOX =
    "Show a message box in the Excel add-in UI.\n\n"
    "type is one of 'Info', 'Warning' or 'Error'.\n\n"
    "Threading Note: This method is thread-safe due to _loop usage.\n"
    "Can be called from any thread (worker or listener).";
inline constexpr const char *NEW_SEND_REQUEST_SYNC =
    "Send `req` to the add-in as a sys_request and wait for its sys_response (at most `timeout` "
    "seconds); returns the response dict. Not callable on the event-loop thread.";
inline constexpr const char *NEW_SEND_REQUEST_NOWAIT =
    "Send `req` to the add-in as a sys_request without waiting for its answer (proxy releases); "
    "callable from any thread.";
inline constexpr const char *RELEASE_WAITER_SET =
    "Take a release's answer off the waiter tables (nobody waits for it).";
inline constexpr const char *RESPONSE_WAITER_SET = "Wake the worker waiting for this sys_response.";
inline constexpr const char *RESPONSE_WAITER_IS_SET = "True once the waiting worker was woken.";
inline constexpr const char *RESPONSE_WAITER_CLEAR = "Unset the flag, as threading.Event.clear.";
inline constexpr const char *RESPONSE_WAITER_WAIT =
    "Block until set or timeout seconds have passed; True when set (threading.Event.wait).";
inline constexpr const char *POLL_RELEASING =
    "As select.epoll.poll(timeout, maxevents) on the epoll descriptor epfd, for the kernel's "
    "event loop: what the loop handed to other threads during its turn is handed over once it has "
    "released the interpreter lock.";
inline constexpr const char *HOLD_UNTIL_RELEASE =
    "Hold the hand-overs to other threads (sys_response waiters) made on this thread until its "
    "loop polls through _poll_releasing (True), or stop and hand over what is held (False). "
    "Given the loop, workers wake it through that poll, after they let go of the interpreter "
    "lock, until it stops.";
inline constexpr const char *SEND_STREAM_MESSAGE =
    "Send text written to the process's standard output or error to the Business Layer; never "
    "raises.";

// Message dispatch.

inline constexpr const char *EXECUTE_CODE_ASYNC =
    "Execute code in a worker thread.\n\n"
    "Runs as an async task so that the listener keeps processing messages while the code is in "
    "progress.";

// Code execution.

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

} // namespace zm::kernel::texts::doc
