// Tests of the provenance files: every hash they give is the one sha256sum gives for the file
// named, and the run they describe is the one that was made.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "app/selection.h"
#include "base/version.h"
#include "input/dose_rate_file.h"
#include "output/hash_cache.h"
#include "output/provenance.h"
#include "run/file_run.h"
#include "run/run_request.h"
#include "sample/sample_data.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::sha256sum;
using test_support::write_file;

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

// The dose-rate file's title line stands beside the input entry as read (its CR LF dropped,
// trailing blanks kept, bytes that are not UTF-8 replaced), and after it the units the title
// names, or null.
struct TitleCase {
  const char* name;
  std::string title;     // the first line of the file, in place of the sample's
  std::string expected;  // what "title" gives
  const char* units;     // the JSON of "units"
};

void PrintTo(const TitleCase& c, std::ostream* os) { *os << c.name; }

class ProvenanceTitle : public ::testing::TestWithParam<TitleCase> {};

TEST_P(ProvenanceTitle, StandsBesideTheInputWithItsUnits) {
  const TitleCase& c = GetParam();
  test_support::TempDir dir("kestrane_provenance_title");
  write_sample_directory(dir.path(), 100000, 3);
  const fs::path input = dir / "DATA" / "KVR13ING.DRT";
  std::string text = read_file(input);
  text.replace(0, text.find("\r\n"), c.title);
  write_file(input, text);
  BatchOptions options;
  options.data_set = DataSet::ingestion;
  options.ages = "adult";
  options.regions = "1";
  options.dir = dir.path();
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(run_batch(options, out, err, false), kBatchCompleted) << err.str();
  const std::string document = read_file(dir / "OUTPUT" / "DC7300g.json");
  const auto json = nlohmann::ordered_json::parse(document);
  EXPECT_EQ(json["title"], c.expected);
  EXPECT_EQ(json["units"], nlohmann::ordered_json::parse(c.units));
  // Right after the input entry, before the times file.
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  const std::vector<std::string> expected_keys{"program",   "version",    "created",
                                               "data_set",  "input",      "title",
                                               "units",     "times_file", "integration_times_d",
                                               "age_group", "regions",    "tails",
                                               "records",   "notes",      "files"};
  EXPECT_EQ(keys, expected_keys);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, ProvenanceTitle,
    ::testing::Values(
        TitleCase{"Sample", "Ingestion absorbed dose rates (Gy/d per Bq), synthetic sample data",
                  "Ingestion absorbed dose rates (Gy/d per Bq), synthetic sample data",
                  R"({"rate": "Gy/d per Bq", "coefficient": "Gy/Bq", "dose": "Sv/Bq"})"},
        TitleCase{"MilligrayWithTrailingBlanks", "Rates (mGy/d per Bq intake)  ",
                  "Rates (mGy/d per Bq intake)  ",
                  R"({"rate": "mGy/d per Bq", "coefficient": "mGy/Bq", "dose": "mSv/Bq"})"},
        TitleCase{"NoDoseUnit", "Energy (MeV/d per Bq)", "Energy (MeV/d per Bq)",
                  R"({"rate": "MeV/d per Bq", "coefficient": "MeV/Bq", "dose": null})"},
        TitleCase{"NoUnit", "Ingestion absorbed dose rates", "Ingestion absorbed dose rates",
                  "null"},
        TitleCase{"Empty", "", "", "null"},
        TitleCase{"NotUtf8", "Rates \xff (\xe9Gy/d per Bq)",
                  "Rates \xef\xbf\xbd (\xef\xbf\xbdGy/d per Bq)",
                  R"({"rate": "\ufffdGy/d per Bq", "coefficient": "\ufffdGy/Bq", "dose": null})"}),
    [](const auto& test) { return std::string(test.param.name); });

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
  const test_support::ScopedEnvironment cache_home("XDG_CACHE_HOME", (dir / "cache").string());
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
}

// What stands at the cache's name is read only when it is a regular file of at most 64 KiB
// whose lines hold at most 256 characters; anything else (a FIFO, a link, a folder, a file
// too large, a line too long) is never read whole nor waited on, and never replaced: a run
// beside it goes on and only hashes its input.
struct CacheFileCase {
  const char* name;
  // Puts it at `file`; `sound` is the text of a cache that holds the settled stamp's hash.
  void (*make)(const fs::path& file, const std::string& sound);
  bool read;
};

void PrintTo(const CacheFileCase& c, std::ostream* os) { *os << c.name; }

// `sound` followed by lines of up to 256 characters to exactly `size` bytes.
std::string padded_to(const std::string& sound, std::size_t size) {
  std::string text = sound;
  while (text.size() < size) {
    const std::size_t line = std::min<std::size_t>(size - text.size() - 1, 256);
    text += std::string(line, '#') + '\n';
  }
  return text;
}

