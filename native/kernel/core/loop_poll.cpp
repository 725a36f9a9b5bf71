#include "kernel/core/loop_poll.hpp"

#include "common/text_format.hpp"
#include "kernel/core/loop_wake.hpp"
#include "kernel/core/quick_wait.hpp"
#include "kernel/texts.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <sys/epoll.h>
#include <vector>

namespace zm::kernel::core {

namespace {

/// Milliseconds for epoll_wait, rounded up as select.epoll.poll rounds them.
int timeout_ms(py::handle timeout) {
    if (timeout.is_none())
        return -1;
    const double seconds = PyFloat_AsDouble(timeout.ptr());
    if (seconds == -1.0 && PyErr_Occurred())
        throw py::error_already_set();
    if (std::isnan(seconds))
        throw py::value_error(texts::POLL_TIMEOUT_NAN);
    if (seconds < 0)
        return -1;
    const double ms = std::ceil(seconds * 1e3);
    if (ms > static_cast<double>(INT32_MAX)) {
        PyErr_SetString(PyExc_OverflowError, texts::POLL_TIMEOUT_TOO_LARGE);
        throw py::error_already_set();
    }
    return static_cast<int>(ms);
}

} // namespace

py::list poll_releasing(int epfd, py::handle timeout, int maxevents) {
    const int ms = timeout_ms(timeout);
    if (maxevents == -1)
        maxevents = FD_SETSIZE - 1;
    else if (maxevents < 1)
        throw py::value_error(zm::format(texts::POLL_MAXEVENTS, maxevents));
    std::vector<epoll_event> events(static_cast<std::size_t>(maxevents));
    int count = 0;
    int error = 0;
    LoopWake &wake = LoopWake::instance();
    const bool served = wake.on_loop_thread();
    {
        py::gil_scoped_release released;
        run_released();
        count = served ? wake.wait(epfd, events.data(), maxevents, ms)
                       : epoll_wait(epfd, events.data(), maxevents, ms);
        error = errno;
    }
    py::list ready;
    if (count < 0) {
        if (error != EINTR) {
            errno = error;
            PyErr_SetFromErrno(PyExc_OSError);
            throw py::error_already_set();
        }
        // A signal: its handler runs now; the loop simply polls again.
        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();
        return ready;
    }
    for (int i = 0; i < count; ++i) {
        const epoll_event &event = events[static_cast<std::size_t>(i)];
        const int fd = event.data.fd; // packed: copied out before the tuple takes it
        const unsigned int flags = event.events;
        ready.append(py::make_tuple(fd, flags));
    }
    return ready;
}

} // namespace zm::kernel::core
