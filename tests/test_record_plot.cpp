// Tests of the record pictures: the SVG writer's escaping, the interpolant and integrals the
// pictures draw, the pictures parsed by a real XML parser, file names, and --plot runs.
#include <expat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "output/plot_parts.h"
#include "output/plot_pass.h"
#include "output/record_plot.h"
#include "output/svg_writer.h"
#include "sample/sample_data.h"
#include "tests/support/batch_capture.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// A text element as drawn: where, how large (inherited from its groups), anchored how.
struct PlacedText {
  double x = 0, y = 0, size = 16;
  std::string anchor = "start";
  std::string classes;
  std::string content;  // UTF-8
};

// A drawn point: a circle of the data.
struct PlacedPoint {
  double x = 0, y = 0, r = 0;
};

// What a real XML parser finds in a document: whether it is well formed, the root's
// attributes, how many elements carry each class token, the text of every element, and the
// text elements and data points with what they inherit.
struct ParsedXml {
  bool well_formed = false;
  std::string root;
  std::map<std::string, std::string> root_attributes;
  std::map<std::string, int> class_count;
  std::string text;
  std::vector<PlacedText> texts;
  std::vector<PlacedPoint> points;
  std::vector<std::pair<std::string, std::string>> paths;  // class and path data
  std::vector<std::map<std::string, std::string>> inherited{{}};
  bool in_text = false;
};

ParsedXml parse_xml(const std::string& document) {
  ParsedXml result;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &result);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char** attributes) {
        auto& r = *static_cast<ParsedXml*>(data);
        const bool root = r.root.empty();
        if (root) r.root = name;
        std::map<std::string, std::string> own = r.inherited.back();
        own.erase("class");
        for (int i = 0; attributes[i] != nullptr; i += 2) own[attributes[i]] = attributes[i + 1];
        r.inherited.push_back(own);
        const auto number = [&](const char* key, double otherwise) {
          return own.count(key) ? std::stod(own[key]) : otherwise;
        };
        if (std::string(name) == "text") {
          r.in_text = true;
          r.texts.push_back({number("x", 0), number("y", 0), number("font-size", 16),
                             own.count("text-anchor") ? own["text-anchor"] : "start",
                             own.count("class") ? own["class"] : "", ""});
        }
        if (std::string(name) == "path") r.paths.emplace_back(own["class"], own["d"]);
        if (std::string(name) == "circle" && own.count("class") &&
            (own["class"].starts_with("rate-point") || own["class"].starts_with("coefficient"))) {
          r.points.push_back({number("cx", 0), number("cy", 0), number("r", 0)});
        }
        for (int i = 0; attributes[i] != nullptr; i += 2) {
          if (root) r.root_attributes[attributes[i]] = attributes[i + 1];
          if (std::string(attributes[i]) != "class") continue;
          std::istringstream tokens(attributes[i + 1]);
          for (std::string token; tokens >> token;)
            ++r.class_count[std::string(name) + "." + token];
        }
      },
      [](void* data, const XML_Char* name) {
        auto& r = *static_cast<ParsedXml*>(data);
        r.inherited.pop_back();
        if (std::string(name) == "text") r.in_text = false;
      });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* s, int len) {
    auto& r = *static_cast<ParsedXml*>(data);
    r.text.append(s, static_cast<std::size_t>(len));
    if (r.in_text) r.texts.back().content.append(s, static_cast<std::size_t>(len));
  });
  result.well_formed = XML_Parse(parser, document.data(), static_cast<int>(document.size()),
                                 XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return result;
}

TEST(SvgWriter, EscapesTextAndAttributesSoAnyLineStaysWellFormed) {
  const std::string hostile = "Cs-137 & <b>\"q\" 'a'\x1b]0;title\x07\x01\xff end";
  SvgWriter svg(100, 50);
  svg.text(1, 2, hostile, {{"class", hostile}});
  const std::string doc = svg.finish();
  ParsedXml xml = parse_xml(doc);
  ASSERT_TRUE(xml.well_formed) << doc;
  EXPECT_EQ(xml.root, "svg");
  EXPECT_EQ(xml.root_attributes["viewBox"], "0 0 100 50");
  EXPECT_EQ(xml.text.substr(xml.text.find("Cs")), "Cs-137 & <b>\"q\" 'a'?]0;title??? end\n");
}