// What stands at `path`, without reading a large file: its kind, inode, size and time, and
// the bytes of a small one (through a link, those of what it names).
std::string standing(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return "nothing";
  std::string what = std::to_string(info.st_mode) + " " + std::to_string(info.st_ino) + " " +
                     std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_nsec);
  if (S_ISLNK(info.st_mode)) return what + " -> " + read_file(path);
  if (S_ISREG(info.st_mode) && info.st_size <= (1 << 20)) return what + " " + read_file(path);
  return what;
}

class HashCacheFile : public ::testing::TestWithParam<CacheFileCase> {};

TEST_P(HashCacheFile, IsReadOnlyWhenSmallAndPlainAndOtherwiseLeftAlone) {
  test_support::TempDir dir("kestrane_hash_cache_file");
  const InputHashCache scratch(dir / "scratch");
  ASSERT_TRUE(scratch.remember(settled_stamp(), kDigest, 200 * kSecond));
  const std::string sound = read_file(scratch.file());
  const fs::path file = dir / "cache" / "kestrane" / "input-sha256";
  fs::create_directories(file.parent_path());
  GetParam().make(file, sound);
  const std::string before = standing(file);
  const InputHashCache cache(file);
  EXPECT_EQ(cache.find(settled_stamp()), GetParam().read ? kDigest : "");
  FileStamp other = settled_stamp();
  other.inode += 1;
  EXPECT_EQ(cache.remember(other, std::string(64, 'b'), 200 * kSecond), GetParam().read);
  if (GetParam().read) {
    EXPECT_EQ(cache.find(other), std::string(64, 'b'));
    EXPECT_EQ(cache.find(settled_stamp()), kDigest);
  } else {
    EXPECT_EQ(standing(file), before);
  }

  // A run beside it goes on, hashing its input.
  write_sample_directory(dir / "work", 100000, 3);
  const test_support::ScopedEnvironment cache_home("XDG_CACHE_HOME", (dir / "cache").string());
  BatchOptions options;
  options.data_set = DataSet::ingestion;
  options.ages = "adult";
  options.regions = "1";
  options.dir = dir / "work";
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(run_batch(options, out, err, false), kBatchCompleted) << err.str();
  const auto json = nlohmann::json::parse(read_file(dir / "work" / "OUTPUT" / "DC7300g.json"));
  EXPECT_EQ(json["input"]["sha256"], sha256sum(dir / "work" / "DATA" / "KVR13ING.DRT"));
  if (!GetParam().read) {
    EXPECT_EQ(standing(file), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HashCacheFile,
    ::testing::Values(
        CacheFileCase{"Sound", [](const fs::path& f, const std::string& s) { write_file(f, s); },
                      true},
        CacheFileCase{"Of64KiB",
                      [](const fs::path& f, const std::string& s) {
                        write_file(f, padded_to(s, InputHashCache::kLargestCache));
                      },
                      true},
        CacheFileCase{"LargerThan64KiB",
                      [](const fs::path& f, const std::string& s) {
                        write_file(f, padded_to(s, InputHashCache::kLargestCache + 1));
                      },
                      false},
        CacheFileCase{"WithALineOf256",
                      [](const fs::path& f, const std::string& s) {
                        write_file(f, s + std::string(256, '#') + "\n");
                      },
                      true},
        CacheFileCase{"WithALineOf257",
                      [](const fs::path& f, const std::string& s) {
                        write_file(f, s + std::string(257, '#') + "\n");
                      },
                      false},
        CacheFileCase{"EndingInALineOf257",
                      [](const fs::path& f, const std::string& s) {
                        write_file(f, s + std::string(257, '#'));
                      },
                      false},
        CacheFileCase{"Of1GiBWithNoLineEnd",
                      [](const fs::path& f, const std::string&) {
                        write_file(f, "");
                        fs::resize_file(f, std::uintmax_t{1} << 30);  // sparse: no disk taken
                      },
                      false},
        CacheFileCase{
            "AFifo",
            [](const fs::path& f, const std::string&) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); },
            false},
        CacheFileCase{"ALinkToASoundCache",
                      [](const fs::path& f, const std::string& s) {
                        write_file(f.string() + ".target", s);
                        fs::create_symlink(f.string() + ".target", f);
                      },
                      false},
        CacheFileCase{"AFolder",
                      [](const fs::path& f, const std::string&) { fs::create_directory(f); },
                      false}),
    [](const auto& test) { return std::string(test.param.name); });

