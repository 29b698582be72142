#pragma once

// What the end-to-end tests share: shell commands, files, and running the event loop.

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace salvatrix::e2e {

inline bool Shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

/// The command's standard output without trailing blanks and line breaks.
inline std::string Capture(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
      output += buffer;
    }
    ::pclose(pipe);
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) {
    output.pop_back();
  }
  return output;
}

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

/// Runs the event loop until done() or the time is up; true when done.
inline bool SpinUntil(const std::function<bool()>& done, int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > milliseconds) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

/// Runs the event loop for a while.
inline void Spin(int milliseconds) {
  SpinUntil([] { return false; }, milliseconds);
}

/// Puts the process into a mount namespace of its own, where the test's mounts stay. That can
/// only be done while the process has one thread, so before Qt starts. The result says why it
/// could not be done (without_root when the process is not root), empty when it was.
inline std::string EnterPrivateMountNamespace(const std::string& without_root) {
  if (::geteuid() != 0) {
    return without_root;
  }
  if (::unshare(CLONE_NEWNS) != 0 ||
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return "cannot make a private mount namespace here";
  }
  return {};
}

/// Runs the tests in a QApplication, offscreen unless the environment names a platform.
inline int RunAllTestsWithQt(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
  }
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace salvatrix::e2e
