#include "code_insight/bindings.hpp"
#include "code_insight/core/code_insight.hpp"
#include "code_insight/texts.hpp"
#include "common/args.hpp"

namespace zm::code_insight {

namespace {

using core::CodeInsight;
using PositionRequest = py::dict (CodeInsight::*)(py::object, py::object, py::object, py::object,
                                                  py::object, py::object);

/// Binds a request at a position (`code`, `line`, `column`, `path`, `modules`, `dirty_files`);
/// the two maps are checked before the request starts.
template <PositionRequest request>
void def_position_request(py::class_<CodeInsight> &cls, const char *name, const char *doc) {
    const auto none = py::none();
    cls.def(
        name,
        [](CodeInsight &self, py::object code, py::object line, py::object column, py::object path,
           py::object modules, py::object dirty_files) {
            zm::check_dict(modules, "modules", true);
            zm::check_dict(dirty_files, "dirty_files", true);
            return (self.*request)(code, line, column, path, modules, dirty_files);
        },
        py::arg("code"), py::arg("line"), py::arg("column"), py::arg("path") = none,
        py::arg("modules") = none, py::arg("dirty_files") = none, doc);
}

} // namespace

void bind_code_insight(py::module_ &m) {
    const auto none = py::none();
    py::class_<CodeInsight> cls(m, "CodeInsight", texts::CLASS_DOC);
    cls.def(py::init<>(), "Create the temporary directory of synced modules and the jedi project.")
        .def_readwrite("_workspace_path", &CodeInsight::workspace_path_)
        .def_readwrite("_temp_dir", &CodeInsight::temp_dir_)
        .def_readwrite("_python_server_path", &CodeInsight::python_server_path_)
        .def_readwrite("_stubs_path", &CodeInsight::stubs_path_)
        .def_readwrite("_jedi_project", &CodeInsight::jedi_project_)
        .def_readwrite("_hover_mode", &CodeInsight::hover_mode_)
        .def("set_workspace", &CodeInsight::set_workspace, py::arg("workspace_path"),
             "Record the editor's workspace path (deprecated, kept for compatibility; the jedi "
             "project stays rooted in the temporary directory).")
        .def("sync_modules", &CodeInsight::sync_modules, py::arg("modules"),
             py::arg("dirty_files") = none,
             "Write the modules (dirty content winning) as <name>.py files for jedi; a module "
             "that cannot be written is logged and skipped.")
        .def("delete_module", &CodeInsight::delete_module, py::arg("module_name"),
             "Remove the module's file so Jedi no longer sees the deleted module.")
        .def("update_sys_paths", &CodeInsight::update_sys_paths, py::arg("new_paths"),
             "Rebuild the jedi project with the stubs, this module's directory and the kernel's "
             "import paths.")
        .def("cleanup", &CodeInsight::cleanup, "Remove the temporary directory.")
        .def("set_hover_mode", &CodeInsight::set_hover_mode, py::arg("mode"),
             "Select \"compact\" or \"detailed\" hover text.")
        .def("_is_module_name", &CodeInsight::is_module_name, py::arg("path"),
             "Whether an editor path names a workbook module rather than a file.")
        .def("_get_word_prefix", &CodeInsight::get_word_prefix, py::arg("code"), py::arg("line"),
             py::arg("column"), "The identifier being typed just before the cursor, or empty text.")
        .def("_format_signature", &CodeInsight::format_signature, py::arg("signature"),
             "A jedi signature's parameter part, for example (arg1: str, arg2: int) -> None.")
        .def("_format_compact_hover", &CodeInsight::format_compact_hover, py::arg("definition"),
             "The compact hover line for one jedi definition, or None when formatting fails.")
        .def("_get_type_description", &CodeInsight::get_type_description, py::arg("definition"),
             py::arg("fallback_type"),
             "The definition's description when it has a non-empty one, else fallback_type.")
        .def("get_diagnostics", &CodeInsight::get_diagnostics, py::arg("code"),
             py::arg("module_name") = none,
             "Syntax, pyflakes and import-resolution markers for one module's text.")
        .def("_run_pyflakes", &CodeInsight::run_pyflakes, py::arg("code"), py::arg("filename"),
             "pyflakes' findings as diagnostic records.")
        .def("_parse_pyflakes_message", &CodeInsight::parse_pyflakes_message, py::arg("message"),
             py::arg("severity"), "One pyflakes report line as a diagnostic record, or None.")
        .def("_check_unresolved_imports", &CodeInsight::check_unresolved_imports, py::arg("code"),
             py::arg("module_name") = none, "One error record per import that cannot be resolved.")
        .def("_can_resolve_import", &CodeInsight::can_resolve_import, py::arg("module_name"),
             "Whether an import of that dotted name would succeed.");
    def_position_request<&CodeInsight::get_completions>(
        cls, "get_completions",
        "Completions at the 1-based line and 0-based column, shaped for the Monaco editor.");
    def_position_request<&CodeInsight::get_hover>(
        cls, "get_hover",
        "Get hover information (type and docstring) for the symbol at the given position.");
    def_position_request<&CodeInsight::get_signature_help>(
        cls, "get_signature_help", "Get signature help for function calls at the given position.");
}

} // namespace zm::code_insight
