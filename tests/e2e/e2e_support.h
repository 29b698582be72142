#pragma once

// What the end-to-end tests share: shell commands, files, and running the event loop.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

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

}  // namespace salvatrix::e2e
