// Registration of function invocation outside PythonKernel: _parse_error_location.
#include "kernel/bindings.hpp"
#include "kernel/invocation/module_run.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel {

void bind_invocation(py::module_ &m) {
    // The overload over Python objects (error_location.hpp has the text one).
    py::dict (*parse)(py::handle, py::handle) = &invocation::parse_error_location;
    m.def("_parse_error_location", parse, py::arg("traceback_str"), py::arg("in_memory_modules"),
          texts::doc::PARSE_ERROR_LOCATION);
}

} // namespace zm::kernel
