// Tests of the provenance files: every hash they give is the one sha256sum gives for the file
// named, and the run they describe is the one that was made.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "app/version.h"
#include "output/hash_cache.h"
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
  BeforeModel before = BeforeModel::extend;
  AfterModel after = AfterModel::extend;
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
  options.before = c.before;
  options.after = c.after;
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
    EXPECT_EQ(json["input"]["hashed_in_this_run"], true);
    EXPECT_EQ(json["times_file"]["file"], "data/Kestrane.ini");
    EXPECT_EQ(json["times_file"]["sha256"], sha256sum(dir / "data" / "Kestrane.ini"));
    EXPECT_EQ(json["integration_times_d"], nlohmann::json::parse("[1, 7, 30, 365, 1825, 18250]"));
    EXPECT_EQ(json["age_group"]["days"], std::stoi(age));
    EXPECT_EQ(json["age_group"]["name"], age == "100" ? "Infant" : "Adult");
    EXPECT_EQ(json["regions"], nlohmann::json::parse(R"(["Lung", "Adrenals"])"));
    EXPECT_EQ(json["tails"]["before"], std::string(model_name(c.before)));
    EXPECT_EQ(json["tails"]["after"], std::string(model_name(c.after)));

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
                      ProvenanceCase{"IngestionAlone", DataSet::ingestion, false},
                      ProvenanceCase{"TailModels", DataSet::ingestion, true, BeforeModel::linear,
                                     AfterModel::exponential}),
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

