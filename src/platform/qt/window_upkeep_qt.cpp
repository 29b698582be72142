#include "platform/qt/window_upkeep_qt.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QSocketNotifier>
#include <vector>

namespace salvatrix::qt {
namespace {

// Pending events are handled for at most this long at a time; the wait goes on after it.
constexpr int kMostMs = 50;

bool IsInput(const QEvent& event) {
  switch (event.type()) {
    case QEvent::Close:
      // The window system's close (the title bar's button) is the user's; the program's own
      // closing is not.
      return event.spontaneous();
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
      return true;
    default:
      return event.isInputEvent();
  }
}

}  // namespace

QtWindowUpkeep::QtWindowUpkeep(QObject* device_watchers) : device_watchers_(device_watchers) {}

void QtWindowUpkeep::AnswerPending(const std::function<Admission(WindowTraffic)>& admit) {
  QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
  const Admission input = admit(WindowTraffic::kInput);
  if (input == Admission::kLeave) {
    flags |= QEventLoop::ExcludeUserInputEvents;
  }
  // A tick cannot be taken away and given back later; only left due.
  if (admit(WindowTraffic::kTimer) != Admission::kHandle) {
    flags |= QEventLoop::X11ExcludeTimers;
  }
  // The glib event dispatcher ignores ExcludeSocketNotifiers, so the device watchers' own
  // notifiers are switched off instead; a descriptor still readable afterwards is reported
  // again, so nothing is lost.
  std::vector<QPointer<QSocketNotifier>> held;
  if (admit(WindowTraffic::kDeviceMessage) != Admission::kHandle && device_watchers_ != nullptr) {
    for (QSocketNotifier* notifier : device_watchers_->findChildren<QSocketNotifier*>()) {
      if (notifier->isEnabled()) {
        notifier->setEnabled(false);
        held.emplace_back(notifier);
      }
    }
  }
  const bool discard_input = input == Admission::kDiscard;
  if (discard_input) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  QCoreApplication::processEvents(flags, kMostMs);
  if (discard_input) {
    QCoreApplication::instance()->removeEventFilter(this);
  }
  for (const QPointer<QSocketNotifier>& notifier : held) {
    if (notifier != nullptr) {
      notifier->setEnabled(true);
    }
  }
}

bool QtWindowUpkeep::eventFilter(QObject* watched, QEvent* event) {
  if (IsInput(*event)) {
    event->ignore();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace salvatrix::qt
