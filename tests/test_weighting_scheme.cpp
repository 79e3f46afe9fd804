// Tests of the weighting-scheme file: every refusal with its exact message, the reading of
// numbers, names and the split flag, the region names resolved on a region-name line, and
// the shipped example on the sample data's names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "input/input_error.h"
#include "input/weighting_scheme.h"
#include "sample/sample_data.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

using test_support::TempDir;
using test_support::write_file;

// A scheme that is taken; each refusal below changes one part of it.
const std::string kScheme =
    "name = \"Test\"\n"                               // 1
    "[radiation]\n"                                   // 2
    "low = 1.0\n"                                     // 3
    "high = 20\n"                                     // 4
    "[[tissue]]\n"                                    // 5
    "name = \"Colon\"\n"                              // 6
    "weight = 0.5\n"                                  // 7
    "regions = { UpperLI = 0.57, LowerLI = 0.43 }\n"  // 8
    "[remainder]\n"                                   // 9
    "weight = 0.5\n"                                  // 10
    "regions = [\"Brain\", \"Muscle\"]\n";            // 11

// The region-name line the schemes are resolved on: two names differ only in case.
const std::vector<std::string> kNames{"UpperLI", "LowerLI",      "Brain",
                                      "Muscle",  "BB-Secretory", "bb-Secretory"};

