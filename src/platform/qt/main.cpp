#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/app_info_posix.h"
#include "platform/qt/display_check.h"
#include "platform/qt/linux_program.h"
#include "platform/qt/qt_message_boxes.h"

int main(int argc, char* argv[]) {
  // Without a display QApplication aborts with a long plugin report; one line says it better.
  const std::string no_display = salvatrix::qt::NoDisplayMessage(
      std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
  if (!no_display.empty()) {
    std::fprintf(stderr, "%s\n", no_display.c_str());
    return 1;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Salvatrix"));

  salvatrix::posix::PosixAppInfo app_info;
  salvatrix::qt::QtMessageBoxes boxes;
  salvatrix::qt::LinuxProgram program(app_info, boxes);
  if (!program.Start()) {
    return 1;
  }
  return QApplication::exec();
}
