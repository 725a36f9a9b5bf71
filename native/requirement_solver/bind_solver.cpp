#include "common/args.hpp"
#include "common/logging.hpp"
#include "common/text_format.hpp"
#include "requirement_solver/bindings.hpp"
#include "requirement_solver/model/package_spec.hpp"
#include "requirement_solver/resolve/requirement_solver.hpp"
#include "requirement_solver/texts.hpp"

#include <string>

namespace zm::requirement_solver {

namespace {

using namespace resolve;

/// Binds SpecifierSet, InvalidSpecifier, Version, InvalidVersion (None each when the packaging
/// library cannot be imported) and PACKAGING_AVAILABLE.
void bind_packaging(py::module_ &m) {
    bool available = true;
    py::object specifier_set = py::none(), invalid_specifier = py::none();
    py::object version = py::none(), invalid_version = py::none();
    try {
        py::module_ specifiers = py::module_::import("packaging.specifiers");
        py::module_ versions = py::module_::import("packaging.version");
        specifier_set = specifiers.attr("SpecifierSet");
        invalid_specifier = specifiers.attr("InvalidSpecifier");
        version = versions.attr("Version");
        invalid_version = versions.attr("InvalidVersion");
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ImportError))
            throw;
        available = false;
        specifier_set = invalid_specifier = version = invalid_version = py::none();
    }
    m.attr("SpecifierSet") = specifier_set;
    m.attr("InvalidSpecifier") = invalid_specifier;
    m.attr("Version") = version;
    m.attr("InvalidVersion") = invalid_version;
    m.attr("PACKAGING_AVAILABLE") = py::bool_(available);
}

void check_extras(py::handle extras) { zm::check_list(extras, "extras", true); }

/// Binds a coroutine method that asks the index about one package name.
template <zm::Coro (*query)(py::object, py::object)>
void def_version_query(py::class_<RequirementSolver> &cls, const char *name, const char *doc) {
    zm::def_coroutine_method(
        cls, name,
        [](py::object self, py::object package_name) -> zm::Coro {
            zm::check_str(package_name, "package_name");
            return query(std::move(self), std::move(package_name));
        },
        py::arg("package_name"), doc);
}

} // namespace

void bind_solver(py::module_ &m) {
    set_module_globals(m.attr("__dict__"));
    bind_packaging(m);
    m.attr("logger") = zm::module_logger(texts::MODULE_NAME).logger();
    m.attr("PackageIndexClient") =
        py::module_::import(texts::CLIENT_MODULE).attr("PackageIndexClient");

    py::class_<RequirementSolver> cls(
        m, "RequirementSolver", py::dynamic_attr(),
        "Resolves requested packages breadth-first into one pinned version per package; the "
        "first version resolved for a name wins and later different requests are conflicts.");
    cls.def(py::init([](py::object settings_manager, py::object package_cache) {
                py::object client = module_global("PackageIndexClient")(settings_manager);
                return RequirementSolver{std::move(settings_manager), std::move(package_cache),
                                         std::move(client)};
            }),
            py::arg("settings_manager"), py::arg("package_cache") = py::none())
        .def_readwrite("settings_manager", &RequirementSolver::settings_manager,
                       "The host's settings object.")
        .def_readwrite("package_cache", &RequirementSolver::package_cache,
                       "Cache of downloaded packages, or None.")
        .def_readwrite("client", &RequirementSolver::client, "The package index client.");

    zm::def_coroutine_method(
        cls, "resolve",
        [](py::object self, py::object package_specs) -> zm::Coro {
            zm::check_list(package_specs, "package_specs");
            py::list specs = py::reinterpret_steal<py::list>(PySequence_List(package_specs.ptr()));
            if (!specs)
                throw py::error_already_set();
            for (std::size_t i = 0; i < specs.size(); ++i) {
                const std::string what = zm::format(texts::PACKAGE_SPECS_ITEM, i);
                model::as_package_spec(specs[i], what.c_str());
            }
            return resolve::resolve(std::move(self), std::move(specs));
        },
        py::arg("package_specs"),
        "Resolves the requested packages into an ordered ResolutionResult (direct requests "
        "first), recording version conflicts and fetch errors.");
    zm::def_coroutine_method(
        cls, "get_package_dependencies",
        [](py::object self, py::object package_name, py::object version, py::object extras,
           py::object from_dist) -> zm::Coro {
            zm::check_str(package_name, "package_name");
            zm::check_str(version, "version");
            check_extras(extras);
            const int skip = PyObject_IsTrue(from_dist.ptr());
            if (skip < 0)
                throw py::error_already_set();
            return get_package_dependencies(std::move(self), std::move(package_name),
                                            std::move(version), std::move(extras), skip == 1,
                                            std::make_shared<VersionMatcher>());
        },
        py::arg("package_name"), py::arg("version"), py::arg("extras") = py::none(),
        py::arg("from_dist") = false,
        "The dependencies of one package version, each pinned to one version, as PackageSpecs.");
    zm::def_coroutine_method(
        cls, "_resolve_best_version",
        [](py::object self, py::object package_name, py::object version_spec,
           py::object extras) -> zm::Coro {
            zm::check_str(package_name, "package_name");
            zm::check_str(version_spec, "version_spec");
            check_extras(extras);
            return resolve_best_version(std::move(self), std::move(package_name),
                                        std::move(version_spec), std::move(extras),
                                        std::make_shared<VersionMatcher>());
        },
        py::arg("package_name"), py::arg("version_spec"), py::arg("extras") = py::none(),
        "(version or None, from_dist): the installed version when it satisfies the specifier, "
        "else the highest matching version of the index.");
    def_version_query<&get_latest_version>(cls, "_get_latest_version",
                                           "The first (newest) version the index lists, or None.");
    def_version_query<&get_all_versions>(cls, "_get_all_versions",
                                         "Every version the index lists, newest first.");
    cls.def(
        "_normalize_name",
        [](py::object, py::object name) {
            zm::check_str(name, "name");
            return normalize_name(name);
        },
        py::arg("name"), "PEP 503 normalisation: lower case, runs of '-', '_', '.' become '-'.");

    m.attr("__all__") = py::make_tuple("PackageSpec", "ResolvedPackage", "ResolutionResult",
                                       "RequirementSolver", "PACKAGING_AVAILABLE");

    const py::object ns = cls.attr("__dict__");
    remember_own_method(Method::GetPackageDependencies, ns["get_package_dependencies"]);
    remember_own_method(Method::ResolveBestVersion, ns["_resolve_best_version"]);
    remember_own_method(Method::GetLatestVersion, ns["_get_latest_version"]);
    remember_own_method(Method::GetAllVersions, ns["_get_all_versions"]);
}

} // namespace zm::requirement_solver
