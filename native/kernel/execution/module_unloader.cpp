#include "kernel/execution/module_unloader.hpp"

#include "common/args.hpp"
#include "common/logging.hpp"
#include "common/text_format.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/texts.hpp"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace zm::kernel::execution {

namespace {

std::string top_level(const std::string &name) { return name.substr(0, name.find('.')); }

/// Top-level names of the modules loaded when the kernel module finished initialising: the
/// kernel's own dependencies (jedi, parso, websockets, the user package, the standard library).
std::set<std::string> &startup_packages() {
    static auto *names = new std::set<std::string>(); // never destroyed: outlives the interpreter
    return *names;
}

} // namespace

void protect_loaded_modules() {
    py::list names(core::runtime().sys.attr("modules"));
    for (py::handle name : names) {
        if (PyUnicode_Check(name.ptr()))
            startup_packages().insert(top_level(utf8(name)));
    }
}

std::size_t unload_modules_by_prefix(py::handle paths) {
    check_list(paths, "paths");
    std::vector<py::object> prefixes;
    for (py::handle entry : paths) {
        if (!PyUnicode_CheckExact(entry.ptr()))
            raise_argument_type("paths", "list of str", entry);
        if (PyUnicode_GET_LENGTH(entry.ptr()) > 0)
            prefixes.push_back(py::reinterpret_borrow<py::object>(entry));
    }
    py::object modules = core::runtime().sys.attr("modules");

    // Snapshots, never the live mapping: imports may run on worker threads meanwhile.
    std::set<std::string> packages;
    py::list items(modules.attr("items")());
    for (py::handle item : items) {
        py::handle name = item[py::int_(0)];
        py::object module = item[py::int_(1)];
        if (module.is_none() || !PyUnicode_Check(name.ptr()))
            continue;
        py::object file = py::getattr(module, "__file__", py::none());
        if (!PyUnicode_Check(file.ptr()))
            continue;
        for (const py::object &prefix : prefixes) {
            if (PyUnicode_Tailmatch(file.ptr(), prefix.ptr(), 0, PY_SSIZE_T_MAX, -1) == 1) {
                packages.insert(top_level(utf8(name)));
                break;
            }
        }
    }
    const Logger &log = module_logger(texts::KERNEL_MODULE_NAME);
    // Unloading what the kernel itself runs on would break it for the rest of its life (editor
    // requests without jedi, sends without websockets).
    for (auto it = packages.begin(); it != packages.end();) {
        if (startup_packages().count(*it) == 0) {
            ++it;
            continue;
        }
        if (log.debug_enabled())
            log.debug(zm::format(texts::KEPT_STARTUP_MODULE, *it));
        it = packages.erase(it);
    }

    struct Doomed {
        py::object name;
        std::size_t depth;
    };
    std::vector<Doomed> doomed;
    py::list names(modules);
    for (py::handle name : names) {
        if (!PyUnicode_Check(name.ptr()))
            continue;
        const std::string text = utf8(name);
        if (packages.count(top_level(text)) == 0)
            continue;
        doomed.push_back({py::reinterpret_borrow<py::object>(name),
                          static_cast<std::size_t>(std::count(text.begin(), text.end(), '.'))});
    }
    std::stable_sort(doomed.begin(), doomed.end(),
                     [](const Doomed &a, const Doomed &b) { return a.depth > b.depth; });

    for (const Doomed &entry : doomed) {
        if (PyDict_Contains(modules.ptr(), entry.name.ptr()) != 1)
            continue;
        modules.attr("pop")(entry.name, py::none());
        if (log.debug_enabled())
            log.debug(zm::format(texts::UNLOADED_MODULE, utf8(entry.name)));
    }
    return doomed.size();
}

} // namespace zm::kernel::execution
