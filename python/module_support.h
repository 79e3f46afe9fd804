// What the parts of the Python module share: the registration of each part, and the turning
// of the core's refusals into Python exceptions (kestrane.InputError, ValueError,
// FileNotFoundError, KeyboardInterrupt).
#pragma once

#include <pybind11/pybind11.h>

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dose/record_loop.h"
#include "input/data_sets.h"
#include "input/input_error.h"

namespace kestrane::python {

namespace py = pybind11;

void register_errors(py::module_& m);
void register_integrate(py::module_& m);
void register_file(py::module_& m);
void register_coefficients(py::module_& m);
void register_doses(py::module_& m);

// A file that is not there, for the bindings that open one themselves; becomes
// FileNotFoundError.
struct MissingFile {
  std::string message;
  std::string path;
};

// The caller's Ctrl-C seen during a computation; the Python error is set already.
struct Interrupted {};

// Raises the Python exception of `error` (an exception of the core or the run library, or
// Interrupted): InputError with its parts for an input refusal (`file` names the file read
// when the refusal does not), ValueError for a choice or a value refused and for a listed
// nuclide without a record, FileNotFoundError for a missing file, or the pending
// KeyboardInterrupt. Needs the GIL.
[[noreturn]] void raise_python_error(std::exception_ptr error, std::string_view file);

// Runs `work` with the GIL released and raises the Python exception of anything it throws.
// `file` is read after `work`, which may set it.
template <typename Work>
void without_gil(const std::string& file, Work&& work) {
  std::exception_ptr error;
  {
    py::gil_scoped_release release;
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
  }
  if (error) raise_python_error(error, file);
}

// Checks for Ctrl-C now and then while the GIL is released: at most every tenth of a second it
// takes the GIL back, lets Python run its signal handlers, and throws Interrupted when one of
// them raised.
class SignalCheck {
 public:
  void poll();

 private:
  std::int64_t next_ = 0;  // steady-clock nanoseconds of the next check
};

// Bytes of a file as a Python str: UTF-8, any other byte kept as a surrogate escape.
py::str text(std::string_view bytes);

// The integration times (or upper limits) given from Python as `label`: an iterable of real
// numbers. Raises TypeError naming an item that is not a real number (a str among them).
std::vector<double> time_list(const py::handle& times, std::string_view label);

// A path given from Python (str or os.PathLike) as a filesystem path.
std::filesystem::path to_path(const py::object& path);

// A list given from Python: one comma-separated str, or a sequence of str and numbers.
std::string list_text(const py::handle& list);

// The data set of its keyword's value; ValueError for any other.
DataSet data_set_named(const std::string& name);

// The class or f1 field as pandas reads it from the CSV files: a number where the field is
// one (NaN for an empty one); none where it is a text.
std::optional<double> number_of(const std::string& field);

// `columns` as a pandas DataFrame, without a copy; ImportError naming `function` when pandas
// cannot be imported.
py::object data_frame(const py::dict& columns, std::string_view function);

// Tells SignalCheck of every record, so Ctrl-C is seen while the loop runs.
class Interruptible : public ProgressObserver {
 public:
  void record_processed(const HeaderRecord&, std::uint64_t, std::uint64_t) override {
    check_.poll();
  }

 private:
  SignalCheck check_;
};

}  // namespace kestrane::python
