#pragma once
/// The Python libraries code_insight calls, looked up once when the module is imported.

#include "common/logging.hpp"
#include "common/python.hpp"

namespace zm::code_insight::core {

struct Libraries {
    py::module_ module;             ///< code_insight itself (its constants and `__file__`)
    py::object script;              ///< jedi.Script
    py::object project;             ///< jedi.Project
    py::object temporary_directory; ///< tempfile.TemporaryDirectory
    py::object alias_pattern;       ///< IMPORT_ALIAS_PATTERN
    py::object pyflakes_pattern;    ///< PYFLAKES_MESSAGE_PATTERN
    py::object kind_map;            ///< JEDI_TO_MONACO_KIND
    py::object ast_parse;
    py::object ast_walk;
    py::object ast_import;
    py::object ast_import_from;
    py::object find_spec; ///< importlib.util.find_spec
    py::object string_io; ///< io.StringIO
    py::object fsencode;  ///< os.fsencode
};

/// Imports the libraries and sets the module constants on `m`; called once at import.
void init_libraries(py::module_ &m);

/// The libraries looked up by `init_libraries`.
const Libraries &libs();

/// The module's logger.
const zm::Logger &log();

/// Whether pyflakes is usable, read from the module so that a host may switch it off.
bool pyflakes_available();

} // namespace zm::code_insight::core
