#pragma once
/// The one place that includes pybind11; every native file that needs Python includes this.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace py = pybind11;
