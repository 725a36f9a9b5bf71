#pragma once
/// Every text of the module in one place: docstrings, error messages, argument names. Texts with
/// "{}" holes are whole templates filled by `zm::format`.

namespace zm::office_proxy::texts {

inline constexpr const char *MODULE_NAME = "zentrel_master.python_server.zentrel.office_proxy";

inline constexpr const char *MODULE_DOC =
    "Office.js object bridge: wire serializer, synchronous messaging and Office.js object "
    "proxies.\n\n"
    "Excel: Root proxy object (ID 1).\n"
    "Context: Context proxy object (ID 0).";

// Serializer
inline constexpr const char *SERIALIZER_DOC =
    "Handles marshaling of data types between Python and JavaScript.";
inline constexpr const char *TO_WIRE_DOC =
    "Serialize a Python value to wire format for transmission.\n\n"
    "Handles None, bool, int, float, str, datetime, bytes, list, dict and OfficeJsObject "
    "wrappers; pandas Series and DataFrames travel as an array of rows, header first; other "
    "callables are registered with messaging and sent by reference; anything else as its text.";
inline constexpr const char *FROM_WIRE_DOC =
    "Deserialize a wire format value back to Python.\n\n"
    "Handles the plain kinds Null, Bool, Int, Float, String, Date, Bytes, Array and Dict, and "
    "special object references (returned as OfficeJsObject proxies).";
/// What the interpreter appends to "maximum recursion depth exceeded" for too deep a value.
inline constexpr const char *RECURSION_WHERE = " while converting a wire value";
inline constexpr const char *DICT_CHANGED = "dictionary changed size during iteration";
inline constexpr const char *NOT_A_PAIR = "expected a key and a value, got {} items";
inline constexpr const char *NAME_NOT_DEFINED = "name '{}' is not defined";

// Messaging
inline constexpr const char *MESSAGING_DOC =
    "Handles messaging for the Python-Excel bridge.\n\n"
    "This class does NOT start a WebSocket server. The host registers a send handler (or "
    "replaces send_request_sync) and delivers responses through on_message.\n\n"
    "Threading model: waiters is guarded by _waiters_lock, the callable registry by "
    "_callable_lock; send_request_sync blocks the calling worker thread, never the thread that "
    "delivers responses.";
inline constexpr const char *SET_SEND_HANDLER_DOC =
    "Register a callback used to send messages to the add-in.";
inline constexpr const char *SEND_REQUEST_SYNC_DOC =
    "Send a request to the add-in and block until its response arrives or timeout seconds pass.";
inline constexpr const char *SEND_REQUEST_NOWAIT_DOC =
    "Send a request to the add-in without waiting for its response (used for releases, whose "
    "answer nobody reads).";
inline constexpr const char *ON_MESSAGE_DOC =
    "Deliver one response from the add-in. It resolves the pending future for the corresponding "
    "request.";
inline constexpr const char *RESET_DOC =
    "Reset the messaging state (e.g., when the connection is closed).";
inline constexpr const char *REGISTER_CALLABLE_DOC =
    "Register a callable that the add-in may invoke later.\n\n"
    "Returns: String ID that can be used to invoke the callable from Excel";
inline constexpr const char *GET_CALLABLE_DOC =
    "The callable registered under callable_id, or None if the id is unknown.";
inline constexpr const char *UNREGISTER_CALLABLE_DOC =
    "Remove callable_id from the registry; unknown ids are ignored.";
inline constexpr const char *MESSAGING_INIT_DOC = "Create an empty messaging context.";

inline constexpr const char *NO_SEND_HANDLER = "No send handler registered";
inline constexpr const char *TIMED_OUT = "Timed out waiting for Office.js response";
inline constexpr const char *REMOTE_ERROR = "Remote error";
inline constexpr const char *NOT_CALLABLE = "Object must be callable, got {}";
/// A registered callable's id: the first 8 characters of the context's guid and a counter.
inline constexpr const char *CALLABLE_ID = "pyfunc_{}_{}";
inline constexpr const char *KIND_REQUEST = "request";

// Proxies
inline constexpr const char *OBJECT_DOC =
    "Dynamic proxy class for Office.js objects.\n\n"
    "__getattr__, __setattr__, __call__ and __getitem__ are proxied to the add-in.";
inline constexpr const char *ARRAY_DOC = "Specialized proxy for arrays returned from Office.js.";
inline constexpr const char *DICT_DOC =
    "Specialized proxy for dictionaries returned from Office.js.";
inline constexpr const char *CW_GETATTR_DOC = "Read an attribute of a proxy from the add-in.";
inline constexpr const char *CW_GETITEM_DOC = "Read an item of a proxy from the add-in.";
inline constexpr const char *CW_SETATTR_DOC = "Assign an attribute of a proxy in the add-in.";
inline constexpr const char *CW_CALL_DOC = "Call a Function-typed proxy in the add-in.";
inline constexpr const char *CW_DEL_DOC =
    "Release a proxy's object in the add-in (errors ignored).";

inline constexpr const char *STALE = "Excel Object used after messaging context was stopped";
inline constexpr const char *GET_FAILED = "GET failed for {}";
inline constexpr const char *GETITEM_FAILED = "GET ITEM failed for {}";
inline constexpr const char *SET_FAILED = "SET failed for {}";
inline constexpr const char *CALL_FAILED = "CALL failed";
inline constexpr const char *BAD_INDEX = "Index must be an integer or a slice";
inline constexpr const char *NOT_FUNCTION = "Only Function-typed SpecialObjects are callable";
inline constexpr const char *ARRAY_SETATTR = "Cannot set attributes on OfficeJsArray";
inline constexpr const char *DICT_SETATTR = "Cannot set attributes on OfficeJsDict";
inline constexpr const char *FUNCTION_TYPE = "Function";
/// The item key of a slice: start, stop and step, each empty when None.
inline constexpr const char *SLICE_KEY = "{}:{}:{}";
inline constexpr const char *OBJECT_REPR = "<OfficeJsObject {} id={}>";
inline constexpr const char *ARRAY_REPR = "<OfficeJsArray id={} len={}>";
inline constexpr const char *DICT_REPR = "<OfficeJsDict id={} keys={}>";

} // namespace zm::office_proxy::texts
