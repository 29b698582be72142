// salvatrix_bench: the measurements behind "make bench" (see run_bench.sh).
//   copy SOURCE_DIR MOUNT_POINT MOUNT_COMMAND...   one copy through the program's window
//   startup DIR ROUNDS                             start-up against a minimal Qt window
//   startup-portable PORTABLE_BENCH DIR ROUNDS     start-up, static Qt against the system's
//   idle DIR                                       the program left alone, for strace

#include <cstdio>
#include <string_view>

#include "bench/bench_main.h"

int main(int argc, char** argv) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "copy") {
    return salvatrix::bench::RunCopy(argc - 1, argv + 1);
  }
  if (command == "startup") {
    return salvatrix::bench::RunStartup(argc - 1, argv + 1);
  }
  if (command == "startup-portable") {
    return salvatrix::bench::RunStartupPortable(argc - 1, argv + 1);
  }
  if (command == "idle") {
    return salvatrix::bench::RunIdle(argc - 1, argv + 1);
  }
  if (command == "startup-child") {
    return salvatrix::bench::RunStartupChild(argc - 1, argv + 1);
  }
  std::fprintf(stderr,
               "usage: salvatrix_bench copy SOURCE_DIR MOUNT_POINT MOUNT_COMMAND...\n"
               "       salvatrix_bench startup DIR ROUNDS\n"
               "       salvatrix_bench startup-portable PORTABLE_BENCH DIR ROUNDS\n"
               "       salvatrix_bench idle DIR\n");
  return 2;
}
