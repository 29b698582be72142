#include "platform/qt/fd_notifiers.h"

#include <QSocketNotifier>
#include <set>

namespace salvatrix::qt {

FdNotifiers::FdNotifiers(std::function<std::vector<Fd>()> fds, std::function<void(int)> on_ready,
                         QObject* parent)
    : QObject(parent), fds_(std::move(fds)), on_ready_(std::move(on_ready)) {}

void FdNotifiers::Resync() {
  std::set<int> wanted;
  for (const Fd& fd : fds_()) {
    wanted.insert(fd.fd);
    if (notifiers_.count(fd.fd) != 0) {
      continue;
    }
    auto* notifier = new QSocketNotifier(
        fd.fd, fd.priority ? QSocketNotifier::Exception : QSocketNotifier::Read, this);
    const int descriptor = fd.fd;
    connect(notifier, &QSocketNotifier::activated, this,
            [this, descriptor] { on_ready_(descriptor); });
    notifiers_[fd.fd] = notifier;
  }
  for (auto it = notifiers_.begin(); it != notifiers_.end();) {
    if (wanted.count(it->first) == 0) {
      // The descriptor may already be closed: stop watching before anything else polls it.
      it->second->setEnabled(false);
      it->second->deleteLater();
      it = notifiers_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace salvatrix::qt
