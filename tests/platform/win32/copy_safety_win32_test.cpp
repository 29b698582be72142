// A drive is untrusted input: links, names it folds together, a changing source and stale
// temporaries in the copy's way.
#include <windows.h>
#undef CopyFile

#include <gtest/gtest.h>

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
using Strings = std::vector<std::wstring>;

// wine 8 makes no links (CreateSymbolicLinkW does nothing, FSCTL_SET_REPARSE_POINT is refused)
// but shows a Linux symbolic link as one, so under wine the test asks Linux for links.
std::string UnixPath(const fs::path& path) {
  const FARPROC proc = ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name");
  if (proc == nullptr) {
    return {};
  }
  using ToUnix = char*(CDECL*)(const wchar_t*);
  char* unix_path = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(proc))(path.c_str());
  std::string result = unix_path != nullptr ? unix_path : "";
  ::HeapFree(::GetProcessHeap(), 0, unix_path);
  return result;
}

// Only under wine: a Linux system call.
long LinuxCall(long number, const char* first, const char* second) {
  long result = -1;
#if defined(__x86_64__)
  asm volatile("syscall"
               : "=a"(result)
               : "a"(number), "D"(first), "S"(second)
               : "rcx", "r11", "memory");
#endif
  return result;
}

class Win32CopySafetyTest : public testing::TestFolder {
 protected:
  void SetUp() override {
    TestFolder::SetUp();
    fs::create_directories(root_ / L"elsewhere/empty");
    Write(root_ / L"elsewhere/keep.txt", "keep");
  }
  void TearDown() override {
    // Links go first, by themselves: a removal that followed one would empty its target.
    for (const fs::path& link : links_) {
      if (const std::string unix_link = UnixPath(link); !unix_link.empty()) {
        LinuxCall(87 /* unlink */, unix_link.c_str(), nullptr);
      } else if (!::RemoveDirectoryW(link.c_str())) {
        ::DeleteFileW(link.c_str());
      }
    }
    TestFolder::TearDown();
  }

  // Makes a link at relative leading to target, both below the test's folder; skips the test
  // where the system makes none.
  void Link(const std::wstring& relative, const std::wstring& target, bool folder) {
    const fs::path link = root_ / relative;
    constexpr DWORD kUnprivileged = 2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    const bool made = UnixPath(link).empty()
                          ? ::CreateSymbolicLinkW(link.c_str(), (root_ / target).c_str(),
                                                  (folder ? 1 : 0) | kUnprivileged) != 0
                          : LinuxCall(88 /* symlink */, UnixPath(root_ / target).c_str(),
                                      UnixPath(link).c_str()) == 0;
    if (!made) {
      GTEST_SKIP() << "this system makes no symbolic links here";
    }
    links_.push_back(link);
  }

