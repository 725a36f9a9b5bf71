#pragma once
/// The Python objects the kernel uses on its hot paths (core, dispatch, execution, channel),
/// looked up once at import: the one cache of them.

#include "common/args.hpp"
#include "common/logging.hpp"
#include "common/python.hpp"

namespace zm::kernel::core {

struct Runtime {
    py::module_ module;                  ///< the kernel module itself
    py::object asyncio;                  ///< asyncio
    py::object create_task;              ///< asyncio.create_task
    py::object task_type;                ///< asyncio.Task
    py::object get_running_loop;         ///< asyncio.get_running_loop
    py::object asyncio_lock;             ///< asyncio.Lock
    py::object asyncio_queue;            ///< asyncio.Queue
    py::object asyncio_sleep;            ///< asyncio.sleep
    py::object queue_empty;              ///< asyncio.QueueEmpty
    py::object cancelled_error;          ///< asyncio.CancelledError
    py::object json_loads;               ///< json.loads
    py::object json_dumps;               ///< json.dumps
    py::object orjson_dumps;             ///< orjson.dumps, or None
    py::object orjson_non_str_keys;      ///< orjson.OPT_NON_STR_KEYS, or None
    py::object ws_connect;               ///< websockets.connect
    py::object connection_closed;        ///< websockets.ConnectionClosed
    py::object time_time;                ///< time.time
    py::object uuid4;                    ///< uuid.uuid4
    py::object thread_pool;              ///< concurrent.futures.ThreadPoolExecutor
    py::object threading_lock;           ///< threading.Lock
    py::object current_thread;           ///< threading.current_thread
    double timeout_max = 0;              ///< threading.TIMEOUT_MAX (longest wait of a lock)
    py::object sys;                      ///< sys
    py::object zentrel;                  ///< the user package
    py::object run_coroutine_threadsafe; ///< asyncio.run_coroutine_threadsafe
    py::object background_tasks;         ///< set of the tasks started by the dispatcher
    py::object discard_task;             ///< background_tasks.discard
    py::module_ builtins;                ///< the builtins module
    py::object compile;                  ///< builtins.compile
    py::module_ linecache;               ///< linecache (its `cache` is read at each use)
    py::object module_spec;              ///< importlib.machinery.ModuleSpec
    py::object string_io;                ///< io.StringIO
    py::object text_io_base;             ///< io.TextIOBase
    py::object user_package;             ///< the user package as the execution namespace sees it
    py::object stream_capture;           ///< the StreamCapture class (set when it is made)
    py::object console_globals;          ///< the ConsoleGlobals class (set when it is made)

    /// Interned texts used as keys and attribute names on the per-message paths.
    struct Names {
        py::object type, request_id, websocket, socket_lock, acquire, release, send, unknown, na,
            handle_message;
    } names;
    /// The library's client connection, and what the send path reads of it to write a frame
    /// straight to its transport (interned names).
    struct Socket {
        py::object client_type; ///< websockets.asyncio.client.ClientConnection
        py::object open;        ///< websockets.protocol.State.OPEN
        py::object protocol, state, transport, send_in_progress, paused, is_closing, write, drain;
    } socket;
    py::object is_enabled_for; ///< the logger's bound isEnabledFor
    py::object debug_level;    ///< logging.DEBUG as an int object
};

/// True when the module logger would emit a debug record (the fast form of the hot paths).
bool debug_on();

using zm::get_attr;
using zm::interned;

/// A task of `loop` for `coroutine` whose first step runs now, in the caller's loop iteration
/// (`eager_start`): a coroutine that does not suspend is finished before this returns, without
/// a trip through the loop's ready queue.
py::object start_eager_task(py::object coroutine, py::handle loop);

/// The runtime; valid after `init_runtime`.
Runtime &runtime();

/// Imports what the core needs, in the module's initialisation order (standard modules and
/// websockets, serializer, sibling modules, logging).
void init_runtime(py::module_ &m);

/// The module's logger.
const Logger &log();

/// `module.<name>` when the module defines it and it is not None, else None.
py::object module_attr(const char *name);

} // namespace zm::kernel::core
