#include "kernel/execution/code_executor.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/execution/console_globals.hpp"
#include "kernel/execution/output_routing.hpp"
#include "kernel/execution/split_scanner.hpp"
#include "kernel/execution/stream_capture.hpp"
#include "kernel/texts.hpp"

#include <optional>
#include <string_view>

namespace zm::kernel::execution {

namespace {

/// Compiles `source` in `mode`; a SyntaxError (IndentationError, TabError) gives nullopt, any
/// other failure propagates.
std::optional<py::object> try_compile(py::handle source, const char *filename, const char *mode) {
    try {
        return compile_source(source, filename, mode);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_SyntaxError))
            throw;
        return std::nullopt;
    }
}

void exec_statements(py::handle source, py::handle globals, py::handle locals) {
    eval_code(compile_source(source, texts::EXEC_FILENAME, "exec"), globals, locals);
}

py::str decode(std::string_view text) {
    PyObject *s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
    if (s == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

/// sys.stdout.flush() and sys.stderr.flush(); with `quiet`, an Exception from either is dropped.
void flush_standard_streams(bool quiet) {
    for (const char *name : {"stdout", "stderr"}) {
        PyObject *stream = PySys_GetObject(name); // borrowed
        if (stream == nullptr || stream == Py_None)
            continue;
        try {
            py::reinterpret_borrow<py::object>(stream).attr("flush")();
        } catch (py::error_already_set &e) {
            if (!quiet || !e.matches(PyExc_Exception))
                throw;
        }
    }
}

/// The error record of `exc`; if building it fails too (say, out of memory), a record with
/// what could be had.
py::dict safe_error_record(py::handle exc) {
    try {
        return error_record(exc);
    } catch (py::error_already_set &) {
        py::dict record;
        record["type"] = py::str(Py_TYPE(exc.ptr())->tp_name);
        record["message"] = exception_text(exc);
        record["traceback"] = py::str("");
        return record;
    }
}

} // namespace

CodeExecutor::CodeExecutor() { reset_namespace(); }

void CodeExecutor::reset_namespace() {
    const core::Runtime &rt = core::runtime();
    py::dict new_locals;
    py::object new_globals = new_console_globals(new_locals);
    py::object package = rt.user_package;
    new_globals["__builtins__"] = rt.builtins;
    new_globals["zentrel"] = package;
    new_globals["excel"] = py::getattr(package, "excel", py::none());
    new_globals["context"] = py::getattr(package, "context", py::none());
    globals = new_globals;
    locals = new_locals;
}

py::object CodeExecutor::run(py::handle code, py::handle globals, py::handle locals) {
    if (auto expression = try_compile(code, texts::EVAL_FILENAME, "eval"))
        return eval_code(*expression, globals, locals);

    // Statements. The text compiled far enough to raise a SyntaxError, so it encodes as UTF-8.
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(code.ptr(), &size);
    if (data == nullptr)
        throw py::error_already_set();
    const std::string_view text(data, static_cast<std::size_t>(size));
    const std::size_t split = find_statement_split(text);
    if (split == std::string_view::npos || split + 2 == text.size()) {
        exec_statements(code, globals, locals);
        return py::none();
    }
    exec_statements(decode(text.substr(0, split)), globals, locals);
    py::str tail = decode(text.substr(split + 2));
    // Only a tail that does not compile as an expression runs as statements: a SyntaxError
    // raised while evaluating it is the user's error, and the tail must not run twice.
    if (auto expression = try_compile(tail, texts::EVAL_FILENAME, "eval"))
        return eval_code(*expression, globals, locals);
    exec_statements(tail, globals, locals);
    return py::none();
}

py::dict CodeExecutor::execute(py::object code, py::object stdout_callback,
                               py::object stderr_callback) {
    check_str(code, "code");
    py::object out = new_stream_capture(stdout_callback);
    py::object err = new_stream_capture(stderr_callback);
    py::dict record;
    record["success"] = true;
    record["stdout"] = py::str("");
    record["stderr"] = py::str("");
    record["error"] = py::none();
    record["result"] = py::none();
    // This run keeps the mappings it started with, even if the namespace is reset meanwhile.
    py::object run_globals = globals;
    py::object run_locals = locals;
    bool failed = false;
    try {
        OutputRedirect redirect(out, err);
        record["result"] = run(code, run_globals, run_locals);
        flush_standard_streams(false);
    } catch (py::error_already_set &e) {
        // BaseException too: SystemExit or KeyboardInterrupt raised by the user's code is a
        // failure of that code, never a reason to end the kernel.
        failed = true;
        record["success"] = false;
        record["error"] = safe_error_record(e.value());
    }
    if (failed) {
        try {
            flush_standard_streams(true);
        } catch (py::error_already_set &) {
        }
    }
    record["stdout"] = capture_value(out);
    record["stderr"] = capture_value(err);
    return record;
}

py::object compile_source(py::handle source, const char *filename, const char *mode) {
    return core::runtime().compile(source, filename, mode, 0, true);
}

py::object eval_code(py::handle code, py::handle globals, py::handle locals) {
    // As the builtin exec does: globals without "__builtins__" get the current builtins. Code
    // runs without them, but native code that imports lazily (time.strptime, for one) reads
    // them from the calling function's globals and raised KeyError: '__builtins__'.
    if (PyDict_Check(globals.ptr())) {
        static PyObject *key = PyUnicode_InternFromString("__builtins__");
        const int present = PyDict_Contains(globals.ptr(), key);
        if (present < 0 ||
            (present == 0 && PyDict_SetItem(globals.ptr(), key, PyEval_GetBuiltins()) < 0))
            throw py::error_already_set();
    }
    PyObject *result = PyEval_EvalCode(code.ptr(), globals.ptr(), locals.ptr());
    if (result == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

py::str extract_tracebak_string(py::object e) {
    check_instance(e, reinterpret_cast<PyTypeObject *>(PyExc_BaseException), "e");
    return format_traceback(e);
}

} // namespace zm::kernel::execution
