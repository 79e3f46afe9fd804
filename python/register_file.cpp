// kestrane.DoseRateFile: a dose-rate file's title and region names, and its records streamed
// one at a time with their tabulated times and rates as numpy arrays. The file is copied in
// blocks rather than mapped (LineReader::Blocks::copied): inside the interpreter no guard
// stands for a mapped page that another program cuts off, which would kill the process with
// SIGBUS; read in blocks, a file made shorter is an InputError as the programs word it.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "input/dose_rate_file.h"
#include "input/line_reader.h"
#include "module_support.h"
#include "output/coefficient_columns.h"
#include "output/csv_file.h"

namespace kestrane::python {
namespace {

DataSet data_set_of(const std::filesystem::path& path, const std::optional<std::string>& given);

// One record of the file, as records() hands it out.
struct Record {
  py::str nuclide, class_or_f1, table_code, header;
  std::int32_t age_days = 0;
  std::int64_t header_line = 0;
  std::int32_t points = 0;
  py::object times, low, high;
};

// The rates of table t as an (N, R) array, or None when the table code does not name it.
py::object rate_array(const RateTable& rates, const HeaderRecord& header, int t,
                      std::size_t regions) {
  if (!record_has_table(header, t)) return py::none();
  const auto n = static_cast<std::size_t>(header.n);
  py::array_t<double> out({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(regions)});
  double* cells = out.mutable_data();
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < regions; ++k) {
      cells[i * regions + k] = rates.value[static_cast<std::size_t>(t)][k][i];
    }
  }
  return out;
}

// The records of a file, read one at a time from a reader of its own.
class RecordStream {
 public:
  RecordStream(const std::filesystem::path& path, DataSet data_set)
      : display_(path.string()), data_set_(data_set) {
    without_gil(display_, [&] {
      if (!std::filesystem::is_regular_file(path)) throw MissingFile{"No such file", display_};
      reader_.emplace(path, display_, LineReader::kDefaultBlockSize, LineReader::Blocks::copied);
      region_count_ = read_region_names(*reader_).size();
    });
    for (std::size_t k = 1; k <= region_count_; ++k) regions_.push_back(static_cast<int>(k));
    rates_ = std::make_unique<RateTable>();
  }

  Record next() {
    bool found = false;
    HeaderRecord header;
    without_gil(display_, [&] {
      std::string_view line;
      while (reader_->next_line(line)) {
        if (is_blank_header(line)) continue;
        header = decode_header(line, data_set_, reader_->line_number());
        validate_header(header, display_);
        read_data_block(*reader_, header, regions_, static_cast<int>(region_count_) + 1, *rates_);
        found = true;
        return;
      }
    });
    if (!found) throw py::stop_iteration();
    Record record{text(trim_spaces(header.nuclide)),
                  text(trim_spaces(header.class_or_f1)),
                  text(ascii::trim_right(header.table_code)),
                  text(header.line),
                  header.age_days,
                  header.line_number,
                  header.n,
                  py::none(),
                  py::none(),
                  py::none()};
    py::array_t<double> times(header.n);
    std::copy_n(rates_->x.begin(), header.n, times.mutable_data());
    record.times = std::move(times);
    record.low = rate_array(*rates_, header, 0, region_count_);
    record.high = rate_array(*rates_, header, 1, region_count_);
    return record;
  }

 private:
  std::string display_;
  DataSet data_set_;
  std::optional<LineReader> reader_;
  std::size_t region_count_ = 0;
  std::vector<int> regions_;
  std::unique_ptr<RateTable> rates_;
};

// A dose-rate file: its title and region names, read when it is opened.
class DoseRateFile {
 public:
  DoseRateFile(const py::object& path, const std::optional<std::string>& data_set)
      : path_(to_path(path)), data_set_(data_set_of(path_, data_set)) {
    const std::string display = path_.string();
    without_gil(display, [&] {
      if (!std::filesystem::is_regular_file(path_)) throw MissingFile{"No such file", display};
      LineReader reader(path_, display, LineReader::kDefaultBlockSize, LineReader::Blocks::copied);
      title_ = std::string(reader.read_line());
      LineReader names(path_, display, LineReader::kDefaultBlockSize, LineReader::Blocks::copied);
      names_ = read_region_names(names);
    });
  }
  py::str title() const { return text(title_); }
  py::list regions() const {
    py::list list;
    for (const std::string& name : names_) list.append(text(name));
    return list;
  }
  std::string data_set() const {
    return data_set_ == DataSet::inhalation ? "inhalation" : "ingestion";
  }
  RecordStream records() const { return RecordStream(path_, data_set_); }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
  DataSet data_set_;
  std::string title_;
  std::vector<std::string> names_;
};

