#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/test_folder_win32.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

using testing::Names;
using testing::Read;
using testing::Write;
namespace fs = std::filesystem;

const std::wstring kUnicodeName = L"\u00DCn\u00EFc\u00F6d\u00E9-\u65E5\u672C.txt";

using Win32FileSystemTest = testing::TestFolder;

TEST_F(Win32FileSystemTest, ListingSeparatesFilesFromFoldersAndFailsOnAFile) {
  Write(root_ / L"from/a.txt", "a");
  Write(root_ / L"from" / kUnicodeName, "u");
  fs::create_directory(root_ / L"from/Sub");
  const auto folder = fso_->GetFolder(U8(L"from"));
  std::vector<std::string> files, folders;
  folder->ForEachFile([&](std::string name) { files.push_back(std::move(name)); });
  folder->ForEachSubFolder([&](std::string name) { folders.push_back(std::move(name)); });
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"a.txt", Narrow(kUnicodeName)}));
  EXPECT_EQ(Narrow(kUnicodeName), reinterpret_cast<const char*>(u8"Ünïcödé-日本.txt"));
  EXPECT_EQ(folders, std::vector<std::string>{"Sub"});
  // The path, then the system's own words.
  try {
    fso_->GetFolder(U8(L"from\\a.txt"));
    ADD_FAILURE() << "a file opened as a folder";
  } catch (const Failure& failure) {
    EXPECT_EQ(std::string(failure.what()).rfind(U8(L"from\\a.txt") + ": ", 0), 0u);
    EXPECT_GT(std::string(failure.what()).size(), U8(L"from\\a.txt").size() + 4);
  }
  EXPECT_THROW(fso_->GetFolder(U8(L"missing")), Failure);
}

TEST_F(Win32FileSystemTest, CopyIsByteExactUnderAUnicodeNameWithItsTimeAndNoTemporary) {
  // Past the copy buffer's size, with bytes a text conversion would spoil.
  std::string data((1 << 20) + 3, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>(i * 7);
  }
  Write(root_ / L"from" / kUnicodeName, data);
  const auto old_time =
      fs::last_write_time(root_ / L"from" / kUnicodeName) - std::chrono::hours(9999);
  fs::last_write_time(root_ / L"from" / kUnicodeName, old_time);

  fso_->CopyFile(U8(L"from\\" + kUnicodeName), U8(L"to\\" + kUnicodeName), true);
  EXPECT_TRUE(Read(root_ / L"to" / kUnicodeName) == data);
  EXPECT_EQ(fs::last_write_time(root_ / L"to" / kUnicodeName), old_time);
  EXPECT_EQ(Names(root_ / L"to"), std::vector<std::wstring>{kUnicodeName});
}

TEST_F(Win32FileSystemTest, ReplacingLeavesNoTemporaryAndAFailureLeavesTheOldFile) {
  Write(root_ / L"from/f.txt", "new");
  Write(root_ / L"to/f.txt", "old");
  EXPECT_THROW(fso_->CopyFile(U8(L"from\\f.txt"), U8(L"to\\f.txt"), false), Failure);
  EXPECT_EQ(Read(root_ / L"to/f.txt"), "old");
  fso_->CopyFile(U8(L"from\\f.txt"), U8(L"to\\f.txt"), true);
  EXPECT_EQ(Read(root_ / L"to/f.txt"), "new");

  // Another program holds the destination open and does not let it go: the data is copied, the
  // move fails.
  Write(root_ / L"from/f.txt", "newer");
  HANDLE held = ::CreateFileW((root_ / L"to/f.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_THROW(fso_->CopyFile(U8(L"from\\f.txt"), U8(L"to\\f.txt"), true), Failure);
  ::CloseHandle(held);
  fs::create_directory(root_ / L"to/dir");
  EXPECT_THROW(fso_->CopyFile(U8(L"from\\f.txt"), U8(L"to\\dir"), true), Failure);
  EXPECT_THROW(fso_->CopyFile(U8(L"from\\gone.txt"), U8(L"to\\f.txt"), true), Failure);
  EXPECT_EQ(Read(root_ / L"to/f.txt"), "new");
  EXPECT_EQ(Names(root_ / L"to"), (std::vector<std::wstring>{L"dir", L"f.txt"}));

  // A read-only file of the same name is replaced too, as Explorer's copies often are.
  ASSERT_TRUE(::SetFileAttributesW((root_ / L"to/f.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  fso_->CopyFile(U8(L"from\\f.txt"), U8(L"to\\f.txt"), true);
  EXPECT_EQ(Read(root_ / L"to/f.txt"), "newer");
}

TEST_F(Win32FileSystemTest, CopyFolderMergesIntoTheDestinationAndReplacesFiles) {
  fs::create_directories(root_ / L"from/tree/empty");
  fs::create_directories(root_ / L"from/tree/a/b");
  Write(root_ / L"from/tree/x.txt", "x new");
  Write(root_ / L"from/tree/a/b/deep.txt", "deep");
  fs::create_directories(root_ / L"to/tree/a");
  Write(root_ / L"to/tree/x.txt", "x old");
  Write(root_ / L"to/tree/a/keep.txt", "keep");

  fso_->CopyFolder(U8(L"from\\tree"), U8(L"to\\tree"), true);
  fso_->Flush(Narrow(root_.wstring()));
  EXPECT_EQ(Read(root_ / L"to/tree/x.txt"), "x new");
  EXPECT_EQ(Read(root_ / L"to/tree/a/keep.txt"), "keep");
  EXPECT_EQ(Read(root_ / L"to/tree/a/b/deep.txt"), "deep");
  EXPECT_TRUE(fs::is_directory(root_ / L"to/tree/empty"));

  // A folder copied into itself, or onto the folder that holds it, fails before anything is
  // written; so does a file where a folder is needed.
  EXPECT_THROW(fso_->CopyFolder(U8(L"from"), U8(L"from\\tree\\inner"), true), CopyRefused);
  EXPECT_FALSE(fs::exists(root_ / L"from/tree/inner"));
  EXPECT_THROW(fso_->CopyFolder(U8(L"from\\tree\\a"), U8(L"from\\tree"), true), CopyRefused);
  EXPECT_EQ(Read(root_ / L"from/tree/x.txt"), "x new");
  Write(root_ / L"to/clash", "file");
  fs::create_directory(root_ / L"from/clash");
  EXPECT_THROW(fso_->CopyFolder(U8(L"from\\clash"), U8(L"to\\clash"), true), Failure);
  EXPECT_EQ(Read(root_ / L"to/clash"), "file");
}

}  // namespace
}  // namespace salvatrix::win32
