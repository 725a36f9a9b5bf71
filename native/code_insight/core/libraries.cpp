#include "code_insight/core/libraries.hpp"

#include "code_insight/texts.hpp"

namespace zm::code_insight::core {

namespace {

// Deliberately leaked: the objects must outlive static destruction at interpreter exit.
Libraries *g_libraries = nullptr;

/// Imports each of `names` (module, attribute...) and reports whether all of them exist;
/// only ImportError counts as absence.
bool importable(py::module_ &m, const char *module_name, std::initializer_list<const char *> attrs,
                const char *bind_as = nullptr) {
    try {
        py::module_ mod = py::module_::import(module_name);
        for (const char *attr : attrs) {
            // A missing name in a `from x import y` is an ImportError too.
            if (!py::hasattr(mod, attr))
                return false;
        }
        if (bind_as != nullptr)
            m.attr(bind_as) = mod;
        return true;
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ImportError))
            throw;
        return false;
    }
}

py::dict make_kind_map() {
    py::dict kinds;
    kinds["function"] = 1;
    kinds["class"] = 5;
    kinds["module"] = 7;
    kinds["property"] = 8;
    kinds["instance"] = 4;
    kinds["param"] = 4;
    kinds["statement"] = 4;
    kinds["keyword"] = 13;
    kinds["path"] = 17;
    return kinds;
}

} // namespace

void init_libraries(py::module_ &m) {
    auto *l = new Libraries();
    l->module = m;
    py::module_ jedi = py::module_::import("jedi");
    l->script = jedi.attr("Script");
    l->project = jedi.attr("Project");
    l->temporary_directory = py::module_::import("tempfile").attr("TemporaryDirectory");
    py::object compile = py::module_::import("re").attr("compile");
    l->alias_pattern = compile(texts::IMPORT_ALIAS_PATTERN);
    l->pyflakes_pattern = compile(texts::PYFLAKES_MESSAGE_PATTERN);
    l->kind_map = make_kind_map();
    py::module_ ast = py::module_::import("ast");
    l->ast_parse = ast.attr("parse");
    l->ast_walk = ast.attr("walk");
    l->ast_import = ast.attr("Import");
    l->ast_import_from = ast.attr("ImportFrom");
    l->find_spec = py::module_::import("importlib.util").attr("find_spec");
    l->string_io = py::module_::import("io").attr("StringIO");
    l->fsencode = py::module_::import("os").attr("fsencode");
    g_libraries = l;

    const bool pyflakes = importable(m, "pyflakes.api", {"check"}, "pyflakes_api") &&
                          importable(m, "pyflakes.reporter", {"Reporter"}, "pyflakes_reporter");
    const bool pylsp = importable(m, "pylsp.uris", {}) &&
                       importable(m, "pylsp.config.config", {"Config"}) &&
                       importable(m, "pylsp.workspace", {"Workspace", "Document"});
    m.attr("PYFLAKES_AVAILABLE") = pyflakes;
    m.attr("PYLSP_AVAILABLE") = pylsp;
    m.attr("JEDI_TO_MONACO_KIND") = l->kind_map;
    m.attr("IMPORT_ALIAS_PATTERN") = l->alias_pattern;
    m.attr("PYFLAKES_MESSAGE_PATTERN") = l->pyflakes_pattern;
    m.attr("MONACO_MARKER_SEVERITY_ERROR") = 8;
    m.attr("MONACO_MARKER_SEVERITY_WARNING") = 4;
}

const Libraries &libs() { return *g_libraries; }

const zm::Logger &log() { return zm::module_logger(texts::LOGGER_NAME); }

bool pyflakes_available() {
    PyObject *flag = PyObject_GetAttrString(libs().module.ptr(), "PYFLAKES_AVAILABLE");
    if (flag == nullptr) {
        PyErr_Clear();
        return false;
    }
    const int truth = PyObject_IsTrue(flag);
    Py_DECREF(flag);
    if (truth < 0)
        throw py::error_already_set();
    return truth == 1;
}

} // namespace zm::code_insight::core
