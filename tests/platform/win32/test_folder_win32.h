#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "copy/policy/copy_policy.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32::testing {

namespace fs = std::filesystem;

inline void Write(const fs::path& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

inline std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

/// The names in a folder, sorted.
inline std::vector<std::wstring> Names(const fs::path& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().wstring());
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// A test with its own folder, holding the empty folders from and to, removed again after it.
class TestFolder : public ::testing::Test {
 protected:
  // wine hands out the same few process ids again and again: a folder left over by an earlier
  // run is cleared first.
  void SetUp() override {
    fs::remove_all(root_);
    fs::create_directories(root_ / L"from");
    fs::create_directories(root_ / L"to");
  }
  void TearDown() override { fs::remove_all(root_); }

  /// The UTF-8 path of relative below the test's folder, as the file-system object takes it.
  std::string U8(const std::wstring& relative) const {
    return Narrow((root_ / relative).wstring());
  }

  const fs::path root_ =
      fs::temp_directory_path() / (L"salvatrix-" + std::to_wstring(::GetCurrentProcessId()));
  // A job's file-system object, as the program makes it.
  Win32Files primitives_;
  CopyPolicy policy_{primitives_};
  std::unique_ptr<FileSystemObject> fso_ = policy_.CreateObject();
};

}  // namespace salvatrix::win32::testing