  // Whether the system opens a link itself when asked to (Windows) or what it leads to
  // (wine 8): only a link opened itself can be removed without touching its target.
  bool OpensLinksThemselves(const std::wstring& relative) const {
    HANDLE handle =
        ::CreateFileW((root_ / relative).c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILE_BASIC_INFO basic{};
    ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic);
    ::CloseHandle(handle);
    return (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }

  std::vector<fs::path> links_;
};

TEST_F(Win32CopySafetyTest, ALinkWhereTheCopyWritesIsReplacedOrFailsButNeverFollowed) {
  struct Case {
    const wchar_t* link;  // below the case's own destination folder
    bool to_folder;
    bool copy_folder;  // CopyFolder from\Docs to Docs, else CopyFile from\f.txt to f.txt
  };
  const Case cases[] = {
      {L"Docs", true, true},    {L"Docs\\inner", true, true}, {L"Docs\\inner\\f.txt", false, true},
      {L"f.txt", false, false}, {L"f.txt", true, false},
  };
  fs::create_directories(root_ / L"from/Docs/inner");
  Write(root_ / L"from/Docs/inner/f.txt", "new");
  Write(root_ / L"from/f.txt", "new");
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(::testing::Message() << fs::path(c.link).string() << " to folder " << c.to_folder);
    const std::wstring to = L"to\\" + std::to_wstring(i) + L"\\";
    fs::create_directories((root_ / (to + c.link)).parent_path());
    Link(to + c.link, c.to_folder ? L"elsewhere\\empty" : L"elsewhere\\keep.txt", c.to_folder);
    if (IsSkipped()) {
      return;
    }
    const auto copy = [&] {
      c.copy_folder ? fso_->CopyFolder(U8(L"from\\Docs"), U8(to + L"Docs"), true)
                    : fso_->CopyFile(U8(L"from\\f.txt"), U8(to + L"f.txt"), true);
    };
    // A file takes its name by a rename, which replaces even a link; a folder link must be
    // removed, which only a link opened itself allows.
    if (!c.to_folder || OpensLinksThemselves(to + c.link)) {
      EXPECT_NO_THROW(copy());
      EXPECT_EQ(Read(root_ / (to + (c.copy_folder ? L"Docs\\inner\\f.txt" : L"f.txt"))), "new");
    } else {
      EXPECT_THROW(copy(), Failure);
    }
    // Nothing written through the link, and nothing removed through it (an empty folder is
    // what removing a followed link would take).
    EXPECT_EQ(Names(root_ / L"elsewhere"), (Strings{L"empty", L"keep.txt"}));
    EXPECT_TRUE(Names(root_ / L"elsewhere/empty").empty());
    EXPECT_EQ(Read(root_ / L"elsewhere/keep.txt"), "keep");
  }
}

TEST_F(Win32CopySafetyTest, TwoNamesTheDriveTakesForOneFailAndTheFirstKeepsItsContent) {
  // The source side may tell case apart (a case-sensitive folder, a drive made on Linux).
  fs::create_directories(root_ / L"from/a/Photos");
  fs::create_directories(root_ / L"from/b/photos");
  Write(root_ / L"from/a/README.txt", "upper");
  Write(root_ / L"from/b/readme.txt", "lower");
  Write(root_ / L"from/a/Photos/one.jpg", "1");
  Write(root_ / L"from/b/photos/two.jpg", "2");
  Write(root_ / L"from/a/notes.txt", "new notes");
  Write(root_ / L"to/NOTES.TXT", "old notes");  // on the drive before the job: replaced

  fso_->CopyFile(U8(L"from\\a\\README.txt"), U8(L"to\\README.txt"), true);
  fso_->CopyFile(U8(L"from\\a\\README.txt"), U8(L"to\\README.txt"), true);  // same name again
  EXPECT_THROW(fso_->CopyFile(U8(L"from\\b\\readme.txt"), U8(L"to\\readme.txt"), true), Failure);
  EXPECT_EQ(Read(root_ / L"to/README.txt"), "upper");
  fso_->CopyFolder(U8(L"from\\a\\Photos"), U8(L"to\\Photos"), true);
  EXPECT_THROW(fso_->CopyFolder(U8(L"from\\b\\photos"), U8(L"to\\photos"), true), Failure);
  EXPECT_EQ(Names(root_ / L"to/Photos"), Strings{L"one.jpg"});
  fso_->CopyFile(U8(L"from\\a\\notes.txt"), U8(L"to\\notes.txt"), true);
  EXPECT_EQ(Names(root_ / L"to").size(), 3u) << "no temporary, one notes file";
  EXPECT_EQ(Read(root_ / L"to/notes.txt"), "new notes");
}

TEST_F(Win32CopySafetyTest, ASourceGivingMoreThanItsSizeAtOpenIsNotPublished) {
  // Linux's process files, as wine shows them, have size 0 and yet give bytes, like a file
  // growing while it is copied.
  const fs::path growing = L"Z:\\proc\\self\\status";
  if (UnixPath(growing).empty() || !fs::exists(growing)) {
    GTEST_SKIP() << "needs wine's view of /proc";
  }
  Write(root_ / L"to/status", "old");
  EXPECT_THROW(fso_->CopyFile(Narrow(growing.wstring()), U8(L"to\\status"), true), Failure);
  EXPECT_EQ(Read(root_ / L"to/status"), "old");
  EXPECT_EQ(Names(root_ / L"to"), Strings{L"status"});
}

