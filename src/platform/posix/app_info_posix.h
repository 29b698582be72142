#pragma once

#include <string>
#include <string_view>

#include "platform/app_info.h"

namespace salvatrix::posix {

/// The running program's folder and name, from /proc/self/exe.
class PosixAppInfo final : public AppInfo {
 public:
  /// exe_link: the link that names the running executable (a test may point it elsewhere).
  explicit PosixAppInfo(std::string exe_link = "/proc/self/exe");

  std::string SourceFolder() const override;
  std::string ExecutableFileName() const override;
  /// folder + "/" + name, without doubling the separator when folder is "/".
  std::string JoinPath(std::string_view folder, std::string_view name) const override;

 private:
  std::string exe_link_;
};

/// A program as if its executable, named name, lay in folder: for the benchmark and the tools,
/// which run the program's own code on a folder of their choosing. Joins as PosixAppInfo does.
class PlacedAppInfo final : public AppInfo {
 public:
  PlacedAppInfo(std::string folder, std::string name);

  std::string SourceFolder() const override { return folder_; }
  std::string ExecutableFileName() const override { return name_; }
  std::string JoinPath(std::string_view folder, std::string_view name) const override;

 private:
  std::string folder_;
  std::string name_;
};

}  // namespace salvatrix::posix
