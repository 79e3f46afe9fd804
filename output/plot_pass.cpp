// The pictures of one nuclide's records, drawn from the rates of each processed record as the
// run goes and written among the files of the run.
#include "output/plot_pass.h"

#include <stdexcept>

#include "base/ascii.h"
#include "output/output_files.h"
#include "output/record_plot.h"

namespace kestrane {

namespace {

std::string file_name_part(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string out;
  for (const char c : text) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '+' || c == '.';
    out += keep ? c : '_';
  }
  return out.empty() ? "_" : out;
}

}  // namespace

std::string plot_file_name(const HeaderRecord& header, std::string_view region_name, int column) {
  return file_name_part(header.nuclide) + "_" + std::to_string(header.age_days) + "d_" +
         file_name_part(region_name) + "_col" + std::to_string(column) + "_line" +
         std::to_string(header.line_number) + ".svg";
}

bool same_nuclide(std::string_view a, std::string_view b) {
  return ascii::equal_ignoring_case(ascii::trim_right(a), ascii::trim_right(b));
}

RecordPictures::RecordPictures(OutputFiles& files, std::string nuclide, std::string data_set_path,
                               std::vector<double> times, std::vector<std::string> region_names,
                               std::vector<int> region_numbers, TailModels tails,
                               std::optional<RateUnits> units)
    : files_(files),
      nuclide_(std::move(nuclide)),
      data_set_path_(std::move(data_set_path)),
      times_(std::move(times)),
      region_names_(std::move(region_names)),
      region_numbers_(std::move(region_numbers)),
      tails_(tails),
      units_(std::move(units)) {
  if (region_names_.size() != region_numbers_.size() ||
      region_names_.size() > static_cast<std::size_t>(kMaxSelectedRegions)) {
    throw std::invalid_argument("the selected regions do not match the rate table");
  }
  files_.add_folder("OUTPUT\\plots");
}

bool RecordPictures::wanted(const HeaderRecord& header) const {
  return same_nuclide(header.nuclide, nuclide_);
}

void RecordPictures::draw(std::vector<RecordPicture>& out, const HeaderRecord& header,
                          const RateTable& rates) const {
  const bool low = holds_low(header.tables);
  const bool high = holds_high(header.tables);
  const auto n = static_cast<std::size_t>(std::clamp(header.n, 0, kMaxTimePoints));
  for (std::size_t j = 0; j < region_names_.size(); ++j) {
    RecordPlot plot;
    plot.header_line = header.line;
    plot.line_number = header.line_number;
    plot.nuclide = header.nuclide;
    plot.class_or_f1 = header.class_or_f1;
    plot.data_set = header.data_set;
    plot.age_days = header.age_days;
    plot.file_name = data_set_path_;
    plot.region = region_names_[j];
    plot.x.assign(rates.x.begin(), rates.x.begin() + static_cast<std::ptrdiff_t>(n));
    const auto row = [&](std::size_t t) -> const auto& { return rates.value[t][j]; };
    if (low) plot.low.assign(row(0).begin(), row(0).begin() + static_cast<std::ptrdiff_t>(n));
    if (high) plot.high.assign(row(1).begin(), row(1).begin() + static_cast<std::ptrdiff_t>(n));
    plot.times = times_;
    plot.tails = tails_;
    plot.units = units_;
    out.push_back({plot_file_name(header, plot.region, region_numbers_[j]), record_plot_svg(plot)});
  }
}

void RecordPictures::add(const std::vector<RecordPicture>& drawn) {
  for (const RecordPicture& picture : drawn) {
    files_.add_whole("OUTPUT\\plots\\" + picture.file_name, picture.document);
    ++count_;
    if (on_new_file_) on_new_file_();
  }
}

}  // namespace kestrane