// Known interpolants: on data from a straight line the monotone slopes are its slope, so the
// interpolant is the line itself, extended on both sides, and its integrals are those of the
// line: the integral of 2t + 1 from 0 to T is T^2 + T.
TEST(PlotCurves, FollowALineExactlyInsideAndBeyondTheTable) {
  const std::vector<double> x{1, 2, 4, 8};
  const std::vector<double> f{3, 5, 9, 17};
  const std::vector<double> limits{0.5, 3, 10};
  const RowIntegrals row = integrate_row(x, f, limits);
  ASSERT_TRUE(row.ok);
  EXPECT_EQ(row.slopes, (std::vector<double>{2, 2, 2, 2}));
  EXPECT_DOUBLE_EQ(row.integrals[0], 0.75);
  EXPECT_DOUBLE_EQ(row.integrals[1], 12);
  EXPECT_DOUBLE_EQ(row.integrals[2], 110);
  for (const double t : {0.0, 0.25, 1.5, 3.0, 7.0, 12.0}) {
    EXPECT_DOUBLE_EQ(interpolant_value(x, f, row.slopes, t), 2 * t + 1) << t;
  }
  EXPECT_FALSE(integrate_row(std::vector<double>{1, 1}, std::vector<double>{1, 2}, limits).ok);
}

struct PictureCase {
  const char* name;
  std::vector<double> x, low, high, times;
  int points, at_zero, interpolants, extensions, coefficients;
  std::vector<std::string> time_labels;  // the labels of the integration times, sorted
  std::string first_tick;                // the leftmost label of the time axis
  TailModels tails = {};
};

void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.name; }

// The box a text takes, each character taken as 0.6 of the font size wide.
struct Box {
  double left, right, top, bottom;
  bool meets(const Box& o) const {
    return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
  }
};

Box box_of(const PlacedText& t) {
  std::size_t characters = 0;  // UTF-8: count the bytes that start a character
  for (const char c : t.content) characters += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
  const double width = static_cast<double>(characters) * 0.6 * t.size;
  const double left = t.anchor == "end"      ? t.x - width
                      : t.anchor == "middle" ? t.x - width / 2
                                             : t.x;
  return {left, left + width, t.y - t.size, t.y + 0.25 * t.size};
}

std::string render_warnings(const std::string& svg, const fs::path& folder) {
  test_support::write_file(folder / "picture.svg", svg);
  const std::string command = "rsvg-convert '" + (folder / "picture.svg").string() + "' -o '" +
                              (folder / "picture.png").string() + "' 2>&1; echo status $?";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char buffer[256];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, got);
  ::pclose(pipe);
  return output;
}

class Picture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(Picture, NamesTheRecordKeepsItsTextsApartAndRendersCleanly) {
  const PictureCase& c = GetParam();
  RecordPlot plot;
  plot.header_line = "Cs-137    100     F           4 1 B";
  plot.line_number = 17;
  plot.nuclide = "Cs-137 ";
  plot.class_or_f1 = "F";
  plot.data_set = DataSet::inhalation;
  plot.age_days = 100;
  plot.file_name = "DATA\\KVR13INH.DRT";
  plot.region = "Lung";
  plot.x = c.x;
  plot.low = c.low;
  plot.high = c.high;
  plot.times = c.times;
  plot.tails = c.tails;
  const std::string doc = record_plot_svg(plot);
  ParsedXml xml = parse_xml(doc);
  ASSERT_TRUE(xml.well_formed) << doc;
  EXPECT_EQ(xml.root, "svg");
  EXPECT_TRUE(xml.root_attributes.count("viewBox"));
  EXPECT_EQ(xml.class_count["circle.rate-point"], c.points);
  EXPECT_EQ(xml.class_count["circle.at-zero"], c.at_zero);
  EXPECT_EQ(xml.class_count["path.interpolant"], c.interpolants);
  EXPECT_EQ(xml.class_count["path.extension"], c.extensions);
  EXPECT_EQ(xml.class_count["path.cumulative"], c.interpolants);
  EXPECT_EQ(xml.class_count["circle.coefficient"], c.coefficients);
  EXPECT_EQ(xml.class_count["g.zero-line"], 2);
  EXPECT_EQ(xml.class_count["g.rate-axis"] + xml.class_count["g.integral-axis"], 2);
  EXPECT_EQ(xml.class_count["text.title"], 1);
  EXPECT_NE(xml.text.find("Cs-137 \u2014 inhalation, class F, age 100 d (line 17)"),
            std::string::npos);
  EXPECT_NE(xml.text.find("Region Lung; "), std::string::npos);
  // The legend names the models of the stretches drawn before and after the table.
  const bool before = c.x.size() > 1 && c.x.front() > 0;
  const bool after =
      c.x.size() > 1 && *std::max_element(c.times.begin(), c.times.end()) > c.x.back();
  EXPECT_EQ(xml.text.find(before_legend(c.tails.before)) != std::string::npos, before);
  EXPECT_EQ(xml.text.find(after_legend(c.tails.after)) != std::string::npos, after);
  // Every rate path is drawn smooth: no step between two of its points is longer than two
  // units up or down, wherever the symmetric-logarithmic axis bends.
  for (const auto& [classes, d] : xml.paths) {
    if (!classes.starts_with("interpolant") && !classes.starts_with("extension")) continue;
    std::istringstream data(d);
    std::string last_x;
    double last_y = 0;
    for (std::string x_text, y_text; data >> x_text >> y_text;) {
      const double y = std::stod(y_text);
      // A step along the left edge (from time 0 to the axis' first decade) is no curve.
      if (!last_x.empty() && x_text.substr(1) != last_x) {
        EXPECT_LE(std::abs(y - last_y), 2.0) << classes << " at " << x_text;
      }
      last_x = x_text.substr(1);
      last_y = y;
    }
  }

