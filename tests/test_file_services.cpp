// File services: backslash paths resolved name by name without regard to letter case, and
// the existence test that only a regular file passes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_services.h"

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
