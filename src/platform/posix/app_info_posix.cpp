#include "platform/posix/app_info_posix.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/failure.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;

fs::path ExecutablePath(const std::string& exe_link) {
  std::error_code error;
  fs::path target = fs::read_symlink(exe_link, error);
  if (error) {
    throw Failure("Cannot tell where the program is: reading the link " + exe_link +
                  " failed: " + error.message());
  }
  // /proc/self/exe is always absolute; a link a test made may be relative to its own folder.
  if (target.is_relative()) {
    target = fs::absolute(exe_link, error).parent_path() / target;
  }
  return target.lexically_normal();
}

// folder + "/" + name, without doubling the separator.
std::string JoinWithSlash(std::string_view folder, std::string_view name) {
  // An empty folder would otherwise turn name into a path at the root of the machine.
  if (folder.empty()) {
    return std::string(name);
  }
  std::string path(folder);
  if (!path.ends_with('/')) {
    path += '/';
  }
  path += name;
  return path;
}

}  // namespace

PosixAppInfo::PosixAppInfo(std::string exe_link) : exe_link_(std::move(exe_link)) {}

std::string PosixAppInfo::SourceFolder() const {
  return ExecutablePath(exe_link_).parent_path().string();
}

std::string PosixAppInfo::ExecutableFileName() const {
  return ExecutablePath(exe_link_).filename().string();
}

std::string PosixAppInfo::JoinPath(std::string_view folder, std::string_view name) const {
  return JoinWithSlash(folder, name);
}

PlacedAppInfo::PlacedAppInfo(std::string folder, std::string name)
    : folder_(std::move(folder)), name_(std::move(name)) {}

std::string PlacedAppInfo::JoinPath(std::string_view folder, std::string_view name) const {
  return JoinWithSlash(folder, name);
}

}  // namespace salvatrix::posix
