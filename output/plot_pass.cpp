// The pass over the dose-rate file that writes the pictures of one nuclide's records: the
// records a coefficient run with the same choice processes, one picture per selected region.
#include "output/plot_pass.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "dose/record_loop.h"
#include "input/line_reader.h"
#include "output/coefficient_files.h"
#include "output/output_files.h"
#include "output/record_plot.h"
#include "platform/file_services.h"

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

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view without_trailing_blanks(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The tables a table code names, trailing blanks aside: L low, H high, B both.
void tables_of(std::string_view code, bool& low, bool& high) {
  code = without_trailing_blanks(code);
  low = code == "L" || code == "B";
  high = code == "H" || code == "B";
}

// Writes `text` as the whole file `path`: under a temporary name first, renamed when complete.
void write_whole_file(const std::filesystem::path& path, const std::string& display,
                      std::string_view text) {
  const std::filesystem::path partial = path.string() + std::string(kPartialSuffix);
  const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw OutputError("Unable to create the file " + display + ": " + std::strerror(errno));
  }
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      ::close(fd);
      ::unlink(partial.c_str());
      throw OutputError("Unable to write the file " + display + ": " + std::strerror(error));
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(fd) != 0 || ::rename(partial.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(partial.c_str());
    throw OutputError("Unable to write the file " + display + ": " + std::strerror(error));
  }
}

}  // namespace

std::string plot_file_name(const HeaderRecord& header, std::string_view region_name) {
  return file_name_part(header.nuclide) + "_" + std::to_string(header.age_days) + "d_" +
         file_name_part(region_name) + "_line" + std::to_string(header.line_number) + ".svg";
}

bool same_nuclide(std::string_view a, std::string_view b) {
  a = without_trailing_blanks(a);
  b = without_trailing_blanks(b);
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char p, char q) { return lower(p) == lower(q); });
}

std::vector<std::filesystem::path> write_record_plots(const PlotRequest& request) {
  const std::string data_set_path = "DATA\\" + std::string(data_set_file_name(request.data_set));
  LineReader reader(resolve_program_path(request.working_dir, data_set_path), data_set_path);
  read_region_names(reader);
  const int lung_region = static_cast<int>(request.region_list.size()) - 1;
  const int region_count = static_cast<int>(request.regions.size());
  if (region_count > kMaxSelectedRegions) {
    throw std::invalid_argument("more selected regions than the rate table holds");
  }

  const std::filesystem::path folder = resolve_program_path(request.working_dir, "OUTPUT\\plots");
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    throw OutputError("Unable to create the folder OUTPUT/plots: " + error.message());
  }

  const auto rates = std::make_unique<RateTable>();
  std::vector<std::filesystem::path> written;
  do {
    const std::string_view line = reader.read_line();
    if (is_blank_header(line)) continue;
    const HeaderRecord header = decode_header(line, request.data_set, reader.line_number());
    validate_header(header, data_set_path);
    if (match_age(header.age_days, request.age_groups) == 0 ||
        !same_nuclide(header.nuclide, request.nuclide)) {
      skip_data_block(reader, header);
      continue;
    }
    clear_rates(*rates, region_count, header.n);
    read_data_block(reader, header, request.regions, lung_region, *rates);
    bool low = false;
    bool high = false;
    tables_of(header.table_code, low, high);
    const auto n = static_cast<std::size_t>(std::clamp(header.n, 0, kMaxTimePoints));
    for (int j = 0; j < region_count; ++j) {
      RecordPlot plot;
      plot.header_line = header.line;
      plot.line_number = header.line_number;
      plot.file_name = data_set_path;
      plot.region = request.region_list[static_cast<std::size_t>(request.regions[j] - 1)];
      plot.x.assign(rates->x.begin(), rates->x.begin() + n);
      const auto row = [&](int t) -> const auto& {
        return rates->value[static_cast<std::size_t>(t)][static_cast<std::size_t>(j)];
      };
      if (low) plot.low.assign(row(0).begin(), row(0).begin() + n);
      if (high) plot.high.assign(row(1).begin(), row(1).begin() + n);
      plot.times = request.times;
      const std::string name = plot_file_name(header, plot.region);
      const std::string display = "OUTPUT/plots/" + name;
      write_whole_file(folder / name, display, record_plot_svg(plot));
      written.push_back(folder / name);
    }
  } while (!reader.at_end_of_file());
  return written;
}

}  // namespace kestrane
