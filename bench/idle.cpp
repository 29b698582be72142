// salvatrix_bench idle DIR
//
// The real program on DIR with its window active, left alone: prints "ready" and the object
// name of the widget with the keyboard focus once the window is up and idle, then runs until it
// is killed. run_bench.sh counts the wake-ups meanwhile with strace.

#include <QWidget>
#include <cstdio>
#include <string>

#include "bench/bench_main.h"
#include "bench/bench_support.h"
#include "platform/qt/linux_program.h"

namespace salvatrix::bench {

int RunIdle(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: salvatrix_bench idle DIR\n");
    return 2;
  }
  int qt_argc = 1;
  char name[] = "salvatrix";
  char* qt_argv[] = {name, nullptr};
  QApplication app(qt_argc, qt_argv);
  FolderAppInfo info(argv[1]);
  OkBoxes boxes;
  qt::LinuxProgram program(info, boxes);
  IdleProbe probe([] {
    const QWidget* focus = QApplication::focusWidget();
    std::printf("ready %s\n",
                focus != nullptr ? focus->objectName().toStdString().c_str() : "(no focus)");
    std::fflush(stdout);
  });
  if (!program.Start()) {
    return 1;
  }
  program.Window().activateWindow();
  return QApplication::exec();
}

}  // namespace salvatrix::bench
