#pragma once
/// StreamCapture: the in-memory capture of one run's output, forwarding each piece as written.

#include "common/python.hpp"

namespace zm::kernel::execution {

/// Characters of its own text a capture with a callback keeps at least (its pieces were all
/// passed on as written; the kept text is the tail, as in a console's scrollback).
constexpr Py_ssize_t STREAMED_CAPTURE_LIMIT = 1 << 20;

/// The class namespace of StreamCapture (an io.TextIOBase subclass).
py::dict stream_capture_namespace();

/// A new StreamCapture with `on_write` (callable or None).
py::object new_stream_capture(py::handle on_write);

/// Everything written to `capture` so far.
py::str capture_value(py::handle capture);

/// StreamCapture.write: buffers `text` (which must be a str) and forwards it to the callback;
/// returns its length.
Py_ssize_t capture_write(PyObject *capture, PyObject *text);

/// True when `stream` is exactly a StreamCapture (so capture_write applies).
bool is_stream_capture(PyObject *stream);

/// Makes a C function taking (self, *args) bind as a method in a class namespace.
py::object fast_method(PyMethodDef *def);

} // namespace zm::kernel::execution
