#include "common/logging.hpp"

#include <map>
#include <string>

namespace zm {

namespace {

py::object text_object(std::string_view text) {
    PyObject *s =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (s == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(s);
}

const char *method_name(Logger::Level level) {
    switch (level) {
    case Logger::DEBUG:
        return "debug";
    case Logger::INFO:
        return "info";
    case Logger::WARNING:
        return "warning";
    default:
        return "error";
    }
}

} // namespace

Logger::Logger(const char *name) {
    logger_ = py::module_::import("zentrel_master.logging_config").attr("get_logger")(name);
    is_enabled_for_ = logger_.attr("isEnabledFor");
    for (int i = 0; i < 4; ++i)
        levels_[i] = py::int_((i + 1) * 10);
}

bool Logger::enabled(Level level) const {
    const int index = level / 10 - 1;
    PyObject *r =
        index >= 0 && index < 4
            ? PyObject_CallOneArg(is_enabled_for_.ptr(), levels_[index].ptr())
            : PyObject_CallMethod(logger_.ptr(), "isEnabledFor", "i", static_cast<int>(level));
    if (r == nullptr)
        throw py::error_already_set();
    const bool on = r == Py_True;
    Py_DECREF(r);
    return on;
}

void Logger::log(Level level, py::handle text) const { logger_.attr(method_name(level))(text); }

void Logger::log(Level level, std::string_view text) const {
    if (!enabled(level))
        return;
    log(level, text_object(text));
}

void Logger::exception(std::string_view text) const {
    logger_.attr("error")(text_object(text), py::arg("exc_info") = true);
}

const Logger &module_logger(const char *name) {
    // Deliberately leaked: the loggers must outlive static destruction at interpreter exit.
    static auto *loggers = new std::map<std::string, Logger *>();
    auto it = loggers->find(name);
    if (it == loggers->end())
        it = loggers->emplace(name, new Logger(name)).first;
    return *it->second;
}

} // namespace zm
