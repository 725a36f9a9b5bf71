#pragma once
/// The kernel's reading of its connection: whole unfragmented text messages (every message a
/// Business Layer sends) are split from the incoming bytes and decoded here, before the library
/// sees them; everything else goes on to the library's own `data_received` as whole frames
/// (`FrameSplitter`), so its close handshake, keepalive and error handling are untouched.
/// Messages keep their order: where the library holds the next message, the queue says so and
/// the reader asks the library's `recv` for it.

#include "common/coroutine.hpp"
#include "kernel/core/ws_frame.hpp"

#include <deque>
#include <memory>
#include <string>

namespace zm::kernel::core {

class FrameReader {
public:
    /// A reader installed on `websocket` (the library's client connection, open, its
    /// `data_received` and `connection_lost` taken over), or null where the library must keep
    /// reading: a stand-in, another library version, a connection that already has a reader
    /// (or other methods put on it), or one whose library already holds part of a frame or of
    /// a message.
    static std::shared_ptr<FrameReader> install(py::handle websocket);

    /// The transport's bytes: whole frames are routed, the rest waits for more.
    void receive(py::handle data);
    /// The end of the connection: the library learns of it first, then the reader's queue.
    void lost(py::handle error);

    /// The next message, as the library's `recv` would return it (and raising what it raises).
    friend Coro next_message(std::shared_ptr<FrameReader> reader);

private:
    explicit FrameReader(std::uint64_t max_size) : splitter_(max_size) {}
    void wake();
    void hand_to_library(const char *data, std::size_t size);

    FrameSplitter splitter_;
    std::string pending_;          ///< bytes of a frame not yet whole
    std::deque<py::object> ready_; ///< texts, and None where the library holds the message
    py::object waiter_;            ///< the future `next_message` waits on, or None
    py::object websocket_;         ///< the connection (until it is lost)
    py::object transport_;         ///< its transport (reading paused while the queue is long)
    py::object loop_;              ///< the loop the connection runs on
    py::object library_receive_;   ///< the library's own data_received
    py::object library_lost_;      ///< the library's own connection_lost
    py::object library_recv_;      ///< the library's recv
    bool paused_ = false;
};

Coro next_message(std::shared_ptr<FrameReader> reader);

} // namespace zm::kernel::core
