#pragma once
/// C++20 coroutines that Python sees as coroutine objects.
///
/// A function returning `zm::Coro` is a coroutine whose body starts on the first `send`, like an
/// `async def`. Inside it, `co_await` accepts any Python awaitable (delegating like `yield from`)
/// or another `zm::Coro`; a Python exception from the awaited object arrives as
/// `py::error_already_set`. `co_return` hands back any value that converts to a Python object.
///
/// Rules for bodies: parameters are owning values (`py::object`, `std::string`, ...), never
/// references, `this` or lambdas with captures; no `co_await` inside a `catch` block; cleanup is
/// RAII (`ScopeGuard`), which runs on completion, on cancellation and on `close()`.

#include "common/python.hpp"

#include <coroutine>
#include <exception>
#include <utility>

namespace zm {

class Coro;

namespace detail {

struct CoroPromise;

/// Awaits one Python awaitable by driving its `__await__` iterator.
struct PyAwaiter {
    PyObject *iter; ///< owned iterator, handed to the promise when the first step yields
    CoroPromise *promise;

    ~PyAwaiter() { Py_XDECREF(iter); }

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<CoroPromise> handle) noexcept;
    py::object await_resume();
};

struct CoroPromise {
    /// User-declared so g++ 12 never initialises the promise from the coroutine's parameters.
    CoroPromise() noexcept {}
    CoroPromise(const CoroPromise &) = delete;
    CoroPromise &operator=(const CoroPromise &) = delete;
    ~CoroPromise();

    PyObject *delegate = nullptr;     ///< iterator we are suspended in (owned)
    PyObject *yielded = nullptr;      ///< value the delegate yielded, on its way to the caller
    PyObject *resume_value = nullptr; ///< what the pending co_await returns
    PyObject *resume_error = nullptr; ///< what the pending co_await raises
    PyObject *result = nullptr;       ///< co_return value
    std::exception_ptr error;         ///< exception that escaped the body

    Coro get_return_object();
    std::suspend_always initial_suspend() noexcept { return {}; }
    std::suspend_always final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }

    template <class T> void return_value(T &&value) {
        if constexpr (py::detail::is_pyobject<std::remove_cvref_t<T>>::value)
            result = py::object(std::forward<T>(value)).release().ptr();
        else
            result = py::cast(std::forward<T>(value)).release().ptr();
    }

    PyAwaiter await_transform(py::handle awaitable);
    PyAwaiter await_transform(Coro &&coro);
};

} // namespace detail

/// Return type of a C++ coroutine; converts to the Python coroutine object.
class Coro {
public:
    using promise_type = detail::CoroPromise;

    Coro() = default;
    explicit Coro(py::object object) : object_(std::move(object)) {}

    /// The Python coroutine object.
    const py::object &object() const & { return object_; }
    py::object release() && { return std::move(object_); }

private:
    py::object object_;
};

/// Runs a callable when the scope ends (normally, by exception, or by frame destruction).
template <class F> class ScopeGuard {
public:
    explicit ScopeGuard(F fn) : fn_(std::move(fn)) {}
    ScopeGuard(const ScopeGuard &) = delete;
    ScopeGuard &operator=(const ScopeGuard &) = delete;
    ~ScopeGuard() {
        if (!active_)
            return;
        try {
            fn_();
        } catch (py::error_already_set &e) {
            e.discard_as_unraisable("zentrel scope guard");
        } catch (...) {
        }
    }
    void dismiss() noexcept { active_ = false; }

private:
    F fn_;
    bool active_ = true;
};

/// Which errors `failure_of` hands back (the exception object is passed); the others propagate.
using ErrorFilter = bool (*)(py::handle exc);

/// Awaits `awaitable`; an error that `keep` accepts comes back as the exception object instead
/// of being raised, else the result is None. C++ forbids `co_await` inside a `catch` block, and
/// the answer to a failure is usually a send that must be awaited, so bodies read
/// `py::object exc = co_await failure_of(attempt(...), keep); if (!exc.is_none()) co_await ...`.
Coro failure_of(py::object awaitable, ErrorFilter keep);

/// failure_of for a C++ coroutine.
inline Coro failure_of(Coro awaitable, ErrorFilter keep) {
    return failure_of(std::move(awaitable).release(), keep);
}

/// ErrorFilter: an Exception (not the BaseException-only classes: exit requests, interrupts,
/// cancellation).
bool is_exception(py::handle exc);

/// ErrorFilter: every error.
bool any_error(py::handle exc);

/// Raises `exc` again (an exception object kept by failure_of), traceback included.
[[noreturn]] void raise_again(py::handle exc);

/// The Python type of C++ coroutine objects (registered as a collections.abc.Coroutine).
PyTypeObject *coroutine_type();

/// Wraps a callable so that `inspect.iscoroutinefunction` reports it as a coroutine function;
/// the wrapper binds as a method when stored on a class.
py::object mark_coroutine_function(py::handle func);

/// Defines a module-level coroutine function.
template <class F, class... Extra>
void def_coroutine(py::module_ &m, const char *name, F &&f, const Extra &...extra) {
    py::cpp_function fn(std::forward<F>(f), py::name(name), py::scope(m), extra...);
    m.attr(name) = mark_coroutine_function(fn);
}

/// Defines a coroutine method on a pybind11 class (the callable takes the instance first).
template <class Cls, class F, class... Extra>
void def_coroutine_method(Cls &cls, const char *name, F &&f, const Extra &...extra) {
    py::cpp_function fn(std::forward<F>(f), py::name(name), py::is_method(cls), extra...);
    py::object func = fn;
    if (PyInstanceMethod_Check(func.ptr()))
        func = py::reinterpret_borrow<py::object>(PyInstanceMethod_GET_FUNCTION(func.ptr()));
    py::setattr(cls, name, mark_coroutine_function(func));
}

/// Readies the shared types; every module calls this first in its initialisation.
void init_common(py::module_ &m);

} // namespace zm

namespace pybind11::detail {

template <> struct type_caster<zm::Coro> {
    static constexpr auto name = const_name("collections.abc.Coroutine");
    static handle cast(zm::Coro src, return_value_policy, handle) {
        return std::move(src).release().release();
    }
};

} // namespace pybind11::detail
