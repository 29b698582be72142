#pragma once

// What the bench programs share: the program's services pointed at a data folder, boxes that
// answer by themselves, and a probe for the moment a window has come up and gone idle.

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/app_info.h"
#include "platform/message_boxes.h"
#include "platform/posix/app_info_posix.h"
#include "platform/qt/linux_program.h"

namespace salvatrix::bench {

/// The folder given stands for the folder of the program, whose own file is not in it.
class FolderAppInfo final : public AppInfo {
 public:
  explicit FolderAppInfo(std::string folder) : folder_(std::move(folder)) {}
  std::string SourceFolder() const override { return folder_; }
  std::string ExecutableFileName() const override { return "salvatrix"; }
  std::string JoinPath(std::string_view folder, std::string_view name) const override {
    return posix_.JoinPath(folder, name);
  }

 private:
  std::string folder_;
  posix::PosixAppInfo posix_;
};

/// Answers OK to every box, as a user who confirms would, and keeps each caption.
class OkBoxes final : public MessageBoxes {
 public:
  int Show(std::string_view text, std::string_view caption, int) override {
    shown.emplace_back(caption);
    texts.emplace_back(text);
    return kIdOk;
  }
  std::vector<std::string> shown;
  std::vector<std::string> texts;
};

/// A QApplication's arguments: just the program's name. Qt keeps them, so they live as long as
/// the application does.
class QtArguments final {
 public:
  explicit QtArguments(std::string name) : name_(std::move(name)) {}
  QtArguments(const QtArguments&) = delete;
  QtArguments& operator=(const QtArguments&) = delete;
  int& Count() { return count_; }
  char** Values() { return values_; }

 private:
  std::string name_;
  int count_ = 1;
  char* values_[2] = {name_.data(), nullptr};
};

/// The real program over folder in an application of its own, every box answered with OK.
struct ProgramInFolder {
  explicit ProgramInFolder(std::string folder) : info(std::move(folder)) {}

  QtArguments arguments{"salvatrix"};
  QApplication app{arguments.Count(), arguments.Values()};
  FolderAppInfo info;
  OkBoxes boxes;
  qt::LinuxProgram program{info, boxes};
};

/// Calls on_idle once: the first time the event loop is about to wait after a widget has been
/// painted, that is when the window is on screen and has nothing left to do.
class IdleProbe final : public QObject {
 public:
  explicit IdleProbe(std::function<void()> on_idle) : on_idle_(std::move(on_idle)) {
    QApplication::instance()->installEventFilter(this);
    connection_ = QObject::connect(QAbstractEventDispatcher::instance(),
                                   &QAbstractEventDispatcher::aboutToBlock, this, [this] {
                                     if (painted_ && !fired_) {
                                       fired_ = true;
                                       QObject::disconnect(connection_);
                                       on_idle_();
                                     }
                                   });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      painted_ = true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> on_idle_;
  QMetaObject::Connection connection_;
  bool painted_ = false;
  bool fired_ = false;
};

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// The peak resident set of this process so far, in KiB.
long PeakRssKib();

}  // namespace salvatrix::bench
