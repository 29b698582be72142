#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "platform/window_upkeep.h"

namespace salvatrix::qt {

/// Keeps Qt's windows answered while the GUI thread waits: the window system's events (X11's
/// _NET_WM_PING is answered as the xcb connection's events are handled, Wayland's ping as its
/// queue is dispatched), expose events and paints go through; input, clocks and the device
/// watchers' descriptors as the core admits them.
class QtWindowUpkeep final : public QObject, public WindowUpkeep {
 public:
  /// device_watchers owns the socket notifiers of the device messages; nullptr for none.
  explicit QtWindowUpkeep(QObject* device_watchers = nullptr);

  void AnswerPending(const std::function<Admission(WindowTraffic)>& admit) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QObject> device_watchers_;
};

}  // namespace salvatrix::qt
