// copy_bench SRC_DIR DST_DIR: copies every entry of SRC_DIR into DST_DIR the way the program
// does (files first, then folders, replacing same-named files), flushes DST_DIR and prints the
// elapsed seconds.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/posix/copy_engine.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SRC_DIR DST_DIR\n", argv[0]);
    return 2;
  }
  const fs::path source = argv[1];
  const fs::path destination = argv[2];
  const auto start = std::chrono::steady_clock::now();

  std::vector<fs::path> files;
  std::vector<fs::path> folders;
  std::error_code error;
  for (fs::directory_iterator it(source, error), end; !error && it != end; it.increment(error)) {
    std::error_code type_error;
    if (it->is_regular_file(type_error)) {
      files.push_back(it->path());
    } else if (it->is_directory(type_error)) {
      folders.push_back(it->path());
    }
  }
  if (error) {
    std::fprintf(stderr, "%s: %s\n", source.c_str(), error.message().c_str());
    return 1;
  }

  for (const fs::path& file : files) {
    if (auto copy_error = salvatrix::posix::CopyFile(file, destination / file.filename(), true)) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), copy_error.message().c_str());
      return 1;
    }
  }
  for (const fs::path& folder : folders) {
    if (auto copy_error =
            salvatrix::posix::CopyFolder(folder, destination / folder.filename(), true)) {
      std::fprintf(stderr, "%s: %s\n", folder.c_str(), copy_error.message().c_str());
      return 1;
    }
  }
  if (auto flush_error = salvatrix::posix::Flush(destination)) {
    std::fprintf(stderr, "%s: %s\n", destination.c_str(), flush_error.message().c_str());
    return 1;
  }

  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", elapsed.count());
  return 0;
}
