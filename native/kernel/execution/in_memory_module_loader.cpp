#include "kernel/execution/in_memory_module_loader.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "common/exact_text.hpp"
#include "common/logging.hpp"
#include "common/python_class.hpp"
#include "common/text_format.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/execution/code_executor.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel::execution {

namespace {

const Logger &log() { return module_logger(texts::KERNEL_MODULE_NAME); }

py::dict linecache_cache() { return core::runtime().linecache.attr("cache"); }

/// The source split where the compiler counts lines (\n, \r\n, \r), each line ending in "\n",
/// so that line numbers in tracebacks match the cache.
py::list source_lines(py::handle code) {
    py::list lines;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(code.ptr());
    const int kind = PyUnicode_KIND(code.ptr());
    const void *data = PyUnicode_DATA(code.ptr());
    Py_ssize_t start = 0;
    Py_ssize_t i = 0;
    auto add_line = [&](Py_ssize_t end) {
        py::object piece =
            py::reinterpret_steal<py::object>(PyUnicode_Substring(code.ptr(), start, end));
        if (!piece)
            throw py::error_already_set();
        lines.append(py::str(piece) + py::str("\n"));
    };
    while (i < n) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c == '\n' || c == '\r') {
            add_line(i);
            if (c == '\r' && i + 1 < n && PyUnicode_READ(kind, data, i + 1) == '\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < n)
        add_line(n);
    return lines;
}

void register_source_lines(py::handle code, py::handle filename) {
    linecache_cache()[filename] =
        py::make_tuple(PyUnicode_GET_LENGTH(code.ptr()), py::none(), source_lines(code), filename);
}

bool in_sys_modules(py::handle name) {
    return PyDict_Contains(core::runtime().sys.attr("modules").ptr(), name.ptr()) == 1;
}

void init_loader(py::object self) { self.attr("source_cache") = py::dict(); }

py::object find_spec(py::object self, py::object fullname, py::object, py::object) {
    check_str(fullname, "fullname");
    py::object cache = self.attr("source_cache");
    if (PySequence_Contains(cache.ptr(), fullname.ptr()) != 1) {
        if (PyErr_Occurred())
            throw py::error_already_set();
        return py::none();
    }
    return core::runtime().module_spec(fullname, self);
}

/// The traceback of `exc` from its first entry outside the kernel module, or None.
py::object strip_kernel_frames(py::handle exc) {
    py::object tb = py::reinterpret_steal<py::object>(PyException_GetTraceback(exc.ptr()));
    const py::str kernel_name(texts::KERNEL_MODULE_NAME);
    while (tb && !tb.is_none()) {
        py::object frame_globals = tb.attr("tb_frame").attr("f_globals");
        py::object name = py::reinterpret_borrow<py::dict>(frame_globals).attr("get")("__name__");
        if (!name.equal(kernel_name))
            break;
        tb = tb.attr("tb_next");
    }
    return tb ? tb : py::none();
}

void exec_module(py::object self, py::object module) {
    py::object name = module.attr("__name__");
    py::object cache = self.attr("source_cache");
    if (PySequence_Contains(cache.ptr(), name.ptr()) != 1) {
        if (PyErr_Occurred())
            throw py::error_already_set();
        throw py::import_error(zm::format(texts::NO_SOURCE, utf8(py::str(name))));
    }
    py::object code = cache[name];
    py::str filename = virtual_file_name(name);
    register_source_lines(code, filename);
    try {
        py::object compiled = compile_source(code, utf8(filename).c_str(), "exec");
        py::object ns = module.attr("__dict__");
        eval_code(compiled, ns, ns);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        py::object exc = e.value();
        log().error(
            zm::format(texts::LOADER_EXEC_ERROR, utf8(py::str(name)), utf8(exception_text(exc))));
        // Raised again as the user's own exception, from None, starting at the user's lines.
        py::object tb = strip_kernel_frames(exc);
        if (PyException_SetTraceback(exc.ptr(), tb.ptr()) != 0)
            throw py::error_already_set();
        PyException_SetCause(exc.ptr(), nullptr);
        py::setattr(exc, "__suppress_context__", py::bool_(true));
        PyErr_SetRaisedException(exc.release().ptr());
        throw py::error_already_set();
    }
}

void update_module(py::object self, py::object module_name, py::object code) {
    check_str(module_name, "module_name");
    check_str(code, "code");
    self.attr("source_cache")[module_name] = code;
    py::object modules = core::runtime().sys.attr("modules");
    if (in_sys_modules(module_name)) {
        modules.attr("pop")(module_name, py::none());
        if (log().debug_enabled())
            log().debug(zm::format(texts::LOADER_FORCE_RELOAD, utf8(module_name)));
    }
}

void delete_module(py::object self, py::object module_name) {
    check_str(module_name, "module_name");
    py::object cache = self.attr("source_cache");
    if (PySequence_Contains(cache.ptr(), module_name.ptr()) == 1) {
        cache.attr("pop")(module_name, py::none());
        if (log().debug_enabled())
            log().debug(zm::format(texts::LOADER_REMOVED_FROM_SOURCE_CACHE, utf8(module_name)));
    }
    if (in_sys_modules(module_name)) {
        core::runtime().sys.attr("modules").attr("pop")(module_name, py::none());
        if (log().debug_enabled())
            log().debug(zm::format(texts::LOADER_REMOVED_FROM_SYS_MODULES, utf8(module_name)));
    }
    py::str filename = virtual_file_name(module_name);
    py::dict lines = linecache_cache();
    if (lines.contains(filename)) {
        lines.attr("pop")(filename, py::none());
        if (log().debug_enabled())
            log().debug(zm::format(texts::LOADER_REMOVED_FROM_LINECACHE, utf8(filename)));
    }
}

} // namespace

py::str virtual_file_name(py::handle module_name) {
    return zm::exact_str(zm::format(texts::VIRTUAL_FILE, zm::str_utf8(module_name)));
}

bool install_meta_path_finder(py::handle loader) {
    py::list meta_path = core::runtime().sys.attr("meta_path");
    for (py::handle entry : meta_path)
        if (entry.is(loader))
            return false;
    meta_path.insert(0, loader);
    return true;
}

py::dict in_memory_module_loader_namespace() {
    py::dict ns;
    ns["__init__"] = method("__init__", &init_loader, py::arg("self"));
    ns["find_spec"] = method("find_spec", &find_spec, py::arg("self"), py::arg("fullname"),
                             py::arg("path"), py::arg("target") = py::none(),
                             "A spec served by this loader when `fullname` is in source_cache, "
                             "else None.");
    ns["create_module"] = method(
        "create_module", [](py::object, py::object) { return py::none(); }, py::arg("self"),
        py::arg("spec"), "None: default module creation.");
    ns["exec_module"] = method("exec_module", &exec_module, py::arg("self"), py::arg("module"),
                               "Run the module's source in its namespace.");
    ns["update_module"] =
        method("update_module", &update_module, py::arg("self"), py::arg("module_name"),
               py::arg("code"), texts::doc::UPDATE_MODULE);
    ns["delete_module"] = method("delete_module", &delete_module, py::arg("self"),
                                 py::arg("module_name"), texts::doc::DELETE_MODULE);
    return ns;
}

} // namespace zm::kernel::execution
