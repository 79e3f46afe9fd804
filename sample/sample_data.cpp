// Synthetic sample data: dose-rate files whose rates are sums of decaying exponentials on a
// roughly logarithmic time grid, written in the fixed-column layouts of the real files.
#include "sample/sample_data.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace kestrane {
namespace {

// A small random-number generator whose output is fixed by its seed on every platform
// (xoshiro256**, seeded through splitmix64). The distributions of the standard library are
// not used because their output differs between library implementations.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) {
    for (auto& word : s_) {
      seed += 0x9E3779B97F4A7C15ull;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
  }

  std::uint64_t next() {
    const std::uint64_t result = std::rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = std::rotl(s_[3], 45);
    return result;
  }

  // Uniform in [0, 1).
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Uniform in the logarithm, within [lo, hi).
  double log_uniform(double lo, double hi) { return std::exp(uniform(std::log(lo), std::log(hi))); }
  // Uniform integer in [lo, hi].
  int integer(int lo, int hi) {
    return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  bool chance(double p) { return uniform() < p; }

 private:
  std::array<std::uint64_t, 4> s_{};
};

constexpr std::array<std::string_view, 29> kRegionNames{
    "Adrenals", "Bladder", "Bone",    "Marrow",   "Brain",    "Breast", "Esophagus", "Stomach",
    "SmallInt", "UpperLI", "LowerLI", "Colon",    "Kidneys",  "Liver",  "Bronchi",   "Bronchiol",
    "Alveolar", "LymphTh", "Muscle",  "Ovaries",  "Pancreas", "Skin",   "Spleen",    "Testes",
    "Thymus",   "Thyroid", "Uterus",  "Gallblad", "Heart"};

// Region columns (1-based) that take most of the dose: the airways for inhalation (the
// columns of the composite "Lung"), the gut for ingestion.
bool is_entry_region(DataSet data_set, int column) {
  return data_set == DataSet::inhalation ? (column >= 15 && column <= 18)
                                         : (column >= 8 && column <= 12);
}

constexpr std::array<double, 6> kIntegrationTimes{1, 7, 30, 365, 1825, 18250};

struct Element {
  std::string_view symbol;
  int mass;
};

constexpr std::array<Element, 34> kElements{{
    {"H", 3},    {"C", 14},   {"P", 32},   {"S", 35},   {"Ca", 45},  {"Fe", 59},  {"Co", 60},
    {"Zn", 65},  {"Sr", 90},  {"Y", 91},   {"Zr", 95},  {"Nb", 95},  {"Mo", 99},  {"Tc", 99},
    {"Ru", 106}, {"Ag", 110}, {"Sb", 125}, {"Te", 132}, {"I", 131},  {"Cs", 137}, {"Ba", 140},
    {"Ce", 144}, {"Pm", 147}, {"Eu", 152}, {"Ir", 192}, {"Pb", 210}, {"Po", 210}, {"Ra", 226},
    {"Th", 232}, {"U", 238},  {"Np", 237}, {"Pu", 239}, {"Am", 241}, {"Cm", 244},
}};

// Gut transfer fractions, as written in the seven columns of the f1 field.
constexpr std::array<std::string_view, 8> kF1Fields{" 1.0000", " 0.5000", " 0.1000", " 0.0500",
                                                    " 0.0100", " 0.0010", " 0.0005", " 0.0001"};

constexpr std::array<std::int32_t, 6> kStandardAges{100, 365, 1825, 3650, 5475, 7300};
// Ages that are no age group: 7299 matches none, the others belong to the adult group.
constexpr std::array<std::int32_t, 3> kOtherAges{7299, 9125, 10950};

constexpr double kZeroBelow = 1e-22;  // rates under this are written as 0, and stay 0

// Appends `value` as d.ddE+xx with `digits` digits after the point. The
// correctly rounded conversion of the standard library is exact and the same everywhere.
void append_scientific(std::string& out, double value, int digits) {
  char buf[32];
  const auto result =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, digits);
  for (char* p = buf; p != result.ptr; ++p) {
    if (*p == 'e') *p = 'E';
  }
  out.append(buf, result.ptr);
}

// `value` rounded to the four significant digits it is written with.
double as_written(double value) {
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 3);
  double back = 0;
  std::from_chars(buf, result.ptr, back);
  return back;
}

void append_right(std::string& out, std::string_view text, std::size_t width) {
  if (text.size() < width) out.append(width - text.size(), ' ');
  out.append(text);
}

void append_left(std::string& out, std::string_view text, std::size_t width) {
  out.append(text);
  if (text.size() < width) out.append(width - text.size(), ' ');
}

