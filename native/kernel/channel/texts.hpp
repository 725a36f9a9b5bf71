#pragma once
/// Fixed texts (log lines, errors, docstrings) of the synchronous request channel, the stream
/// sender, the object registry and the workbook controls, in one place.

namespace zm::kernel::channel {

namespace text {

// Synchronous request channel, worker side.
inline constexpr const char *WORKER_THREAD = "[Kernel] [Worker Thread ";
inline constexpr const char *SENDING = "] Sending sys_request: ";
inline constexpr const char *WAITING = "] Waiting for sys_response: ";
inline constexpr const char *RECEIVED = "] Received sys_response: ";
inline constexpr const char *TIMED_OUT = "] sys_request timeout: ";
inline constexpr const char *LOOP_THREAD_REFUSED =
    "send_sys_request must not be called from the async event loop thread to avoid deadlock";
inline constexpr const char *DATA_MISSING = "sys_response data missing for request_id: ";
inline constexpr const char *KERNEL_PREFIX = "[Kernel] ";
inline constexpr const char *TIMEOUT_AFTER = "sys_request timeout after ";
inline constexpr const char *SECONDS_SEP = "s: ";
inline constexpr const char *SYS_REQUEST = "sys_request";
inline constexpr const char *KIND_REQUEST = "request";
inline constexpr const char *UNDECODABLE_RESPONSE = "sys_response could not be decoded: ";
inline constexpr const char *WAITER_FAILED =
    "[Kernel] [Listener Thread] Woke worker with an error for request_id: ";
inline constexpr const char *COLON_SEP = ": ";

// Releases (requests sent without waiting).
inline constexpr const char *RELEASE_FAILED = "[Kernel] Could not send proxy releases: ";

// Stream sender.
inline constexpr const char *STREAMING_ERROR = " streaming error: ";

// Object registry and workbook controls.
inline constexpr const char *EMPTY_KEY = "ObjectKeeper key must be a non-empty string";
inline constexpr const char *SAVED_OBJECT = "[Kernel] Saved object: ";
inline constexpr const char *TYPE_OPEN = " (type: ";
inline constexpr const char *CLOSE_PAREN = ")";
inline constexpr const char *CLEARED_OBJECT = "[Kernel] Cleared object: ";
inline constexpr const char *CLEARED_ALL = "[Kernel] Cleared all objects";
inline constexpr const char *SET_ENABLE_EVENTS = "[Kernel] Set enable_events: ";
inline constexpr const char *MESSAGE_BOX_TITLE = "[Kernel] Requested message box: title='";
inline constexpr const char *MESSAGE_BOX_TYPE = "', type='";
inline constexpr const char *QUOTE = "'";
inline constexpr const char *NOTIFY_FAILED = "[Kernel] Could not hand ";
inline constexpr const char *NOTIFY_FAILED_TO_LOOP = " to the event loop: ";
inline constexpr const char *REPR_FAILED_OPEN = "<";
inline constexpr const char *REPR_FAILED_MIDDLE = " object (repr failed: ";
inline constexpr const char *REPR_FAILED_CLOSE = ")>";
inline constexpr const char *DEFAULT_TITLE = "Zentrel";
inline constexpr const char *DEFAULT_MSG_TYPE = "Info";

} // namespace text

namespace doc {

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
inline constexpr const char *SEND_STREAM_MESSAGE =
    "Send text written to the process's standard output or error to the Business Layer; never "
    "raises.";

} // namespace doc

} // namespace zm::kernel::channel