  std::vector<std::string> time_labels;
  std::vector<std::string> ticks;
  int shares = 0;
  for (const PlacedText& t : xml.texts) {
    // No number in e-notation anywhere.
    for (std::size_t i = 1; i + 1 < t.content.size(); ++i) {
      EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(t.content[i - 1])) &&
                   (t.content[i] == 'e' || t.content[i] == 'E') &&
                   (std::isdigit(static_cast<unsigned char>(t.content[i + 1])) ||
                    t.content[i + 1] == '-' || t.content[i + 1] == '+'))
          << t.content;
    }
    if (t.classes == "time-label") time_labels.push_back(t.content);
    shares += t.content.ends_with("%") ? 1 : 0;
  }
  EXPECT_EQ(time_labels, c.time_labels);
  // The table gives the share from outside the table of every coefficient integrated.
  EXPECT_EQ(shares, c.coefficients);
  const std::size_t axis = doc.find("class=\"time-axis\"");
  const std::size_t first_label = doc.find("text-anchor=\"middle\">", axis);
  EXPECT_EQ(doc.substr(first_label + 21, c.first_tick.size() + 7), c.first_tick + "</text>");

  // No text overlaps another or a point of the data.
  for (std::size_t i = 0; i < xml.texts.size(); ++i) {
    const Box a = box_of(xml.texts[i]);
    for (std::size_t j = i + 1; j < xml.texts.size(); ++j) {
      EXPECT_FALSE(a.meets(box_of(xml.texts[j])))
          << xml.texts[i].content << " / " << xml.texts[j].content;
    }
    for (const PlacedPoint& p : xml.points) {
      EXPECT_FALSE(a.meets({p.x - p.r, p.x + p.r, p.y - p.r, p.y + p.r}))
          << xml.texts[i].content << " / point at " << p.x << "," << p.y;
    }
  }

  test_support::TempDir dir("kestrane_picture");
  EXPECT_EQ(render_warnings(doc, dir.path()), "status 0\n");
  EXPECT_TRUE(test_support::read_file(dir / "picture.png").starts_with("\x89PNG"));
}