void append_int(std::string& out, int value, std::size_t width, char fill) {
  char buf[16];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  const std::size_t len = static_cast<std::size_t>(result.ptr - buf);
  if (len < width) out.append(width - len, fill);
  out.append(buf, result.ptr);
}

// Collects text and hands it to the stream in large pieces, counting bytes and lines.
// The reason of a failed write or creation for a message: the system's words for `error`.
std::string reason_of(int error) { return error != 0 ? std::strerror(error) : "the write failed"; }

// A write refused by the stream, with the errno of the failed system call (0 when unknown).
class WriteFailed : public std::runtime_error {
 public:
  explicit WriteFailed(int error) : std::runtime_error(reason_of(error)) {}
};

class FileWriter {
 public:
  explicit FileWriter(std::ostream& out) : out_(out) { buffer_.reserve(kChunk + 4096); }
  ~FileWriter() = default;

  std::string& buffer() { return buffer_; }
  void end_line() {
    buffer_.append("\r\n");
    ++lines_;
    if (buffer_.size() >= kChunk) flush();
  }
  // Throws WriteFailed as soon as the stream refuses a write (a full disk, say), so that the
  // generator never goes on making data that cannot be written.
  void flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    if (!out_) throw WriteFailed(errno);
    bytes_ += buffer_.size();
    buffer_.clear();
  }
  std::uint64_t bytes() const { return bytes_ + buffer_.size(); }
  std::int64_t lines() const { return lines_; }

 private:
  static constexpr std::size_t kChunk = 1 << 20;
  std::ostream& out_;
  std::string buffer_;
  std::uint64_t bytes_ = 0;
  std::int64_t lines_ = 0;
};

struct Nuclide {
  std::string name;  // at most seven characters
  double half_life_days;
};

Nuclide make_nuclide(Rng& rng, bool short_lived) {
  const Element& e =
      kElements[static_cast<std::size_t>(rng.integer(0, static_cast<int>(kElements.size()) - 1))];
  std::string name(e.symbol);
  name += '-';
  name += std::to_string(std::max(1, e.mass + rng.integer(-6, 6)));
  if (rng.chance(0.1)) name += 'm';
  const double half_life = short_lived ? rng.log_uniform(0.05, 0.5) : rng.log_uniform(0.01, 1e8);
  return {name, half_life};
}

// The shape of one record: the decay constants shared by its regions and, per region, an
// amplitude, the weights of the components and an optional build-up term.
struct RegionShape {
  double amplitude = 0;    // 0 for a region the record does not irradiate
  double high_factor = 1;  // high table = low table times this
  std::array<double, 4> weights{};
  double buildup = 0;  // weight of exp(-slow t) - exp(-fast t)
};

struct RecordShape {
  int components = 0;
  std::array<double, 4> lambda{};  // per day, ascending
  std::array<RegionShape, 29> regions{};
};

RecordShape make_shape(Rng& rng, DataSet data_set, const Nuclide& nuclide, std::int32_t age) {
  RecordShape shape;
  const double physical = std::log(2.0) / nuclide.half_life_days;
  shape.components = rng.integer(2, 4);
  for (int j = 0; j < shape.components; ++j) {
    shape.lambda[static_cast<std::size_t>(j)] = physical + rng.log_uniform(1e-4, 3.0);
  }
  std::sort(shape.lambda.begin(), shape.lambda.begin() + shape.components);
  // Younger people get higher rates (smaller organs); at most about 4.5 times the adult's.
  const double age_factor = std::pow(7300.0 / std::max(age, 100), 0.35);
  for (int k = 0; k < 29; ++k) {
    RegionShape& region = shape.regions[static_cast<std::size_t>(k)];
    if (rng.chance(0.08)) continue;  // a column of zeros
    const bool entry = is_entry_region(data_set, k + 1);
    region.amplitude =
        age_factor * (entry ? rng.log_uniform(1e-11, 1e-9) : rng.log_uniform(1e-14, 1e-9));
    region.high_factor = rng.uniform(1.1, 2.0);
    double total = 0;
    for (int j = 0; j < shape.components; ++j) {
      const double w = rng.chance(0.25) ? 0.0 : rng.uniform(0.05, 1.0);
      region.weights[static_cast<std::size_t>(j)] = w;
      total += w;
    }
    if (total == 0) {
      region.weights[0] = 1;
      total = 1;
    }
    if (shape.components >= 2 && rng.chance(0.3)) {
      region.buildup = rng.uniform(0.2, 1.0);
      total += region.buildup;
    }
    for (int j = 0; j < shape.components; ++j) region.weights[static_cast<std::size_t>(j)] /= total;
    region.buildup /= total;
  }
  return shape;
}

