// File services: backslash paths resolved name by name without regard to letter case, the
// existence test that only a regular file passes, and the kind of what a path names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/file_services.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;

class FileServices : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kestrane_file_services_" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void touch(const fs::path& relative) {
    fs::create_directories((dir_ / relative).parent_path());
    std::ofstream(dir_ / relative) << "x";
  }

  fs::path dir_;
};

TEST_F(FileServices, NamesMatchWithoutRegardToCase) {
  touch("DATA/Kestrane.ini");
  EXPECT_EQ(resolve_program_path(dir_, "data\\Kestrane.ini"), dir_ / "DATA" / "Kestrane.ini");
  EXPECT_EQ(resolve_program_path(dir_, "Data\\KESTRANE.INI"), dir_ / "DATA" / "Kestrane.ini");
  EXPECT_TRUE(program_file_exists(dir_, "data\\Kestrane.ini"));
  EXPECT_TRUE(program_file_exists(dir_, "DATA\\kestrane.INI"));
  EXPECT_FALSE(program_file_exists(dir_, "data\\Kestrane.in"));
  EXPECT_FALSE(program_file_exists(dir_, "dat\\Kestrane.ini"));
}

TEST_F(FileServices, AnExactMatchWins) {
  touch("data/KVR13INH.DRT");
  touch("DATA/kvr13inh.drt");
  touch("DATA/KVR13INH.DRT");
  EXPECT_EQ(resolve_program_path(dir_, "DATA\\KVR13INH.DRT"), dir_ / "DATA" / "KVR13INH.DRT");
  EXPECT_EQ(resolve_program_path(dir_, "data\\kvr13inh.drt"), dir_ / "data" / "KVR13INH.DRT");
  // No exact name: the first match in byte order.
  EXPECT_EQ(resolve_program_path(dir_, "Data\\Kvr13inh.drt"), dir_ / "DATA" / "KVR13INH.DRT");
}

TEST_F(FileServices, FoldersAreWantedBeforeTheLastNameAndFilesAtIt) {
  touch("data");        // a file named like the folder
  touch("DATA/x.ini");  // the folder
  fs::create_directories(dir_ / "DATA" / "KESTRANE.INI");
  touch("DATA/kestrane.ini");
  EXPECT_EQ(resolve_program_path(dir_, "Data\\x.ini"), dir_ / "DATA" / "x.ini");
  EXPECT_EQ(resolve_program_path(dir_, "DATA\\Kestrane.ini"), dir_ / "DATA" / "kestrane.ini");
  EXPECT_TRUE(program_file_exists(dir_, "DATA\\Kestrane.ini"));
}

TEST_F(FileServices, OnlyARegularFileExists) {
  fs::create_directories(dir_ / "DATA" / "KVR13INH.DRT");
  EXPECT_FALSE(program_file_exists(dir_, "DATA\\KVR13INH.DRT"));
  EXPECT_FALSE(program_file_exists(dir_, "DATA"));
  EXPECT_FALSE(program_file_exists(dir_, ""));
}

// What stands at DATA\KVR13INH.DRT, made by `make` in the working directory: its type, links
// followed as an open follows them, and the words the messages name it with.
struct EntryCase {
  std::string name;
  void (*make)(const fs::path& dir);
  std::optional<mode_t> type;
  std::string words;
};

class EntryType : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryType, IsTheKindOfWhatThePathNames) {
  const EntryCase& c = GetParam();
  const test_support::TempDir dir("kestrane_entry_type");
  fs::create_directories(dir / "data");
  c.make(dir.path());
  const std::optional<mode_t> type = program_entry_type(dir.path(), "DATA\\KVR13INH.DRT");
  EXPECT_EQ(type, c.type);
  if (type) {
    EXPECT_EQ(entry_kind(*type), c.words);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, EntryType,
    ::testing::Values(
        EntryCase{"RegularFile",
                  [](const fs::path& d) { std::ofstream(d / "data" / "kvr13inh.drt") << "x"; },
                  S_IFREG, "a file"},
        EntryCase{"Folder",
                  [](const fs::path& d) { fs::create_directory(d / "data" / "KVR13INH.DRT"); },
                  S_IFDIR, "a folder"},
        EntryCase{"Fifo",
                  [](const fs::path& d) { ::mkfifo((d / "data" / "KVR13INH.DRT").c_str(), 0600); },
                  S_IFIFO, "a FIFO"},
        EntryCase{"LinkToAFolder",
                  [](const fs::path& d) {
                    fs::create_directory(d / "elsewhere");
                    fs::create_directory_symlink(d / "elsewhere", d / "data" / "KVR13INH.DRT");
                  },
                  S_IFDIR, "a folder"},
        EntryCase{"LinkToNothing",
                  [](const fs::path& d) {
                    fs::create_symlink(d / "nowhere", d / "data" / "KVR13INH.DRT");
                  },
                  std::nullopt, ""},
        EntryCase{"Nothing", [](const fs::path&) {}, std::nullopt, ""}),
    [](const ::testing::TestParamInfo<EntryCase>& test) { return test.param.name; });

TEST_F(FileServices, UnmatchedNamesAreKeptAsWrittenSoTheFileCanBeCreated) {
  fs::create_directories(dir_ / "output");
  EXPECT_EQ(resolve_program_path(dir_, "OUTPUT\\DC365h.OUT"), dir_ / "output" / "DC365h.OUT");
  touch("output/dc365H.out");
  EXPECT_EQ(resolve_program_path(dir_, "OUTPUT\\DC365h.OUT"), dir_ / "output" / "dc365H.out");
  EXPECT_EQ(resolve_program_path(dir_, "Missing\\Sub\\File.txt"),
            dir_ / "Missing" / "Sub" / "File.txt");
}

TEST_F(FileServices, SlashesAndEmptyNamesAreSeparatorsOnly) {
  touch("DATA/Kestrane.ini");
  EXPECT_EQ(resolve_program_path(dir_, "\\data\\\\kestrane.ini"), dir_ / "DATA" / "Kestrane.ini");
  EXPECT_EQ(resolve_program_path(dir_, ".\\data/kestrane.ini"), dir_ / "DATA" / "Kestrane.ini");
}

}  // namespace
}  // namespace kestrane
