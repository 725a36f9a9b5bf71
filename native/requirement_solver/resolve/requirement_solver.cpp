#include "requirement_solver/resolve/requirement_solver.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "common/exact_text.hpp"
#include "common/logging.hpp"
#include "common/text_format.hpp"
#include "requirement_solver/model/package_spec.hpp"
#include "requirement_solver/model/python_values.hpp"
#include "requirement_solver/model/resolution.hpp"
#include "requirement_solver/resolve/name_rules.hpp"
#include "requirement_solver/resolve/resolve_book.hpp"
#include "requirement_solver/texts.hpp"

#include <array>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zm::requirement_solver::resolve {

namespace {

using Level = zm::Logger::Level;
using model::new_package_spec;
using model::package_spec_type;
using model::PackageSpec;
using model::ResolutionResult;
using model::ResolvedPackage;
using model::type_name;

const zm::Logger &logger() {
    static const zm::Logger &log = zm::module_logger(texts::MODULE_NAME);
    return log;
}

py::handle intern(const char *text) {
    PyObject *s = PyUnicode_InternFromString(text);
    if (s == nullptr)
        throw py::error_already_set();
    return s; // kept for the life of the process
}

/// Attribute and key names of the hot path, made once.
struct Names {
    py::handle name = intern("name");
    py::handle version_spec = intern("version_spec");
    py::handle extras = intern("extras");
    py::handle markers = intern("markers");
    py::handle get_dependencies = intern("get_dependencies");
    py::handle get_versions = intern("get_versions");
    py::handle check_specifier_in_dist = intern("check_specifier_in_dist");
    py::handle get_cached_package = intern("get_cached_package");
    py::handle version = intern("version");
    py::handle add = intern("add");
};

const Names &names() {
    static const Names n;
    return n;
}

/// `logger.isEnabledFor(level)` through a bound method made once: this sits on the hot path.
bool enabled(Level level) {
    static PyObject *const is_enabled_for = [] {
        PyObject *bound = PyObject_GetAttrString(logger().logger().ptr(), "isEnabledFor");
        PyErr_Clear();
        return bound;
    }();
    if (is_enabled_for == nullptr)
        return logger().enabled(level);
    py::int_ number(static_cast<int>(level));
    PyObject *r = PyObject_CallOneArg(is_enabled_for, number.ptr());
    if (r == nullptr)
        throw py::error_already_set();
    const bool on = r == Py_True;
    Py_DECREF(r);
    return on;
}

/// What fills a hole of a log line: str() of an object, a count as it is.
std::string hole(py::handle obj) { return zm::str_utf8(obj); }
Py_ssize_t hole(Py_ssize_t count) { return count; }
template <class T> using Hole = decltype(hole(std::declval<const T &>()));

/// Logs `tmpl` filled with `args` at `level`, building the text only when it is enabled.
template <class... Args>
void logf(Level level, zm::Template<Hole<Args>...> tmpl, const Args &...args) {
    if (!enabled(level))
        return;
    logger().log(level, zm::exact_str(zm::format(tmpl, hole(args)...)));
}

RequirementSolver &solver(const py::object &self) { return self.cast<RequirementSolver &>(); }

std::string normalized_key(py::handle name) {
    std::string text = zm::exact_utf8(name);
    if (is_ascii(text))
        ascii_lower(text);
    else
        text = zm::exact_utf8(model::lower(name));
    return collapse_separators(text);
}

std::u32string code_points(py::handle text) {
    Py_UCS4 *data = PyUnicode_AsUCS4Copy(text.ptr());
    if (data == nullptr)
        throw py::error_already_set();
    std::u32string out(reinterpret_cast<const char32_t *>(data),
                       static_cast<std::size_t>(PyUnicode_GET_LENGTH(text.ptr())));
    PyMem_Free(data);
    return out;
}

py::object substring(py::handle text, Span span) {
    PyObject *s = PyUnicode_Substring(text.ptr(), static_cast<Py_ssize_t>(span.begin),
                                      static_cast<Py_ssize_t>(span.end));
    if (s == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(s);
}

py::tuple pair(py::object version, bool from_dist) {
    return py::make_tuple(std::move(version), py::bool_(from_dist));
}

// Methods: the function each name is bound to on the class, and the interned names.

constexpr std::array<const char *, 4> METHOD_NAMES = {"get_package_dependencies",
                                                      "_resolve_best_version",
                                                      "_get_latest_version", "_get_all_versions"};
std::array<PyObject *, 4> own_functions{};

/// The bound override of `method`, or an empty object when the class's own coroutine applies.
py::object override_of(const py::object &self, Method method) {
    const auto i = static_cast<std::size_t>(method);
    static std::array<PyObject *, 4> names = [] {
        std::array<PyObject *, 4> out{};
        for (std::size_t k = 0; k < out.size(); ++k)
            out[k] = PyUnicode_InternFromString(METHOD_NAMES[k]);
        return out;
    }();
    PyObject *bound = PyObject_GetAttr(self.ptr(), names[i]);
    if (bound == nullptr)
        throw py::error_already_set();
    if (PyMethod_Check(bound) && PyMethod_GET_FUNCTION(bound) == own_functions[i] &&
        PyMethod_GET_SELF(bound) == self.ptr()) {
        Py_DECREF(bound);
        return py::object();
    }
    return py::reinterpret_steal<py::object>(bound);
}

py::object all_versions_awaitable(const py::object &self, const py::object &name) {
    if (py::object over = override_of(self, Method::GetAllVersions))
        return over(name);
    return get_all_versions(self, name).object();
}

py::object latest_version_awaitable(const py::object &self, const py::object &name) {
    if (py::object over = override_of(self, Method::GetLatestVersion))
        return over(name);
    return get_latest_version(self, name).object();
}

/// `dep[key]` of a dependency map; an empty object when the key is missing.
py::object field(py::handle dep, py::handle key) {
    PyObject *v = PyDict_GetItemWithError(dep.ptr(), key.ptr());
    if (v == nullptr && PyErr_Occurred())
        throw py::error_already_set();
    return py::reinterpret_borrow<py::object>(v);
}

/// A text field of dependency entry `i` (None counts as missing when `optional`).
py::object text_field(py::handle dep, Py_ssize_t i, py::handle key, bool optional) {
    py::object value = field(dep, key);
    if (optional && value && value.is_none())
        value = py::object();
    if (!value) {
        if (optional)
            return py::str("");
        zm::raise_exact(PyExc_ValueError, zm::format(texts::DEP_MISSING_KEY, i, zm::str_utf8(key)));
    }
    if (!PyUnicode_Check(value.ptr()))
        zm::raise_exact(PyExc_TypeError, zm::format(texts::DEP_WRONG_TYPE, i, zm::str_utf8(key),
                                                    type_name(value), "str"));
    return value;
}

/// A private copy of the extras of dependency entry `i` (missing or None: none).
py::list extras_field(py::handle dep, Py_ssize_t i) {
    py::object value = field(dep, names().extras);
    if (!value || value.is_none())
        return py::list();
    if (!PyList_Check(value.ptr()))
        zm::raise_exact(PyExc_TypeError,
                        zm::format(texts::DEP_WRONG_TYPE, i, "extras", type_name(value), "list"));
    py::list copy = py::reinterpret_steal<py::list>(PySequence_List(value.ptr()));
    if (!copy)
        throw py::error_already_set();
    for (py::handle extra : copy)
        if (!PyUnicode_Check(extra.ptr()))
            zm::raise_exact(PyExc_TypeError,
                            zm::format(texts::DEP_EXTRA_NOT_TEXT, i, type_name(extra)));
    return copy;
}

/// True when the markers name extras and none of them was requested. Extra names are compared
/// normalised (PEP 685), as the names of projects are: `requests[SOCKS]` asks for "socks".
bool for_other_extra(const py::object &markers, const py::object &extras,
                     std::optional<std::vector<std::string>> &requested) {
    if (PyUnicode_GET_LENGTH(markers.ptr()) == 0)
        return false;
    const std::u32string text = code_points(markers);
    const std::vector<Span> named = marker_extras(text);
    if (named.empty())
        return false;
    if (!requested) {
        requested.emplace();
        if (!extras.is_none())
            for (py::handle extra : extras)
                if (PyUnicode_Check(extra.ptr()))
                    requested->push_back(normalized_key(extra));
    }
    for (const Span &span : named) {
        const std::string key = normalized_key(substring(markers, span));
        for (const std::string &wanted : *requested)
            if (wanted == key)
                return false;
    }
    return true;
}

struct QueueItem {
    py::object spec;
    bool is_direct;
    py::object requested_by; ///< str, or None for a direct request
};

} // namespace

void remember_own_method(Method method, py::handle function) {
    PyObject *&slot = own_functions[static_cast<std::size_t>(method)];
    Py_XDECREF(slot);
    slot = Py_NewRef(function.ptr());
}

py::str normalize_name(py::handle name) { return zm::exact_str(normalized_key(name)); }

zm::Coro get_all_versions(py::object self, py::object package_name) {
    py::object client = solver(self).client;
    co_return co_await client.attr(names().get_versions)(package_name);
}

zm::Coro get_latest_version(py::object self, py::object package_name) {
    py::object versions = co_await all_versions_awaitable(self, package_name);
    if (!zm::truthy(versions))
        co_return py::none();
    co_return versions[py::int_(0)];
}

zm::Coro resolve_best_version(py::object self, py::object package_name, py::object version_spec,
                              py::object extras, std::shared_ptr<VersionMatcher> matcher) {
    py::object client = solver(self).client;
    py::object dist_version =
        client.attr(names().check_specifier_in_dist)(package_name, version_spec, extras);
    if (zm::truthy(dist_version)) {
        logf(Level::INFO, texts::SATISFIED_BY_DIST, package_name, dist_version);
        co_return pair(dist_version, true);
    }
    const std::u32string spec_text = code_points(version_spec);
    if (is_blank(spec_text))
        co_return pair(co_await latest_version_awaitable(self, package_name), false);

    const Packaging packaging = Packaging::current();
    if (!packaging.available) {
        if (enabled(Level::WARNING))
            logger().log(Level::WARNING, py::str(texts::NO_PACKAGING));
        if (const auto pin = exact_pin(spec_text))
            co_return pair(substring(version_spec, *pin), false);
        logf(Level::DEBUG, texts::NON_EXACT, version_spec, package_name);
        co_return pair(co_await latest_version_awaitable(self, package_name), false);
    }

    py::object error;
    py::object specifier_set = matcher->specifier_set(packaging, version_spec, error);
    if (!specifier_set) {
        logf(Level::WARNING, texts::INVALID_SPECIFIER, version_spec, package_name, error);
        co_return pair(co_await latest_version_awaitable(self, package_name), false);
    }

    py::object all_versions = co_await all_versions_awaitable(self, package_name);
    if (!zm::truthy(all_versions))
        co_return pair(py::none(), false);
    // A snapshot: the client owns the list and may change it later.
    py::object snapshot = py::reinterpret_steal<py::object>(PySequence_Tuple(all_versions.ptr()));
    if (!snapshot)
        throw py::error_already_set();

    // The highest matching version; among equal versions the first listed, as a stable sort
    // from highest to lowest would leave it.
    py::object best_text = matcher->known_best(version_spec, snapshot);
    if (!best_text) {
        py::object best_version;
        best_text = py::none();
        for (py::handle v_str : snapshot) {
            // Entries that are not text are as unparsable as a malformed version text.
            if (!PyUnicode_Check(v_str.ptr()))
                continue;
            py::object parsed = matcher->parse_version(packaging, v_str);
            if (parsed.is_none())
                continue;
            if (!matcher->contains(version_spec, specifier_set, v_str, parsed))
                continue;
            if (best_version) {
                const int higher =
                    PyObject_RichCompareBool(parsed.ptr(), best_version.ptr(), Py_GT);
                if (higher < 0)
                    throw py::error_already_set();
                if (higher == 0)
                    continue;
            }
            best_version = parsed;
            best_text = py::reinterpret_borrow<py::object>(v_str);
        }
        matcher->remember_best(version_spec, snapshot, best_text);
    }
    if (best_text.is_none()) {
        logf(Level::WARNING, texts::NO_MATCH, package_name, version_spec);
        co_return pair(py::none(), false);
    }
    co_return pair(best_text, false);
}

zm::Coro get_package_dependencies(py::object self, py::object package_name, py::object version,
                                  py::object extras, bool from_dist,
                                  std::shared_ptr<VersionMatcher> matcher) {
    if (from_dist) {
        logf(Level::DEBUG, texts::SKIPPING, package_name);
        co_return py::list();
    }
    py::object client = solver(self).client;
    py::object deps_data = co_await client.attr(names().get_dependencies)(package_name, version);
    if (!zm::truthy(deps_data))
        co_return py::list();
    if (!PyList_Check(deps_data.ptr()) && !PyTuple_Check(deps_data.ptr()))
        zm::raise_exact(PyExc_TypeError, zm::format(texts::DEPS_NOT_A_LIST, type_name(deps_data)));
    // A snapshot: the client owns the list and may change it while we await.
    py::tuple deps = py::reinterpret_steal<py::tuple>(PySequence_Tuple(deps_data.ptr()));
    if (!deps)
        throw py::error_already_set();

    std::optional<std::vector<std::string>> requested_extras; // built on first need
    py::list found;
    const Py_ssize_t count = PyTuple_GET_SIZE(deps.ptr());
    for (Py_ssize_t i = 0; i < count; ++i) {
        py::object dep = py::reinterpret_borrow<py::object>(PyTuple_GET_ITEM(deps.ptr(), i));
        if (!PyDict_Check(dep.ptr()))
            zm::raise_exact(PyExc_TypeError, zm::format(texts::DEP_NOT_A_MAP, i, type_name(dep)));
        py::object markers = text_field(dep, i, names().markers, true);
        if (for_other_extra(markers, extras, requested_extras))
            continue;
        py::object name = text_field(dep, i, names().name, false);
        py::object version_spec = text_field(dep, i, names().version_spec, false);
        py::list dep_extras = extras_field(dep, i);

        py::object best;
        if (py::object over = override_of(self, Method::ResolveBestVersion))
            best = co_await over(name, version_spec, dep_extras);
        else
            best = co_await resolve_best_version(self, name, version_spec, dep_extras, matcher);
        py::tuple answer = py::reinterpret_steal<py::tuple>(PySequence_Tuple(best.ptr()));
        if (!answer || PyTuple_GET_SIZE(answer.ptr()) != 2) {
            PyErr_Clear();
            zm::raise_exact(PyExc_TypeError, zm::format(texts::NOT_A_PAIR, type_name(best)));
        }
        py::object resolved_version = answer[0];
        if (zm::truthy(resolved_version)) {
            found.append(
                new_package_spec(PackageSpec::make(name, resolved_version, dep_extras, answer[1])));
        } else {
            logf(Level::DEBUG, texts::NO_VERSION_FOR, name, version_spec);
        }
    }
    logf(Level::DEBUG, texts::FOUND_DEPENDENCIES, PyList_GET_SIZE(found.ptr()), package_name,
         version);
    co_return found;
}

zm::Coro resolve(py::object self, py::list specs) {
    auto matcher = std::make_shared<VersionMatcher>();
    ResolveBook book;
    std::vector<py::object> resolved; // ResolvedPackage instances, in resolution order
    std::deque<QueueItem> queue;
    py::list conflicts;
    py::list errors;
    bool success = true;
    for (py::handle spec : specs)
        queue.push_back({py::reinterpret_borrow<py::object>(spec), true, py::none()});

    while (!queue.empty()) {
        QueueItem item = std::move(queue.front());
        queue.pop_front();
        // The fields are copied out: nothing below holds a reference into the PackageSpec across an
        // await.
        py::object name, version, extras;
        bool from_dist = false;
        {
            const PackageSpec &spec = item.spec.cast<const PackageSpec &>();
            name = spec.name;
            version = spec.version;
            extras = spec.extras;
            from_dist = spec.from_dist;
        }
        std::string normalized = normalized_key(name);
        if (!book.visit(normalized, zm::exact_utf8(version)))
            continue;

        if (const auto position = book.find(normalized)) {
            auto &existing = resolved[*position].cast<ResolvedPackage &>();
            if (zm::truthy(item.requested_by)) {
                if (PySet_Check(existing.source.ptr())) {
                    if (PySet_Add(existing.source.ptr(), item.requested_by.ptr()) < 0)
                        throw py::error_already_set();
                } else {
                    existing.source.attr(names().add)(item.requested_by);
                }
            }
            py::object existing_version = existing.spec.attr(names().version);
            const int differs =
                PyObject_RichCompareBool(existing_version.ptr(), version.ptr(), Py_NE);
            if (differs < 0)
                throw py::error_already_set();
            if (differs) {
                py::object requester =
                    zm::truthy(item.requested_by) ? item.requested_by : py::str(texts::DIRECT);
                conflicts.append(py::dict(py::arg(texts::KEY_PACKAGE) = name,
                                          py::arg(texts::KEY_EXISTING_VERSION) = existing_version,
                                          py::arg(texts::KEY_REQUESTED_VERSION) = version,
                                          py::arg(texts::KEY_REQUESTED_BY) = requester));
                logf(Level::WARNING, texts::CONFLICT, name, version, requester, existing_version,
                     existing_version);
            }
            continue;
        }

        py::object cached_path = py::none();
        py::object cache = solver(self).package_cache;
        if (!cache.is_none()) {
            py::str extras_key = item.spec.cast<const PackageSpec &>().extras_key();
            cached_path = cache.attr(names().get_cached_package)(name, version, extras_key);
            if (!zm::truthy(cached_path))
                cached_path = py::none();
        }
        py::set source;
        if (zm::truthy(item.requested_by))
            source.add(item.requested_by);
        book.add(std::move(normalized));
        resolved.push_back(
            py::cast(ResolvedPackage{item.spec, cached_path, item.is_direct, std::move(source)}));

        py::object failure;
        try {
            py::object deps;
            if (py::object over = override_of(self, Method::GetPackageDependencies))
                deps = co_await over(name, version, extras, py::arg("from_dist") = from_dist);
            else
                deps = co_await get_package_dependencies(self, name, version, extras, from_dist,
                                                         matcher);
            for (py::handle dep : deps) {
                if (!PyObject_TypeCheck(dep.ptr(), package_spec_type()))
                    zm::raise_exact(PyExc_TypeError, zm::format(texts::NOT_A_SPEC, type_name(dep)));
                queue.push_back({py::reinterpret_borrow<py::object>(dep), false, name});
            }
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_Exception))
                throw;
            failure = py::reinterpret_borrow<py::object>(e.value());
        }
        if (failure) {
            const std::string name_text = zm::str_utf8(name), version_text = zm::str_utf8(version);
            py::object message =
                zm::exact_str(zm::format(texts::FETCH_FAILED, name_text, version_text,
                                         zm::str_utf8(zm::exception_text(failure))));
            errors.append(message);
            if (enabled(Level::ERROR))
                logger().log(Level::ERROR, message);
            success = false;
        }
    }

    py::list packages;
    Py_ssize_t direct = 0;
    for (const py::object &package : resolved) {
        if (package.cast<const ResolvedPackage &>().is_direct) {
            packages.append(package);
            ++direct;
        }
    }
    for (const py::object &package : resolved)
        if (!package.cast<const ResolvedPackage &>().is_direct)
            packages.append(package);
    const Py_ssize_t total = PyList_GET_SIZE(packages.ptr());
    logf(Level::INFO, texts::RESOLVED, total, direct, total - direct);
    const Py_ssize_t conflict_count = PyList_GET_SIZE(conflicts.ptr());
    if (conflict_count > 0)
        logf(Level::WARNING, texts::FOUND_CONFLICTS, conflict_count);
    co_return py::cast(ResolutionResult{success, packages, conflicts, errors});
}

} // namespace zm::requirement_solver::resolve
