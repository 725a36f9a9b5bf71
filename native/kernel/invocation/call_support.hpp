#pragma once
/// The one skeleton of every run of user code (console execution, custom function calls,
/// callable calls, event handlers, streaming functions, module runs): reading the request's
/// fields, the worker on the kernel's pool with the run's output routed to captures of its own,
/// the value display, the reports, and the answer to a failure of the machinery.

#include "common/coroutine.hpp"
#include "common/text_format.hpp"

#include <functional>
#include <optional>
#include <string>

namespace zm::kernel::invocation {

/// Reads a request's fields with their defaults (the one reader: dispatch/message_fields). The
/// first field of the wrong type gives `problem`; each value is returned as it came, so that the
/// log and the refusal echo the fields as they were sent.
class FieldReader {
public:
    explicit FieldReader(py::handle message) : message_(message) {}

    /// message[key], else `fallback`; unchecked.
    py::object raw(const char *key, py::handle fallback) const;
    /// Text, or null with `allow_none` (absent: `fallback`).
    py::object text(const char *key, py::handle fallback, bool allow_none = false);
    /// A name: a false value (absent, null, "") is left for the caller to answer as missing; any
    /// other value must be text.
    py::object name(const char *key);
    /// A list; null or absent gives a new empty list.
    py::object list(const char *key);
    /// true or false; null or absent is false.
    bool flag(const char *key);

    /// "field 'x' must be ..., got ..." of the first field refused.
    std::optional<std::string> problem;

private:
    py::handle message_;
};

/// The request a run answers: its output messages echo these.
struct RunHead {
    py::object request_id, workbook_id, source;
};

/// The run's two output callbacks: each piece written becomes a "stdout" / "stderr" message.
struct RunOutput {
    py::object out, err;
};

/// The output callbacks of `head` (dispatch/run_output), sending from `loop`.
RunOutput run_output(py::handle self, py::handle loop, const RunHead &head);

/// What a worker runs with its thread's writes routed to `out` / `err` (StreamCaptures over the
/// run's callbacks); returns the run's record.
using CapturedBody = std::function<py::object(py::handle out, py::handle err)>;

/// The worker callable: `body`, with the calling thread's standard streams routed to two new
/// captures over `output` for its duration (other threads keep their own).
py::object captured(RunOutput output, CapturedBody body);

/// The awaitable of `worker()` on the kernel's thread pool.
py::object on_pool(py::handle self, py::handle loop, py::handle worker);

/// The usual run: `body` on the pool, captured, with the output callbacks of `head`.
py::object run_captured(py::handle self, py::handle loop, const RunHead &head, CapturedBody body);

/// The fields of one function call (a custom function's or a registered callable's), as read
/// from its message; a kind leaves the names it does not use None.
struct Call {
    py::object module_name, function_name, callable_id, args;
    RunHead head;
};

/// What differs between the kinds of function call; the skeleton (handle_call) is the same.
struct CallKind {
    /// Log templates, filled with the call's name (and the problem, for `refused`).
    Template<std::string> dispatching, succeeded, failed, unexpected, logs;
    Template<std::string, std::string> refused;
    /// Reads the fields and logs the receipt; `problem` is set when the call is refused.
    Call (*read)(py::handle message, std::optional<std::string> &problem);
    /// The call's name in the logs.
    std::string (*name)(const Call &call);
    /// What the worker runs: returns call_record(...).
    CapturedBody (*body)(const Call &call);
    /// The messages of a success (`display`: the value display's text, or None), of a failure
    /// of the user's code, and of a refusal or a failure of the machinery (an error record).
    py::object (*success)(const Call &call, py::handle display, py::handle result, py::handle logs);
    py::object (*failure)(const Call &call, py::handle error, py::handle logs);
    py::object (*refusal)(const Call &call, py::handle record);
};

/// The record a call's worker returns: {"status": "success", "result", "base_result", "logs"},
/// or, with `error` set, {"status": "error", "result": None, "logs", "error"}.
py::dict call_record(py::handle result, py::handle value, py::handle logs,
                     py::handle error = py::handle());

/// One function call from its message to its last report: fields read and checked (a refusal
/// is a "ValidationError" record), the body run on the pool, the outcome reported; anything but
/// the task's own cancellation is answered with the kind's refusal messages.
Coro handle_call(py::object self, py::object message, const CallKind *kind);

/// The current thread's name.
std::string thread_name();

/// The function `function_name` of the module `module_name`: the module is imported when it is
/// not loaded yet (through the in-memory loader for workbook modules), without binding any name
/// anywhere. ImportError `not_in_table` (a template naming the module) when the import leaves no
/// entry in sys.modules; AttributeError "Function '<f>' not found in module '<m>'" when it has no
/// such attribute.
py::object find_function(py::handle module_name, py::handle function_name,
                         Template<std::string> not_in_table);

/// Imports `module_name` through the normal import machinery (the in-memory loader included)
/// and returns sys.modules.get(module_name), or None when the import left no entry there.
py::object import_into_sys_modules(py::handle module_name);

/// True when `value` is a false value (absent, null, "").
bool is_empty(py::handle value);

/// Serializer.from_wire of each element of `args` (a list), in a new list.
py::list deserialize_args(py::handle args);

/// Serializer.to_wire(value).
py::object to_wire(py::handle value);

/// "Out: <shown>\n" for a value whose repr is `shown`, kept as Python text (a repr may hold
/// what UTF-8 cannot carry).
py::str value_display(py::handle shown);

/// The value display {"type": "result_output", "content", "request_id", "workbook_id",
/// "source"} of a run.
py::dict result_output(py::handle content, const RunHead &head);

/// The in-memory loader's source_cache (module name -> source text).
py::object source_cache();

/// The user package's messaging object.
py::object messaging();

/// Writes the formatted traceback of `exc` to `stream`, or, when `stream` is null, to the
/// thread's current sys.stderr (the run's capture while its output is routed), so that it is
/// also streamed. A failure to do so is dropped: the run's outcome does not depend on it.
void print_traceback(py::handle exc, py::handle stream = py::handle());

/// The stdout capture's text followed by the stderr capture's text.
py::str captured_text(py::handle out, py::handle err);

/// The formatted traceback of `exc`; if formatting fails, "<class name>: <text>".
py::str traceback_text(py::handle exc);

/// The class name of `exc`.
py::str class_name(py::handle exc);

/// A traceback-bearing exception of `type` with `message`, raised and caught here so that the
/// caller can report it like one raised by user code.
[[noreturn]] void raise_error(PyObject *type, const std::string &message);

/// Hands `message` to `loop` (`send(message)`, a coroutine) from a worker thread and waits for
/// its send, at most `timeout` seconds (the GIL is released meanwhile); raises on failure.
void send_and_wait(py::handle send, py::handle loop, py::object message, double timeout);

/// True for asyncio.CancelledError: the only exception that leaves a call's task.
bool is_cancellation(py::handle exc);

/// ErrorFilter: every error but the task's own cancellation.
bool is_not_cancellation(py::handle exc);

/// Sends each message of `messages` (a sequence) in order, each send awaited.
Coro send_each(py::object self, py::object messages);

/// Sends `messages` in order; a failure to send that `keep` accepts is logged ("[Kernel] Failed
/// to send error message: ...") instead of raised: they answer a failure already.
Coro send_answer(py::object self, py::object messages, ErrorFilter keep);

/// Logs the run's `logs` at info level with `tmpl` (one hole) unless they are empty.
void log_logs(Template<std::string> tmpl, py::handle logs);

} // namespace zm::kernel::invocation
