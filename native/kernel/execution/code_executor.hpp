#pragma once
/// CodeExecutor: runs console text in the workbook's persistent namespace.

#include "common/python.hpp"

namespace zm::kernel::execution {

class CodeExecutor {
public:
    CodeExecutor();

    /// Runs `code` and returns the record {success, stdout, stderr, error, result}. Every
    /// failure of the user's code, BaseException included, becomes success False with its
    /// error record; nothing raised by the user's code leaves this function.
    py::dict execute(py::object code, py::object stdout_callback, py::object stderr_callback);

    /// Fresh mappings: globals with the four injected names (read again from the user package),
    /// empty locals.
    void reset_namespace();

    py::object globals;
    py::object locals;

private:
    /// Steps of one run inside the output redirection; returns the value of the final
    /// expression, or None.
    static py::object run(py::handle code, py::handle globals, py::handle locals);
};

/// compile(source, filename, mode) without inheriting the caller's future flags.
py::object compile_source(py::handle source, const char *filename, const char *mode);

/// Runs compiled code with the two mappings; returns what the code evaluates to.
py::object eval_code(py::handle code, py::handle globals, py::handle locals);

/// The formatted traceback of `e`, as the interpreter prints it.
py::str extract_tracebak_string(py::object e);

} // namespace zm::kernel::execution
