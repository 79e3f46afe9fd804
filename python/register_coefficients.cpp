// kestrane.coefficients: a whole run's coefficients as a pandas DataFrame (or a dict of numpy
// arrays): the conversions between Python and the run library's request and column outcome;
// the run itself, with its checks, is the programs' own, and no file is written.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "module_support.h"
#include "output/coefficient_columns.h"
#include "run/column_run.h"
#include "run/run_request.h"

namespace kestrane::python {

std::string list_text(const py::handle& list) {
  if (py::isinstance<py::str>(list)) return list.cast<std::string>();
  std::string text;
  for (const py::handle item : list) {
    if (!text.empty()) text += ',';
    text += py::str(item).cast<std::string>();
  }
  return text;
}

DataSet data_set_named(const std::string& name) {
  if (name == "inhalation") return DataSet::inhalation;
  if (name == "ingestion") return DataSet::ingestion;
  throw py::value_error("data_set must be 'inhalation' or 'ingestion', not '" + name + "'");
}

namespace {

// The rows of a run: each selected age's rows in turn, every record's rows one per
// integration time and selected region.
struct RowLayout {
  const std::vector<CoefficientColumns>& parts;
  std::size_t times;
  std::size_t regions;
  std::size_t total() const {
    std::size_t rows = 0;
    for (const CoefficientColumns& part : parts) rows += part.records.size() * times * regions;
    return rows;
  }
};

// A column of one value per record, repeated on each of the record's rows.
template <typename T, typename Value>
py::array_t<T> per_record(const RowLayout& layout, Value value) {
  py::array_t<T> out(static_cast<py::ssize_t>(layout.total()));
  T* at = out.mutable_data();
  for (const CoefficientColumns& part : layout.parts) {
    for (const RecordFields& record : part.records) {
      at = std::fill_n(at, layout.times * layout.regions, value(record));
    }
  }
  return out;
}

// A column of Python objects, one per record (`objects` of each age, in record order) or one
// per region (`by_region`), each taken again on every row it stands for.
py::array object_rows(const RowLayout& layout, const std::vector<std::vector<py::object>>& objects,
                      bool by_region) {
  const std::size_t total = layout.total();
  py::array out(py::dtype("O"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(total)});
  auto** cells = static_cast<PyObject**>(out.mutable_data());
  std::size_t row = 0;
  for (std::size_t p = 0; p < layout.parts.size(); ++p) {
    for (std::size_t r = 0; r < layout.parts[p].records.size(); ++r) {
      for (std::size_t k = 0; k < layout.times * layout.regions; ++k) {
        PyObject* value = (by_region ? objects[0][k % layout.regions] : objects[p][r]).ptr();
        Py_INCREF(value);
        Py_XDECREF(cells[row]);
        cells[row++] = value;
      }
    }
  }
  return out;
}

// A column of the coefficients moved out of every age's chunks, each freed once copied.
py::array_t<double> moved(std::vector<CoefficientColumns>& parts,
                          ChunkedDoubles CoefficientColumns::*column) {
  std::size_t total = 0;
  for (const CoefficientColumns& part : parts) total += (part.*column).size();
  py::array_t<double> out(static_cast<py::ssize_t>(total));
  double* at = out.mutable_data();
  for (CoefficientColumns& part : parts) {
    const std::size_t size = (part.*column).size();
    (part.*column).move_to(at);
    at += size;
  }
  return out;
}

}  // namespace

std::optional<double> number_of(const std::string& field) {
  if (field.empty()) return std::numeric_limits<double>::quiet_NaN();
  double value = 0;
  const char* begin = field.data() + (field[0] == '+' ? 1 : 0);
  const auto [end, ec] = std::from_chars(begin, field.data() + field.size(), value);
  if (ec != std::errc() || end != field.data() + field.size()) return std::nullopt;
  return value;
}

py::object data_frame(const py::dict& columns, std::string_view function) {
  py::module_ pandas;
  try {
    pandas = py::module_::import("pandas");
  } catch (py::error_already_set& failure) {
    // Only a pandas that cannot be imported is said to be missing; anything else raised while
    // it is imported (KeyboardInterrupt from a Ctrl-C, its own errors) goes on as it is.
    if (!failure.matches(PyExc_ImportError)) throw;
    py::raise_from(failure, PyExc_ImportError,
                   ("kestrane." + std::string(function) +
                    " needs pandas for a DataFrame (Debian: python3-pandas); "
                    "as_arrays=True gives a dict of numpy arrays without it")
                       .c_str());
    throw py::error_already_set();
  }
  // Without a copy, pandas keeps each array as a block of its own: the table holds little
  // more than its own size.
  return pandas.attr("DataFrame")(columns, py::arg("copy") = false);
}

namespace {

py::object coefficients(const py::object& workdir, const std::string& data_set,
                        const py::object& ages, const py::object& regions, const py::object& times,
                        const py::object& nuclides, int threads, bool as_arrays,
                        const std::string& before, const std::string& after) {
  // The request as kestrane-batch makes it, its refusals naming the keywords.
  RunRequest request;
  request.working_dir = to_path(workdir);
  request.data_set = data_set_named(data_set);
  request.ages = list_text(ages);
  request.regions = list_text(regions);
  if (!nuclides.is_none()) request.nuclides = list_text(nuclides);
  if (!times.is_none()) request.times = time_list(times, "times");
  request.threads = threads;
  request.host_names = true;
  // Copied in blocks, never mapped: a file made shorter meanwhile is then an InputError rather
  // than a SIGBUS, which no handler of the interpreter's would survive.
  request.input_blocks = LineReader::Blocks::copied;

  std::optional<ColumnOutcome> outcome;
  without_gil({}, [&] {
    request.before = resolve_before_model(before, "before");
    request.after = resolve_after_model(after, "after");
    check_request(request);
    Interruptible interruptible;
    outcome = run_to_columns(resolve_run(request, open_run_input(request)), &interruptible);
  });
  std::vector<CoefficientColumns>& parts = outcome->columns;
  const std::vector<std::string>& names = outcome->region_names;
  const std::vector<double>& run_times = outcome->times;

  // The coefficients first, each chunk given back as it is copied; then the columns that
  // repeat a record's or a region's value, so that the rows are never held twice.
  const py::array_t<double> low = moved(parts, &CoefficientColumns::low);
  const py::array_t<double> high = moved(parts, &CoefficientColumns::high);
  const py::array_t<double> low_share = moved(parts, &CoefficientColumns::low_share_outside);
  const py::array_t<double> high_share = moved(parts, &CoefficientColumns::high_share_outside);

  // The objects of each record and region, shared by their rows.
  const RowLayout layout{parts, run_times.size(), names.size()};
  bool numeric_class = request.data_set == DataSet::ingestion;
  std::vector<std::vector<py::object>> nuclide_texts(parts.size()), classes(parts.size());
  for (std::size_t p = 0; p < parts.size(); ++p) {
    for (const RecordFields& record : parts[p].records) {
      numeric_class = numeric_class && number_of(record.class_or_f1).has_value();
      nuclide_texts[p].push_back(text(record.nuclide));
      classes[p].push_back(text(record.class_or_f1));
    }
  }
  std::vector<std::vector<py::object>> regions_by_column(1);
  for (const std::string& name : names) regions_by_column[0].push_back(text(name));
  py::array_t<double> times_by_row(static_cast<py::ssize_t>(layout.total()));
  double* time_at = times_by_row.mutable_data();
  for (const CoefficientColumns& part : parts) {
    for (std::size_t r = 0; r < part.records.size(); ++r) {
      for (const double time : run_times) time_at = std::fill_n(time_at, names.size(), time);
    }
  }

  py::dict columns;
  columns["nuclide"] = object_rows(layout, nuclide_texts, false);
  columns[request.data_set == DataSet::inhalation ? "class" : "f1"] =
      numeric_class ? py::object(per_record<double>(
                          layout, [](const RecordFields& r) { return *number_of(r.class_or_f1); }))
                    : py::object(object_rows(layout, classes, false));
  columns["age_days"] =
      per_record<std::int64_t>(layout, [](const RecordFields& r) { return r.age_days; });
  columns["header_line"] =
      per_record<std::int64_t>(layout, [](const RecordFields& r) { return r.header_line; });
  columns["points"] =
      per_record<std::int64_t>(layout, [](const RecordFields& r) { return r.points; });
  columns["time_d"] = times_by_row;
  columns["region"] = object_rows(layout, regions_by_column, true);
  columns["low"] = low;
  columns["high"] = high;
  columns["low_share_outside"] = low_share;
  columns["high_share_outside"] = high_share;
  if (as_arrays) return columns;
  return data_frame(columns, "coefficients");
}

}  // namespace

void register_coefficients(py::module_& m) {
  m.def("coefficients", &coefficients, py::arg("workdir"), py::kw_only(),
        py::arg("data_set") = "inhalation", py::arg("ages") = "all", py::arg("regions") = "all",
        py::arg("times") = py::none(), py::arg("nuclides") = py::none(), py::arg("threads") = 0,
        py::arg("as_arrays") = false, py::arg("before") = "extend", py::arg("after") = "extend",
        "coefficients(workdir, *, data_set='inhalation', ages='all', regions='all',\n"
        "             times=None, nuclides=None, threads=0, as_arrays=False,\n"
        "             before='extend', after='extend')\n\n"
        "The dose coefficients of a run in `workdir` (the folder holding DATA and data), as\n"
        "kestrane-batch --csv computes them, with no file written: a pandas DataFrame with\n"
        "the columns nuclide, class (f1 for ingestion), age_days, header_line, points, time_d,\n"
        "region, low, high, low_share_outside, high_share_outside; one row per record,\n"
        "integration time and region, the rows of the first chosen age first. low or high is\n"
        "NaN where the record has no such table, a share NaN where its coefficient is NaN or\n"
        "copied (points == 1).\n\n"
        "ages and regions take what --ages and --regions take ('all', numbers, days, names), as\n"
        "a list or one comma-separated str. times=None reads data/Kestrane.ini; a list of days\n"
        "overrides it. nuclides (a list or a comma-separated str) keeps only those nuclides.\n"
        "threads=0 uses every processor. as_arrays=True returns a dict of numpy arrays instead\n"
        "(no pandas needed). before and after are the rate models of --before and --after:\n"
        "before 'extend', 'zero', 'constant' or 'linear', after 'extend', 'zero', 'constant'\n"
        "or 'exponential' (see integrate).\n\n"
        "Raises ValueError for a bad choice (a time the programs refuse, an empty nuclide\n"
        "name, ...), TypeError for a time that is not a real number, FileNotFoundError for a\n"
        "missing file,\n"
        "kestrane.InputError for a refused input file, KeyboardInterrupt on Ctrl-C.");
}

}  // namespace kestrane::python