// The stamp remembered with a hash is that of the file read, taken on its descriptor, and the
// hash is remembered only when the path names that same unchanged file at the end: with DATA
// a link switched between two folders (before the file is opened, while it is read, and back),
// the cache never holds a hash under the stamp of another file, and every later run on either
// file gives that file's own hash.
struct SwitchCase {
  const char* name;
  char at_open;            // the folder DATA is switched to just before the open; 0: none
  const char* while_read;  // the folders it is switched to in turn while the file is read
  char read;               // whose bytes the run reads
  char remembered;         // whose hash the run remembers; 0: none
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

fs::path g_work;  // the working directory whose DATA the hook switches
char g_switch_at_open = 0;

// Points the working directory's DATA at the folder `set` in one rename.
void switch_data(const fs::path& work, char set) {
  const fs::path link = work / "DATA";
  const fs::path next = work / "DATA.next";
  fs::create_directory_symlink(work.parent_path() / std::string(1, set) / "DATA", next);
  fs::rename(next, link);
}

void switch_at_open() {
  if (g_switch_at_open != 0) switch_data(g_work, g_switch_at_open);
}

class SwitchedInput : public ::testing::TestWithParam<SwitchCase> {
 protected:
  void SetUp() override {
    // Two files of the same size (the provenance gives a remembered hash only for a file of
    // the size hashed): b is a with another title.
    write_sample_directory(dir / "a", 100000, 3);
    fs::copy(dir / "a", dir / "b", fs::copy_options::recursive);
    std::string text = read_file(input('b'));
    ASSERT_TRUE(text.starts_with("Ingestion"));
    text.replace(0, 9, "INGESTION");
    write_file(input('b'), text);
    fs::create_directories(work / "data");
    fs::copy(dir / "a" / "data" / "Kestrane.ini", work / "data" / "Kestrane.ini");
    switch_data(work, 'a');
  }
  fs::path input(char set) { return dir / std::string(1, set) / "DATA" / "KVR13ING.DRT"; }

  // A run through the run library, as the front ends make it, with `meanwhile` called
  // between the reading of its input and its processing; it takes the input to have been left
  // alone long before it began, so that its hash may be remembered. Returns what its
  // provenance says of the input.
  nlohmann::json run(const std::function<void()>& meanwhile) {
    RunRequest request;
    request.working_dir = work;
    request.data_set = DataSet::ingestion;
    request.ages = "6";
    request.regions = "1";
    RunInput input = open_run_input(request);
    meanwhile();
    input.source.read_from_ns += 2 * InputHashCache::kSettledNs;
    FileRun coefficients(resolve_run(request, std::move(input)));
    coefficients.process(nullptr);
    return nlohmann::json::parse(read_file(work / "OUTPUT" / "DC7300g.json"))["input"];
  }

  test_support::TempDir dir{"kestrane_switched_input"};
  fs::path work = dir / "work";
  test_support::ScopedEnvironment cache_home{"XDG_CACHE_HOME", (dir / "cache").string()};
};

TEST_P(SwitchedInput, NeverRemembersAHashUnderAnotherFilesStamp) {
  const SwitchCase& c = GetParam();
  const std::string sha_a = sha256sum(input('a'));
  const std::string sha_b = sha256sum(input('b'));
  ASSERT_NE(sha_a, sha_b);
  ASSERT_EQ(fs::file_size(input('a')), fs::file_size(input('b')));
  g_work = work;
  g_switch_at_open = c.at_open;
  set_before_input_open_hook(switch_at_open);
  const auto json = run([&] {
    for (const char* set = c.while_read; *set != 0; ++set) switch_data(work, *set);
  });
  set_before_input_open_hook(nullptr);
  EXPECT_EQ(json["sha256"], sha256sum(input(c.read)));
  EXPECT_EQ(json["bytes"], fs::file_size(input(c.read)));
  EXPECT_EQ(json["hashed_in_this_run"], true);

  const InputHashCache cache = *InputHashCache::of_user();
  EXPECT_EQ(cache.find(*file_stamp(input('a'))), c.remembered == 'a' ? sha_a : "");
  EXPECT_EQ(cache.find(*file_stamp(input('b'))), c.remembered == 'b' ? sha_b : "");

  // Later runs on each file give its own hash, remembered or worked out.
  for (const char set : {'a', 'b', 'a'}) {
    SCOPED_TRACE(std::string("a later run on ") + set);
    switch_data(work, set);
    EXPECT_EQ(run([] {})["sha256"], set == 'a' ? sha_a : sha_b);
  }
}

INSTANTIATE_TEST_SUITE_P(Switches, SwitchedInput,
                         ::testing::Values(SwitchCase{"NotSwitched", 0, "", 'a', 'a'},
                                           SwitchCase{"BeforeTheOpen", 'b', "", 'b', 'b'},
                                           SwitchCase{"BeforeTheOpenAndBackWhileRead", 'b', "a",
                                                      'b', 0},
                                           SwitchCase{"WhileRead", 0, "b", 'a', 0},
                                           SwitchCase{"WhileReadAndBack", 0, "ba", 'a', 'a'}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kestrane