// kScheme with the first `from` replaced by `to`.
std::string changed(const std::string& from, const std::string& to) {
  std::string text = kScheme;
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The message of the InputError that reading and resolving `text` raises ("" for none).
std::string refusal(const std::string& text) {
  try {
    resolve_scheme_regions(parse_weighting_scheme(text, "scheme.toml"), kNames);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(WeightingSchemeBase, IsTaken) { EXPECT_EQ(refusal(kScheme), ""); }

struct RefusalCase {
  const char* label;
  std::string text;
  std::string message;
};

class SchemeRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SchemeRefusal, NamesFileLineAndReason) {
  EXPECT_EQ(refusal(GetParam().text), GetParam().message);
}

// The tissue of kScheme.
const std::string kColon =
    "[[tissue]]\nname = \"Colon\"\nweight = 0.5\nregions = { UpperLI = 0.57, LowerLI = 0.43 }\n";

// A second tissue of the same name, of weight 0 and on a region of the first.
const std::string kTissue2 =
    "[[tissue]]\nname = \"Colon\"\nweight = 0\nregions = { UpperLI = 1 }\n";

// `text` with the first `from` replaced by `to`, then the first `from2` after it by `to2`.
std::string changed_in(std::string text, const std::string& from, const std::string& to,
                       const std::string& from2, const std::string& to2) {
  const std::size_t at = text.find(from);
  text.replace(at, from.size(), to);
  const std::size_t at2 = text.find(from2, at);
  text.replace(at2, from2.size(), to2);
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SchemeRefusal,
    ::testing::Values(
        RefusalCase{"not_toml", changed("low = 1.0", "low = "),
                    "scheme.toml, line 3: the file is not TOML: Error while parsing key-value "
                    "pair: expected value, saw '\\n'"},
        RefusalCase{"duplicate_key", changed("high = 20\n", "high = 20\nhigh = 20\n"),
                    "scheme.toml, line 5: the file is not TOML: Error while parsing key-value "
                    "pair: cannot redefine existing integer 'high'"},
        RefusalCase{"empty", "", "scheme.toml, line 1: the scheme has no name"},
        RefusalCase{"no_name", changed("name = \"Test\"\n", ""),
                    "scheme.toml, line 1: the scheme has no name"},
        RefusalCase{"name_not_string", changed("name = \"Test\"", "name = 3"),
                    "scheme.toml, line 1: the name of the scheme must be a string, not an "
                    "integer"},
        RefusalCase{"unknown_top_key", changed("[radiation]", "nmae = \"x\"\n[radiation]"),
                    "scheme.toml, line 2: unknown key \"nmae\" in the scheme; its keys are "
                    "name, radiation, tissue and remainder"},
        RefusalCase{"no_radiation", changed("[radiation]\nlow = 1.0\nhigh = 20\n", ""),
                    "scheme.toml, line 1: the scheme has no [radiation]"},
        RefusalCase{"radiation_not_table",
                    changed("[radiation]\nlow = 1.0\nhigh = 20\n", "radiation = 1\n"),
                    "scheme.toml, line 2: [radiation] must be a table, not an integer"},
        RefusalCase{"low_missing", changed("low = 1.0\n", ""),
                    "scheme.toml, line 2: the radiation weight low is missing"},
        RefusalCase{"low_string", changed("low = 1.0", "low = \"1\""),
                    "scheme.toml, line 3: the radiation weight low must be a number, not a "
                    "string"},
        RefusalCase{"high_boolean", changed("high = 20", "high = true"),
                    "scheme.toml, line 4: the radiation weight high must be a number, not a "
                    "boolean"},
        RefusalCase{"high_negative", changed("high = 20", "high = -20"),
                    "scheme.toml, line 4: the radiation weight high must not be negative: -20"},
        RefusalCase{"low_infinite", changed("low = 1.0", "low = inf"),
                    "scheme.toml, line 3: the radiation weight low must be a finite number, "
                    "not inf"},
        RefusalCase{"low_nan", changed("low = 1.0", "low = nan"),
                    "scheme.toml, line 3: the radiation weight low must be a finite number, "
                    "not nan"},
        RefusalCase{"unknown_radiation_key", changed("high = 20\n", "high = 20\nmedium = 2\n"),
                    "scheme.toml, line 5: unknown key \"medium\" in [radiation]; its keys are "
                    "low and high"},
        RefusalCase{"tissue_not_array",
                    changed_in(kScheme, "[radiation]", "tissue = 3\n[radiation]", kColon, ""),
                    "scheme.toml, line 2: tissue must be an array of [[tissue]] tables, not an "
                    "integer"},
        RefusalCase{"tissue_not_table",
                    changed_in(kScheme, "[radiation]", "tissue = [1]\n[radiation]", kColon, ""),
                    "scheme.toml, line 2: each tissue must be a [[tissue]] table, not an "
                    "integer"},
        RefusalCase{"tissue_no_name", changed("name = \"Colon\"\n", ""),
                    "scheme.toml, line 5: a [[tissue]] has no name"},
        RefusalCase{"tissue_name_not_string", changed("name = \"Colon\"", "name = 1.5"),
                    "scheme.toml, line 6: the name of a [[tissue]] must be a string, not a "
                    "floating-point number"},
        RefusalCase{"unknown_tissue_key",
                    changed("weight = 0.5\nregions = {", "weigth = 0.5\nregions = {"),
                    "scheme.toml, line 7: unknown key \"weigth\" in a [[tissue]]; its keys are "
                    "name, weight and regions"},
        RefusalCase{"tissue_weight_missing", changed("weight = 0.5\nregions = {", "regions = {"),
                    "scheme.toml, line 5: the weight of tissue \"Colon\" is missing"},
        RefusalCase{"tissue_weight_string",
                    changed("weight = 0.5\nregions = {", "weight = \"0.5\"\nregions = {"),
                    "scheme.toml, line 7: the weight of tissue \"Colon\" must be a number, not a "
                    "string"},
        RefusalCase{"tissue_weight_negative",
                    changed("weight = 0.5\nregions = {", "weight = -0.5\nregions = {"),
                    "scheme.toml, line 7: the weight of tissue \"Colon\" must not be negative: "
                    "-0.5"},
        RefusalCase{"fraction_string", changed("UpperLI = 0.57", "UpperLI = \"0.57\""),
                    "scheme.toml, line 8: the fraction of \"UpperLI\" in tissue \"Colon\" must be "
                    "a number, not a string"},
        RefusalCase{"fraction_negative", changed("LowerLI = 0.43", "LowerLI = -0.43"),
                    "scheme.toml, line 8: the fraction of \"LowerLI\" in tissue \"Colon\" must not "
                    "be negative: -0.43"},
        RefusalCase{"fraction_infinite", changed("LowerLI = 0.43", "LowerLI = -inf"),
                    "scheme.toml, line 8: the fraction of \"LowerLI\" in tissue \"Colon\" must be "
                    "a finite number, not -inf"},
        RefusalCase{"tissue_no_regions",
                    changed("regions = { UpperLI = 0.57, LowerLI = 0.43 }\n", ""),
                    "scheme.toml, line 5: tissue \"Colon\" has no regions"},
        RefusalCase{"tissue_empty_regions", changed("{ UpperLI = 0.57, LowerLI = 0.43 }", "{}"),
                    "scheme.toml, line 8: tissue \"Colon\" has no regions"},
        RefusalCase{"tissue_regions_array",
                    changed("{ UpperLI = 0.57, LowerLI = 0.43 }", "[\"UpperLI\"]"),
                    "scheme.toml, line 8: the regions of tissue \"Colon\" must be a table of "
                    "region names and fractions, as regions = { Liver = 1.0 }, not an array"},
        RefusalCase{"tissue_named_remainder", changed("\"Colon\"", "\"Remainder\""),
                    "scheme.toml, line 5: a tissue may not be named \"Remainder\", the name of "
                    "the remainder's dose"},
        RefusalCase{"tissue_named_twice", changed("[remainder]", kTissue2 + "[remainder]"),
                    "scheme.toml, line 9: tissue \"Colon\" is named twice (first at line 5)"},
        RefusalCase{"tissue_name_control", changed("\"Colon\"", "\"Co\\u001blon\""),
                    "scheme.toml, line 6: the name of a [[tissue]] holds a control character: "
                    "\"Co\\x1blon\""},
        RefusalCase{"tissue_name_line_end", changed("\"Colon\"", "\"Co\\nlon\""),
                    "scheme.toml, line 6: the name of a [[tissue]] holds a control character: "
                    "\"Co\\x0alon\""},
        RefusalCase{"tissue_name_empty", changed("\"Colon\"", "\" \""),
                    "scheme.toml, line 6: the name of a [[tissue]] is empty"},
        RefusalCase{"weights_above_one",
                    changed("weight = 0.5\nregions = {", "weight = 0.6\nregions = {"),
                    "scheme.toml, line 10: the tissue and remainder weights add up to 1.1, not 1"},
        RefusalCase{"weights_below_one",
                    changed("[remainder]\nweight = 0.5", "[remainder]\nweight = 0.4999989"),
                    "scheme.toml, line 10: the tissue and remainder weights add up to "
                    "0.9999989, not 1"},
        RefusalCase{"no_remainder",
                    changed("[remainder]\nweight = 0.5\nregions = [\"Brain\", \"Muscle\"]\n", ""),
                    "scheme.toml, line 1: the scheme has no [remainder]"},
        RefusalCase{"remainder_not_table",
                    changed("[remainder]\nweight = 0.5\nregions = [\"Brain\", \"Muscle\"]\n", "") +
                        "[[remainder]]\n",
                    "scheme.toml, line 9: [remainder] must be a table, not an array"},
        RefusalCase{"remainder_weight_missing",
                    changed("[remainder]\nweight = 0.5\n", "[remainder]\n"),
                    "scheme.toml, line 9: the remainder weight is missing"},
        RefusalCase{"remainder_weight_boolean",
                    changed("[remainder]\nweight = 0.5", "[remainder]\nweight = false"),
                    "scheme.toml, line 10: the remainder weight must be a number, not a boolean"},
        RefusalCase{"remainder_no_regions", changed("regions = [\"Brain\", \"Muscle\"]\n", ""),
                    "scheme.toml, line 9: the remainder has no regions"},
        RefusalCase{"remainder_empty", changed("[\"Brain\", \"Muscle\"]", "[]"),
                    "scheme.toml, line 11: the remainder has no regions"},
        RefusalCase{"remainder_regions_table", changed("[\"Brain\", \"Muscle\"]", "{ Brain = 1 }"),
                    "scheme.toml, line 11: the remainder's regions must be an array of region "
                    "names, not a table"},
        RefusalCase{"remainder_region_number",
                    changed("[\"Brain\", \"Muscle\"]", "[\"Brain\",\n 3]"),
                    "scheme.toml, line 12: each region of the remainder must be a string, not "
                    "an integer"},
        RefusalCase{"remainder_region_twice",
                    changed("[\"Brain\", \"Muscle\"]", "[\n\"Brain\",\n\"Muscle\",\n\"Brain\"]"),
                    "scheme.toml, line 14: region \"Brain\" is twice in the remainder (first at "
                    "line 12)"},
        RefusalCase{"remainder_and_tissue", changed("\"Muscle\"]", "\"LowerLI\"]"),
                    "scheme.toml, line 11: region \"LowerLI\" is in the remainder and in tissue "
                    "\"Colon\" (line 8)"},
        RefusalCase{"split_not_boolean", kScheme + "split = \"yes\"\n",
                    "scheme.toml, line 12: split must be true or false, not a string"},
        RefusalCase{"split_number", kScheme + "split = 1\n",
                    "scheme.toml, line 12: split must be true or false, not an integer"},
        RefusalCase{"unknown_remainder_key", kScheme + "splt = true\n",
                    "scheme.toml, line 12: unknown key \"splt\" in [remainder]; its keys are "
                    "weight, regions and split"},
        RefusalCase{"unknown_region_case", changed("UpperLI = 0.57", "upperli = 0.57"),
                    "scheme.toml, line 8: unknown region \"upperli\" (the region names compare "
                    "exactly); the regions are UpperLI, LowerLI, Brain, Muscle, BB-Secretory, "
                    "bb-Secretory, Lung"},
        RefusalCase{"unknown_remainder_region", changed("\"Muscle\"]", "\"\\u001b[2J\"]"),
                    "scheme.toml, line 11: unknown region \"\\x1b[2J\" (the region names compare "
                    "exactly); the regions are UpperLI, LowerLI, Brain, Muscle, BB-Secretory, "
                    "bb-Secretory, Lung"}),
    [](const ::testing::TestParamInfo<RefusalCase>& param) {
      return std::string(param.param.label);
    });

// Reads `text` as "scheme.toml".
WeightingScheme parsed(const std::string& text) {
  return parse_weighting_scheme(text, "scheme.toml");
}

TEST(WeightingSchemeReading, TakesIntegersAsNumbersAndKeepsTheFileOrder) {
  const WeightingScheme scheme = parsed(kScheme);
  EXPECT_EQ(scheme.file, "scheme.toml");
  EXPECT_EQ(scheme.name, "Test");
  EXPECT_EQ(scheme.low, 1.0);
  EXPECT_EQ(scheme.high, 20.0);  // `high = 20`
  ASSERT_EQ(scheme.tissues.size(), 1u);
  const SchemeTissue& colon = scheme.tissues[0];
  EXPECT_EQ(colon.name, "Colon");
  EXPECT_EQ(colon.weight, 0.5);
  EXPECT_EQ(colon.line, 5);
  // In the file's order, not the sorted order of a TOML table.
  ASSERT_EQ(colon.regions.size(), 2u);
  EXPECT_EQ(colon.regions[0].region, "UpperLI");
  EXPECT_EQ(colon.regions[0].fraction, 0.57);
  EXPECT_EQ(colon.regions[1].region, "LowerLI");
  EXPECT_EQ(colon.regions[1].fraction, 0.43);
  EXPECT_EQ(colon.regions[1].line, 8);
  EXPECT_EQ(scheme.remainder_weight, 0.5);
  EXPECT_EQ(scheme.remainder, (std::vector<std::string>{"Brain", "Muscle"}));
  EXPECT_EQ(scheme.remainder_lines, (std::vector<std::int64_t>{11, 11}));
  EXPECT_FALSE(scheme.split);  // absent
  EXPECT_TRUE(parsed(kScheme + "split = true\n").split);
  EXPECT_FALSE(parsed(kScheme + "split = false\n").split);
}

TEST(WeightingSchemeReading, TakesAWeightSumWithinAMillionthOfOne) {
  EXPECT_EQ(parsed(changed("[remainder]\nweight = 0.5", "[remainder]\nweight = 0.5000005"))
                .remainder_weight,
            0.5000005);
  EXPECT_EQ(parsed(changed("[remainder]\nweight = 0.5", "[remainder]\nweight = 0.4999995"))
                .remainder_weight,
            0.4999995);
}

TEST(WeightingSchemeReading, ResolvesNamesExactlyAndLungAfterTheFileNames) {
  const WeightingScheme scheme = parsed(changed("{ UpperLI = 0.57, LowerLI = 0.43 }",
                                                "{ bb-Secretory = 0.25, BB-Secretory = 0.5, "
                                                "Lung = 0.25 }"));
  const SchemeRegions regions = resolve_scheme_regions(scheme, kNames);
  ASSERT_EQ(regions.tissues.size(), 1u);
  EXPECT_EQ(regions.tissues[0],
            (std::vector<std::pair<int, double>>{{6, 0.25}, {5, 0.5}, {7, 0.25}}));
  EXPECT_EQ(regions.remainder, (std::vector<int>{3, 4}));
}

TEST(WeightingSchemeReading, ShippedExampleResolvesOnTheSampleNames) {
  const std::filesystem::path file =
      std::filesystem::path(KESTRANE_TEST_DATA).parent_path().parent_path() / "docs" / "schemes" /
      "icrp60-example.toml";
  const WeightingScheme scheme = read_weighting_scheme(file, "icrp60-example.toml");
  EXPECT_EQ(scheme.name, "Example after ICRP Publication 60");
  EXPECT_EQ(scheme.low, 1.0);
  EXPECT_EQ(scheme.high, 20.0);
  std::vector<std::string> names;
  for (const std::string_view name : sample_region_names()) names.emplace_back(name);
  const SchemeRegions regions = resolve_scheme_regions(scheme, names);

  // Tissue, weight and regions by the sample's region numbers (Lung is 30).
  struct Expected {
    std::string name;
    double weight;
    std::vector<std::pair<int, double>> parts;
  };
  const std::vector<Expected> expected{{"Gonads", 0.20, {{20, 0.5}, {24, 0.5}}},
                                       {"Red marrow", 0.12, {{4, 1.0}}},
                                       {"Colon", 0.12, {{10, 0.57}, {11, 0.43}}},
                                       {"Lung", 0.12, {{30, 1.0}}},
                                       {"Stomach", 0.12, {{8, 1.0}}},
                                       {"Bladder", 0.05, {{2, 1.0}}},
                                       {"Breast", 0.05, {{6, 1.0}}},
                                       {"Liver", 0.05, {{14, 1.0}}},
                                       {"Oesophagus", 0.05, {{7, 1.0}}},
                                       {"Thyroid", 0.05, {{26, 1.0}}},
                                       {"Skin", 0.01, {{22, 1.0}}},
                                       {"Bone surface", 0.01, {{3, 1.0}}}};
  ASSERT_EQ(scheme.tissues.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(scheme.tissues[i].name, expected[i].name);
    EXPECT_EQ(scheme.tissues[i].weight, expected[i].weight) << expected[i].name;
    EXPECT_EQ(regions.tissues[i], expected[i].parts) << expected[i].name;
  }
  EXPECT_EQ(scheme.remainder_weight, 0.05);
  EXPECT_EQ(regions.remainder, (std::vector<int>{1, 5, 9, 13, 19, 21, 23, 25, 27}));
  EXPECT_TRUE(scheme.split);
}

struct EntryCase {
  const char* label;
  std::string entry;    // made under the temporary folder: "" nothing, "/" a folder
  std::string message;  // for the shown name "s.toml"
};

class SchemeFileEntry : public ::testing::TestWithParam<EntryCase> {};

TEST_P(SchemeFileEntry, IsRefusedAsWhatItIs) {
  TempDir dir("kestrane_scheme");
  const std::filesystem::path path = dir / "s.toml";
  if (GetParam().entry == "/") {
    std::filesystem::create_directory(path);
  } else if (GetParam().entry == "|") {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  }
  try {
    read_weighting_scheme(path, "s.toml");
    ADD_FAILURE() << "taken";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SchemeFileEntry,
    ::testing::Values(EntryCase{"missing", "", "The weighting scheme s.toml was not found."},
                      EntryCase{"folder", "/", "s.toml is a folder, not a file."},
                      EntryCase{"fifo", "|", "s.toml is a FIFO, not a regular file."}),
    [](const ::testing::TestParamInfo<EntryCase>& param) {
      return std::string(param.param.label);
    });

TEST(WeightingSchemeFile, ReadsARegularFile) {
  TempDir dir("kestrane_scheme");
  write_file(dir / "s.toml", kScheme);
  const WeightingScheme scheme = read_weighting_scheme(dir / "s.toml", "s.toml");
  EXPECT_EQ(scheme.file, "s.toml");
  EXPECT_EQ(scheme.tissues.size(), 1u);
}

}  // namespace
}  // namespace kestrane