INSTANTIATE_TEST_SUITE_P(
    Records, Picture,
    ::testing::Values(
        // Both tables from time 0, integration times inside and beyond the table.
        PictureCase{"BothTablesFromZero",
                    {0, 1, 10, 100},
                    {4, 3, 2, 1},
                    {0, -1e-12, 0, 5e-9},
                    {1, 365, 18250},
                    8,
                    2,
                    2,
                    2,
                    6,
                    {"1", "365", "18250"},
                    "0.1"},
        // One table starting after 0: the extension towards 0 and the one past the end; times
        // close together go to rows of their own.
        PictureCase{"LowTableStartingLate",
                    {0.5, 2, 30},
                    {1e-10, 1e-11, 0},
                    {},
                    {1825, 0.5, 1826, 1827.25},
                    3,
                    0,
                    1,
                    2,
                    4,
                    {"0.5", "1825", "1826", "1827.25"},
                    "0.01"},
        // A single time point: its values, nothing integrated.
        PictureCase{"SinglePoint", {1}, {}, {7e-12}, {1, 7}, 1, 0, 0, 0, 0, {"1", "7"}, "0.1"},
        // The chosen models drawn before and after the table, a rate falling through the
        // linear band of the rate axis to 0 and past it (drawn smooth there).
        PictureCase{"TailModels",
                    {0.5, 2, 30, 40},
                    {3e-10, 1e-11, -2e-12, 0},
                    {1e-9, 4e-10, 1e-10, 5e-11},
                    {0.25, 7, 365},
                    8,
                    0,
                    2,
                    4,
                    6,
                    {"0.25", "7", "365"},
                    "0.01",
                    {BeforeModel::linear, AfterModel::exponential}}),
    [](const ::testing::TestParamInfo<PictureCase>& test) { return test.param.name; });

// Whole pictures, byte for byte as they were drawn when the files under
// tests/data/output/plots were made: every part of the picture in every form it takes (one or
// two tables, none, one time point, a table starting after 0, rates that cannot be
// integrated, negative rates, integrals in a power of ten, a wide time column).
struct DocumentCase {
  const char* name;
  DataSet data_set;
  std::string nuclide, class_or_f1;
  std::vector<double> x, low, high, times;
};

void PrintTo(const DocumentCase& c, std::ostream* os) { *os << c.name; }

class PictureDocument : public ::testing::TestWithParam<DocumentCase> {};

// The picture of a document case, as the files on record were drawn.
RecordPlot document_plot(const DocumentCase& c) {
  RecordPlot plot;
  plot.line_number = 4711;
  plot.nuclide = c.nuclide;
  plot.class_or_f1 = c.class_or_f1;
  plot.data_set = c.data_set;
  plot.age_days = 3650;
  plot.file_name = c.data_set == DataSet::inhalation ? "DATA\\KVR13INH.DRT" : "DATA\\KVR13ING.DRT";
  plot.region = "Red Marrow";
  plot.x = c.x;
  plot.low = c.low;
  plot.high = c.high;
  plot.times = c.times;
  return plot;
}

fs::path document_on_file(const DocumentCase& c) {
  return fs::path(KESTRANE_TEST_DATA) / "output" / "plots" / (std::string(c.name) + ".svg");
}

TEST_P(PictureDocument, IsByteForByteTheOneOnFile) {
  const DocumentCase& c = GetParam();
  const std::string doc = record_plot_svg(document_plot(c));
  const fs::path expected = document_on_file(c);
  const std::string on_file = test_support::read_file(expected);
  ASSERT_FALSE(on_file.empty()) << expected;
  if (doc != on_file) {
    const fs::path drawn = fs::path(::testing::TempDir()) / (std::string(c.name) + ".svg");
    test_support::write_file(drawn, doc);
    ADD_FAILURE() << "the picture differs from " << expected << "; drawn: " << drawn;
  }
}

const DocumentCase kDocuments[] = {
    DocumentCase{"BothTablesFromZero",
                 DataSet::inhalation,
                 "Cs-137 ",
                 " F ",
                 {0, 1, 10, 100},
                 {4, 3, 2, 1},
                 {0, -1e-12, 0, 5e-9},
                 {1, 365, 18250}},
    DocumentCase{"LowTableStartingLate",
                 DataSet::inhalation,
                 "I-131",
                 "V",
                 {0.5, 2, 30},
                 {1e-10, 1e-11, 0},
                 {},
                 {1825, 0.5, 1826, 1827.25}},
    DocumentCase{"SinglePoint", DataSet::inhalation, "H-3", "G", {1}, {}, {7e-12}, {1, 7}},
    DocumentCase{"NegativeRatesLargeIntegrals",
                 DataSet::ingestion,
                 "Pu-239 ",
                 "1.0E-04",
                 {0.25, 3, 40, 500, 7300},
                 {2e5, 8e4, -3e3, 1e2, 5},
                 {},
                 {0.1, 1, 100, 1000, 7300, 20000}},
    DocumentCase{"NoTable", DataSet::ingestion, "Sr-90", "0.3", {1, 2}, {}, {}, {5}},
    DocumentCase{"TimesThatDoNotIncrease",
                 DataSet::inhalation,
                 "Co-60",
                 "M",
                 {1, 1, 2},
                 {1, 2, 3},
                 {3, 2, 1},
                 {1, 2}},
    DocumentCase{"WideTimeColumn",
                 DataSet::inhalation,
                 "Am-241",
                 "M",
                 {1e-3, 0.5, 2},
                 {1, 0.5, 0.25},
                 {2, 1, 0.5},
                 {0.000123456, 12345.678901}}};

