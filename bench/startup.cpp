// salvatrix_bench startup DIR ROUNDS
//
// Start-up to an idle window with DIR as the program's folder, against a minimal Qt window (one
// QListWidget) that lists the same file names: paired runs in alternating order, each a new
// process timed from its start to the moment its window is painted and its event loop waits.
// The program's runs then untick and tick "Select/Deselect All" under the files.

#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <QListWidget>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_main.h"
#include "bench/bench_support.h"
#include "platform/qt/linux_program.h"

namespace salvatrix::bench {

long PeakRssKib() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

namespace {

void WriteLine(int fd, const std::string& line) {
  const std::string text = line + "\n";
  if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    std::perror("write");
  }
}

QStringList FileNames(const std::string& folder) {
  QStringList names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_type == DT_REG) {
        names.append(QString::fromUtf8(entry->d_name));
      }
    }
    ::closedir(dir);
  }
  return names;
}

/// Times one click on a check box until the window has shown what followed.
double TimeClick(QCheckBox* check) {
  const auto start = std::chrono::steady_clock::now();
  check->click();
  QApplication::processEvents();
  return SecondsSince(start);
}

int RunProgramChild(const std::string& folder, int fd) {
  ProgramInFolder running(folder);
  qt::LinuxProgram& program = running.program;
  IdleProbe probe([&] {
    WriteLine(fd, "idle");
    const long idle_rss = PeakRssKib();
    // The rest runs from the loop, as a click would.
    QTimer::singleShot(0, &program.Window(), [&program, fd, idle_rss] {
      auto* check = program.Window().findChild<QCheckBox*>(QStringLiteral("Check3"));
      const auto* files = program.Window().findChild<QListWidget*>(QStringLiteral("List4"));
      const int count = program.Form().List4.ListCount();
      const double select = TimeClick(check);  // ticked: every file selected
      const bool all_shown = files->selectedItems().size() == count;
      const double deselect = TimeClick(check);  // unticked: none
      const bool agrees = all_shown && files->selectedItems().isEmpty() && files->count() == count;
      char line[200];
      std::snprintf(line, sizeof line, "select=%.4f deselect=%.4f rss_kib=%ld peak_kib=%ld %s",
                    select, deselect, idle_rss, PeakRssKib(), agrees ? "ok" : "MISMATCH");
      WriteLine(fd, line);
      QCoreApplication::exit(0);
    });
  });
  if (!program.Start()) {
    return 1;
  }
  program.Window().activateWindow();
  return QApplication::exec();
}

int RunMinimalChild(const std::string& folder, int fd) {
  QtArguments arguments("minimal");
  QApplication app(arguments.Count(), arguments.Values());
  QListWidget list;
  // As the program's lists do: equal row heights, so that the baseline is no slower than it
  // need be.
  list.setUniformItemSizes(true);
  list.addItems(FileNames(folder));
  IdleProbe probe([fd] {
    WriteLine(fd, "idle");
    char line[100];
    std::snprintf(line, sizeof line, "rss_kib=%ld", PeakRssKib());
    WriteLine(fd, line);
    QCoreApplication::exit(0);
  });
  list.show();
  return QApplication::exec();
}

struct ChildRun {
  double to_idle = -1;
  std::string report;
};