// N strictly increasing times, as written, from under a day to tens of thousands of days.
std::vector<double> make_times(Rng& rng, int n) {
  const double first = rng.log_uniform(0.01, 0.9);
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(n));
  if (n == 1) {
    times.push_back(as_written(first));
    return times;
  }
  const double last = rng.log_uniform(1.8e4, 7.3e4);
  const double step = (std::log(last) - std::log(first)) / (n - 1);
  for (int i = 0; i < n; ++i) {
    const double jitter = (i == 0 || i == n - 1) ? 0.0 : rng.uniform(-0.3, 0.3);
    double t = as_written(std::exp(std::log(first) + (i + jitter) * step));
    if (!times.empty() && t <= times.back()) t = as_written(times.back() * 1.002);
    times.push_back(t);
  }
  return times;
}

// The rate of every region column at time t, low table (or high when `high`); zero from
// the first time a rate falls under kZeroBelow.
void region_rates(const RecordShape& shape, double t, bool high, std::array<bool, 29>& fallen,
                  std::array<double, 29>& rates) {
  std::array<double, 4> e{};
  for (int j = 0; j < shape.components; ++j) {
    e[static_cast<std::size_t>(j)] = std::exp(-shape.lambda[static_cast<std::size_t>(j)] * t);
  }
  const double buildup_term = e[0] - e[static_cast<std::size_t>(shape.components - 1)];
  for (std::size_t k = 0; k < 29; ++k) {
    const RegionShape& region = shape.regions[k];
    double rate = 0;
    if (region.amplitude > 0 && !fallen[k]) {
      double sum = region.buildup * buildup_term;
      for (int j = 0; j < shape.components; ++j) {
        sum += region.weights[static_cast<std::size_t>(j)] * e[static_cast<std::size_t>(j)];
      }
      rate = region.amplitude * sum * (high ? region.high_factor : 1.0);
      if (rate < kZeroBelow) {
        rate = 0;
        fallen[k] = true;
      }
    }
    rates[k] = rate;
  }
}

void write_data_line(FileWriter& writer, double t, const std::array<double, 29>& rates) {
  std::string& out = writer.buffer();
  append_scientific(out, t, 3);
  for (double rate : rates) {
    out += ' ';
    append_scientific(out, rate, 3);
  }
  writer.end_line();
}

struct RecordPlan {
  int n;
  char code;
};

RecordPlan plan_record(Rng& rng, std::int64_t index) {
  // The first records of every file show the extremes, so that even a small file has them.
  static constexpr std::array<RecordPlan, 4> kFirst{{{150, 'B'}, {1, 'L'}, {2, 'H'}, {1, 'B'}}};
  if (index < static_cast<std::int64_t>(kFirst.size())) {
    return kFirst[static_cast<std::size_t>(index)];
  }
  const double u = rng.uniform();
  int n = 0;
  if (u < 0.04) {
    n = 1;
  } else if (u < 0.08) {
    n = 150;
  } else if (u < 0.12) {
    n = rng.integer(2, 5);
  } else {
    n = rng.integer(20, 120);
  }
  const double c = rng.uniform();
  const char code = c < 0.45 ? 'L' : (c < 0.75 ? 'B' : 'H');
  return {n, code};
}

void write_record(FileWriter& writer, Rng& rng, DataSet data_set, const Nuclide& nuclide,
                  std::int32_t age, std::string_view class_or_f1, const RecordPlan& plan) {
  const int p = plan.code == 'B' ? 2 : 1;
  std::string& out = writer.buffer();
  append_left(out, nuclide.name, 7);
  out += ' ';
  append_int(out, age, 5, '0');
  if (data_set == DataSet::inhalation) {
    out.append(rng.chance(0.7) ? " 1.0 " : " 5.0 ");  // aerosol size in micrometres
    out.append(class_or_f1);
    out += ' ';
    append_scientific(out, nuclide.half_life_days, 1);  // half-life in days, unread
    out += ' ';
  } else {
    out.append(class_or_f1);
    out += ' ';
  }
  append_int(out, plan.n, 3, ' ');
  out += ' ';
  out += static_cast<char>('0' + p);
  out += ' ';
  out += plan.code;
  writer.end_line();

  const RecordShape shape = make_shape(rng, data_set, nuclide, age);
  const std::vector<double> times = make_times(rng, plan.n);
  std::array<bool, 29> fallen_low{};
  std::array<bool, 29> fallen_high{};
  std::array<double, 29> rates{};
  for (double t : times) {
    if (plan.code != 'H') {
      region_rates(shape, t, false, fallen_low, rates);
      write_data_line(writer, t, rates);
    }
    if (plan.code != 'L') {
      region_rates(shape, t, true, fallen_high, rates);
      write_data_line(writer, t, rates);
    }
  }
}

}  // namespace

const std::array<std::string_view, 29>& sample_region_names() { return kRegionNames; }