DataSet data_set_of(const std::filesystem::path& path, const std::optional<std::string>& given) {
  const std::string name = given ? *given : path.filename().string();
  if (ascii::equal_ignoring_case(name, "inhalation") ||
      ascii::equal_ignoring_case(name, data_set_file_name(DataSet::inhalation))) {
    return DataSet::inhalation;
  }
  if (ascii::equal_ignoring_case(name, "ingestion") ||
      ascii::equal_ignoring_case(name, data_set_file_name(DataSet::ingestion))) {
    return DataSet::ingestion;
  }
  throw py::value_error(given ? "data_set must be 'inhalation' or 'ingestion', not '" + name + "'"
                              : "the data set of " + path.string() +
                                    " is not known from its name: give data_set='inhalation' "
                                    "or data_set='ingestion'");
}

}  // namespace

void register_file(py::module_& m) {
  py::class_<Record>(m, "Record",
                     "One nuclide record of a dose-rate file, as DoseRateFile.records() reads "
                     "it.")
      .def_readonly("nuclide", &Record::nuclide, "the nuclide, without surrounding blanks")
      .def_readonly("age_days", &Record::age_days, "the age at intake in days")
      .def_readonly("class_or_f1", &Record::class_or_f1,
                    "the class letter (inhalation) or the f1 field (ingestion), as text")
      .def_readonly("header_line", &Record::header_line,
                    "the line number of the record's header in the file")
      .def_readonly("header", &Record::header, "the header line itself")
      .def_readonly("table_code", &Record::table_code, "L, H or B: the tables the record holds")
      .def_readonly("points", &Record::points, "N, the number of time points")
      .def_readonly("times", &Record::times, "the tabulated times in days, shape (N,)")
      .def_readonly("low", &Record::low,
                    "the low-table rates, shape (N, regions), or None without a low table")
      .def_readonly("high", &Record::high,
                    "the high-table rates, shape (N, regions), or None without a high table")
      .def("__repr__", [](const Record& r) {
        return "<kestrane.Record " + py::str(r.nuclide).cast<std::string>() + " age " +
               std::to_string(r.age_days) + " d, line " + std::to_string(r.header_line) + ">";
      });

  py::class_<RecordStream>(m, "RecordStream",
                           "The records of a dose-rate file, read one at a time as they are "
                           "iterated: memory stays bounded whatever the file's size.")
      .def("__iter__", [](RecordStream& s) -> RecordStream& { return s; })
      .def("__next__", &RecordStream::next);

  py::class_<DoseRateFile>(m, "DoseRateFile",
                           "DoseRateFile(path, data_set=None)\n\n"
                           "A dose-rate file (KVR13INH.DRT or KVR13ING.DRT). The data set comes "
                           "from the file's name,\nor from data_set ('inhalation' or "
                           "'ingestion') for a file of another name. Reads the\ntitle and "
                           "region-name lines at once; raises FileNotFoundError for a missing "
                           "file,\nkestrane.InputError for one the programs refuse.")
      .def(py::init<const py::object&, const std::optional<std::string>&>(), py::arg("path"),
           py::arg("data_set") = py::none())
      .def_property_readonly("title", &DoseRateFile::title, "the title line")
      .def_property_readonly("regions", &DoseRateFile::regions,
                             "the region names of the region-name line, in column order")
      .def_property_readonly("data_set", &DoseRateFile::data_set, "'inhalation' or 'ingestion'")
      .def_property_readonly("path", &DoseRateFile::path, "the file's path")
      .def("records", &DoseRateFile::records,
           "records() -> iterator of Record\n\n"
           "Every record of the file in file order, whatever its age, read as it is iterated.\n"
           "Raises kestrane.InputError at a record the programs refuse, and where another\n"
           "program makes the file shorter while it is read.");
}

}  // namespace kestrane::python
