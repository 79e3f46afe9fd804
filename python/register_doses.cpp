// kestrane.doses and kestrane.Scheme: the equivalent and effective doses of a run by a
// weighting scheme as a pandas DataFrame, with the columns and numbers of kestrane-batch's dose
// files, and a weighting scheme read and checked on its own. The conversions between Python
// and the run library only; the run and its checks are the programs' own.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "input/weighting_scheme.h"
#include "module_support.h"
#include "output/csv_file.h"
#include "output/dose_file.h"
#include "run/dose_run.h"
#include "run/run_request.h"

namespace kestrane::python {
namespace {

// A weighting scheme read from its file; what Scheme(path) holds.
struct SchemeObject {
  std::filesystem::path path;
  WeightingScheme scheme;
};

// Raises FileNotFoundError when nothing is at the scheme's `path`.
void require_scheme_file(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return;
  raise_python_error(std::make_exception_ptr(MissingFile{
                         "Unable to locate the weighting scheme " + path.string(), path.string()}),
                     path.string());
}

// Reads the scheme at `path`: FileNotFoundError when nothing is there, ValueError naming the
// file, the line and the cause for a scheme that is refused.
SchemeObject read_scheme(const std::filesystem::path& path) {
  require_scheme_file(path);
  try {
    return {path, read_weighting_scheme(path, path.string())};
  } catch (const InputError& refusal) {
    throw py::value_error(refusal.what());
  }
}

py::dict tissue_dict(const SchemeTissue& tissue) {
  py::dict regions;
  for (const SchemePart& part : tissue.regions) regions[text(part.region)] = part.fraction;
  py::dict out;
  out["name"] = text(tissue.name);
  out["weight"] = tissue.weight;
  out["regions"] = regions;
  return out;
}

std::string scheme_repr(const SchemeObject& object) {
  const WeightingScheme& s = object.scheme;
  std::string out = "<kestrane.Scheme " + std::string(py::repr(text(s.name))) + ": low " +
                    shortest_double(s.low) + ", high " + shortest_double(s.high) + "; ";
  for (const SchemeTissue& tissue : s.tissues) {
    out += tissue.name + " " + shortest_double(tissue.weight) + ", ";
  }
  out += std::string(kRemainderRowName) + " " + shortest_double(s.remainder_weight) + " of " +
         std::to_string(s.remainder.size()) + " regions" + (s.split ? " (split)" : "") + ">";
  return out;
}

// A column of Python objects: `of_record(record)`, made once for each record, on each of its
// rows where `of_row` is null; else `of_row[k]` on the k-th row of each of its times.
template <typename OfRecord>
py::array object_column(const DoseOutcome& outcome, std::size_t rows, OfRecord of_record,
                        const std::vector<py::object>* of_row = nullptr) {
  py::array out(py::dtype("O"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(rows)});
  auto** cells = static_cast<PyObject**>(out.mutable_data());
  std::size_t at = 0;
  const std::size_t per_time = outcome.tissues.size() + 2;
  for (const DosePart& part : outcome.parts) {
    const std::size_t per_record = part.times.size() * per_time;
    for (const RecordFields& record : part.records) {
      const py::object shared = of_row == nullptr ? py::object(of_record(record)) : py::none();
      for (std::size_t k = 0; k < per_record; ++k) {
        PyObject* value = (of_row == nullptr ? shared : (*of_row)[k % per_time]).ptr();
        Py_INCREF(value);
        Py_XDECREF(cells[at]);
        cells[at++] = value;
      }
    }
  }
  return out;
}

// A column of numbers, `value(part, record, time index)` on every row of that time.
template <typename T, typename Value>
py::array_t<T> number_column(const DoseOutcome& outcome, std::size_t rows, Value value) {
  py::array_t<T> out(static_cast<py::ssize_t>(rows));
  T* at = out.mutable_data();
  const std::size_t per_time = outcome.tissues.size() + 2;
  for (const DosePart& part : outcome.parts) {
    for (const RecordFields& record : part.records) {
      for (std::size_t m = 0; m < part.times.size(); ++m) {
        at = std::fill_n(at, per_time, value(part, record, m));
      }
    }
  }
  return out;
}

py::object doses(const py::object& workdir, const std::string& data_set, const py::object& ages,
                 const py::object& scheme, const py::object& times, const py::object& nuclides,
                 const py::object& to_age, int threads, bool as_arrays) {
  RunRequest request;
  request.working_dir = to_path(workdir);
  request.data_set = data_set_named(data_set);
  request.ages = list_text(ages);
  // Every region the scheme names is computed whatever is chosen; none is shown.
  request.regions = "1";
  request.scheme = py::isinstance<SchemeObject>(scheme) ? scheme.cast<const SchemeObject&>().path
                                                        : to_path(scheme);
  if (!nuclides.is_none()) request.nuclides = list_text(nuclides);
  if (!times.is_none()) request.times = time_list(times, "times");
  if (!to_age.is_none()) {
    const double years = PyFloat_AsDouble(to_age.ptr());
    // A str or a bool is no number of years, though Python would make one of either.
    if (py::isinstance<py::str>(to_age) || py::isinstance<py::bool_>(to_age) ||
        (years == -1.0 && PyErr_Occurred() != nullptr)) {
      PyErr_Clear();
      throw py::type_error("to_age: give a real number of years, not " +
                           std::string(py::repr(to_age)));
    }
    request.to_age = years;
  }
  request.threads = threads;
  request.host_names = true;
  request.input_blocks = LineReader::Blocks::copied;

  std::optional<DoseOutcome> outcome;
  const std::filesystem::path scheme_path = *request.scheme;
  require_scheme_file(scheme_path);
  without_gil({}, [&] {
    check_request(request);
    RunInput input = open_run_input(request);
    ResolvedRun resolved;
    try {
      resolved = resolve_run(request, std::move(input));
    } catch (const RunStopped& stopped) {
      // A refused scheme is a refused value, as Scheme(path) raises it.
      if (stopped.stop().kind == StopKind::input_refused && stopped.stop().path == scheme_path) {
        throw std::invalid_argument(stopped.stop().message);
      }
      throw;
    }
    Interruptible interruptible;
    outcome = run_to_doses(std::move(resolved), &interruptible);
  });

  std::size_t rows = 0;
  for (const DosePart& part : outcome->parts) rows += part.values.size();
  const std::size_t per_time = outcome->tissues.size() + 2;
  py::array_t<double> values(static_cast<py::ssize_t>(rows));
  double* value_at = values.mutable_data();
  for (DosePart& part : outcome->parts) {
    const std::size_t size = part.values.size();
    part.values.move_to(value_at);
    value_at += size;
  }
  bool numeric_class = request.data_set == DataSet::ingestion;
  for (const DosePart& part : outcome->parts) {
    for (const RecordFields& record : part.records) {
      numeric_class = numeric_class && number_of(record.class_or_f1).has_value();
    }
  }
  // The texts as pandas reads them from the file: an empty tissue (the effective dose) NaN.
  const py::object nan = py::float_(std::numeric_limits<double>::quiet_NaN());
  std::vector<py::object> tissues;
  for (const std::string& name : outcome->tissues) tissues.push_back(text(name));
  tissues.push_back(text(kRemainderRowName));
  tissues.push_back(nan);
  std::vector<py::object> quantities(per_time, py::str("equivalent"));
  quantities.back() = py::str("effective");
  const auto none = [](const RecordFields&) { return py::none(); };

  py::dict columns;
  columns["nuclide"] =
      object_column(*outcome, rows, [](const RecordFields& r) { return text(r.nuclide); });
  const char* class_name = request.data_set == DataSet::inhalation ? "class" : "f1";
  if (numeric_class) {
    columns[class_name] = number_column<double>(
        *outcome, rows, [](const DosePart&, const RecordFields& r, std::size_t) {
          return *number_of(r.class_or_f1);
        });
  } else {
    columns[class_name] =
        object_column(*outcome, rows, [](const RecordFields& r) { return text(r.class_or_f1); });
  }
  columns["age_days"] = number_column<std::int64_t>(
      *outcome, rows, [](const DosePart&, const RecordFields& r, std::size_t) {
        return static_cast<std::int64_t>(r.age_days);
      });
  columns["header_line"] = number_column<std::int64_t>(
      *outcome, rows,
      [](const DosePart&, const RecordFields& r, std::size_t) { return r.header_line; });
  columns["points"] = number_column<std::int64_t>(
      *outcome, rows, [](const DosePart&, const RecordFields& r, std::size_t) {
        return static_cast<std::int64_t>(r.points);
      });
  columns["time_d"] = number_column<double>(
      *outcome, rows,
      [](const DosePart& part, const RecordFields&, std::size_t m) { return part.times[m]; });
  columns["quantity"] = object_column(*outcome, rows, none, &quantities);
  columns["tissue"] = object_column(*outcome, rows, none, &tissues);
  columns["value"] = values;
  if (as_arrays) return columns;
  return data_frame(columns, "doses");
}

}  // namespace

void register_doses(py::module_& m) {
  py::class_<SchemeObject>(m, "Scheme",
                           "Scheme(path)\n\n"
                           "A weighting scheme (TOML) read and given every check that needs no "
                           "dose-rate file;\nValueError names the file, the line and the cause, "
                           "FileNotFoundError a missing file.\nIts region names are checked "
                           "against a dose-rate file by doses().")
      .def(py::init([](const py::object& path) { return read_scheme(to_path(path)); }),
           py::arg("path"))
      .def_property_readonly("path", [](const SchemeObject& s) { return s.path.string(); })
      .def_property_readonly("name", [](const SchemeObject& s) { return text(s.scheme.name); })
      .def_property_readonly("radiation",
                             [](const SchemeObject& s) {
                               py::dict out;
                               out["low"] = s.scheme.low;
                               out["high"] = s.scheme.high;
                               return out;
                             })
      .def_property_readonly("tissues",
                             [](const SchemeObject& s) {
                               py::list out;
                               for (const SchemeTissue& t : s.scheme.tissues) {
                                 out.append(tissue_dict(t));
                               }
                               return out;
                             })
      .def_property_readonly("remainder",
                             [](const SchemeObject& s) {
                               py::list regions;
                               for (const std::string& r : s.scheme.remainder)
                                 regions.append(text(r));
                               py::dict out;
                               out["weight"] = s.scheme.remainder_weight;
                               out["regions"] = regions;
                               out["split"] = s.scheme.split;
                               return out;
                             })
      .def("__repr__", &scheme_repr);

  m.def("doses", &doses, py::arg("workdir"), py::kw_only(), py::arg("data_set") = "inhalation",
        py::arg("ages") = "all", py::arg("scheme"), py::arg("times") = py::none(),
        py::arg("nuclides") = py::none(), py::arg("to_age") = py::none(), py::arg("threads") = 0,
        py::arg("as_arrays") = false,
        "doses(workdir, *, data_set='inhalation', ages='all', scheme, times=None,\n"
        "      nuclides=None, to_age=None, threads=0, as_arrays=False)\n\n"
        "The committed equivalent and effective doses of a run in `workdir` by the weighting\n"
        "scheme `scheme` (a path or a Scheme), as kestrane-batch --scheme writes them, with no\n"
        "file written: a pandas DataFrame with the columns nuclide, class (f1 for ingestion),\n"
        "age_days, header_line, points, time_d, quantity, tissue, value; for every record and\n"
        "integration time one 'equivalent' row per tissue in the scheme's order, one with the\n"
        "tissue 'Remainder', then the 'effective' row (tissue NaN), the rows of the first\n"
        "chosen age first; the same numbers to the bit as the dose files.\n\n"
        "ages, times and nuclides as for coefficients(). to_age (years) adds the commitment to\n"
        "that age to each age's times, as --to-age does.\n\n"
        "Raises ValueError for a bad choice or a refused scheme, TypeError for a time or age\n"
        "that is not a real number, FileNotFoundError for a missing file, kestrane.InputError\n"
        "for a refused input file, KeyboardInterrupt on Ctrl-C.");
}

}  // namespace kestrane::python
