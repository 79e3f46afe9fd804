// One data line of a record: the plan of the columns read and the reading of a line.
#include "input/data_line.h"

#include <bit>
#include <stdexcept>

#include "base/ascii.h"
#include "input/fast_fields.h"
#include "input/input_error.h"
#include "input/line_reader.h"
#include "input/vector_fields.h"

namespace kestrane {

namespace {

// A field of a data line: the usual form read in line, anything else by the strict rule.
// False when the field is not one finite number with blanks around it (nor blanks only).
inline bool read_field(std::string_view field, double& value) {
  if (number_detail::parse_e_field(field.data(), field.size(), value)) return true;
  return read_number_field(field, value) == FieldReading::number;
}

// A rate field read where the vector reading did not take it: as read_field, and false for a
// rate below zero too (-0 is zero). Out of line, as the field of another form is rare: the
// readings of a line that call it are then small enough to keep their reading of the time in
// line (measured: with this and rates_sound inlined, it became a call of its own).
[[gnu::noinline]] bool read_rate(std::string_view field, double& value) {
  return read_field(field, value) && !(value < 0.0);
}

// A rate field whose form is not the plain one: sound when it holds one number by the strict
// rule (or blanks), not below zero (-0 is zero).
bool sound_rate(std::string_view field) {
  double value = 0.0;
  return read_number_field(field, value) == FieldReading::number && !(value < 0.0);
}

// Whether every rate field of a line that holds them all is sound: each looked at for its form
// in vector registers, and by the strict rule only where that is not the plain " d.dddEsdd".
// Out of line too, for the same reason.
[[gnu::noinline]] bool rates_sound(std::string_view line, const ColumnPlan& plan) {
  const char* const rates = line.data() + kTimeWidth;
  bool sound = true;
  for (std::uint64_t unusual = number_detail::unusual_fields10_vector(rates, plan.line_columns);
       unusual != 0; unusual &= unusual - 1) {
    const int k = std::countr_zero(unusual);
    sound = sound && sound_rate(std::string_view(rates + kColumnWidth * k, kColumnWidth));
  }
  return sound;
}

std::string rate_field_name(int column) {
  return field_name("rate field of region column " + std::to_string(column), kColumnWidth * column,
                    kColumnWidth * column + kColumnWidth - 1);
}

}  // namespace

std::string field_name(std::string_view name, int first, int last) {
  return std::string(name) + " (columns " + std::to_string(first) + "-" + std::to_string(last) +
         ")";
}

std::string field_fault(std::string_view what, std::string_view field, FieldReading reading) {
  // Built by appending: GCC 12 at -O2 warns of a false overlap in "\"" + std::string.
  std::string quoted(1, '"');
  quoted += printable_excerpt(field);
  quoted += '"';
  if (reading == FieldReading::not_finite) {
    return "the " + std::string(what) + " " + quoted +
           " is a number too large to be read as a finite value";
  }
  return "the " + std::string(what) + " holds " + quoted + ", not one number with blanks around it";
}

[[noreturn]] void refuse_data_line(std::string_view line, std::int64_t line_number,
                                   const ColumnPlan& plan, const HeaderRecord& header,
                                   std::int64_t header_line, std::string_view file_name) {
  auto check = [&](int first, int last, std::string_view name) {
    const std::string what = field_name(name, first, last);
    if (line.size() < static_cast<std::size_t>(last)) {
      refuse_in_record(file_name, line_number,
                       "the data line ends after column " + std::to_string(line.size()) +
                           ", before the " + what + " that is read from it is complete",
                       header.line, header_line);
    }
    const std::string_view field = cut_field(line, first, last - first + 1);
    double value = 0.0;
    const FieldReading reading = read_number_field(field, value);
    if (reading != FieldReading::number) {
      refuse_in_record(file_name, line_number, field_fault(what, field, reading), header.line,
                       header_line);
    }
  };
  check(1, kTimeWidth, "time field");
  for (int c = 1; c <= plan.line_columns; ++c) {
    check(kColumnWidth * c, kColumnWidth * c + kColumnWidth - 1,
          "rate field of region column " + std::to_string(c));
  }
  // Every field holds one number: the first rate below zero, as written.
  for (int c = 1; c <= plan.line_columns; ++c) {
    const std::string_view field = cut_field(line, kColumnWidth * c, kColumnWidth);
    double value = 0.0;
    if (read_number_field(field, value) == FieldReading::number && value < 0.0) {
      refuse_in_record(file_name, line_number,
                       "the " + rate_field_name(c) + " holds " +
                           printable_excerpt(ascii::trim(field)) +
                           ", a rate below zero; an absorbed dose rate cannot be negative",
                       header.line, header_line);
    }
  }
  // Not reached: a line is refused by its reading only where one of the checks above fails.
  refuse_in_record(file_name, line_number, "the data line cannot be read", header.line,
                   header_line);
}

namespace {

bool store_one_column(std::string_view line, const ColumnPlan& plan, std::size_t /*region_count*/,
                      std::size_t t, std::size_t i, RateTable& table) {
  if (line.size() < plan.shortest_full_line) return false;
  const auto c = static_cast<std::size_t>(plan.columns[0]);
  double value;
  const bool sound =
      read_field(line.substr(0, kTimeWidth), table.x[i]) &
      read_field(std::string_view(line.data() - 1 + kColumnWidth * c, kColumnWidth), value);
  if (!(sound && rates_sound(line, plan))) return false;
  table.value[t][0][i] = value;
  return true;
}

bool store_columns(std::string_view line, const ColumnPlan& plan, std::size_t region_count,
                   std::size_t t, std::size_t i, RateTable& table) {
  // A line too short for any of its fields is refused whole; the fields are looked at only on
  // lines long enough for all of them.
  if (line.size() < plan.shortest_full_line) return false;
  bool sound = read_field(line.substr(0, kTimeWidth), table.x[i]);
  // Only the columns of the plan and of its run are set, and only they are read below.
  std::array<double, kMaxColumn + 1> column;
  // The run in one pass, as far as its fields hold the usual form; the columns after that, or
  // all of them where there is no run, field by field.
  const auto run_first = static_cast<std::size_t>(plan.run_first);
  // The vector reading takes no rate below zero: a '-' lead is left to the reading by field.
  const int read = plan.run_count == 0 ? 0
                                       : number_detail::parse_rates10_vector(
                                             line.data() + kColumnWidth * run_first - 1,
                                             plan.run_count, &column[run_first]);
  if (plan.run_count == 0 || read < plan.run_count) {
    // Region column c occupies characters 10c to 10c + 9, counted from 1. Two fields per step
    // give the processor two independent chains of work to overlap.
    const char* const base = line.data() - 1;
    int n = 0;
    while (n < plan.column_count &&
           plan.columns[static_cast<std::size_t>(n)] < plan.run_first + read) {
      ++n;
    }
    for (; n + 1 < plan.column_count; n += 2) {
      const auto c0 = static_cast<std::size_t>(plan.columns[static_cast<std::size_t>(n)]);
      const auto c1 = static_cast<std::size_t>(plan.columns[static_cast<std::size_t>(n + 1)]);
      const bool first =
          read_rate(std::string_view(base + kColumnWidth * c0, kColumnWidth), column[c0]);
      const bool second =
          read_rate(std::string_view(base + kColumnWidth * c1, kColumnWidth), column[c1]);
      sound = sound & first & second;
    }
    if (n < plan.column_count) {
      const auto c = static_cast<std::size_t>(plan.columns[static_cast<std::size_t>(n)]);
      sound = sound & read_rate(std::string_view(base + kColumnWidth * c, kColumnWidth), column[c]);
    }
  }
  // Where the columns read are all the line's, their reading has checked each of them, its
  // form and its sign; else the others are looked at.
  if (!sound || (!plan.reads_every_column && !rates_sound(line, plan))) return false;
  auto& rows = table.value[t];
  std::size_t k = 0;
  for (; k < plan.in_order; ++k) rows[k][i] = column[k + 1];
  for (; k < region_count; ++k) {
    const int c = plan.source[k];
    if (c != 0) {
      rows[k][i] = column[static_cast<std::size_t>(c)];
    } else {
      // The first product is stored, then each further product is added to the stored value.
      double& cell = rows[k][i];
      cell = kLungWeightOuter * column[15];
      cell += kLungWeightOuter * column[16];
      cell += kLungWeightInner * column[17];
      cell += kLungWeightInner * column[18];
    }
  }
  return true;
}

}  // namespace

StoreDataLine data_line_store(const ColumnPlan& plan) {
  return plan.one_column ? &store_one_column : &store_columns;
}

}  // namespace kestrane
