// Registration of the synchronous request channel, the stream sender, the object registry and
// the workbook controls: the connect hooks and the PythonKernel methods.
#include "common/args.hpp"
#include "common/python_class.hpp"
#include "kernel/bindings.hpp"
#include "kernel/channel/loop_submission.hpp"
#include "kernel/channel/release_channel.hpp"
#include "kernel/channel/request_channel.hpp"
#include "kernel/channel/stream_sender.hpp"
#include "kernel/core/kernel_hooks.hpp"
#include "kernel/registry/object_registry.hpp"
#include "kernel/registry/workbook_controls.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel {

namespace {

void add_method(py::handle cls, const char *name, py::object fn) { py::setattr(cls, name, fn); }

} // namespace

void bind_channel(py::module_ &m) {
    using namespace registry;
    py::object kernel_class = m.attr("PythonKernel");
    add_method(kernel_class, "save_object",
               method(
                   "save_object",
                   [](py::object self, py::object key, py::object value) {
                       check_str(key, "key");
                       save_object(self, key, value);
                   },
                   py::arg("self"), py::arg("key"), py::arg("value"), texts::doc::SAVE_OBJECT));
    add_method(kernel_class, "get_object",
               method(
                   "get_object",
                   [](py::object self, py::object key) {
                       check_str(key, "key");
                       return get_object(self, key);
                   },
                   py::arg("self"), py::arg("key"), texts::doc::GET_OBJECT));
    add_method(kernel_class, "clear_object",
               method(
                   "clear_object",
                   [](py::object self, py::object key) {
                       check_str(key, "key");
                       clear_object(self, key);
                   },
                   py::arg("self"), py::arg("key"), texts::doc::CLEAR_OBJECT));
    add_method(kernel_class, "clear_all_objects",
               method(
                   "clear_all_objects", [](py::object self) { clear_all_objects(self); },
                   py::arg("self"), texts::doc::CLEAR_ALL_OBJECTS));
    add_method(kernel_class, "get_object_registry",
               method(
                   "get_object_registry",
                   [](py::object self) { return get_object_registry(self); }, py::arg("self"),
                   texts::doc::GET_OBJECT_REGISTRY));
    add_method(kernel_class, "set_enable_events",
               method(
                   "set_enable_events",
                   [](py::object self, py::object enable) { set_enable_events(self, enable); },
                   py::arg("self"), py::arg("enable"), texts::doc::SET_ENABLE_EVENTS));
    add_method(kernel_class, "show_message_box",
               method(
                   "show_message_box",
                   [](py::object self, py::object message, py::object title, py::object type) {
                       check_str(message, "message");
                       check_str(title, "title");
                       check_str(type, "type");
                       show_message_box(self, message, title, type);
                   },
                   py::arg("self"), py::arg("message"),
                   py::arg("title") = texts::DEFAULT_TITLE,
                   py::arg("type") = texts::DEFAULT_MSG_TYPE,
                   texts::doc::SHOW_MESSAGE_BOX));
    core::hooks().install_streams = &channel::install_streams;
    py::class_<channel::ReleaseWaiter>(m, "_ReleaseWaiter")
        .def("set", &channel::ReleaseWaiter::set, texts::doc::RELEASE_WAITER_SET);
    core::hooks().install_request_channel = [](py::object kernel) {
        channel::install_request_channel(kernel);
        channel::install_release_channel(kernel);
    };
    core::hooks().undecodable = &channel::wake_undecodable_response;
}

} // namespace zm::kernel
