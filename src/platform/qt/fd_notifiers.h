#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <vector>

#include "platform/posix/devices/device_watch.h"

class QSocketNotifier;

namespace salvatrix::qt {

/// Hooks file descriptors of the OS layer into the event loop: each is watched for reading, or
/// for an exceptional condition (POLLPRI, as the mount table signals a change), and on_ready is
/// called with the descriptor on the UI thread.
class FdNotifiers final : public QObject {
 public:
  using Fd = posix::DeviceWatch::WatchFd;

  FdNotifiers(std::function<std::vector<Fd>()> fds, std::function<void(int)> on_ready,
              QObject* parent = nullptr);

  /// Watches exactly the descriptors fds() gives now.
  void Resync();

 private:
  std::function<std::vector<Fd>()> fds_;
  std::function<void(int)> on_ready_;
  std::map<int, QSocketNotifier*> notifiers_;
};

}  // namespace salvatrix::qt