INSTANTIATE_TEST_SUITE_P(Records, PictureDocument, ::testing::ValuesIn(kDocuments),
                         [](const ::testing::TestParamInfo<DocumentCase>& test) {
                           return test.param.name;
                         });

// With the units a title names, the captions of both panels give them, and nothing else of
// the picture changes: each document on file with its two captions put in those words.
struct CaptionCase {
  const char* name;
  std::optional<RateUnits> units;
  std::string rate_caption;   // the markup of the rate panel's caption
  std::string integral_unit;  // the markup that ends the integral's caption, in parentheses
};

void PrintTo(const CaptionCase& c, std::ostream* os) { *os << c.name; }

class PictureCaptions : public ::testing::TestWithParam<CaptionCase> {};

// `document` with the text of its element that begins `start` (up to its "</text>") put as
// `text`.
std::string with_text(std::string document, const std::string& start, const std::string& text) {
  const std::size_t at = document.find(start);
  EXPECT_NE(at, std::string::npos) << start;
  if (at == std::string::npos) return document;
  const std::size_t from = at + start.size();
  document.replace(from, document.find("</text>", from) - from, text);
  return document;
}

TEST_P(PictureCaptions, GiveTheUnitsOfTheTitleAndChangeNothingElse) {
  const CaptionCase& c = GetParam();
  const std::string rate_start = R"(<text x="92" y="82" class="caption" font-size="12">)";
  const std::string integral_start = R"(<text x="92" y="322" class="caption" font-size="12">)";
  for (const DocumentCase& document : kDocuments) {
    SCOPED_TRACE(document.name);
    RecordPlot plot = document_plot(document);
    plot.units = c.units;
    const std::string doc = record_plot_svg(plot);
    const std::string on_file = test_support::read_file(document_on_file(document));
    ASSERT_FALSE(on_file.empty());
    // The integral's caption keeps its power of ten, if any.
    const std::size_t from = on_file.find(integral_start) + integral_start.size();
    const std::string caption = on_file.substr(from, on_file.find("</text>", from) - from);
    ASSERT_TRUE(caption.ends_with(" (rate &#xd7; d)")) << caption;
    const std::string integral =
        caption.substr(0, caption.size() - 16) + " (" + c.integral_unit + ")";
    const std::string expected =
        with_text(with_text(on_file, rate_start, c.rate_caption), integral_start, integral);
    EXPECT_EQ(doc, expected);
    EXPECT_TRUE(parse_xml(doc).well_formed);
  }
  // One worked out in full: integrals in units of 10^10.
  RecordPlot plot = document_plot(kDocuments[0]);
  plot.units = c.units;
  EXPECT_NE(record_plot_svg(plot).find(integral_start +
                                       "Integral of the rate from 0, in units of "
                                       "10&#xb9;&#x2070; (" +
                                       c.integral_unit + ")</text>"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Units, PictureCaptions,
    ::testing::Values(CaptionCase{"None", std::nullopt, "Absorbed dose rate (units of the file)",
                                  "rate &#xd7; d"},
                      CaptionCase{"Gray", RateUnits{"Gy/d per Bq", "Gy/Bq", "Sv/Bq"},
                                  "Absorbed dose rate (Gy/d per Bq)", "Gy/Bq"},
                      CaptionCase{"Milligray", RateUnits{"mGy/d per Bq", "mGy/Bq", "mSv/Bq"},
                                  "Absorbed dose rate (mGy/d per Bq)", "mGy/Bq"},
                      CaptionCase{"NoDoseUnit", RateUnits{"MeV/d per Bq", "MeV/Bq", ""},
                                  "Absorbed dose rate (MeV/d per Bq)", "MeV/Bq"},
                      CaptionCase{"SignsEscaped", RateUnits{"<k&V>/d per Bq", "<k&V>/Bq", ""},
                                  "Absorbed dose rate (&lt;k&amp;V&gt;/d per Bq)",
                                  "&lt;k&amp;V&gt;/Bq"}),
    [](const ::testing::TestParamInfo<CaptionCase>& test) { return test.param.name; });

TEST(PictureNumbers, AreRoundOrPlainNeverInENotation) {
  EXPECT_EQ(power_of_ten_label(-2), "0.01");
  EXPECT_EQ(power_of_ten_label(3), "1000");
  EXPECT_EQ(power_of_ten_label(4), "10&#x2074;");
  EXPECT_EQ(power_of_ten_label(-12), "10&#x207b;&#xb9;&#xb2;");
  EXPECT_EQ(plain_decimal(1825), "1825");
  EXPECT_EQ(plain_decimal(18250), "18250");
  EXPECT_EQ(plain_decimal(0.5), "0.5");
  EXPECT_EQ(plain_decimal(1e6), "1000000");
  EXPECT_EQ(three_digits(-8.42016e-12), "&#x2212;8.42&#xd7;10&#x207b;&#xb9;&#xb2;");
  EXPECT_EQ(three_digits(1234.5), "1230");
  EXPECT_EQ(three_digits(0.012345), "0.0123");
  EXPECT_EQ(three_digits(0), "0");
}

TEST(PlotNames, NameTheNuclideAgeRegionAndHeaderLine) {
  HeaderRecord header;
  header.nuclide = "Cs-137 ";
  header.age_days = 9125;
  header.line_number = 4711;
  EXPECT_EQ(plot_file_name(header, "Lung", 30), "Cs-137_9125d_Lung_col30_line4711.svg");
  header.nuclide = "a/b\\..";
  EXPECT_EQ(plot_file_name(header, "UB Wall", 7), "a_b_.._9125d_UB_Wall_col7_line4711.svg");
  // Regions whose names read alike keep apart by their columns.
  EXPECT_NE(plot_file_name(header, "A/B", 3), plot_file_name(header, "A_B", 4));
  EXPECT_TRUE(same_nuclide("Cs-137 ", "cs-137"));
  EXPECT_FALSE(same_nuclide("Cs-137", "Cs-13"));
  EXPECT_FALSE(same_nuclide(" Cs-137", "Cs-137"));
}

// Whether a record's nuclide is the one of --plot: letters without regard to case, trailing
// blanks (spaces and TABs) aside, leading ones not.
struct NuclideCase {
  const char* name;
  std::string_view a, b;
  bool same;
};

void PrintTo(const NuclideCase& c, std::ostream* os) { *os << c.name; }

class SameNuclide : public ::testing::TestWithParam<NuclideCase> {};

TEST_P(SameNuclide, ComparesWithoutCaseOrTrailingBlanks) {
  const NuclideCase& c = GetParam();
  EXPECT_EQ(same_nuclide(c.a, c.b), c.same);
  EXPECT_EQ(same_nuclide(c.b, c.a), c.same);  // either way round
}

INSTANTIATE_TEST_SUITE_P(
    Names, SameNuclide,
    ::testing::Values(NuclideCase{"Equal", "Pm-145", "Pm-145", true},
                      NuclideCase{"OtherCase", "PM-145", "pm-145", true},
                      NuclideCase{"TrailingSpaces", "Pm-145  ", "pm-145", true},
                      NuclideCase{"TrailingTab", "Pm-145\t ", "Pm-145 \t", true},
                      NuclideCase{"LeadingSpace", " Pm-145", "Pm-145", false},
                      NuclideCase{"Shorter", "Pm-14", "Pm-145", false},
                      NuclideCase{"OtherDigit", "Pm-146", "Pm-145", false},
                      NuclideCase{"BlankInside", "Pm 145", "Pm-145", false},
                      NuclideCase{"AllBlank", "  \t", "", true},
                      NuclideCase{"LettersOnlyFolded",
                                  "\xc4"
                                  "a",
                                  "\xe4"
                                  "A",
                                  false}),
    [](const ::testing::TestParamInfo<NuclideCase>& test) { return test.param.name; });

class PlotRun : public ::testing::Test {
 protected:
  void SetUp() override { write_sample_directory(dir.path(), 300000, 5); }

  int batch(const std::string& nuclide, const std::string& regions) {
    BatchOptions options;
    options.data_set = DataSet::ingestion;
    options.ages = "infant,adult";
    options.regions = regions;
    options.dir = dir.path();
    options.plot = nuclide;
    return test::run_batch_captured(options, out, err);
  }

  test_support::TempDir dir{"kestrane_plot"};
  std::string out;
  std::string err;
};

TEST_F(PlotRun, DrawsEveryProcessedRecordOfTheNuclidePerRegionBesideUnchangedFiles) {
  ASSERT_EQ(batch("", "Lung,1"), 0) << err;
  const std::string plain = test_support::read_file(dir / "OUTPUT" / "DC100g.OUT");
  // The nuclide of the first row after the three heading lines, asked for in another case.
  std::size_t row = 0;
  for (int i = 0; i < 3; ++i) row = plain.find("\r\n", row) + 2;
  std::string nuclide = plain.substr(row, 7);
  std::transform(nuclide.begin(), nuclide.end(), nuclide.begin(), ::tolower);

  ASSERT_EQ(batch(nuclide, "Lung,1"), 0) << err;
  EXPECT_EQ(test_support::read_file(dir / "OUTPUT" / "DC100g.OUT"), plain);
  // Each picture is listed as a file written, one path a line.
  const std::string plots = (dir / "OUTPUT" / "plots").lexically_normal().generic_string();
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir / "OUTPUT" / "plots")) {
    ++files;
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.substr(name.size() - 4), ".svg");
    EXPECT_NE(out.find("\n" + plots + "/" + name + "\n"), std::string::npos) << name;
    EXPECT_TRUE(parse_xml(test_support::read_file(entry.path())).well_formed) << name;
  }
  EXPECT_GT(files, 0);
  EXPECT_EQ(files % 2, 0);  // one per record and each of the two regions
}

