#pragma once
/// CodeInsight: editor assistance over the workbook's in-memory modules.
///
/// The modules live in the kernel, not on disk, so they are mirrored as `<name>.py` files in a
/// private temporary directory that is the root of the jedi project; imports between the
/// workbook's modules then resolve like imports between files.

#include "code_insight/analysis/detail_cache.hpp"
#include "code_insight/core/module_files.hpp"
#include "common/python.hpp"

#include <map>
#include <optional>
#include <string>

namespace zm::code_insight::core {

/// A completion's jedi type, `detail` and `documentation` (None when the item has none).
struct CompletionDetail {
    py::object type = py::none();
    py::object detail = py::none();
    py::object documentation = py::none();
};

/// `os.fsencode(text)` as a C++ string (the bytes the file system sees).
std::string fs_bytes(const py::handle &text);

class CodeInsight {
public:
    CodeInsight();

    void set_workspace(py::object workspace_path);
    void sync_modules(py::object modules, py::object dirty_files);
    void delete_module(py::object module_name);
    void update_sys_paths(py::object new_paths);
    void cleanup();
    void set_hover_mode(py::object mode);
    bool is_module_name(py::object path) const;

    py::dict get_completions(py::object code, py::object line, py::object column, py::object path,
                             py::object modules, py::object dirty_files);
    py::str get_word_prefix(py::object code, py::object line, py::object column) const;

    py::dict get_hover(py::object code, py::object line, py::object column, py::object path,
                       py::object modules, py::object dirty_files);
    py::dict get_signature_help(py::object code, py::object line, py::object column,
                                py::object path, py::object modules, py::object dirty_files);
    py::str format_signature(py::object signature) const;
    py::object format_compact_hover(py::object definition) const;
    py::object get_type_description(py::object definition, py::object fallback_type) const;

    py::dict get_diagnostics(py::object code, py::object module_name);
    py::list run_pyflakes(py::object code, py::object filename) const;
    py::object parse_pyflakes_message(py::object message, py::object severity) const;
    py::list check_unresolved_imports(py::object code, py::object module_name) const;
    bool can_resolve_import(py::object module_name) const;

    // Attributes visible from Python under their documented names.
    py::object workspace_path_ = py::none();
    py::object temp_dir_ = py::none();
    py::object python_server_path_;
    py::object stubs_path_;
    py::object jedi_project_;
    py::object hover_mode_;

private:
    /// What the parser cache last saw of one module file we wrote.
    struct WrittenFile {
        py::object text;
        FileStamp stamp;
    };

    /// Syncs `modules` and `dirty_files` when either is non-empty (a request's first step after
    /// validation).
    void sync_if_given(const py::object &modules, const py::object &dirty_files);
    /// Checks the position, syncs the given modules and makes the Script: the first steps of
    /// hover and signature help.
    py::object position_script(const py::object &code, const py::object &line,
                               const py::object &column, const py::object &path,
                               const py::object &modules, const py::object &dirty_files);
    /// The jedi Script over the editor's text, placed at `path` among the synced modules.
    py::object make_script(const py::object &code, const py::object &path) const;
    /// Syncs one module; returns an error text, or empty text on success.
    std::string sync_one(const py::handle &name, const py::handle &code);
    /// The module's file path as text.
    py::str module_path(const py::handle &name) const;
    py::str temp_dir_name() const;

    /// Where `completion`'s details may be remembered, or nothing (workbook modules, names that
    /// are not module-level, files that cannot be read).
    std::optional<analysis::LibraryName> library_name(const py::handle &completion,
                                                      const py::object &name,
                                                      analysis::StampMemo &memo) const;
    /// Whether `path` is one of the workbook's own modules (or the editor's text).
    bool is_workbook_file(const std::string &path) const;
    /// Adds the files `completion`'s definitions come from; false when one must not be relied on.
    bool add_definition_files(const py::handle &completion, analysis::Sources &sources,
                              analysis::StampMemo &memo) const;

    std::map<std::string, WrittenFile> written_;
    analysis::DetailCache<CompletionDetail> details_;
};

/// Raises ValueError when `code`, `line` or `column` are unfit for a position request.
void validate_position(const py::handle &code, const py::handle &line, const py::handle &column);

/// Line `line` (1-based) of `code` up to `column` (sliced as Python slices), or None when
/// `line` is below 1 or past the last line. `code` is text, `line` and `column` integers.
py::object text_before_cursor(const py::handle &code, const py::handle &line,
                              const py::handle &column);

} // namespace zm::code_insight::core
