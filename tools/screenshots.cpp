// Pictures of the program's windows, for make screenshots (see screenshots.sh):
//
//   salvatrix_screenshots windows FOLDER OUT_PREFIX   the Linux program as started in FOLDER:
//                                                     OUT_PREFIX-main.png and -notes.png
//   salvatrix_screenshots grab X Y WIDTH HEIGHT OUT   a part of the screen, as OUT.png
//
// Both need a display (xvfb-run gives one). Exit code 1, with a message, when a picture could
// not be taken or saved.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/app_info_posix.h"
#include "platform/qt/linux_program.h"
#include "platform/qt/qt_message_boxes.h"

namespace {

bool Save(const QPixmap& picture, const QString& path) {
  if (picture.isNull() || !picture.save(path, "PNG")) {
    std::fprintf(stderr, "%s could not be taken or saved\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

void Settle() {
  for (int round = 0; round < 5; ++round) {
    QApplication::processEvents();
  }
}

int Windows(const std::string& folder, const QString& prefix) {
  salvatrix::posix::PlacedAppInfo app(folder, "salvatrix");
  salvatrix::qt::QtMessageBoxes boxes;
  salvatrix::qt::LinuxProgram program(app, boxes);
  if (!program.Start()) {
    return 1;
  }
  Settle();
  bool saved = Save(program.Window().grab(), prefix + "-main.png");
  program.Window().Dispatch([&program] { program.Form().Command1.Press(); });
  Settle();
  QWidget* notes = nullptr;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->objectName() == "Dialog" && window->isVisible()) {
      notes = window;
    }
  }
  if (notes == nullptr) {
    std::fprintf(stderr, "the notes window did not open\n");
    return 1;
  }
  saved = Save(notes->grab(), prefix + "-notes.png") && saved;
  program.Window().close();
  return saved ? 0 : 1;
}

int Grab(int x, int y, int width, int height, const QString& path) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "no screen to grab\n");
    return 1;
  }
  return Save(screen->grabWindow(0, x, y, width, height), path) ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "windows" && argc == 4) {
    return Windows(argv[2], QString::fromLocal8Bit(argv[3]));
  }
  if (command == "grab" && argc == 7) {
    return Grab(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                QString::fromLocal8Bit(argv[6]));
  }
  std::fprintf(stderr,
               "usage: salvatrix_screenshots windows FOLDER OUT_PREFIX\n"
               "       salvatrix_screenshots grab X Y WIDTH HEIGHT OUT.png\n");
  return 1;
}
