#include "common/logging.hpp"

#include "common/args.hpp"

#include <chrono>
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

/// What the writer hand-off reads, looked up once.
struct WriterNames {
    py::object writer_type =
        py::module_::import("zentrel_master.logging_config").attr("_BackgroundHandler");
    py::object threads = py::module_::import("threading").attr("_active"); ///< id -> Thread
    py::object current_thread = py::module_::import("threading").attr("current_thread");
    py::object disabled = interned("disabled");
    py::object filters = interned("filters");
    py::object handlers = interned("handlers");
    py::object propagate = interned("propagate");
    py::object parent = interned("parent");
    py::object level = interned("level");
    py::object queue = interned("queue");
    py::object put = interned("put");
    py::object name = interned("name");
};

const WriterNames &writer_names() {
    // Leaked on purpose: it must outlive static destruction at interpreter exit.
    static const WriterNames *names = new WriterNames();
    return *names;
}

/// Whether `obj.name` is an empty list (a logger's or handler's `filters`/`handlers`).
bool empty_list(py::handle obj, const py::object &name) {
    py::object value = get_attr(obj, name);
    return PyList_CheckExact(value.ptr()) && PyList_GET_SIZE(value.ptr()) == 0;
}

} // namespace

bool Logger::hand_to_writer(Level level, py::handle text) const {
    const WriterNames &n = writer_names();
    if (truthy(get_attr(logger_, n.disabled)) || !empty_list(logger_, n.filters))
        return false;
    // The handlers the record would reach, as Logger.callHandlers walks them.
    py::object writer;
    for (py::object node = logger_; !node.is_none(); node = get_attr(node, n.parent)) {
        py::object handlers = get_attr(node, n.handlers);
        if (!PyList_CheckExact(handlers.ptr()))
            return false;
        const Py_ssize_t count = PyList_GET_SIZE(handlers.ptr());
        if (count > 1 || (count == 1 && writer))
            return false;
        if (count == 1)
            writer = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(handlers.ptr(), 0));
        if (!truthy(get_attr(node, n.propagate)))
            break;
    }
    if (!writer || Py_TYPE(writer.ptr()) != reinterpret_cast<PyTypeObject *>(n.writer_type.ptr()) ||
        !empty_list(writer, n.filters))
        return false;
    const long handler_level = PyLong_AsLong(get_attr(writer, n.level).ptr());
    if (handler_level == -1 && PyErr_Occurred())
        throw py::error_already_set();
    if (handler_level > level)
        return true; // the handler would drop it: so does the hand-off
    using namespace std::chrono;
    const double created = duration<double>(system_clock::now().time_since_epoch()).count();
    // The thread's name now, as the record would hold it: the thread may be gone when the
    // writer builds the record.
    py::int_ thread_id(PyThread_get_thread_ident());
    PyObject *thread = PyDict_GetItemWithError(n.threads.ptr(), thread_id.ptr()); // borrowed
    if (thread == nullptr && PyErr_Occurred())
        throw py::error_already_set();
    py::object thread_name =
        get_attr(thread != nullptr ? py::handle(thread) : n.current_thread(), n.name);
    py::tuple item = py::make_tuple(get_attr(logger_, n.name), levels_[level / 10 - 1], text,
                                    created, thread_id, thread_name);
    get_attr(get_attr(writer, n.queue), n.put)(item);
    return true;
}

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
    py::object message = text_object(text);
    if (level % 10 == 0 && level >= DEBUG && level <= ERROR && hand_to_writer(level, message))
        return;
    log(level, message);
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
