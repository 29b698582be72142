#pragma once

#include <string>
#include <string_view>

namespace salvatrix {

/// What the running program knows about itself.
class AppInfo {
 public:
  virtual ~AppInfo() = default;

  /// The folder that holds the running executable, without a trailing separator except at a
  /// root. Fails when the platform cannot tell.
  virtual std::string SourceFolder() const = 0;
  /// The file name the platform really gives the running executable ("salvatrix" on Linux,
  /// "Salvatrix.exe" on Windows).
  virtual std::string ExecutableFileName() const = 0;
  /// The path of name inside folder, joined without doubling a separator at a root.
  virtual std::string JoinPath(std::string_view folder, std::string_view name) const = 0;
};

}  // namespace salvatrix
