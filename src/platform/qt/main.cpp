#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/dispatch.h"
#include "app/form1.h"
#include "platform/posix/app_info_posix.h"
#include "platform/posix/drive_table.h"
#include "platform/posix/posix_file_system.h"
#include "platform/qt/display_check.h"
#include "platform/qt/main_window.h"
#include "platform/qt/notes_window.h"
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

  salvatrix::posix::DriveTable drives;
  salvatrix::posix::PosixFileSystem files{drives};
  salvatrix::posix::PosixAppInfo app_info;
  salvatrix::qt::QtMessageBoxes boxes;
  salvatrix::Form1 form{salvatrix::FormServices{drives, boxes, app_info, files}};
  salvatrix::qt::MainWindow window(form, boxes);
  salvatrix::qt::NotesView notes(form.Notes());

  // The window mirrors the models from its construction on, so it opens already showing what
  // Form_Load put into them.
  if (!salvatrix::DispatchHandler(boxes, [&form] { form.Form_Load(); })) {
    return 1;
  }
  window.show();
  return QApplication::exec();
}
