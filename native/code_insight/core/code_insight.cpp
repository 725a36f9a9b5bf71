#include "code_insight/core/code_insight.hpp"

#include "code_insight/core/guard.hpp"
#include "code_insight/core/libraries.hpp"
#include "code_insight/core/text_scan.hpp"
#include "code_insight/texts.hpp"
#include "common/args.hpp"
#include "common/exact_text.hpp"
#include "common/text_format.hpp"

#include <climits>

namespace zm::code_insight::core {

Caught catch_matching(py::error_already_set &error, std::initializer_list<PyObject *> types) {
    for (PyObject *type : types)
        if (error.matches(type))
            return {true, zm::exception_text(error.value()), error.value()};
    throw error;
}

std::string as_text(const py::handle &obj) {
    PyObject *s = PyObject_Str(obj.ptr());
    if (s == nullptr) {
        // Log texts never fail a request: an object whose str() raises is named by its type.
        PyErr_Clear();
        return zm::format(texts::UNPRINTABLE, Py_TYPE(obj.ptr())->tp_name);
    }
    return zm::utf8(py::reinterpret_steal<py::object>(s));
}

std::string as_int_text(const py::handle &obj) {
    if (PyLong_Check(obj.ptr())) {
        PyObject *n = PyNumber_Long(obj.ptr());
        if (n != nullptr)
            return as_text(py::reinterpret_steal<py::object>(n));
        PyErr_Clear();
    }
    return as_text(obj);
}

std::string str_text(const py::handle &text) {
    if (!PyUnicode_Check(text.ptr()))
        throw py::type_error(zm::format(texts::NOT_TEXT, Py_TYPE(text.ptr())->tp_name));
    return zm::exact_utf8(text);
}

py::object attr(const py::handle &obj, const char *name) {
    PyObject *r = PyObject_GetAttrString(obj.ptr(), name);
    if (r == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

py::dict answer(const char *key, const py::object &result, const Caught &caught,
                zm::Template<std::string> failed_log, const py::object &failed_result) {
    using namespace pybind11::literals;
    if (!caught)
        return py::dict(py::arg(key) = result, "error"_a = py::none());
    log().error(zm::format(failed_log, zm::utf8(caught.text)));
    return py::dict(py::arg(key) = failed_result, "error"_a = caught.text);
}

namespace {

std::string type_name(const py::handle &obj) { return Py_TYPE(obj.ptr())->tp_name; }

/// `io()` with the GIL released: file I/O in the mirror directory (a slow disk, a full one)
/// never stalls the kernel's other threads. `io` must not touch Python objects.
template <class F> auto unlocked(F &&io) {
    py::gil_scoped_release release;
    return io();
}

/// The integer value of a Python int, saturated to the range of long long.
long long saturated(const py::handle &value) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (v == -1 && PyErr_Occurred())
        throw py::error_already_set();
    if (overflow > 0)
        return LLONG_MAX;
    if (overflow < 0)
        return LLONG_MIN;
    return v;
}

py::object os_path(const char *fn) { return py::module_::import("os.path").attr(fn); }

} // namespace

std::string fs_bytes(const py::handle &text) {
    py::bytes encoded = libs().fsencode(text);
    return std::string(encoded);
}

void validate_position(const py::handle &code, const py::handle &line, const py::handle &column) {
    if (!PyUnicode_Check(code.ptr()))
        throw py::value_error(texts::CODE_MUST_BE_STRING);
    if (!PyLong_Check(line.ptr()) || saturated(line) < 1)
        throw py::value_error(texts::LINE_INVALID);
    if (!PyLong_Check(column.ptr()) || saturated(column) < 0)
        throw py::value_error(texts::COLUMN_INVALID);
}

py::object text_before_cursor(const py::handle &code, const py::handle &line,
                              const py::handle &column) {
    const long long wanted = saturated(line);
    if (wanted < 1)
        return py::none();
    const Py_ssize_t length = PyUnicode_GET_LENGTH(code.ptr());
    Py_ssize_t start = 0;
    for (long long n = 1; n < wanted; ++n) {
        const Py_ssize_t newline = PyUnicode_FindChar(code.ptr(), '\n', start, length, 1);
        if (newline == -2)
            throw py::error_already_set();
        if (newline < 0)
            return py::none();
        start = newline + 1;
    }
    Py_ssize_t end = PyUnicode_FindChar(code.ptr(), '\n', start, length, 1);
    if (end == -2)
        throw py::error_already_set();
    if (end < 0)
        end = length;
    // text[:column] of the line, with Python's slice rules for negative and oversized columns.
    const long long col = saturated(column);
    const long long line_length = end - start;
    long long stop = col >= 0 ? std::min(col, line_length) : std::max(0LL, line_length + col);
    PyObject *piece = PyUnicode_Substring(code.ptr(), start, start + static_cast<Py_ssize_t>(stop));
    if (piece == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(piece);
}

CodeInsight::CodeInsight() {
    const Libraries &l = libs();
    temp_dir_ = l.temporary_directory();
    python_server_path_ = os_path("dirname")(os_path("abspath")(l.module.attr("__file__")));
    stubs_path_ = os_path("join")(python_server_path_, "stubs");
    py::list added;
    added.append(stubs_path_);
    jedi_project_ = l.project(py::arg("path") = temp_dir_name(), py::arg("added_sys_path") = added);
    hover_mode_ = py::str("compact");
    const zm::Logger &logger = log();
    if (logger.enabled(zm::Logger::INFO)) {
        logger.info(zm::format(texts::INITIALIZED, as_text(l.module.attr("PYLSP_AVAILABLE")),
                               as_text(l.module.attr("PYFLAKES_AVAILABLE")),
                               as_text(temp_dir_name()), as_text(python_server_path_),
                               as_text(stubs_path_)));
    }
}

py::str CodeInsight::temp_dir_name() const { return attr(temp_dir_, "name"); }

py::str CodeInsight::module_path(const py::handle &name) const {
    return os_path("join")(temp_dir_name(),
                           zm::exact_str(zm::format(texts::MODULE_FILE, str_text(name))));
}

void CodeInsight::set_workspace(py::object workspace_path) {
    zm::check_str(workspace_path, "workspace_path");
    workspace_path_ = workspace_path;
    log().info(zm::format(texts::WORKSPACE_RECORDED, as_text(workspace_path)));
}

void CodeInsight::sync_modules(py::object modules, py::object dirty_files) {
    zm::check_dict(modules, "modules");
    zm::check_dict(dirty_files, "dirty_files", true);
    PyObject *copy = PyDict_Copy(modules.ptr());
    if (copy == nullptr)
        throw py::error_already_set();
    py::dict merged = py::reinterpret_steal<py::dict>(copy);
    if (truthy(dirty_files) && PyDict_Update(merged.ptr(), dirty_files.ptr()) != 0)
        throw py::error_already_set();
    for (auto [name, code] : merged) {
        std::string error;
        Caught caught = guarded([&] { error = sync_one(name, code); });
        if (caught)
            error = zm::utf8(caught.text);
        if (!error.empty())
            log().warning(zm::format(texts::SYNC_FAILED, as_text(name), error));
    }
}

std::string CodeInsight::sync_one(const py::handle &name, const py::handle &code) {
    // Every check comes before the file is opened, so a refused module never truncates the file
    // it had.
    if (!PyUnicode_Check(name.ptr()))
        return zm::format(texts::NAME_NOT_TEXT, type_name(name));
    const std::string name_bytes = fs_bytes(name);
    if (!module_file_is_contained(name_bytes))
        return texts::NAME_ESCAPES_DIRECTORY;
    if (name_bytes.find('\0') != std::string::npos)
        return texts::EMBEDDED_NULL;
    if (!PyUnicode_Check(code.ptr()))
        return zm::format(texts::CODE_NOT_TEXT, type_name(code));
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(code.ptr(), &size);
    if (data == nullptr)
        throw py::error_already_set();

    py::str path = module_path(name);
    const std::string path_bytes = fs_bytes(path);
    // jedi's parser cache keys on path and modification time: leaving an unchanged file alone
    // keeps its parsed tree for the next request.
    auto found = written_.find(path_bytes);
    bool unchanged = false;
    if (found != written_.end()) {
        const int same = PyObject_RichCompareBool(found->second.text.ptr(), code.ptr(), Py_EQ);
        if (same < 0)
            throw py::error_already_set();
        unchanged = same == 1 &&
                    unlocked([&] { return regular_file_stamp(path_bytes); }) == found->second.stamp;
    }
    if (!unchanged) {
        written_.erase(path_bytes);
        // `data` stays valid: the caller holds `code`, and texts never change.
        std::optional<FileStamp> stamp;
        std::string error = unlocked([&] {
            std::string failed =
                write_file(path_bytes, std::string_view(data, static_cast<std::size_t>(size)));
            if (failed.empty())
                stamp = regular_file_stamp(path_bytes);
            return failed;
        });
        if (!error.empty())
            return error;
        if (stamp)
            written_.emplace(path_bytes,
                             WrittenFile{py::reinterpret_borrow<py::object>(code), *stamp});
    }
    const zm::Logger &logger = log();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::SYNCED_MODULE, as_text(name), as_text(path)));
    return {};
}

void CodeInsight::delete_module(py::object module_name) {
    zm::check_str(module_name, "module_name");
    std::string error;
    Caught caught = guarded([&] {
        const std::string name_bytes = fs_bytes(module_name);
        if (!module_file_is_contained(name_bytes)) {
            error = texts::NAME_ESCAPES_DIRECTORY;
            return;
        }
        if (name_bytes.find('\0') != std::string::npos) {
            error = texts::EMBEDDED_NULL;
            return;
        }
        const std::string path_bytes = fs_bytes(module_path(module_name));
        written_.erase(path_bytes);
        bool existed = false;
        error = unlocked([&] {
            existed = regular_file_stamp(path_bytes).has_value();
            return existed ? remove_file(path_bytes) : std::string();
        });
        if (existed && error.empty()) {
            const zm::Logger &logger = log();
            if (logger.debug_enabled())
                logger.debug(zm::format(texts::DELETED_MODULE, as_text(module_name)));
        }
    });
    if (caught)
        error = zm::utf8(caught.text);
    if (!error.empty())
        log().warning(zm::format(texts::DELETE_FAILED, as_text(module_name), error));
}

void CodeInsight::update_sys_paths(py::object new_paths) {
    zm::check_list(new_paths, "new_paths");
    Caught caught = guarded([&] {
        py::list paths;
        paths.append(stubs_path_);
        paths.append(python_server_path_);
        for (py::handle entry : new_paths) {
            const int present = PySequence_Contains(paths.ptr(), entry.ptr());
            if (present < 0)
                throw py::error_already_set();
            if (present == 0)
                paths.append(entry);
        }
        py::object root =
            temp_dir_.is_none() ? py::object(py::none()) : py::object(temp_dir_name());
        jedi_project_ = libs().project(py::arg("path") = root, py::arg("added_sys_path") = paths);
        details_.clear(); // names may now come from other files
        log().info(zm::format(texts::SYS_PATHS_UPDATED, py::len(paths), py::len(new_paths),
                              as_text(stubs_path_)));
    });
    if (caught) {
        const zm::Logger &logger = log();
        logger.logger().attr("error")(zm::format(texts::SYS_PATHS_FAILED, zm::utf8(caught.text)),
                                      py::arg("exc_info") = caught.exception);
    }
}

void CodeInsight::cleanup() {
    if (temp_dir_.is_none())
        return;
    Caught caught = guarded([&] {
        temp_dir_.attr("cleanup")();
        log().info(texts::CLEANED_UP);
    });
    written_.clear();
    if (caught)
        log().warning(zm::format(texts::CLEANUP_FAILED, zm::utf8(caught.text)));
}

void CodeInsight::set_hover_mode(py::object mode) {
    zm::check_str(mode, "mode");
    const std::string wanted = zm::utf8(mode);
    if (wanted == "compact" || wanted == "detailed") {
        hover_mode_ = mode;
        log().info(zm::format(texts::HOVER_MODE_SET, wanted));
    } else {
        log().warning(zm::format(texts::HOVER_MODE_INVALID, wanted, as_text(hover_mode_)));
    }
}

bool CodeInsight::is_module_name(py::object path) const {
    zm::check_str(path, "path");
    const Py_ssize_t length = PyUnicode_GET_LENGTH(path.ptr());
    if (length == 0)
        return false;
    for (Py_UCS4 separator : {Py_UCS4('/'), Py_UCS4('\\')}) {
        if (PyUnicode_FindChar(path.ptr(), separator, 0, length, 1) >= 0)
            return false;
    }
    const Py_UCS4 first = PyUnicode_READ_CHAR(path.ptr(), 0);
    if (first == '<' || first == '.')
        return false;
    return PyUnicode_IsIdentifier(path.ptr()) == 1;
}

void CodeInsight::sync_if_given(const py::object &modules, const py::object &dirty_files) {
    if (truthy(modules) || truthy(dirty_files))
        sync_modules(modules.is_none() ? py::object(py::dict()) : modules, dirty_files);
}

py::object CodeInsight::make_script(const py::object &code, const py::object &path) const {
    py::object script_path;
    if (truthy(path)) {
        if (!PyUnicode_Check(path.ptr()))
            throw py::value_error(texts::PATH_INVALID);
        script_path = is_module_name(path) ? py::object(module_path(path)) : path;
    } else {
        script_path = py::str(texts::EDITOR_PATH);
    }
    return libs().script(py::arg("code") = code, py::arg("path") = script_path,
                         py::arg("project") = jedi_project_);
}

bool CodeInsight::can_resolve_import(py::object module_name) const {
    zm::check_str(module_name, "module_name");
    const int imported = PyDict_Contains(PyImport_GetModuleDict(), module_name.ptr());
    if (imported < 0)
        throw py::error_already_set();
    if (imported == 1)
        return true;
    if (!temp_dir_.is_none()) {
        const std::string name_bytes = fs_bytes(module_name);
        if (module_file_is_contained(name_bytes) && name_bytes.find('\0') == std::string::npos &&
            unlocked(
                [path = fs_bytes(module_path(module_name))] { return regular_file_stamp(path); }))
            return true;
    }
    try {
        return !libs().find_spec(module_name).is_none();
    } catch (py::error_already_set &e) {
        if (e.matches(PyExc_ImportError) || e.matches(PyExc_ValueError) ||
            e.matches(PyExc_AttributeError))
            return false;
        throw;
    }
}

py::str CodeInsight::get_word_prefix(py::object code, py::object line, py::object column) const {
    zm::check_str(code, "code");
    zm::check_instance(line, &PyLong_Type, "line");
    zm::check_instance(column, &PyLong_Type, "column");
    py::object before = text_before_cursor(code, line, column);
    if (before.is_none())
        return py::str("");
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(before.ptr(), &size);
    if (data == nullptr) {
        // Lone surrogates cannot be part of an identifier; they only end the scan.
        PyErr_Clear();
        PyObject *replaced = PyUnicode_AsEncodedString(before.ptr(), "utf-8", "replace");
        if (replaced == nullptr)
            throw py::error_already_set();
        const std::string text(PyBytes_AS_STRING(replaced),
                               static_cast<std::size_t>(PyBytes_GET_SIZE(replaced)));
        Py_DECREF(replaced);
        return py::str(std::string(trailing_identifier(text)));
    }
    const std::string_view word =
        trailing_identifier(std::string_view(data, static_cast<std::size_t>(size)));
    return py::str(word.data(), word.size());
}

} // namespace zm::code_insight::core
