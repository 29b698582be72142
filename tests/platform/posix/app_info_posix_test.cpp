#include "platform/posix/app_info_posix.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "support/temp_dir.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;

class PosixAppInfoTest : public ::testing::Test {
 protected:
  PosixAppInfoTest() : dir_(salvatrix::testing::MakeTempDir("salvatrix-app-")) {}
  ~PosixAppInfoTest() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_F(PosixAppInfoTest, FindsTheFolderAndNameTheLinkPointsTo) {
  const struct {
    fs::path target;
    std::string folder;
  } cases[] = {{dir_ / "bin/salvatrix", (dir_ / "bin").string()},
               {"bin/../salvatrix", dir_.string()},
               {"/salvatrix", "/"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target.string());
    fs::remove(dir_ / "exe");
    fs::create_symlink(c.target, dir_ / "exe");
    const PosixAppInfo info((dir_ / "exe").string());
    EXPECT_EQ(info.SourceFolder(), c.folder);
    EXPECT_EQ(info.ExecutableFileName(), "salvatrix");
  }
  EXPECT_EQ(PosixAppInfo().ExecutableFileName(), "salvatrix_posix_tests");
}

TEST_F(PosixAppInfoTest, FailsNamingTheLinkAndTheReason) {
  const std::string missing = (dir_ / "missing").string();
  try {
    static_cast<void>(PosixAppInfo(missing).SourceFolder());
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_THAT(failure.what(), AllOf(HasSubstr(missing), HasSubstr("No such file")));
  }
  EXPECT_THROW(static_cast<void>(PosixAppInfo(dir_.string()).ExecutableFileName()), Failure);
}

TEST(PosixAppInfoJoin, AddsOneSeparatorAndAPlacedProgramJoinsAlike) {
  const PosixAppInfo info;
  const PlacedAppInfo placed("/media/carry", "copy_bench");
  EXPECT_EQ(placed.SourceFolder(), "/media/carry");
  EXPECT_EQ(placed.ExecutableFileName(), "copy_bench");
  const std::vector<std::pair<std::pair<std::string, std::string>, std::string>> cases = {
      {{"/home/me", "a.txt"}, "/home/me/a.txt"},
      {{"/", "a.txt"}, "/a.txt"},
      {{"/home/me/", "a.txt"}, "/home/me/a.txt"},
      {{"", "a.txt"}, "a.txt"}};
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(input.first);
    EXPECT_EQ(info.JoinPath(input.first, input.second), expected);
    EXPECT_EQ(placed.JoinPath(input.first, input.second), expected);
  }
}

}  // namespace
}  // namespace salvatrix::posix