std::vector<double> sample_integration_times() {
  return {kIntegrationTimes.begin(), kIntegrationTimes.end()};
}

std::string sample_integration_times_file() {
  std::string text = "Kestrane integration times: upper limits of the dose integrals, in days\r\n";
  text += "One value per line between the START line and the END line.\r\n";
  text += "START\r\n";
  for (double t : kIntegrationTimes) {
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, t);
    text.append(buf, result.ptr);
    text += "\r\n";
  }
  text += "END\r\n";
  return text;
}

SampleFileSummary write_sample_dose_rate_file(std::ostream& out, DataSet data_set,
                                              std::uint64_t target_bytes, std::uint64_t seed) {
  Rng rng(seed * 2 + (data_set == DataSet::inhalation ? 0 : 1));
  FileWriter writer(out);
  SampleFileSummary summary;

  std::string& line = writer.buffer();
  line += data_set == DataSet::inhalation ? "Inhalation" : "Ingestion";
  line += " absorbed dose rates (Gy/d per Bq), synthetic sample data, seed ";
  line += std::to_string(seed);
  writer.end_line();
  append_right(writer.buffer(), "Time(d)", 9);
  for (std::string_view name : kRegionNames) append_right(writer.buffer(), name, 10);
  writer.end_line();

  for (std::int64_t nuclide_index = 0; writer.bytes() < target_bytes; ++nuclide_index) {
    // The first nuclide is short-lived, so its rates fall to zero, and has every other age.
    const bool first = nuclide_index == 0;
    const Nuclide nuclide = make_nuclide(rng, first);
    std::vector<std::int32_t> ages(kStandardAges.begin(), kStandardAges.end());
    for (std::int32_t other : kOtherAges) {
      if (first || rng.chance(other == 7299 ? 0.08 : 0.2)) ages.push_back(other);
    }
    std::sort(ages.begin(), ages.end());
    std::vector<std::string> variants;  // class letters or f1 fields
    if (data_set == DataSet::inhalation) {
      for (std::string_view cls : {"F", "M", "S"}) {
        if (rng.chance(0.6)) variants.emplace_back(cls);
      }
      if (variants.empty()) variants.emplace_back("M");
    } else {
      variants.emplace_back(kF1Fields[static_cast<std::size_t>(rng.integer(0, 7))]);
      if (rng.chance(0.4)) {
        variants.emplace_back(kF1Fields[static_cast<std::size_t>(rng.integer(0, 7))]);
      }
    }
    for (const std::string& variant : variants) {
      for (std::int32_t age : ages) {
        if (writer.bytes() >= target_bytes) break;
        const RecordPlan plan = plan_record(rng, summary.records);
        write_record(writer, rng, data_set, nuclide, age, variant, plan);
        ++summary.records;
        ++summary.records_by_age[age];
        ++summary.records_by_code[plan.code];
        summary.max_time_points = std::max(summary.max_time_points, plan.n);
        summary.min_time_points =
            summary.records == 1 ? plan.n : std::min(summary.min_time_points, plan.n);
      }
    }
  }
  writer.flush();
  summary.bytes = writer.bytes();
  summary.lines = writer.lines();
  return summary;
}

namespace {

template <typename Write>
void write_file(const std::filesystem::path& path, Write write) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot create " + path.string() + ": " + reason_of(errno));
  try {
    write(out);
    errno = 0;
    out.close();
    if (!out) throw WriteFailed(errno);
  } catch (const WriteFailed& failed) {
    throw std::runtime_error("cannot write " + path.string() + ": " + failed.what());
  }
}

}  // namespace

SampleSummary write_sample_directory(const std::filesystem::path& dir, std::uint64_t target_bytes,
                                     std::uint64_t seed, SampleDataSets which) {
  namespace fs = std::filesystem;
  fs::create_directories(dir / "DATA");
  fs::create_directories(dir / "data");
  fs::create_directories(dir / "OUTPUT");
  write_file(dir / "data" / "Kestrane.ini",
             [](std::ostream& out) { out << sample_integration_times_file(); });
  SampleSummary summary;
  if (which != SampleDataSets::ingestion) {
    write_file(dir / "DATA" / std::string(data_set_file_name(DataSet::inhalation)),
               [&](std::ostream& out) {
                 summary.inhalation =
                     write_sample_dose_rate_file(out, DataSet::inhalation, target_bytes, seed);
               });
  }
  if (which != SampleDataSets::inhalation) {
    write_file(dir / "DATA" / std::string(data_set_file_name(DataSet::ingestion)),
               [&](std::ostream& out) {
                 summary.ingestion =
                     write_sample_dose_rate_file(out, DataSet::ingestion, target_bytes, seed);
               });
  }
  return summary;
}

}  // namespace kestrane
