// Coroutines and helpers of native/common, exposed only to the test suite.
#include "common/args.hpp"
#include "common/coroutine.hpp"
#include "common/error_record.hpp"
#include "common/logging.hpp"
#include "common/python_class.hpp"
#include "common/text_format.hpp"

namespace {

zm::Coro echo(py::object value) { co_return value; }

zm::Coro await_one(py::object awaitable) { co_return co_await awaitable; }

zm::Coro await_each(py::object factory, int count) {
    py::object last = py::none();
    for (int i = 0; i < count; ++i)
        last = co_await factory();
    co_return last;
}

zm::Coro combine(py::object first, std::string second, int third, double fourth, py::object fifth) {
    co_return py::make_tuple(first, second, third, fourth, fifth);
}

zm::Coro raise_value_error(std::string text) {
    throw py::value_error(text);
    co_return py::none();
}

zm::Coro raise_stop_iteration() {
    throw py::stop_iteration("stop");
    co_return py::none();
}

/// Awaits `awaitable`; a ValueError is caught in C++ and reported as text, anything else passes.
zm::Coro catch_value_error(py::object awaitable) {
    std::string caught;
    try {
        co_return co_await awaitable;
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ValueError))
            throw;
        caught = "caught: " + std::string(py::str(e.value()));
    }
    co_return caught;
}

/// failure_of with an ErrorFilter picked by name, the kept exception passed to `answer` (awaited
/// outside the catch block): returns ("answered", answer's result) or ("done", None).
zm::Coro answer_failure(py::object awaitable, std::string keep, py::object answer) {
    zm::ErrorFilter filter = keep == "any" ? &zm::any_error : &zm::is_exception;
    py::object exc = co_await zm::failure_of(awaitable, filter);
    if (exc.is_none())
        co_return py::make_tuple("done", py::none());
    py::object answered = co_await answer(exc);
    co_return py::make_tuple("answered", answered);
}

/// Awaits `awaitable`; whatever it raises is raised again by raise_again.
zm::Coro reraise(py::object awaitable) {
    py::object exc = co_await zm::failure_of(awaitable, &zm::any_error);
    if (!exc.is_none())
        zm::raise_again(exc);
    co_return py::none();
}

/// Appends "enter", awaits, appends "after"; a scope guard appends "cleanup" however it ends.
zm::Coro guarded(py::object awaitable, py::list log) {
    log.append("enter");
    zm::ScopeGuard guard([log]() mutable { log.append("cleanup"); });
    py::object result = co_await awaitable;
    log.append("after");
    co_return result;
}

zm::Coro nested(int depth, py::object value) {
    if (depth == 0)
        co_return value;
    co_return co_await nested(depth - 1, value);
}

zm::Coro with_lock(py::object lock, py::object awaitable) {
    co_await lock.attr("acquire")();
    zm::ScopeGuard release([lock]() mutable { lock.attr("release")(); });
    co_return co_await awaitable;
}

zm::Coro in_executor(py::object fn, py::object arg) {
    py::object loop = py::module_::import("asyncio").attr("get_running_loop")();
    co_return co_await loop.attr("run_in_executor")(py::none(), fn, arg);
}

struct Counter {
    int value = 0;
};

zm::Coro counter_add(py::object self, int amount) {
    auto &c = self.cast<Counter &>();
    c.value += amount;
    co_await py::module_::import("asyncio").attr("sleep")(0);
    co_return self.cast<Counter &>().value;
}

py::object make_text_stream_class() {
    py::dict ns;
    ns["write"] = zm::method("write", [](py::object self, py::object text) {
        zm::check_str(text, "text");
        self.attr("_buffer").attr("append")(text);
        return py::len(text);
    });
    ns["writable"] = zm::method("writable", [](py::object) { return true; });
    ns["getvalue"] = zm::method(
        "getvalue", [](py::object self) { return py::str("").attr("join")(self.attr("_buffer")); });
    ns["__init__"] =
        zm::method("__init__", [](py::object self) { self.attr("_buffer") = py::list(); });
    return zm::make_class("_common_testing", "CollectingStream",
                          py::make_tuple(py::module_::import("io").attr("TextIOBase")), ns,
                          "A text stream collecting what is written.");
}

} // namespace

void bind_wire_floor(py::module_ &m);

PYBIND11_MODULE(_common_testing, m) {
    m.doc() = "Test-only access to the shared native helpers.";
    zm::init_common(m);
    bind_wire_floor(m);

    zm::def_coroutine(m, "echo", &echo, py::arg("value"));
    zm::def_coroutine(m, "await_one", &await_one, py::arg("awaitable"));
    zm::def_coroutine(m, "await_each", &await_each, py::arg("factory"), py::arg("count"));
    zm::def_coroutine(m, "combine", &combine, py::arg("first"), py::arg("second"), py::arg("third"),
                      py::arg("fourth"), py::arg("fifth"));
    zm::def_coroutine(m, "raise_value_error", &raise_value_error, py::arg("text"));
    zm::def_coroutine(m, "raise_stop_iteration", &raise_stop_iteration);
    zm::def_coroutine(m, "catch_value_error", &catch_value_error, py::arg("awaitable"));
    zm::def_coroutine(m, "answer_failure", &answer_failure, py::arg("awaitable"), py::arg("keep"),
                      py::arg("answer"));
    zm::def_coroutine(m, "reraise", &reraise, py::arg("awaitable"));
    zm::def_coroutine(m, "guarded", &guarded, py::arg("awaitable"), py::arg("log"));
    zm::def_coroutine(m, "nested", &nested, py::arg("depth"), py::arg("value"));
    zm::def_coroutine(m, "with_lock", &with_lock, py::arg("lock"), py::arg("awaitable"));
    zm::def_coroutine(m, "in_executor", &in_executor, py::arg("fn"), py::arg("arg"));
    zm::def_coroutine(
        m, "checked_join",
        [](py::object items, py::object sep) -> zm::Coro {
            zm::check_list(items, "items");
            zm::check_str(sep, "sep", true);
            return echo(py::str(sep.is_none() ? py::str(",") : sep).attr("join")(items));
        },
        py::arg("items"), py::arg("sep") = py::none());

    py::class_<Counter> counter(m, "Counter");
    counter.def(py::init<>()).def_readonly("value", &Counter::value);
    zm::def_coroutine_method(counter, "add", &counter_add, py::arg("amount"));

    m.attr("CollectingStream") = make_text_stream_class();

    m.def("check_args", [](py::object s, py::object l, py::object d) {
        zm::check_str(s, "s");
        zm::check_list(l, "l", true);
        zm::check_dict(d, "d");
    });
    m.def("error_record", [](py::object exc) { return zm::error_record(exc); });
    m.def("format_samples", []() {
        return std::vector<std::string>{
            zm::format("Function '{}' not found in module '{}'", "f", std::string("m")),
            zm::format("{} of {} ({})", 3, -7L, 0.1),
            zm::format("{{literal}} {}{}", 'x', true),
            zm::format("no holes"),
            zm::format("{}", std::string_view("")),
        };
    });
    m.def("log", [](const char *name, int level, std::string text) {
        const zm::Logger &log = zm::module_logger(name);
        log.log(static_cast<zm::Logger::Level>(level), text);
        return log.debug_enabled();
    });
}
