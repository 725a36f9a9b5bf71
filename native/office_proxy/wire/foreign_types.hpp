#pragma once
/// numpy and pandas values, recognised without importing either library.
///
/// A numpy or pandas value can only exist once its library is in `sys.modules`, so the types are
/// fetched from there the first time they are needed after the user imported the library; until
/// then every check is a cheap "not loaded".

#include "common/python.hpp"

namespace zm::office_proxy::wire {

struct NumpyTypes {
    PyObject *module = nullptr;
    PyObject *bool_ = nullptr, *datetime64 = nullptr, *timedelta64 = nullptr, *floating = nullptr,
             *ndarray = nullptr;
    PyObject *datetime_as_string = nullptr, *datetime_data = nullptr, *isnat = nullptr;
};

struct PandasTypes {
    PyObject *module = nullptr;
    PyObject *Series = nullptr, *DataFrame = nullptr, *NA = nullptr;
};

/// numpy's types, or nullptr while numpy has not been imported (or is still importing).
const NumpyTypes *numpy_types();

/// pandas' types, or nullptr while pandas has not been imported (or is still importing).
const PandasTypes *pandas_types();

/// The ISO-8601 text of a numpy.datetime64: numpy's own rendering in the value's unit, at least
/// day precision (year, month and week units are shown as the day they start on); NaT is "NaT".
py::object numpy_datetime_text(const NumpyTypes &np, py::handle value);

/// The missing-value step before tables: pandas.NA, a NaN numpy float that is not a Python float
/// (float16/float32/longdouble) and a NaT numpy.timedelta64 are missing. Never raises.
bool is_missing_scalar(py::handle value);

} // namespace zm::office_proxy::wire
