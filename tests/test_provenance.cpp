// Tests of the provenance files: every hash they give is the one sha256sum gives for the file
// named, and the run they describe is the one that was made.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "app/version.h"
#include "output/provenance.h"
#include "sample/sample_data.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test_support::read_file;

// The SHA-256 of a file by coreutils' sha256sum, independent of the program's own.
std::string sha256sum(const fs::path& path) {
  const std::string command = "sha256sum '" + path.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  char digest[65] = {};
  const std::size_t got = std::fread(digest, 1, 64, pipe);
  ::pclose(pipe);
  return std::string(digest, got);
}

// Lines of a text file, after its column line.
std::size_t rows_of(const std::string& text) {
  std::size_t lines = 0;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  return lines - 1;
}

struct ProvenanceCase {
  const char* name;
  DataSet data_set;
  bool csv;
};

void PrintTo(const ProvenanceCase& c, std::ostream* os) { *os << c.name; }

class ProvenanceFile : public ::testing::TestWithParam<ProvenanceCase> {};

TEST_P(ProvenanceFile, HashesEveryFileAndDescribesTheRun) {
  const ProvenanceCase& c = GetParam();
  test_support::TempDir dir("kestrane_provenance");
  const SampleSummary sample = write_sample_directory(dir.path(), 300000, 5);
  const SampleFileSummary& drt =
      c.data_set == DataSet::inhalation ? sample.inhalation : sample.ingestion;
  BatchOptions options;
  options.data_set = c.data_set;
  options.ages = "adult,infant";
  options.regions = "Lung,1";
  options.dir = dir.path();
  options.csv = c.csv;
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(run_batch(options, out, err, false), kBatchCompleted) << err.str();

  const char letter = data_set_letter(c.data_set);
  const std::string input =
      c.data_set == DataSet::inhalation ? "DATA/KVR13INH.DRT" : "DATA/KVR13ING.DRT";
  std::int64_t processed = 0;
  std::int64_t passed_over = 0;
  for (const std::string age : {"7300", "100"}) {
    SCOPED_TRACE(age);
    const std::string base = "DC" + age + letter;
    const fs::path output = dir / "OUTPUT";
    const auto json = nlohmann::json::parse(read_file(output / (base + ".json")));
    EXPECT_EQ(json["program"], "kestrane");
    EXPECT_EQ(json["version"], kVersion);
    EXPECT_EQ(json["data_set"], c.data_set == DataSet::inhalation ? "inhalation" : "ingestion");
    EXPECT_EQ(json["input"]["file"], input);
    EXPECT_EQ(json["input"]["bytes"], fs::file_size(dir / input));
    EXPECT_EQ(json["input"]["sha256"], sha256sum(dir / input));
    EXPECT_EQ(json["times_file"]["file"], "data/Kestrane.ini");
    EXPECT_EQ(json["times_file"]["sha256"], sha256sum(dir / "data" / "Kestrane.ini"));
    EXPECT_EQ(json["integration_times_d"], nlohmann::json::parse("[1, 7, 30, 365, 1825, 18250]"));
    EXPECT_EQ(json["age_group"]["days"], std::stoi(age));
    EXPECT_EQ(json["age_group"]["name"], age == "100" ? "Infant" : "Adult");
    EXPECT_EQ(json["regions"], nlohmann::json::parse(R"(["Lung", "Adrenals"])"));

    // The files beside it: the coefficient file, the CSV file with --csv, the notes file where
    // it has rows; each with the size and hash of the file as it stands.
    std::vector<std::string> names{base + ".OUT"};
    if (c.csv) names.push_back(base + ".csv");
    const bool notes = fs::exists(output / (base + "-notes.csv"));
    if (notes) names.push_back(base + "-notes.csv");
    ASSERT_EQ(json["files"].size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      const auto& file = json["files"][i];
      EXPECT_EQ(file["file"], names[i]);
      EXPECT_EQ(file["bytes"], fs::file_size(output / names[i]));
      EXPECT_EQ(file["sha256"], sha256sum(output / names[i]));
    }
    const std::int64_t noted =
        notes ? static_cast<std::int64_t>(rows_of(read_file(output / (base + "-notes.csv")))) : 0;
    EXPECT_EQ(json["notes"]["records"], noted);
    if (c.csv) {
      // Six times and two regions: twelve CSV rows per record.
      EXPECT_EQ(json["records"]["processed"].get<std::size_t>() * 12,
                rows_of(read_file(output / (base + ".csv"))));
    }
    processed += json["records"]["processed"].get<std::int64_t>();
    passed_over = json["records"]["passed_over"].get<std::int64_t>();
  }
  // The records of the two files and those passed over make the whole dose-rate file.
  EXPECT_EQ(processed + passed_over, drt.records);
  EXPECT_GT(passed_over, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ProvenanceFile,
    ::testing::Values(ProvenanceCase{"InhalationWithCsv", DataSet::inhalation, true},
                      ProvenanceCase{"IngestionAlone", DataSet::ingestion, false}),
    [](const auto& test) { return test.param.name; });

TEST(Sha256, GivesTheStandardDigests) {
  Sha256 empty;
  EXPECT_EQ(empty.hex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  Sha256 abc;
  abc.update("a");
  abc.update("bc");
  EXPECT_EQ(abc.hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(abc.bytes(), 3u);
}

}  // namespace
}  // namespace kestrane
