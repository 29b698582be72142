// salvatrix_bench copy SOURCE_DIR MOUNT_POINT MOUNT_COMMAND...
//
// The copy as a user makes it: the real program (window, models, Linux services) starts on
// SOURCE_DIR; then the pen drive arrives (MOUNT_COMMAND mounts it on MOUNT_POINT), the user
// presses "Manual Override/Rescan", ticks "Select/Deselect All" under the sub-folders when there
// are any, presses "Copy Files to Drive" and confirms. Prints the seconds from the press to
// the return of the job ("FINISHED COPYING", the data flushed to the device).

#include <QCheckBox>
#include <QPushButton>
#include <cstdlib>
#include <string>

#include "bench/bench_main.h"
#include "bench/bench_support.h"
#include "platform/qt/linux_program.h"

namespace salvatrix::bench {
namespace {

template <typename W>
W* Find(QWidget& window, const char* name) {
  return window.findChild<W*>(QString::fromLatin1(name));
}

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

}  // namespace

int RunCopy(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: salvatrix_bench copy SOURCE_DIR MOUNT_POINT MOUNT_COMMAND...\n");
    return 2;
  }
  const std::string source = argv[1];
  const std::string mount_point = argv[2];
  std::string mount_command;
  for (int i = 3; i < argc; ++i) {
    mount_command += (i > 3 ? " " : "") + Quoted(argv[i]);
  }

  ProgramInFolder running(source);
  qt::LinuxProgram& program = running.program;
  OkBoxes& boxes = running.boxes;
  if (!program.Start()) {
    std::fprintf(stderr, "start-up failed: %s\n",
                 boxes.texts.empty() ? "" : boxes.texts[0].c_str());
    return 1;
  }
  qt::MainWindow& window = program.Window();
  window.activateWindow();
  bool idle = false;
  IdleProbe probe([&idle] { idle = true; });
  while (!idle) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }

  if (std::system(mount_command.c_str()) != 0) {
    std::fprintf(stderr, "cannot mount the stick: %s\n", mount_command.c_str());
    return 1;
  }
  Form1& form = program.Form();
  Find<QPushButton>(window, "cmdOverride")->click();
  const std::string destination = form.List2.Text();
  if (form.List3.ListCount() != 1 || destination != form.List3.List(0) ||
      form.Services().drives.DescribeDrive(destination).find(mount_point) == std::string::npos) {
    std::fprintf(stderr, "the stick at %s did not become the destination (%s)\n",
                 mount_point.c_str(), destination.c_str());
    return 1;
  }
  if (form.List6.ListCount() > 0) {
    Find<QCheckBox>(window, "Check2")->click();
  }
  QApplication::processEvents();
  boxes.shown.clear();

  const auto start = std::chrono::steady_clock::now();
  Find<QPushButton>(window, "cmdFileCopy")->click();
  const double seconds = SecondsSince(start);

  const bool finished = form.labelViewer.Caption() == "FINISHED COPYING" &&
                        boxes.shown.size() == 1 && boxes.shown[0] == "Confirm Copy";
  window.close();
  if (!finished) {
    std::fprintf(stderr, "the copy did not finish: %s (%zu boxes)\n",
                 form.labelViewer.Caption().c_str(), boxes.shown.size());
    return 1;
  }
  std::printf("%.4f\n", seconds);
  return 0;
}

}  // namespace salvatrix::bench