TEST_F(PlotRun, ANuclideWithoutAProcessedRecordIsAStop) {
  EXPECT_EQ(batch("Xx-999", "Lung"), 1);
  EXPECT_TRUE(err.starts_with(
      "kestrane-batch: no processed record of the nuclide Xx-999: no picture was drawn\n"))
      << err;
}

// The pictures of a run name the units of the dose-rate file's title (the sample's names the
// gray), or keep to the words of a file that names none.
struct RunCaptionCase {
  const char* name;
  const char* title;  // in place of the sample's; null: the sample's own
  std::string rate_caption;
  std::string integral_ends;
};

void PrintTo(const RunCaptionCase& c, std::ostream* os) { *os << c.name; }

class PlotRunCaptions : public PlotRun, public ::testing::WithParamInterface<RunCaptionCase> {};

TEST_P(PlotRunCaptions, NameTheUnitsOfTheFilesTitle) {
  const RunCaptionCase& c = GetParam();
  const fs::path input = dir / "DATA" / "KVR13ING.DRT";
  std::string text = test_support::read_file(input);
  if (c.title != nullptr) text.replace(0, text.find("\r\n"), c.title);
  test_support::write_file(input, text);
  // The nuclide of the first header line, after the title and region-name lines.
  std::size_t line = 0;
  for (int i = 0; i < 2; ++i) line = text.find("\r\n", line) + 2;
  ASSERT_EQ(batch(text.substr(line, 7), "1"), 0) << err;
  int pictures = 0;
  for (const auto& entry : fs::directory_iterator(dir / "OUTPUT" / "plots")) {
    SCOPED_TRACE(entry.path().filename().string());
    ++pictures;
    std::vector<std::string> captions;
    for (const PlacedText& t : parse_xml(test_support::read_file(entry.path())).texts) {
      if (t.classes == "caption") captions.push_back(t.content);
    }
    ASSERT_EQ(captions.size(), 3u);
    EXPECT_EQ(captions[0], c.rate_caption);
    EXPECT_TRUE(captions[1].starts_with("Integral of the rate from 0")) << captions[1];
    EXPECT_TRUE(captions[1].ends_with(c.integral_ends)) << captions[1];
  }
  EXPECT_GT(pictures, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, PlotRunCaptions,
    ::testing::Values(RunCaptionCase{"Sample", nullptr, "Absorbed dose rate (Gy/d per Bq)",
                                     " (Gy/Bq)"},
                      RunCaptionCase{"Milligray", "Rates (mGy/d per Bq intake)",
                                     "Absorbed dose rate (mGy/d per Bq)", " (mGy/Bq)"},
                      RunCaptionCase{"NoUnit", "Ingestion absorbed dose rates",
                                     "Absorbed dose rate (units of the file)", " (rate \u00d7 d)"}),
    [](const ::testing::TestParamInfo<RunCaptionCase>& test) { return test.param.name; });

}  // namespace
}  // namespace kestrane
