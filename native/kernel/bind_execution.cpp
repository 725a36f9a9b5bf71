// Registration of code execution: executor, output capture, in-memory modules, search paths and
// the user package.
#include "common/args.hpp"
#include "common/python_class.hpp"
#include "common/text_format.hpp"
#include "kernel/bindings.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/execution/code_executor.hpp"
#include "kernel/execution/console_globals.hpp"
#include "kernel/execution/in_memory_module_loader.hpp"
#include "kernel/execution/kernel_stream_hook.hpp"
#include "kernel/execution/module_unloader.hpp"
#include "kernel/execution/output_routing.hpp"
#include "kernel/execution/stream_capture.hpp"
#include "kernel/execution/virtual_environment.hpp"
#include "kernel/texts.hpp"

#include <string>

namespace zm::kernel {

using namespace zm::kernel::execution;

namespace {

/// Imports the user package next to the kernel and makes it importable as "zentrel" (with the
/// submodules it has already loaded); falls back to a top-level "zentrel".
py::object import_user_package() {
    py::object package;
    try {
        package = py::module_::import(texts::USER_PACKAGE_MODULE);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ImportError))
            throw;
        return py::module_::import(texts::USER_PACKAGE_NAME);
    }
    py::dict modules = core::runtime().sys.attr("modules");
    modules[texts::USER_PACKAGE_NAME] = package;
    const std::string_view prefix = texts::USER_SUBMODULE_PREFIX;
    for (py::handle name : py::list(modules)) {
        if (!PyUnicode_Check(name.ptr()))
            continue;
        const std::string text = utf8(name);
        if (text.compare(0, prefix.size(), prefix) == 0) {
            const std::string alias = zm::format(texts::USER_SUBMODULE, text.substr(prefix.size()));
            if (!modules.contains(alias))
                modules[py::str(alias)] = modules[name];
        }
    }
    return package;
}

py::object make_text_stream(const char *name, py::dict ns, const char *doc) {
    return make_class(texts::KERNEL_MODULE_NAME, name, py::make_tuple(core::runtime().text_io_base),
                      ns, doc);
}

void check_mapping(py::handle value, const char *name) {
    check_instance(value, &PyDict_Type, name);
}

void bind_code_executor(py::module_ &m) {
    py::class_<CodeExecutor>(m, "CodeExecutor", texts::doc::CODE_EXECUTOR)
        .def(py::init<>())
        .def("execute", &CodeExecutor::execute, py::arg("code"),
             py::arg("stdout_callback") = py::none(), py::arg("stderr_callback") = py::none(),
             texts::doc::EXECUTE)
        .def("reset_namespace", &CodeExecutor::reset_namespace, texts::doc::RESET_NAMESPACE)
        .def_property(
            "globals", [](const CodeExecutor &self) { return self.globals; },
            [](CodeExecutor &self, py::object value) {
                check_mapping(value, "globals");
                self.globals = value;
                set_console_locals(value, self.locals);
            },
            "The global mapping handed to every evaluation and execution.")
        .def_property(
            "locals", [](const CodeExecutor &self) { return self.locals; },
            [](CodeExecutor &self, py::object value) {
                check_mapping(value, "locals");
                self.locals = value;
                set_console_locals(self.globals, value);
            },
            "The local mapping: where the console's top-level bindings live.");
}

