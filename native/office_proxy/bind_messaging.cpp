#include "office_proxy/bindings.hpp"
#include "office_proxy/messaging/messaging.hpp"
#include "office_proxy/texts.hpp"

#include "common/python_class.hpp"

namespace zm::office_proxy {

void bind_messaging(py::module_ &m) {
    namespace msg = messaging;
    py::dict ns;
    ns["__init__"] = zm::method(
        "__init__", [](py::object self) { msg::init(self); }, py::doc(texts::MESSAGING_INIT_DOC));
    ns["set_send_handler"] = zm::method(
        "set_send_handler",
        [](py::object self, py::object handler) { msg::set_send_handler(self, handler); },
        py::arg("self"), py::arg("handler"), py::doc(texts::SET_SEND_HANDLER_DOC));
    ns["send_request_sync"] = zm::method(
        "send_request_sync",
        [](py::object self, py::object req, py::object timeout) {
            return msg::send_request_sync(self, req, timeout);
        },
        py::arg("self"), py::arg("req"), py::arg("timeout") = 30.0,
        py::doc(texts::SEND_REQUEST_SYNC_DOC));
    ns["send_request_nowait"] = zm::method(
        "send_request_nowait",
        [](py::object self, py::object req) { msg::send_request_nowait(self, req); },
        py::arg("self"), py::arg("req"), py::doc(texts::SEND_REQUEST_NOWAIT_DOC));
    ns["on_message"] = zm::method(
        "on_message", [](py::object self, py::object message) { msg::on_message(self, message); },
        py::arg("self"), py::arg("message"), py::doc(texts::ON_MESSAGE_DOC));
    ns["reset"] =
        zm::method("reset", [](py::object self) { msg::reset(self); }, py::doc(texts::RESET_DOC));
    ns["register_callable"] = zm::method(
        "register_callable",
        [](py::object self, py::object obj) { return msg::register_callable(self, obj); },
        py::arg("self"), py::arg("callable_obj"), py::doc(texts::REGISTER_CALLABLE_DOC));
    ns["get_callable"] = zm::method(
        "get_callable", [](py::object self, py::object id) { return msg::get_callable(self, id); },
        py::arg("self"), py::arg("callable_id"), py::doc(texts::GET_CALLABLE_DOC));
    ns["unregister_callable"] = zm::method(
        "unregister_callable",
        [](py::object self, py::object id) { msg::unregister_callable(self, id); }, py::arg("self"),
        py::arg("callable_id"), py::doc(texts::UNREGISTER_CALLABLE_DOC));
    py::object cls =
        zm::make_class(texts::MODULE_NAME, "Messaging", py::tuple(), ns, texts::MESSAGING_DOC);
    m.attr("Messaging") = cls;
    m.attr("messaging") = cls();
}

} // namespace zm::office_proxy
