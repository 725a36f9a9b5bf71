#include "kernel/dispatch/path_sync.hpp"

#include "common/text_format.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/message_fields.hpp"
#include "kernel/editor/editor_thread.hpp"
#include "kernel/execution/module_unloader.hpp"
#include "kernel/texts.hpp"

#include <string>

namespace zm::kernel::dispatch {

namespace {

using core::text_of;

py::list sys_path() { return core::runtime().sys.attr("path"); }

bool on_path(py::handle path_list, py::handle entry) {
    const int found = PySequence_Contains(path_list.ptr(), entry.ptr());
    if (found < 0)
        throw py::error_already_set();
    return found == 1;
}

void debug(zm::Template<std::string> line, py::handle value) {
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(zm::format(line, text_of(value)));
}

/// Removes the first occurrence of each entry that is on sys.path, logging each removal.
void remove_from_sys_path(py::handle entries, zm::Template<std::string> log_line) {
    py::list path_list = sys_path();
    for (py::handle entry : entries) {
        if (on_path(path_list, entry)) {
            path_list.attr("remove")(entry);
            debug(log_line, entry);
        }
    }
}

py::object code_insight(py::handle kernel) {
    return py::getattr(kernel, "_code_insight", py::none());
}

/// Calls `insight.<method>(argument)` on the editor thread, in order with the editor requests:
/// CodeInsight serves one caller at a time.
void tell_code_insight(py::object kernel, py::object insight, const char *method,
                       py::object argument) {
    py::object bound = insight.attr(method);
    editor::submit_editor_job(std::move(kernel), py::cpp_function([bound, argument]() {
                                  bound(argument);
                                  return py::none();
                              }));
}

py::dict path_reply(const char *type, py::handle path) {
    py::dict reply;
    reply["type"] = type;
    if (path)
        reply["path"] = path;
    reply["current_paths"] = py::list(sys_path());
    return reply;
}

py::object loader() { return core::module_attr("in_memory_loader"); }

py::dict module_reply(const char *type, py::handle module_name) {
    return py::dict(py::arg("type") = type, py::arg("module_name") = module_name);
}

py::dict error_reply(const char *text) {
    return py::dict(py::arg("type") = "error", py::arg("message") = text);
}

} // namespace

py::dict handle_add_path(py::object kernel, py::object message) {
    py::object path = str_field(message, "path", py::str(""));
    kernel.attr("virtual_env").attr("add_path")(path);
    return path_reply("path_added", path);
}

py::dict handle_remove_path(py::object kernel, py::object message) {
    py::object path = str_field(message, "path", py::str(""));
    kernel.attr("virtual_env").attr("remove_path")(path);
    return path_reply("path_removed", path);
}

py::dict handle_reset_path(py::object kernel, py::object) {
    kernel.attr("virtual_env").attr("reset_path")();
    return path_reply("path_reset", py::handle());
}

py::dict handle_set_package_paths(py::object kernel, py::object message) {
    py::object old_paths = str_list_field(message, "old_paths");
    py::object new_paths = str_list_field(message, "new_paths");
    const std::size_t unloaded = execution::unload_modules_by_prefix(old_paths);
    remove_from_sys_path(old_paths, texts::REMOVED_OLD_PATH);
    py::list path_list = sys_path();
    const Py_ssize_t count = PyList_GET_SIZE(new_paths.ptr());
    // Last to first, each inserted at the front: the new directories lead in the order given.
    for (Py_ssize_t i = count - 1; i >= 0; --i) {
        py::handle entry = PyList_GET_ITEM(new_paths.ptr(), i);
        if (!on_path(path_list, entry)) {
            path_list.insert(0, entry);
            debug(texts::ADDED_NEW_PATH, entry);
        }
    }
    kernel.attr("virtual_env").attr("custom_paths") = py::list(new_paths);
    py::object insight = code_insight(kernel);
    if (!insight.is_none())
        tell_code_insight(kernel, insight, "update_sys_paths", py::list(new_paths));
    core::log().info(zm::format(texts::PACKAGE_PATHS_UPDATED, count, unloaded));
    return py::dict(py::arg("type") = "package_paths_updated", py::arg("paths_added") = count,
                    py::arg("modules_unloaded") = unloaded,
                    py::arg("workbook_id") = kernel.attr("workbook_id"));
}

py::dict handle_set_python_paths(py::object kernel, py::object message) {
    py::object old_paths = str_list_field(message, "old_paths");
    py::object new_paths = str_list_field(message, "new_paths");
    remove_from_sys_path(old_paths, texts::REMOVED_OLD_PYTHON_PATH);
    py::list path_list = sys_path();
    for (py::handle entry : new_paths) {
        if (!on_path(path_list, entry)) {
            path_list.append(entry);
            debug(texts::ADDED_NEW_PYTHON_PATH, entry);
        }
    }
    py::object insight = code_insight(kernel);
    if (!insight.is_none())
        tell_code_insight(kernel, insight, "update_sys_paths", py::list(path_list));
    const Py_ssize_t count = PyList_GET_SIZE(new_paths.ptr());
    core::log().info(zm::format(texts::PYTHON_PATHS_UPDATED, count));
    return py::dict(py::arg("type") = "python_paths_updated", py::arg("paths_added") = count,
                    py::arg("workbook_id") = kernel.attr("workbook_id"));
}

py::dict handle_unload_and_clear_paths(py::object kernel, py::object message) {
    py::object paths = str_list_field(message, "paths");
    const std::size_t unloaded = execution::unload_modules_by_prefix(paths);
    remove_from_sys_path(paths, texts::REMOVED_PATH);
    const Py_ssize_t count = PyList_GET_SIZE(paths.ptr());
    core::log().info(zm::format(texts::MODULES_UNLOADED, unloaded, count));
    return py::dict(py::arg("type") = "modules_unloaded", py::arg("modules_unloaded") = unloaded,
                    py::arg("paths_cleared") = count,
                    py::arg("workbook_id") = kernel.attr("workbook_id"));
}

py::dict handle_update_module(py::object, py::object message) {
    py::object module_name = str_field(message, "module_name", py::str(""));
    py::object code = str_field(message, "code", py::str(""));
    if (PyUnicode_GET_LENGTH(module_name.ptr()) == 0) {
        core::log().warning(texts::UPDATE_WITHOUT_NAME);
        return error_reply(texts::UPDATE_REQUIRES_NAME);
    }
    loader().attr("update_module")(module_name, code);
    core::log().info(zm::format(texts::UPDATED_MODULE, text_of(module_name)));
    return module_reply("module_updated", module_name);
}

py::dict handle_delete_module(py::object kernel, py::object message) {
    py::object module_name = str_field(message, "module_name", py::str(""));
    if (PyUnicode_GET_LENGTH(module_name.ptr()) == 0) {
        core::log().warning(texts::DELETE_WITHOUT_NAME);
        return error_reply(texts::DELETE_REQUIRES_NAME);
    }
    loader().attr("delete_module")(module_name);
    py::object insight = code_insight(kernel);
    if (!insight.is_none())
        tell_code_insight(kernel, insight, "delete_module", module_name);
    core::log().info(zm::format(texts::DELETED_MODULE, text_of(module_name)));
    return module_reply("module_deleted", module_name);
}

} // namespace zm::kernel::dispatch