// Blocks handed over with a holder are hashed from where they lie, while the holder keeps
// them; the others are copied, so their source may change at once. Either way the digest is
// the whole stream's.
TEST(Sha256, InTheBackgroundHashesHeldAndCopiedBlocksInOrder) {
  std::string stream(3'000'017, '\0');
  for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<char>(i * 7919 % 251);
  Sha256 whole;
  whole.update(stream);
  BackgroundSha256 background;
  std::size_t at = 0;
  for (std::size_t piece = 0; at < stream.size(); ++piece) {
    const std::size_t size = std::min<std::size_t>(stream.size() - at, 65'536 * (piece + 1));
    if (piece % 2 == 0) {
      auto held = std::make_shared<std::string>(stream.substr(at, size));
      background.update(*held, held);
    } else {
      std::string copied = stream.substr(at, size);
      background.update(copied);
      copied.assign(size, 'x');  // the hash has its own copy
    }
    at += size;
  }
  EXPECT_EQ(background.hex(), whole.hex());
  EXPECT_EQ(background.bytes(), stream.size());
}

// The hash cache: a hash is found again only for the same stamp, and remembered only for a
// file left alone long enough before its reading began.
constexpr std::int64_t kSecond = 1'000'000'000;
const std::string kDigest(64, 'a');

FileStamp settled_stamp() { return {7, 1234, 1000, 100 * kSecond, 100 * kSecond}; }

class HashCacheStamp : public ::testing::TestWithParam<std::pair<const char*, FileStamp>> {};

TEST_P(HashCacheStamp, FindsAHashOnlyForTheSameStamp) {
  test_support::TempDir dir("kestrane_hash_cache");
  const InputHashCache cache(dir / "kestrane" / "input-sha256");
  ASSERT_TRUE(cache.remember(settled_stamp(), kDigest, 200 * kSecond));
  EXPECT_EQ(cache.find(settled_stamp()), kDigest);
  EXPECT_EQ(cache.find(GetParam().second), "");
}

FileStamp changed(std::uint64_t FileStamp::*field) {
  FileStamp s = settled_stamp();
  s.*field += 1;
  return s;
}
FileStamp changed(std::int64_t FileStamp::*field) {
  FileStamp s = settled_stamp();
  s.*field += 1;  // one nanosecond
  return s;
}

INSTANTIATE_TEST_SUITE_P(OtherFiles, HashCacheStamp,
                         ::testing::Values(std::pair{"Device", changed(&FileStamp::device)},
                                           std::pair{"Inode", changed(&FileStamp::inode)},
                                           std::pair{"Size", changed(&FileStamp::size)},
                                           std::pair{"Modified", changed(&FileStamp::modified_ns)},
                                           std::pair{"Changed", changed(&FileStamp::changed_ns)}),
                         [](const auto& test) { return std::string(test.param.first); });

TEST(HashCache, RemembersOnlySettledFilesAndSoundDigests) {
  test_support::TempDir dir("kestrane_hash_cache");
  const InputHashCache cache(dir / "input-sha256");
  const std::int64_t read_from = 100 * kSecond + InputHashCache::kSettledNs;
  FileStamp recent = settled_stamp();
  recent.changed_ns += 1;  // changed less than kSettledNs before the reading
  EXPECT_FALSE(cache.remember(recent, kDigest, read_from));
  recent = settled_stamp();
  recent.modified_ns += 1;
  EXPECT_FALSE(cache.remember(recent, kDigest, read_from));
  EXPECT_FALSE(cache.remember(settled_stamp(), "not a digest", read_from + 1));
  EXPECT_FALSE(fs::exists(cache.file()));
  EXPECT_TRUE(cache.remember(settled_stamp(), kDigest, read_from + 1));

  // The most recent kEntries files are kept; a line that does not read back is passed over.
  std::ofstream(cache.file(), std::ios::app) << "garbage\n" << kDigest << " 1 2\n";
  for (std::uint64_t i = 1; i <= InputHashCache::kEntries; ++i) {
    FileStamp other = settled_stamp();
    other.inode = 5000 + i;
    ASSERT_TRUE(cache.remember(other, std::string(64, 'b'), read_from + 1));
  }
  EXPECT_EQ(cache.find(settled_stamp()), "");
  FileStamp last = settled_stamp();
  last.inode = 5000 + InputHashCache::kEntries;
  EXPECT_EQ(cache.find(last), std::string(64, 'b'));

  // A cache that cannot be written costs the remembering, nothing else.
  const InputHashCache blocked(cache.file() / "input-sha256");
  EXPECT_FALSE(blocked.remember(settled_stamp(), kDigest, read_from + 1));
  EXPECT_EQ(blocked.find(settled_stamp()), "");
}

// A run takes a remembered hash only while the dose-rate file keeps the stamp it was
// remembered with; otherwise it hashes the file as it reads it.
TEST(HashCache, RunTakesARememberedHashOnlyForTheUnchangedFile) {
  test_support::TempDir dir("kestrane_hash_cache_run");
  write_sample_directory(dir.path(), 100000, 3);
  const char* saved = std::getenv("XDG_CACHE_HOME");
  const std::string saved_value = saved != nullptr ? saved : "";
  ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  const fs::path input = dir / "DATA" / "KVR13ING.DRT";
  const auto run = [&] {
    BatchOptions options;
    options.data_set = DataSet::ingestion;
    options.ages = "adult";
    options.regions = "1";
    options.dir = dir.path();
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(run_batch(options, out, err, false), kBatchCompleted) << err.str();
    return nlohmann::json::parse(read_file(dir / "OUTPUT" / "DC7300g.json"))["input"];
  };
  // Just written, the file is hashed as it is read and not remembered.
  auto json = run();
  EXPECT_EQ(json["sha256"], sha256sum(input));
  EXPECT_EQ(json["hashed_in_this_run"], true);
  EXPECT_FALSE(fs::exists(dir / "cache" / "kestrane" / "input-sha256"));

  // A remembered hash (here a made-up one, to see that it is taken) for the file's stamp.
  const InputHashCache cache = *InputHashCache::of_user();
  const std::optional<FileStamp> stamp = file_stamp(input);
  ASSERT_TRUE(stamp);
  ASSERT_TRUE(cache.remember(*stamp, kDigest, stamp->changed_ns + InputHashCache::kSettledNs + 1));
  json = run();
  EXPECT_EQ(json["sha256"], kDigest);
  EXPECT_EQ(json["bytes"], fs::file_size(input));
  EXPECT_EQ(json["hashed_in_this_run"], false);

  // Touched, the file has another stamp and is hashed again.
  fs::last_write_time(input, fs::last_write_time(input) - std::chrono::hours(1));
  json = run();
  EXPECT_EQ(json["sha256"], sha256sum(input));
  EXPECT_EQ(json["hashed_in_this_run"], true);

  if (saved != nullptr) {
    ::setenv("XDG_CACHE_HOME", saved_value.c_str(), 1);
  } else {
    ::unsetenv("XDG_CACHE_HOME");
  }
}

}  // namespace
}  // namespace kestrane