/// Starts a bench program (this one unless told) as a child in the given mode; times it to its
/// "idle" line.
ChildRun Spawn(const char* mode, const std::string& folder, const char* exe = "/proc/self/exe") {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) {
    return {};
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    const std::string fd = std::to_string(pipe_fds[1]);
    ::execl(exe, "salvatrix_bench", "startup-child", mode, folder.c_str(), fd.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  ChildRun run;
  std::string received;
  char buffer[256];
  ssize_t got;
  while ((got = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
    if (run.to_idle < 0) {
      run.to_idle = SecondsSince(start);
    }
    received.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || received.rfind("idle\n", 0) != 0) {
    run.to_idle = -1;
  }
  run.report = received.size() > 5 ? received.substr(5) : "";
  while (!run.report.empty() && run.report.back() == '\n') {
    run.report.pop_back();
  }
  return run;
}

std::string Spread(std::vector<double> values, const char* format) {
  std::sort(values.begin(), values.end());
  char text[120];
  std::snprintf(text, sizeof text, format, values.front(), values[values.size() / 2],
                values.back());
  return text;
}

double Field(const std::string& report, const char* key) {
  const std::size_t at = report.find(key);
  return at == std::string::npos ? -1 : std::atof(report.c_str() + at + std::strlen(key));
}

}  // namespace

int RunStartupChild(int argc, char** argv) {
  if (argc != 4) {
    return 2;
  }
  const std::string mode = argv[1];
  const int fd = std::atoi(argv[3]);
  return mode == "program" ? RunProgramChild(argv[2], fd) : RunMinimalChild(argv[2], fd);
}

int RunStartup(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: salvatrix_bench startup DIR ROUNDS\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int rounds = std::max(1, std::atoi(argv[2]));
  std::vector<double> program_times, minimal_times, ratios, selects, deselects;
  long program_rss = 0, minimal_rss = 0;
  for (int round = 0; round < rounds; ++round) {
    ChildRun ours, minimal;
    if (round % 2 == 0) {
      ours = Spawn("program", folder);
      minimal = Spawn("minimal", folder);
    } else {
      minimal = Spawn("minimal", folder);
      ours = Spawn("program", folder);
    }
    if (ours.to_idle < 0 || minimal.to_idle < 0 || ours.report.find(" ok") == std::string::npos) {
      std::fprintf(stderr, "a start-up run failed: %s\n", ours.report.c_str());
      return 1;
    }
    program_times.push_back(ours.to_idle);
    minimal_times.push_back(minimal.to_idle);
    ratios.push_back(ours.to_idle / minimal.to_idle);
    selects.push_back(Field(ours.report, "select="));
    deselects.push_back(Field(ours.report, "deselect="));
    program_rss = std::max(program_rss, static_cast<long>(Field(ours.report, "peak_kib=")));
    minimal_rss = std::max(minimal_rss, static_cast<long>(Field(minimal.report, "rss_kib=")));
  }
  std::printf("  program  %s s   minimal window %s s   ratio %s\n",
              Spread(program_times, "%.3f/%.3f/%.3f").c_str(),
              Spread(minimal_times, "%.3f/%.3f/%.3f").c_str(),
              Spread(ratios, "%.2f/%.2f/%.2f").c_str());
  std::printf("  select all %s s   deselect all %s s   peak RSS program %.1f MB, minimal %.1f MB\n",
              Spread(selects, "%.4f/%.4f/%.4f").c_str(),
              Spread(deselects, "%.4f/%.4f/%.4f").c_str(), program_rss / 1024.0,
              minimal_rss / 1024.0);
  return 0;
}

int RunStartupPortable(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: salvatrix_bench startup-portable PORTABLE_BENCH DIR ROUNDS\n");
    return 2;
  }
  const char* portable_bench = argv[1];
  const std::string folder = argv[2];
  const int rounds = std::max(1, std::atoi(argv[3]));
  std::vector<double> portable_times, shared_times, ratios;
  for (int round = 0; round < rounds; ++round) {
    ChildRun portable, shared;
    if (round % 2 == 0) {
      portable = Spawn("program", folder, portable_bench);
      shared = Spawn("program", folder);
    } else {
      shared = Spawn("program", folder);
      portable = Spawn("program", folder, portable_bench);
    }
    if (portable.to_idle < 0 || shared.to_idle < 0) {
      std::fprintf(stderr, "a start-up run failed: %s / %s\n", portable.report.c_str(),
                   shared.report.c_str());
      return 1;
    }
    portable_times.push_back(portable.to_idle);
    shared_times.push_back(shared.to_idle);
    ratios.push_back(portable.to_idle / shared.to_idle);
  }
  std::printf("  portable %s s   shared Qt %s s   ratio %s\n",
              Spread(portable_times, "%.3f/%.3f/%.3f").c_str(),
              Spread(shared_times, "%.3f/%.3f/%.3f").c_str(),
              Spread(ratios, "%.2f/%.2f/%.2f").c_str());
  return 0;
}

}  // namespace salvatrix::bench