void bind_virtual_environment(py::module_ &m) {
    auto list_property = [](py::object VirtualEnvironment::*member, const char *name) {
        return std::make_pair([member](const VirtualEnvironment &self) { return self.*member; },
                              [member, name](VirtualEnvironment &self, py::object value) {
                                  check_list(value, name);
                                  self.*member = value;
                              });
    };
    auto original = list_property(&VirtualEnvironment::original_path, "original_path");
    auto custom = list_property(&VirtualEnvironment::custom_paths, "custom_paths");
    py::class_<VirtualEnvironment>(m, "VirtualEnvironment", texts::doc::VIRTUAL_ENVIRONMENT)
        .def(py::init<py::object>(), py::arg("workbook_id"))
        .def("add_path", &VirtualEnvironment::add_path, py::arg("path"),
             "Add `path` to the workbook's paths and to the front of sys.path.")
        .def("remove_path", &VirtualEnvironment::remove_path, py::arg("path"),
             "Remove `path` from the workbook's paths and from sys.path.")
        .def("reset_path", &VirtualEnvironment::reset_path,
             "Put sys.path back to what it was when this environment was made.")
        .def("get_paths", &VirtualEnvironment::get_paths, "A copy of the workbook's paths.")
        .def_readonly("workbook_id", &VirtualEnvironment::workbook_id)
        .def_property("original_path", original.first, original.second,
                      "sys.path as it was when this environment was made.")
        .def_property("custom_paths", custom.first, custom.second,
                      "Directories added through add_path, in order.");
}

void bind_stream_router(py::module_ &m) {
    py::class_<StreamRouter> cls(m, "StreamRouter", texts::doc::STREAM_ROUTER);
    cls.def("flush", &StreamRouter::flush)
        .def("writable", [](const StreamRouter &) { return true; })
        .def("readable", [](const StreamRouter &) { return false; })
        .def("isatty",
             [](const StreamRouter &self) {
                 py::object isatty = py::getattr(self.target(), "isatty", py::none());
                 return !isatty.is_none() && py::bool_(isatty());
             })
        .def("fileno", [](const StreamRouter &self) { return self.target().attr("fileno")(); })
        .def_property_readonly("encoding",
                               [](const StreamRouter &self) {
                                   return py::getattr(self.target(), "encoding", py::str("utf-8"));
                               })
        .def_property_readonly("errors",
                               [](const StreamRouter &self) {
                                   return py::getattr(self.target(), "errors", py::str("strict"));
                               })
        .def("__getattr__", [](const StreamRouter &self, py::str name) {
            return py::getattr(self.target(), name);
        });
    py::setattr(cls, "write", router_write_method());
}

} // namespace

void bind_execution(py::module_ &m) {
    core::Runtime &rt = core::runtime();
    rt.user_package = import_user_package();
    rt.zentrel = rt.user_package;
    m.attr("zentrel") = rt.user_package;

    rt.stream_capture =
        make_text_stream("StreamCapture", stream_capture_namespace(), texts::doc::STREAM_CAPTURE);
    m.attr("StreamCapture") = rt.stream_capture;
    m.attr("KernelStreamHook") = make_text_stream(
        "KernelStreamHook", kernel_stream_hook_namespace(), texts::doc::KERNEL_STREAM_HOOK);
    bind_stream_router(m);
    init_output_routing();

    rt.console_globals = make_class(texts::KERNEL_MODULE_NAME, "ConsoleGlobals",
                                    py::make_tuple(py::reinterpret_borrow<py::object>(
                                        reinterpret_cast<PyObject *>(&PyDict_Type))),
                                    console_globals_namespace(), texts::doc::CONSOLE_GLOBALS);
    m.attr("ConsoleGlobals") = rt.console_globals;
    bind_code_executor(m);

    py::module_ abc = py::module_::import("importlib.abc");
    py::object loader_class =
        make_class(texts::KERNEL_MODULE_NAME, "InMemoryModuleLoader",
                   py::make_tuple(abc.attr("MetaPathFinder"), abc.attr("Loader")),
                   in_memory_module_loader_namespace(), texts::doc::IN_MEMORY_MODULE_LOADER);
    m.attr("InMemoryModuleLoader") = loader_class;
    py::object loader = loader_class();
    m.attr("in_memory_loader") = loader;
    install_meta_path_finder(loader);

    bind_virtual_environment(m);

    m.def("extract_tracebak_string", &extract_tracebak_string, py::arg("e"),
          texts::doc::EXTRACT_TRACEBACK);
    m.def(
        "_unload_modules_by_prefix",
        [](py::object paths) { return unload_modules_by_prefix(paths); }, py::arg("paths"),
        texts::doc::UNLOAD_BY_PREFIX);
}

} // namespace zm::kernel
