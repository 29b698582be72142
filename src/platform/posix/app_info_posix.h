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

}  // namespace salvatrix::posix
