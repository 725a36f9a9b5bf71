#include "common/coroutine.hpp"

#include <cstdint>
#include <optional>

namespace zm {
namespace detail {
namespace {

enum class State : std::uint8_t { Created, Suspended, Running, Finished };

struct CoroObject {
    PyObject_HEAD std::coroutine_handle<CoroPromise> handle;
    State state;
};

// Static type objects, filled in by ready_types(); only the header is initialised here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject CoroType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject CoroFunctionType = {PyVarObject_HEAD_INIT(nullptr, 0)};
#pragma GCC diagnostic pop

CoroObject *as_coro(PyObject *o) { return reinterpret_cast<CoroObject *>(o); }

/// The iterator `await o` would drive, or nullptr with a TypeError set.
PyObject *awaitable_iter(PyObject *o) {
    if (PyCoro_CheckExact(o) || Py_IS_TYPE(o, &CoroType))
        return Py_NewRef(o);
    if (PyGen_CheckExact(o)) {
        PyCodeObject *code = PyGen_GetCode(reinterpret_cast<PyGenObject *>(o));
        const bool iterable_coroutine = code->co_flags & CO_ITERABLE_COROUTINE;
        Py_DECREF(code);
        if (iterable_coroutine)
            return Py_NewRef(o);
    }
    unaryfunc getter = Py_TYPE(o)->tp_as_async ? Py_TYPE(o)->tp_as_async->am_await : nullptr;
    if (getter == nullptr) {
        PyErr_Format(PyExc_TypeError, "object %.100s can't be used in 'await' expression",
                     Py_TYPE(o)->tp_name);
        return nullptr;
    }
    PyObject *it = getter(o);
    if (it == nullptr)
        return nullptr;
    if (PyCoro_CheckExact(it)) {
        Py_DECREF(it);
        PyErr_SetString(PyExc_TypeError, "__await__() returned a coroutine");
        return nullptr;
    }
    if (!PyIter_Check(it)) {
        PyErr_Format(PyExc_TypeError, "__await__() returned non-iterator of type '%.100s'",
                     Py_TYPE(it)->tp_name);
        Py_DECREF(it);
        return nullptr;
    }
    return it;
}

/// Sets the Python error for an exception that escaped a coroutine body.
void set_error_from(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (py::error_already_set &e) {
        e.restore();
    } catch (...) {
        py::detail::try_translate_exceptions();
    }
    if (PyErr_ExceptionMatches(PyExc_StopIteration)) {
        // As for async def: a StopIteration leaving the body would end the caller's iteration.
        PyObject *stop = PyErr_GetRaisedException();
        PyErr_SetString(PyExc_RuntimeError, "coroutine raised StopIteration");
        PyObject *runtime = PyErr_GetRaisedException();
        PyException_SetContext(runtime, Py_NewRef(stop));
        PyException_SetCause(runtime, stop);
        PyErr_SetRaisedException(runtime);
    }
}

void destroy_frame(CoroObject *self) {
    if (self->handle) {
        auto handle = std::exchange(self->handle, nullptr);
        handle.destroy();
    }
    self->state = State::Finished;
}

/// Resumes the C++ frame until it yields (PYGEN_NEXT) or ends.
PySendResult resume(CoroObject *self, PyObject **out) {
    auto &promise = self->handle.promise();
    self->state = State::Running;
    self->handle.resume();
    if (!self->handle.done()) {
        self->state = State::Suspended;
        *out = std::exchange(promise.yielded, nullptr);
        return PYGEN_NEXT;
    }
    std::exception_ptr error = std::move(promise.error);
    PyObject *result = std::exchange(promise.result, nullptr);
    // The frame goes first, so that its destructors never run while an error is set.
    destroy_frame(self);
    if (error) {
        Py_XDECREF(result);
        set_error_from(std::move(error));
        *out = nullptr;
        return PYGEN_ERROR;
    }
    *out = result ? result : Py_NewRef(Py_None);
    return PYGEN_RETURN;
}

/// Records how the delegate ended, for the pending co_await.
void delegate_ended(CoroPromise &promise, PySendResult status, PyObject *value) {
    Py_CLEAR(promise.delegate);
    if (status == PYGEN_RETURN)
        promise.resume_value = value;
    else
        promise.resume_error = PyErr_GetRaisedException();
}

bool check_not_running(CoroObject *self) {
    if (self->state == State::Running) {
        PyErr_SetString(PyExc_ValueError, "coroutine already executing");
        return false;
    }
    return true;
}

PySendResult coro_am_send(PyObject *o, PyObject *arg, PyObject **out) {
    CoroObject *self = as_coro(o);
    *out = nullptr;
    if (!check_not_running(self))
        return PYGEN_ERROR;
    if (self->state == State::Finished) {
        PyErr_SetString(PyExc_RuntimeError, "cannot reuse already awaited coroutine");
        return PYGEN_ERROR;
    }
    if (self->state == State::Created) {
        if (arg != nullptr && arg != Py_None) {
            PyErr_SetString(PyExc_TypeError,
                            "can't send non-None value to a just-started coroutine");
            return PYGEN_ERROR;
        }
        return resume(self, out);
    }
    auto &promise = self->handle.promise();
    if (promise.delegate != nullptr) {
        PyObject *value = nullptr;
        self->state = State::Running;
        const PySendResult status = PyIter_Send(promise.delegate, arg ? arg : Py_None, &value);
        if (status == PYGEN_NEXT) {
            self->state = State::Suspended;
            *out = value;
            return PYGEN_NEXT;
        }
        delegate_ended(promise, status, value);
    }
    return resume(self, out);
}

/// Turns a send result into the generator protocol of `send`/`throw`/`__next__`.
PyObject *protocol_result(PySendResult status, PyObject *value) {
    if (status != PYGEN_RETURN)
        return value;
    if (value == Py_None) {
        Py_DECREF(value);
        PyErr_SetNone(PyExc_StopIteration);
        return nullptr;
    }
    // Always box: a tuple or an exception instance must arrive as itself. Built directly (what
    // StopIteration(value) does) because every `await` of ours from Python code pays for it.
    auto *type = reinterpret_cast<PyTypeObject *>(PyExc_StopIteration);
    PyObject *args = PyTuple_Pack(1, value);
    PyObject *stop = args ? type->tp_new(type, args, nullptr) : nullptr;
    Py_XDECREF(args);
    if (stop != nullptr) {
        reinterpret_cast<PyStopIterationObject *>(stop)->value = value; // takes our reference
        PyErr_SetRaisedException(stop);
    } else {
        Py_DECREF(value);
    }
    return nullptr;
}

PyObject *coro_send(PyObject *self, PyObject *arg) {
    PyObject *value = nullptr;
    const PySendResult status = coro_am_send(self, arg, &value);
    return protocol_result(status, value);
}

PyObject *coro_iternext(PyObject *self) {
    PyObject *value = nullptr;
    const PySendResult status = coro_am_send(self, Py_None, &value);
    if (status == PYGEN_RETURN && value == Py_None) {
        Py_DECREF(value);
        return nullptr; // exhausted: StopIteration without a value
    }
    return protocol_result(status, value);
}

/// Builds the exception instance of `throw(typ[, val[, tb]])`.
PyObject *make_thrown(PyObject *typ, PyObject *val, PyObject *tb) {
    if (tb == Py_None)
        tb = nullptr;
    if (tb != nullptr && !PyTraceBack_Check(tb)) {
        PyErr_SetString(PyExc_TypeError, "throw() third argument must be a traceback object");
        return nullptr;
    }
    PyObject *exc = nullptr;
    if (PyExceptionInstance_Check(typ)) {
        if (val != nullptr && val != Py_None) {
            PyErr_SetString(PyExc_TypeError, "instance exception may not have a separate value");
            return nullptr;
        }
        exc = Py_NewRef(typ);
    } else if (PyExceptionClass_Check(typ)) {
        if (val != nullptr && PyObject_TypeCheck(val, reinterpret_cast<PyTypeObject *>(typ)))
            exc = Py_NewRef(val);
        else if (val == nullptr || val == Py_None)
            exc = PyObject_CallNoArgs(typ);
        else if (PyTuple_Check(val))
            exc = PyObject_Call(typ, val, nullptr);
        else
            exc = PyObject_CallOneArg(typ, val);
        if (exc == nullptr)
            return nullptr;
        if (!PyExceptionInstance_Check(exc)) {
            PyErr_Format(PyExc_TypeError,
                         "calling %R should have returned an instance of "
                         "BaseException, not %s",
                         typ, Py_TYPE(exc)->tp_name);
            Py_DECREF(exc);
            return nullptr;
        }
    } else {
        PyErr_Format(PyExc_TypeError,
                     "exceptions must be classes or instances deriving from BaseException, not %s",
                     Py_TYPE(typ)->tp_name);
        return nullptr;
    }
    if (tb != nullptr && PyException_SetTraceback(exc, tb) < 0) {
        Py_DECREF(exc);
        return nullptr;
    }
    return exc;
}

/// Throws `exc` (stolen) into the coroutine; returns the send status.
PySendResult throw_into(CoroObject *self, PyObject *exc, PyObject **out) {
    *out = nullptr;
    if (!check_not_running(self)) {
        Py_DECREF(exc);
        return PYGEN_ERROR;
    }
    if (self->state != State::Suspended) {
        // Unstarted: close it without running the body, then raise; finished: just raise.
        destroy_frame(self);
        PyErr_SetRaisedException(exc);
        return PYGEN_ERROR;
    }
    auto &promise = self->handle.promise();
    if (promise.delegate != nullptr) {
        if (PyErr_GivenExceptionMatches(exc, PyExc_GeneratorExit)) {
            PyObject *closed = PyObject_CallMethod(promise.delegate, "close", nullptr);
            Py_CLEAR(promise.delegate);
            if (closed == nullptr) {
                Py_DECREF(exc);
                exc = PyErr_GetRaisedException();
            } else {
                Py_DECREF(closed);
            }
            promise.resume_error = exc;
        } else {
            PyObject *thrower = PyObject_GetAttrString(promise.delegate, "throw");
            if (thrower == nullptr) {
                if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
                    PyErr_Clear();
                } else {
                    Py_DECREF(exc);
                    exc = PyErr_GetRaisedException();
                }
            }
            if (thrower == nullptr) {
                Py_CLEAR(promise.delegate);
                promise.resume_error = exc;
            } else {
                self->state = State::Running;
                PyObject *value = PyObject_CallOneArg(thrower, exc);
                Py_DECREF(thrower);
                Py_DECREF(exc);
                if (value != nullptr) {
                    self->state = State::Suspended;
                    *out = value;
                    return PYGEN_NEXT;
                }
                Py_CLEAR(promise.delegate);
                PyObject *raised = PyErr_GetRaisedException();
                if (PyErr_GivenExceptionMatches(raised, PyExc_StopIteration)) {
                    PyObject *returned = PyObject_GetAttrString(raised, "value");
                    Py_DECREF(raised);
                    if (returned == nullptr)
                        promise.resume_error = PyErr_GetRaisedException();
                    else
                        promise.resume_value = returned;
                } else {
                    promise.resume_error = raised;
                }
            }
        }
    } else {
        promise.resume_error = exc;
    }
    return resume(self, out);
}

PyObject *coro_throw(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs < 1 || nargs > 3) {
        PyErr_Format(PyExc_TypeError, "throw expected at least 1 argument, got %zd", nargs);
        return nullptr;
    }
    PyObject *exc =
        make_thrown(args[0], nargs > 1 ? args[1] : nullptr, nargs > 2 ? args[2] : nullptr);
    if (exc == nullptr)
        return nullptr;
    PyObject *value = nullptr;
    const PySendResult status = throw_into(as_coro(self), exc, &value);
    return protocol_result(status, value);
}

/// Closes the delegate and destroys a suspended frame, running its destructors.
int close_coro(CoroObject *self) {
    if (!check_not_running(self))
        return -1;
    PyObject *error = nullptr;
    if (self->state == State::Suspended) {
        auto &promise = self->handle.promise();
        if (promise.delegate != nullptr) {
            PyObject *delegate = std::exchange(promise.delegate, nullptr);
            self->state = State::Running;
            PyObject *closed = PyObject_CallMethod(delegate, "close", nullptr);
            Py_DECREF(delegate);
            if (closed == nullptr)
                error = PyErr_GetRaisedException();
            Py_XDECREF(closed);
        }
    }
    destroy_frame(self);
    if (error != nullptr) {
        PyErr_SetRaisedException(error);
        return -1;
    }
    return 0;
}

PyObject *coro_close(PyObject *self, PyObject *) {
    if (close_coro(as_coro(self)) < 0)
        return nullptr;
    Py_RETURN_NONE;
}

PyObject *coro_await(PyObject *self) { return Py_NewRef(self); }

void coro_dealloc(PyObject *o) {
    CoroObject *self = as_coro(o);
    if (self->handle) {
        PyObject *saved = PyErr_GetRaisedException();
        if (self->state == State::Running)
            self->state = State::Suspended; // cannot happen while referenced; be safe anyway
        if (close_coro(self) < 0)
            PyErr_WriteUnraisable(o);
        PyErr_SetRaisedException(saved);
    }
    Py_TYPE(o)->tp_free(o);
}

PyObject *coro_running(PyObject *self, void *) {
    return PyBool_FromLong(as_coro(self)->state == State::Running);
}

PyObject *coro_suspended(PyObject *self, void *) {
    return PyBool_FromLong(as_coro(self)->state == State::Suspended);
}

PyObject *coro_awaiting(PyObject *self, void *) {
    CoroObject *c = as_coro(self);
    if (c->handle && c->handle.promise().delegate != nullptr)
        return Py_NewRef(c->handle.promise().delegate);
    Py_RETURN_NONE;
}

PyMethodDef coro_methods[] = {
    {"send", coro_send, METH_O,
     PyDoc_STR("send(arg) -> send 'arg' into coroutine,\nreturn next "
               "iterated value or raise StopIteration.")},
    {"throw", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(coro_throw)),
     METH_FASTCALL,
     PyDoc_STR("throw(value)\nthrow(type[,value[,traceback]])\n\nRaise exception in coroutine, "
               "return next iterated value or raise StopIteration.")},
    {"close", coro_close, METH_NOARGS,
     PyDoc_STR("close() -> raise GeneratorExit inside coroutine.")},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef coro_getset[] = {
    {"cr_running", coro_running, nullptr, PyDoc_STR("True while the coroutine runs."), nullptr},
    {"cr_suspended", coro_suspended, nullptr, PyDoc_STR("True while suspended in an await."),
     nullptr},
    {"cr_await", coro_awaiting, nullptr, PyDoc_STR("Object being awaited on, or None."), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyAsyncMethods coro_async = {coro_await, nullptr, nullptr, coro_am_send};

/// The callable that `def_coroutine` stores: forwards calls, carries the coroutine marker.
struct CoroFunction {
    PyObject_HEAD PyObject *func;
    PyObject *dict;
    vectorcallfunc vectorcall;
};

PyObject *coro_function_vectorcall(PyObject *self, PyObject *const *args, size_t nargsf,
                                   PyObject *kwnames) {
    return PyObject_Vectorcall(reinterpret_cast<CoroFunction *>(self)->func, args, nargsf, kwnames);
}

PyObject *coro_function_get(PyObject *self, PyObject *obj, PyObject *) {
    if (obj == nullptr || obj == Py_None)
        return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

int coro_function_traverse(PyObject *o, visitproc visit, void *arg) {
    auto *self = reinterpret_cast<CoroFunction *>(o);
    Py_VISIT(self->func);
    Py_VISIT(self->dict);
    return 0;
}

int coro_function_clear(PyObject *o) {
    auto *self = reinterpret_cast<CoroFunction *>(o);
    Py_CLEAR(self->func);
    Py_CLEAR(self->dict);
    return 0;
}

void coro_function_dealloc(PyObject *o) {
    PyObject_GC_UnTrack(o);
    coro_function_clear(o);
    Py_TYPE(o)->tp_free(o);
}

PyObject *coro_function_repr(PyObject *o) {
    auto *self = reinterpret_cast<CoroFunction *>(o);
    return PyUnicode_FromFormat("<coroutine function %R>", self->func);
}

void ready_types() {
    CoroType.tp_name = "zentrel_master.coroutine";
    CoroType.tp_basicsize = sizeof(CoroObject);
    CoroType.tp_flags = Py_TPFLAGS_DEFAULT;
    CoroType.tp_doc = PyDoc_STR("A coroutine implemented in C++.");
    CoroType.tp_dealloc = coro_dealloc;
    CoroType.tp_as_async = &coro_async;
    CoroType.tp_iternext = coro_iternext;
    CoroType.tp_methods = coro_methods;
    CoroType.tp_getset = coro_getset;
    if (PyType_Ready(&CoroType) < 0)
        throw py::error_already_set();

    CoroFunctionType.tp_name = "zentrel_master.coroutine_function";
    CoroFunctionType.tp_basicsize = sizeof(CoroFunction);
    CoroFunctionType.tp_flags =
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL;
    CoroFunctionType.tp_doc = PyDoc_STR("A coroutine function implemented in C++.");
    CoroFunctionType.tp_dealloc = coro_function_dealloc;
    CoroFunctionType.tp_traverse = coro_function_traverse;
    CoroFunctionType.tp_clear = coro_function_clear;
    CoroFunctionType.tp_call = PyVectorcall_Call;
    CoroFunctionType.tp_vectorcall_offset = offsetof(CoroFunction, vectorcall);
    CoroFunctionType.tp_dictoffset = offsetof(CoroFunction, dict);
    CoroFunctionType.tp_descr_get = coro_function_get;
    CoroFunctionType.tp_repr = coro_function_repr;
    if (PyType_Ready(&CoroFunctionType) < 0)
        throw py::error_already_set();
}

} // namespace

CoroPromise::~CoroPromise() {
    Py_XDECREF(delegate);
    Py_XDECREF(yielded);
    Py_XDECREF(resume_value);
    Py_XDECREF(resume_error);
    Py_XDECREF(result);
}

Coro CoroPromise::get_return_object() {
    CoroObject *self = PyObject_New(CoroObject, &CoroType);
    if (self == nullptr)
        throw py::error_already_set();
    self->handle = std::coroutine_handle<CoroPromise>::from_promise(*this);
    self->state = State::Created;
    return Coro(py::reinterpret_steal<py::object>(reinterpret_cast<PyObject *>(self)));
}

PyAwaiter CoroPromise::await_transform(py::handle awaitable) {
    PyObject *it = awaitable_iter(awaitable.ptr());
    if (it == nullptr)
        throw py::error_already_set();
    return PyAwaiter{it, this};
}

PyAwaiter CoroPromise::await_transform(Coro &&coro) {
    py::object object = std::move(coro).release();
    return PyAwaiter{object.release().ptr(), this};
}

bool PyAwaiter::await_suspend(std::coroutine_handle<CoroPromise>) noexcept {
    // Take the first step at once: an awaitable that finishes without yielding (an uncontended
    // lock, a done future, a C++ coroutine that does not suspend) resumes us without a trip
    // through the caller.
    PyObject *value = nullptr;
    const PySendResult status = PyIter_Send(iter, Py_None, &value);
    if (status == PYGEN_NEXT) {
        promise->delegate = std::exchange(iter, nullptr);
        promise->yielded = value;
        return true;
    }
    Py_CLEAR(iter);
    if (status == PYGEN_RETURN)
        promise->resume_value = value;
    else
        promise->resume_error = PyErr_GetRaisedException();
    return false;
}

py::object PyAwaiter::await_resume() {
    Py_CLEAR(iter);
    if (promise->resume_error != nullptr) {
        PyErr_SetRaisedException(std::exchange(promise->resume_error, nullptr));
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(std::exchange(promise->resume_value, nullptr));
}

} // namespace detail

PyTypeObject *coroutine_type() { return &detail::CoroType; }

Coro failure_of(py::object awaitable, ErrorFilter keep) {
    std::optional<py::error_already_set> failure;
    try {
        co_await awaitable;
    } catch (py::error_already_set &e) {
        if (!keep(e.value()))
            throw;
        failure.emplace(std::move(e));
    }
    if (!failure)
        co_return py::none();
    py::object exc = failure->value();
    failure.reset();
    co_return exc;
}

bool is_exception(py::handle exc) {
    return PyObject_TypeCheck(exc.ptr(), reinterpret_cast<PyTypeObject *>(PyExc_Exception));
}

bool any_error(py::handle) { return true; }

void raise_again(py::handle exc) {
    PyErr_SetRaisedException(Py_NewRef(exc.ptr()));
    throw py::error_already_set();
}

py::object mark_coroutine_function(py::handle func) {
    auto *self = PyObject_GC_New(detail::CoroFunction, &detail::CoroFunctionType);
    if (self == nullptr)
        throw py::error_already_set();
    self->func = Py_NewRef(func.ptr());
    self->dict = nullptr;
    self->vectorcall = detail::coro_function_vectorcall;
    PyObject_GC_Track(self);
    auto wrapper = py::reinterpret_steal<py::object>(reinterpret_cast<PyObject *>(self));
    for (const char *attr : {"__name__", "__qualname__", "__doc__", "__module__"}) {
        if (py::hasattr(func, attr))
            py::setattr(wrapper, attr, func.attr(attr));
    }
    py::setattr(wrapper, "__wrapped__", func);
    return py::module_::import("inspect").attr("markcoroutinefunction")(wrapper);
}

void init_common(py::module_ &) {
    static bool ready = false;
    if (ready)
        return;
    detail::ready_types();
    auto type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(&detail::CoroType));
    py::module_::import("collections.abc").attr("Coroutine").attr("register")(type);
    ready = true;
}

} // namespace zm