TEST_F(Win32CopySafetyTest, LinksInsideACopiedFolderAreFollowedOnlyWhereTheyStayInside) {
  fs::create_directories(root_ / L"from/Docs/real");
  Write(root_ / L"from/Docs/real/a.txt", "a");
  Link(L"from\\Docs\\in", L"from\\Docs\\real", true);
  Link(L"from\\Docs\\inside.txt", L"from\\Docs\\real\\a.txt", false);
  Link(L"from\\Docs\\out", L"elsewhere", true);
  Link(L"from\\Docs\\secret.txt", L"elsewhere\\keep.txt", false);
  Link(L"from\\Docs\\loop", L"from\\Docs", true);
  if (IsSkipped()) {
    return;
  }
  fso_->CopyFolder(U8(L"from\\Docs"), U8(L"to\\Docs"), true);
  EXPECT_EQ(Names(root_ / L"to/Docs"), (Strings{L"in", L"inside.txt", L"real"}));
  EXPECT_EQ(Read(root_ / L"to/Docs/in/a.txt"), "a");
  EXPECT_EQ(Read(root_ / L"to/Docs/inside.txt"), "a");
}

TEST_F(Win32CopySafetyTest, StaleTemporariesGoButNoUsersFileAndNoneInUse) {
  fs::create_directories(root_ / L"from/Docs");
  fs::create_directories(root_ / L"to/Docs");
  fs::create_directories(root_ / L"to/.salvatrix-Fold00.tmp");
  for (const wchar_t* name :
       {L"from/f.txt", L"from/h.txt", L"from/Docs/d.txt", L"to/.salvatrix-Stale0.tmp",
        L"to/Docs/.salvatrix-Stale1.tmp", L"to/.salvatrix-InUse0.tmp", L"to/.salvatrix-notes.tmp",
        L"to/salvatrix-abcdef.tmp", L"to/.salvatrix-abcde.tmp"}) {
    Write(root_ / name, "x");
  }
  ::SetFileAttributesW((root_ / L"from/h.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  // Another running copy writes this one: it holds it without sharing.
  HANDLE in_use = ::CreateFileW((root_ / L"to/.salvatrix-InUse0.tmp").c_str(), GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(in_use, INVALID_HANDLE_VALUE);

  fso_->CopyFile(U8(L"from\\f.txt"), U8(L"to\\f.txt"), true);
  fso_->CopyFile(U8(L"from\\h.txt"), U8(L"to\\h.txt"), true);
  fso_->CopyFolder(U8(L"from\\Docs"), U8(L"to\\Docs"), true);
  ::CloseHandle(in_use);
  EXPECT_EQ(Names(root_ / L"to"), (Strings{L".salvatrix-Fold00.tmp", L".salvatrix-InUse0.tmp",
                                           L".salvatrix-abcde.tmp", L".salvatrix-notes.tmp",
                                           L"Docs", L"f.txt", L"h.txt", L"salvatrix-abcdef.tmp"}));
  EXPECT_EQ(Names(root_ / L"to/Docs"), Strings{L"d.txt"});
  // The temporary's hidden mark does not stay on the copy; the source's own marks do.
  EXPECT_EQ(::GetFileAttributesW((root_ / L"to/f.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_NE(::GetFileAttributesW((root_ / L"to/h.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

  // The next job removes the one that was in use.
  policy_.CreateObject()->CopyFile(U8(L"from\\f.txt"), U8(L"to\\f.txt"), true);
  EXPECT_FALSE(fs::exists(root_ / L"to/.salvatrix-InUse0.tmp"));
}

}  // namespace
}  // namespace salvatrix::win32
