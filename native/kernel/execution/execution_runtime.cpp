#include "kernel/execution/execution_runtime.hpp"

namespace zm::kernel::execution {

namespace {
ExecutionRuntime *runtime = nullptr;
}

void init_execution_runtime() {
    if (runtime != nullptr)
        return;
    // Deliberately leaked: these objects must outlive static destruction at interpreter exit.
    auto *rt = new ExecutionRuntime();
    rt->builtins = py::module_::import("builtins");
    rt->compile = rt->builtins.attr("compile");
    rt->sys = py::module_::import("sys");
    rt->linecache = py::module_::import("linecache");
    rt->module_spec = py::module_::import("importlib.machinery").attr("ModuleSpec");
    py::module_ io = py::module_::import("io");
    rt->string_io = io.attr("StringIO");
    rt->text_io_base = io.attr("TextIOBase");
    rt->user_package = py::none();
    rt->stream_capture = py::none();
    rt->console_globals = py::none();
    runtime = rt;
}

ExecutionRuntime &execution_runtime() { return *runtime; }

py::object compile_source(py::handle source, const char *filename, const char *mode) {
    return execution_runtime().compile(source, filename, mode, 0, true);
}

py::object eval_code(py::handle code, py::handle globals, py::handle locals) {
    PyObject *result = PyEval_EvalCode(code.ptr(), globals.ptr(), locals.ptr());
    if (result == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

} // namespace zm::kernel::execution
