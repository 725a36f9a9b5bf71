#include "kernel/core/frame_reader.hpp"

#include "common/args.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"

namespace zm::kernel::core {

namespace {

/// The queue's length at which reading from the socket pauses, and at which it resumes (the
/// library's own defaults): a peer that sends faster than the kernel handles is held back.
constexpr std::size_t QUEUE_HIGH = 16;
constexpr std::size_t QUEUE_LOW = 4;

/// `obj.name`, or an empty object where another library version lacks it.
py::object attr_or_null(py::handle obj, const char *name) {
    return attr_if_any(obj, py::str(name));
}

/// How many whole messages the library holds already, or -1 when it holds part of one (or
/// part of a frame), or cannot be read.
Py_ssize_t library_messages(py::handle websocket, py::handle protocol) {
    py::object reader = attr_or_null(protocol, "reader");
    py::object buffer = reader ? attr_or_null(reader, "buffer") : py::object();
    py::object assembler = attr_or_null(websocket, "recv_messages");
    py::object frames = assembler ? attr_or_null(assembler, "frames") : py::object();
    py::object queue = frames ? attr_or_null(frames, "queue") : py::object();
    if (!buffer || !queue || PyObject_Length(buffer.ptr()) != 0)
        return -1;
    Py_ssize_t whole = 0;
    bool open_message = false;
    for (py::handle frame : queue) {
        py::object fin = attr_or_null(frame, "fin");
        if (!fin)
            return -1;
        open_message = !PyObject_IsTrue(fin.ptr());
        if (!open_message)
            ++whole;
    }
    return open_message ? -1 : whole;
}

} // namespace

std::shared_ptr<FrameReader> FrameReader::install(py::handle websocket) {
    py::object protocol = open_protocol(websocket);
    if (!protocol)
        return nullptr;
    py::object transport = attr_if_any(websocket, runtime().socket.transport);
    py::object receive = attr_or_null(websocket, "data_received");
    py::object lost = attr_or_null(websocket, "connection_lost");
    py::object recv = attr_or_null(websocket, "recv");
    if (!transport || !receive || !lost || !recv)
        return nullptr;
    // Methods of the connection's class, not a reader (or anything else) put on the instance.
    if (!PyMethod_Check(receive.ptr()) || !PyMethod_Check(lost.ptr()))
        return nullptr;
    const Py_ssize_t held = library_messages(websocket, protocol);
    if (held < 0)
        return nullptr;
    std::shared_ptr<FrameReader> reader(new FrameReader(WEBSOCKET_MAX_FRAME_BYTES));
    reader->websocket_ = py::reinterpret_borrow<py::object>(websocket);
    reader->transport_ = transport;
    reader->loop_ = runtime().get_running_loop();
    reader->library_receive_ = receive;
    reader->library_lost_ = lost;
    reader->library_recv_ = recv;
    reader->waiter_ = py::none();
    for (Py_ssize_t i = 0; i < held; ++i)
        reader->ready_.push_back(py::none());
    // The transport calls the connection's methods by name: the instance's own win.
    websocket.attr("data_received") =
        py::cpp_function([reader](py::object data) { reader->receive(data); });
    websocket.attr("connection_lost") =
        py::cpp_function([reader](py::object error) { reader->lost(error); });
    return reader;
}

void FrameReader::hand_to_library(const char *data, std::size_t size) {
    library_receive_(py::bytes(data, size));
}

void FrameReader::receive(py::handle data) {
    if (!PyBytes_Check(data.ptr()) || splitter_.passing_through()) {
        library_receive_(data);
        return;
    }
    pending_.append(PyBytes_AS_STRING(data.ptr()),
                    static_cast<std::size_t>(PyBytes_GET_SIZE(data.ptr())));
    std::size_t used = 0;
    const auto *bytes = reinterpret_cast<const unsigned char *>(pending_.data());
    while (std::optional<FrameSplitter::Next> next =
               splitter_.next(bytes + used, pending_.size() - used)) {
        const char *frame = pending_.data() + used;
        switch (next->route) {
        case FrameSplitter::Route::Ours: {
            PyObject *text = PyUnicode_DecodeUTF8(
                frame + next->head.size, static_cast<Py_ssize_t>(next->head.length), "strict");
            if (text != nullptr) {
                ready_.push_back(py::reinterpret_steal<py::object>(text));
                break;
            }
            if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError))
                throw py::error_already_set();
            PyErr_Clear();
            // Not UTF-8: the library's recv refuses it (failing the connection, as it would
            // have without the reader), and everything after it is the library's too.
            splitter_.pass_through();
            hand_to_library(frame, next->size);
            ready_.push_back(py::none());
            break;
        }
        case FrameSplitter::Route::LibraryMessage:
            hand_to_library(frame, next->size);
            ready_.push_back(py::none());
            break;
        case FrameSplitter::Route::Library:
        case FrameSplitter::Route::Rest:
            hand_to_library(frame, next->size);
            break;
        }
        used += next->size;
        if (splitter_.passing_through())
            break;
    }
    if (splitter_.passing_through()) {
        // Whatever follows the frame that turned reading over goes to the library as it came.
        if (used < pending_.size())
            hand_to_library(pending_.data() + used, pending_.size() - used);
        used = pending_.size();
    }
    pending_.erase(0, used);
    if (!ready_.empty())
        wake();
    if (!paused_ && ready_.size() >= QUEUE_HIGH) {
        paused_ = true;
        transport_.attr("pause_reading")();
    }
}

void FrameReader::lost(py::handle error) {
    py::object library_lost = library_lost_;
    // The connection no longer refers to the reader, so neither keeps the other alive.
    if (websocket_) {
        py::object websocket = std::move(websocket_);
        for (const char *name : {"data_received", "connection_lost"})
            if (PyObject_DelAttrString(websocket.ptr(), name) < 0)
                PyErr_Clear();
    }
    library_lost(error);
    // Whatever the library makes of the end (the close's code and reason, or an error), its
    // recv raises it once the messages before it are read.
    ready_.push_back(py::none());
    wake();
}

void FrameReader::wake() {
    if (!waiter_.is_none() && !PyObject_IsTrue(waiter_.attr("done")().ptr()))
        waiter_.attr("set_result")(py::none());
}

Coro next_message(std::shared_ptr<FrameReader> reader) {
    for (;;) {
        if (!reader->ready_.empty()) {
            py::object message = std::move(reader->ready_.front());
            reader->ready_.pop_front();
            if (reader->paused_ && reader->ready_.size() <= QUEUE_LOW) {
                reader->paused_ = false;
                reader->transport_.attr("resume_reading")();
            }
            if (!message.is_none())
                co_return message;
            co_return co_await reader->library_recv_();
        }
        reader->waiter_ = reader->loop_.attr("create_future")();
        py::object waiter = reader->waiter_;
        ScopeGuard clear([reader]() { reader->waiter_ = py::none(); });
        co_await waiter;
    }
}

} // namespace zm::kernel::core
