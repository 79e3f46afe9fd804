// Tests of the record pictures: the SVG writer's escaping, the interpolant and integrals the
// pictures draw, the pictures parsed by a real XML parser, file names, and --plot runs.
#include <expat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "output/plot_pass.h"
#include "output/record_plot.h"
#include "output/svg_writer.h"
#include "sample/sample_data.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// What a real XML parser finds in a document: whether it is well formed, the root's
// attributes, how many elements carry each class token, and the text of every element.
struct ParsedXml {
  bool well_formed = false;
  std::string root;
  std::map<std::string, std::string> root_attributes;
  std::map<std::string, int> class_count;
  std::string text;
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
        for (int i = 0; attributes[i] != nullptr; i += 2) {
          if (root) r.root_attributes[attributes[i]] = attributes[i + 1];
          if (std::string(attributes[i]) != "class") continue;
          std::istringstream tokens(attributes[i + 1]);
          for (std::string token; tokens >> token;)
            ++r.class_count[std::string(name) + "." + token];
        }
      },
      [](void*, const XML_Char*) {});
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* s, int len) {
    static_cast<ParsedXml*>(data)->text.append(s, static_cast<std::size_t>(len));
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
};

void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.name; }

class Picture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(Picture, IsWellFormedWithOnePointPerRateAndOnePathPerTable) {
  const PictureCase& c = GetParam();
  RecordPlot plot;
  plot.header_line = "Cs-137    100     F           4 1 B";
  plot.line_number = 17;
  plot.file_name = "DATA\\KVR13INH.DRT";
  plot.region = "Lung";
  plot.x = c.x;
  plot.low = c.low;
  plot.high = c.high;
  plot.times = c.times;
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
  EXPECT_NE(xml.text.find("Cs-137    100     F           4 1 B"), std::string::npos);
  EXPECT_NE(xml.text.find("Region Lung; header line 17"), std::string::npos);
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
                    6},
        // One table starting after 0: the extension towards 0 and the one past the end.
        PictureCase{
            "LowTableStartingLate", {0.5, 2, 30}, {1e-10, 1e-11, 0}, {}, {1, 100}, 3, 0, 1, 2, 2},
        // A single time point: its values, nothing integrated.
        PictureCase{"SinglePoint", {1}, {}, {7e-12}, {1, 7}, 1, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<PictureCase>& test) { return test.param.name; });

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
    std::ostringstream o;
    std::ostringstream e;
    const int status = run_batch(options, o, e, false);
    out = o.str();
    err = e.str();
    return status;
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

}  // namespace
}  // namespace kestrane
