// kestrane.coefficients: a whole run's coefficients as a pandas DataFrame (or a dict of numpy
// arrays), through the core's request, record loop and in-memory sink: no file is written.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "dose/run_request.h"
#include "input/ascii.h"
#include "input/dose_rate_file.h"
#include "input/integration_times.h"
#include "input/line_reader.h"
#include "module_support.h"
#include "output/coefficient_columns.h"
#include "platform/file_services.h"

namespace kestrane::python {
namespace {

constexpr std::string_view kTimesFile = "data\\Kestrane.ini";

// A list given from Python: one comma-separated str, or a sequence of str and numbers.
std::string list_text(const py::handle& list) {
  if (py::isinstance<py::str>(list)) return list.cast<std::string>();
  std::string text;
  for (const py::handle item : list) {
    if (!text.empty()) text += ',';
    text += py::str(item).cast<std::string>();
  }
  return text;
}

std::vector<std::string> name_list(const py::handle& list) {
  std::vector<std::string> names;
  const std::string text = list_text(list);
  std::string_view rest = text;
  for (;;) {
    const std::size_t comma = rest.find(',');
    names.emplace_back(ascii::trim(rest.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return names;
}

DataSet data_set_named(const std::string& name) {
  if (name == "inhalation") return DataSet::inhalation;
  if (name == "ingestion") return DataSet::ingestion;
  throw py::value_error("data_set must be 'inhalation' or 'ingestion', not '" + name + "'");
}

// Host path of a program path under the working directory, or MissingFile.
std::filesystem::path located(const std::filesystem::path& dir, std::string_view program_path) {
  const std::filesystem::path path = resolve_program_path(dir, program_path);
  if (!program_file_exists(dir, program_path)) {
    throw MissingFile{"Unable to locate the file " + path.generic_string(), path.string()};
  }
  return path;
}

// Tells SignalCheck of every record, so Ctrl-C is seen while the loop runs.
class Interruptible : public ProgressObserver {
 public:
  void record_processed(const HeaderRecord&, std::uint64_t, std::uint64_t) override {
    check_.poll();
  }

 private:
  SignalCheck check_;
};

// A numpy array that owns a vector's storage, with no copy.
template <typename T>
py::array_t<T> owned(std::vector<T>&& values) {
  auto* kept = new std::vector<T>(std::move(values));
  py::capsule free(kept, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(static_cast<py::ssize_t>(kept->size()), kept->data(), free);
}

// Copies one column of every age, one after another, to `at`, each age's part freed once it
// is copied.
void join_into(std::vector<CoefficientColumns>& parts,
               std::vector<double> CoefficientColumns::*column, double* at) {
  for (CoefficientColumns& part : parts) {
    std::vector<double>& values = part.*column;
    if (!values.empty()) std::memcpy(at, values.data(), values.size() * sizeof(double));
    at += values.size();
    std::vector<double>().swap(values);
  }
}

// An object array of one Python object per row, each row taking the object of its index.
py::array object_rows(const std::vector<const std::vector<std::int32_t>*>& indices,
                      const std::vector<std::vector<py::object>>& objects) {
  std::size_t total = 0;
  for (const auto* part : indices) total += part->size();
  py::array out(py::dtype("O"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(total)});
  auto** cells = static_cast<PyObject**>(out.mutable_data());
  std::size_t row = 0;
  for (std::size_t p = 0; p < indices.size(); ++p) {
    for (const std::int32_t index : *indices[p]) {
      PyObject* value = objects[p][static_cast<std::size_t>(index)].ptr();
      Py_INCREF(value);
      Py_XDECREF(cells[row]);
      cells[row++] = value;
    }
  }
  return out;
}

// The f1 field as pandas reads it from the CSV file: a number where every record's field is
// one (NaN for an empty one), otherwise the texts.
std::optional<double> number_of(const std::string& field) {
  if (field.empty()) return std::numeric_limits<double>::quiet_NaN();
  double value = 0;
  const char* begin = field.data() + (field[0] == '+' ? 1 : 0);
  const auto [end, ec] = std::from_chars(begin, field.data() + field.size(), value);
  if (ec != std::errc() || end != field.data() + field.size()) return std::nullopt;
  return value;
}

py::object coefficients(const py::object& workdir, const std::string& data_set,
                        const py::object& ages, const py::object& regions, const py::object& times,
                        const py::object& nuclides, int threads, bool as_arrays) {
  RunRequest request;
  request.data_set = data_set_named(data_set);
  request.threads = threads;
  if (threads < 0) throw py::value_error("threads must be 0 (automatic) or more");
  const std::filesystem::path dir = to_path(workdir);
  const std::string age_list = list_text(ages);
  const std::string region_list = list_text(regions);
  if (!nuclides.is_none()) request.nuclides = name_list(nuclides);
  std::optional<std::vector<double>> given_times;
  if (!times.is_none()) {
    given_times = py::cast<std::vector<double>>(times);
    if (given_times->empty() || given_times->size() > kMaxIntegrationTimes) {
      throw py::value_error("times: give 1 to " + std::to_string(kMaxIntegrationTimes) +
                            " integration times in days");
    }
    for (const double t : *given_times) {
      if (!std::isfinite(t)) throw py::value_error("times: every time must be a finite number");
    }
  }

  std::string reading;  // the file being read, for refusals that do not name it
  std::optional<ColumnSink> sink;
  std::vector<std::string> names;
  without_gil(reading, [&] {
    if (!std::filesystem::is_directory(dir)) {
      throw MissingFile{"No such working directory", dir.string()};
    }
    request.age_groups = resolve_age_list(age_list, "ages");
    if (given_times) {
      request.times = *given_times;
    } else {
      const std::filesystem::path path = located(dir, kTimesFile);
      reading = path.string();
      request.times = read_integration_times(path, reading);
    }
    const std::string program_path = "DATA\\" + std::string(data_set_file_name(request.data_set));
    const std::filesystem::path path = located(dir, program_path);
    reading = path.string();
    LineReader reader(path, reading);
    request.file_names = read_region_names(reader);
    request.regions = resolve_region_list(region_list, request.file_names, "regions");
    const RunSetup setup = make_run_setup(request);
    names = setup.region_names;
    sink.emplace(setup.age_groups.size(), setup.times, setup.regions.size(), request.nuclides);
    Interruptible interruptible;
    process_records(reader, setup, *sink, &interruptible);
  });

  std::vector<CoefficientColumns>& parts = sink->columns();
  for (const std::string& nuclide : request.nuclides) {
    bool any = false;
    for (const CoefficientColumns& part : parts) {
      for (const RecordFields& record : part.records) {
        any = any || nuclide_chosen(std::vector<std::string>{nuclide}, record.nuclide);
      }
    }
    if (!any) throw py::value_error("nuclides: no processed record of the nuclide " + nuclide);
  }

  // Per-record and per-region objects, shared by their rows.
  std::vector<const std::vector<std::int32_t>*> record_index, region_index;
  std::vector<std::vector<py::object>> nuclide_obj(parts.size()), class_obj(parts.size()),
      age_obj(parts.size()), line_obj(parts.size()), points_obj(parts.size());
  std::vector<std::vector<py::object>> region_obj(parts.size());
  bool numeric_class = request.data_set == DataSet::ingestion;
  for (const CoefficientColumns& part : parts) {
    for (const RecordFields& record : part.records) {
      numeric_class = numeric_class && number_of(record.class_or_f1).has_value();
    }
  }
  std::vector<py::object> region_names;
  for (const std::string& name : names) region_names.push_back(text(name));
  std::vector<std::int64_t> age_days, header_line, points;
  std::vector<double> f1;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    CoefficientColumns& part = parts[p];
    for (const RecordFields& record : part.records) {
      nuclide_obj[p].push_back(text(record.nuclide));
      class_obj[p].push_back(numeric_class ? py::object(py::float_(*number_of(record.class_or_f1)))
                                           : py::object(text(record.class_or_f1)));
    }
    for (const std::int32_t index : part.record) {
      const RecordFields& record = part.records[static_cast<std::size_t>(index)];
      age_days.push_back(record.age_days);
      header_line.push_back(record.header_line);
      points.push_back(record.points);
      if (numeric_class) f1.push_back(*number_of(record.class_or_f1));
    }
    region_obj[p] = region_names;
    record_index.push_back(&part.record);
    region_index.push_back(&part.region);
  }

  // The numbers of the coefficients, each a row of one block, which pandas takes as it is.
  const std::pair<const char*, std::vector<double> CoefficientColumns::*> numbers[] = {
      {"time_d", &CoefficientColumns::time_d},
      {"low", &CoefficientColumns::low},
      {"high", &CoefficientColumns::high},
      {"low_share_outside", &CoefficientColumns::low_share_outside},
      {"high_share_outside", &CoefficientColumns::high_share_outside}};
  std::size_t total = 0;
  for (const CoefficientColumns& part : parts) total += part.rows();
  constexpr auto kNumbers = static_cast<py::ssize_t>(std::size(numbers));
  py::array_t<double> block({kNumbers, static_cast<py::ssize_t>(total)});
  for (py::ssize_t i = 0; i < kNumbers; ++i) {
    join_into(parts, numbers[i].second, block.mutable_data(i, 0));
  }

  // The other columns, in their places among the numbers.
  const char* class_name = request.data_set == DataSet::inhalation ? "class" : "f1";
  const std::pair<py::ssize_t, std::pair<const char*, py::object>> others[] = {
      {0, {"nuclide", object_rows(record_index, nuclide_obj)}},
      {1,
       {class_name, numeric_class ? py::object(owned(std::move(f1)))
                                  : py::object(object_rows(record_index, class_obj))}},
      {2, {"age_days", owned(std::move(age_days))}},
      {3, {"header_line", owned(std::move(header_line))}},
      {4, {"points", owned(std::move(points))}},
      {6, {"region", object_rows(region_index, region_obj)}}};

  if (as_arrays) {
    py::dict columns;
    std::size_t next = 0;
    for (py::ssize_t i = 0; i < kNumbers; ++i) {
      while (next < std::size(others) &&
             others[next].first == static_cast<py::ssize_t>(columns.size())) {
        columns[others[next].second.first] = others[next].second.second;
        ++next;
      }
      columns[numbers[i].first] = block[py::int_(i)];
    }
    return columns;
  }
  py::module_ pandas;
  try {
    pandas = py::module_::import("pandas");
  } catch (const py::error_already_set&) {
    PyErr_SetString(PyExc_ImportError,
                    "kestrane.coefficients needs pandas for a DataFrame (Debian: python3-pandas); "
                    "as_arrays=True gives a dict of numpy arrays without it");
    throw py::error_already_set();
  }
  py::list number_names;
  for (const auto& number : numbers) number_names.append(number.first);
  py::object table = pandas.attr("DataFrame")(block.attr("T"), py::arg("columns") = number_names,
                                              py::arg("copy") = false);
  for (const auto& [place, column] : others)
    table.attr("insert")(place, column.first, column.second);
  return table;
}

}  // namespace

void register_coefficients(py::module_& m) {
  m.def("coefficients", &coefficients, py::arg("workdir"), py::kw_only(),
        py::arg("data_set") = "inhalation", py::arg("ages") = "all", py::arg("regions") = "all",
        py::arg("times") = py::none(), py::arg("nuclides") = py::none(), py::arg("threads") = 0,
        py::arg("as_arrays") = false,
        "coefficients(workdir, *, data_set='inhalation', ages='all', regions='all',\n"
        "             times=None, nuclides=None, threads=0, as_arrays=False)\n\n"
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
        "(no pandas needed).\n\n"
        "Raises ValueError for a bad choice, FileNotFoundError for a missing file,\n"
        "kestrane.InputError for a refused input file, KeyboardInterrupt on Ctrl-C.");
}

}  // namespace kestrane::python
