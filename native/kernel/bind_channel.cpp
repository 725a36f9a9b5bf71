// Registration of the synchronous request channel and the stream sender: the connect hooks and
// the release and response waiter types.
#include "kernel/bindings.hpp"
#include "kernel/channel/loop_submission.hpp"
#include "kernel/channel/release_channel.hpp"
#include "kernel/channel/request_channel.hpp"
#include "kernel/channel/response_waiter.hpp"
#include "kernel/channel/stream_sender.hpp"
#include "kernel/core/kernel_hooks.hpp"
#include "kernel/texts.hpp"

#include <limits>
#include <optional>

namespace zm::kernel {

void bind_channel(py::module_ &m) {
    core::hooks().install_streams = &channel::install_streams;
    py::class_<channel::ReleaseWaiter>(m, "_ReleaseWaiter")
        .def("set", &channel::ReleaseWaiter::set, texts::doc::RELEASE_WAITER_SET);
    py::class_<channel::ResponseWaiter, std::shared_ptr<channel::ResponseWaiter>>(m,
                                                                                  "_ResponseWaiter")
        .def("set", &channel::ResponseWaiter::set, texts::doc::RESPONSE_WAITER_SET)
        .def("is_set", &channel::ResponseWaiter::is_set, texts::doc::RESPONSE_WAITER_IS_SET)
        .def("clear", &channel::ResponseWaiter::clear, texts::doc::RESPONSE_WAITER_CLEAR)
        .def(
            "wait",
            [](channel::ResponseWaiter &self, std::optional<double> timeout) {
                py::gil_scoped_release unlocked;
                return self.wait_for(timeout ? *timeout : std::numeric_limits<double>::infinity());
            },
            py::arg("timeout") = py::none(), texts::doc::RESPONSE_WAITER_WAIT);
    core::hooks().install_request_channel = [](py::object kernel) {
        channel::install_request_channel(kernel);
        channel::install_release_channel(kernel);
    };
    core::hooks().undecodable = &channel::wake_undecodable_response;
}

} // namespace zm::kernel
