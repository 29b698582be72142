#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace salvatrix::testing {

/// A new, empty folder below base, named prefix and a random number.
inline std::filesystem::path MakeTempDir(
    const std::string& prefix,
    const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
  std::mt19937_64 random{std::random_device{}()};
  std::filesystem::path dir;
  do {
    dir = base / (prefix + std::to_string(random()));
  } while (!std::filesystem::create_directory(dir));
  return dir;
}

/// A folder made by MakeTempDir, removed with all it holds when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix,
                   const std::filesystem::path& base = std::filesystem::temp_directory_path())
      : path_(MakeTempDir(prefix, base)) {}
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace salvatrix::testing
