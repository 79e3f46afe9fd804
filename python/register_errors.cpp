// kestrane.InputError, the turning of the core's refusals into Python exceptions, and the
// conversions of the values given from Python that every part shares.
#include <cerrno>
#include <chrono>
#include <new>
#include <stdexcept>

#include "module_support.h"
#include "run/choice_lists.h"
#include "run/run_outcome.h"

namespace kestrane::python {
namespace {

// The class kestrane.InputError, made once by register_errors.
PyObject* input_error_type = nullptr;

[[noreturn]] void raise_input_error(const StopDetails& stop) {
  py::object type = py::reinterpret_borrow<py::object>(input_error_type);
  py::object error = type(text(stop.message));
  error.attr("file") = text(stop.file);
  error.attr("line") = stop.line;
  error.attr("record") = stop.record == 0 ? py::none() : py::cast(stop.record);
  error.attr("reason") = text(stop.reason);
  PyErr_SetObject(input_error_type, error.ptr());
  throw py::error_already_set();
}

[[noreturn]] void raise_missing(const MissingFile& missing) {
  py::object type = py::reinterpret_borrow<py::object>(PyExc_FileNotFoundError);
  py::object error = type(ENOENT, missing.message, missing.path);
  PyErr_SetObject(PyExc_FileNotFoundError, error.ptr());
  throw py::error_already_set();
}

}  // namespace

void register_errors(py::module_& m) {
  input_error_type = PyErr_NewExceptionWithDoc(
      "kestrane.InputError",
      "An input file refused, as the programs refuse it.\n\n"
      "Attributes: file (the file as the message names it), line (the 1-based number of the\n"
      "offending line, 0 when none), record (the line of the record's header, or None outside\n"
      "a record) and reason (the reason alone). str() gives the programs' whole message.",
      PyExc_Exception, nullptr);
  if (input_error_type == nullptr) throw py::error_already_set();
  m.add_object("InputError", py::handle(input_error_type));
}

void raise_python_error(std::exception_ptr error, std::string_view file) {
  try {
    std::rethrow_exception(error);
  } catch (const Interrupted&) {
    throw py::error_already_set();
  } catch (const py::error_already_set&) {
    throw;
  } catch (const RunStopped& stopped) {
    const RunStop& stop = stopped.stop();
    if (stop.kind == StopKind::missing_file) {
      raise_missing({stop.reason + " " + stop.path.generic_string(), stop.path.string()});
    }
    if (stop.kind == StopKind::input_refused) {
      raise_input_error({stop.kind, stop.file, stop.line, stop.record, stop.reason, stop.message});
    }
    throw py::value_error(stop.message);
  } catch (const MissingFile& missing) {
    raise_missing(missing);
  } catch (const InputError& refusal) {
    raise_input_error(stop_details(refusal, file));
  } catch (const ChoiceError& choice) {
    throw py::value_error(choice.what());
  } catch (const std::invalid_argument& bad) {
    throw py::value_error(bad.what());
  }
  // Anything else (std::bad_alloc, a failed write) goes on to pybind11's own translation.
  throw std::logic_error("unreachable");
}

void SignalCheck::poll() {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  if (now < next_) return;
  next_ = now + 100'000'000;
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() != 0) throw Interrupted{};
}

std::vector<double> time_list(const py::handle& times, std::string_view label) {
  const std::string name(label);
  const auto is_text = [](const py::handle& item) {
    return py::isinstance<py::str>(item) || py::isinstance<py::bytes>(item);
  };
  if (is_text(times) || !py::isinstance<py::iterable>(times)) {
    throw py::type_error(name + ": give an iterable of numbers of days, not " +
                         std::string(py::str(py::type::of(times).attr("__name__"))));
  }
  std::vector<double> values;
  for (const py::handle item : times) {
    const double days = is_text(item) ? -1.0 : PyFloat_AsDouble(item.ptr());
    // A KeyboardInterrupt (Ctrl-C while the item's own __float__ ran) is no refusal of it.
    if (!is_text(item) && days == -1.0 && PyErr_Occurred() != nullptr &&
        PyErr_ExceptionMatches(PyExc_Exception) == 0) {
      throw py::error_already_set();
    }
    if (is_text(item) || (days == -1.0 && PyErr_Occurred() != nullptr)) {
      PyErr_Clear();
      throw py::type_error(name + ": the item " + std::string(py::repr(item)) +
                           " is not a real number of days");
    }
    values.push_back(days);
  }
  return values;
}

py::str text(std::string_view bytes) {
  PyObject* s =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<py::ssize_t>(bytes.size()), "surrogateescape");
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

std::filesystem::path to_path(const py::object& path) {
  py::object os = py::module_::import("os");
  return std::filesystem::path(py::str(os.attr("fspath")(path)).cast<std::string>());
}

}  // namespace kestrane::python
