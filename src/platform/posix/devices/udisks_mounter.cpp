#include "platform/posix/devices/udisks_mounter.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <system_error>
#include <utility>

namespace salvatrix::posix {
namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kBlockInterface = "org.freedesktop.UDisks2.Block";
constexpr const char* kFilesystemInterface = "org.freedesktop.UDisks2.Filesystem";
// Reading properties is quick unless udisks hangs; a mount may take a few seconds for a large
// or unclean filesystem. Either way the stick's line waits no longer than this for an answer.
constexpr std::uint64_t kHintsTimeoutUsec = 5'000'000;
constexpr std::uint64_t kMountTimeoutUsec = 15'000'000;
// A burst of messages is handled over several wake-ups rather than holding the UI thread.
constexpr int kMaxMessagesPerWakeup = 64;

bool IsUnavailable(const sd_bus_error* error) {
  return sd_bus_error_has_names(error, SD_BUS_ERROR_SERVICE_UNKNOWN,
                                SD_BUS_ERROR_NAME_HAS_NO_OWNER) > 0;
}

// Nothing but what decides the mount is read; any other property is skipped, and a malformed
// reply leaves the safe defaults (a system device, not to be mounted).
BlockHints ReadHints(sd_bus_message* reply) {
  BlockHints hints;
  BlockHints read;
  if (sd_bus_message_enter_container(reply, 'a', "{sv}") <= 0) {
    return hints;
  }
  int r = 0;
  while ((r = sd_bus_message_enter_container(reply, 'e', "sv")) > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read(reply, "s", &key) < 0 || key == nullptr) {
      return hints;
    }
    const std::string_view name(key);
    int flag = 0;
    const char* text = nullptr;
    if (name == "HintSystem" || name == "HintIgnore" || name == "HintAuto") {
      r = sd_bus_message_read(reply, "v", "b", &flag);
      (name == "HintSystem"   ? read.system
       : name == "HintIgnore" ? read.ignore
                              : read.automount) = flag != 0;
    } else if (name == "IdUsage") {
      r = sd_bus_message_read(reply, "v", "s", &text);
      read.usage = text == nullptr ? "" : text;
    } else {
      r = sd_bus_message_skip(reply, "v");
    }
    if (r < 0 || sd_bus_message_exit_container(reply) < 0) {
      return hints;
    }
  }
  return r < 0 ? hints : read;
}

}  // namespace

bool MayMountOnArrival(const BlockHints& hints) {
  return hints.usage == "filesystem" && !hints.system && !hints.ignore && hints.automount;
}

std::string UdisksBlockObjectPath(std::string_view kernel_name) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string path = "/org/freedesktop/UDisks2/block_devices/";
  for (const char c : kernel_name) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || byte == '_') {
      path += c;
    } else {
      path += '_';
      path += kHex[byte >> 4];
      path += kHex[byte & 0xF];
    }
  }
  return path;
}

struct UdisksMounter::Impl {
  struct Call {
    Impl* owner;
    std::uint64_t request;
    std::string name;
    bool mounting;
    sd_bus_slot* slot = nullptr;
    bool done = false;
  };
  struct Request {
    int open_calls = 0;
    bool mounted = false;
  };

  int epoll_fd = -1;
  int timer_fd = -1;
  sd_bus* bus = nullptr;
  int bus_fd = -1;
  bool warned_unavailable = false;
  std::list<Call> calls;  // stable addresses: sd-bus holds pointers to them
  std::map<std::uint64_t, Request> requests;
  std::vector<Finished> finished;

  Impl() {
    epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
    timer_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = timer_fd;
    if (epoll_fd < 0 || timer_fd < 0 ||
        ::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, timer_fd, &event) != 0) {
      const int error = errno;
      Close();
      throw std::system_error(error, std::generic_category(), "UDisks2 watch");
    }
  }

  ~Impl() { Close(); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void Close() {
    DropBus(false);
    for (int* fd : {&timer_fd, &epoll_fd}) {
      if (*fd >= 0) {
        ::close(*fd);
        *fd = -1;
      }
    }
  }

  void WarnUnavailable(const char* why) {
    if (!warned_unavailable) {
      warned_unavailable = true;
      std::fprintf(stderr,
                   "salvatrix: no UDisks2 on the system bus (%s); sticks nobody mounts "
                   "stay unmounted\n",
                   why);
    }
  }

  bool EnsureBus() {
    if (bus != nullptr && sd_bus_is_open(bus) > 0) {
      return true;
    }
    DropBus(false);
    sd_bus* opened = nullptr;
    int r = sd_bus_open_system(&opened);
    if (r < 0) {
      WarnUnavailable(std::strerror(-r));
      return false;
    }
    const int fd = sd_bus_get_fd(opened);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (fd < 0 || ::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) != 0) {
      sd_bus_close_unref(opened);
      WarnUnavailable("its connection cannot be watched");
      return false;
    }
    bus = opened;
    bus_fd = fd;
    return true;
  }

  // Every call still waiting ends unanswered. Not flushed: a bus that went away, or hangs,
  // must not hold the UI thread.
  void DropBus(bool report) {
    for (Call& call : calls) {
      if (!call.done) {
        if (report) {
          std::fprintf(stderr, "salvatrix: the system bus went away before /dev/%s was mounted\n",
                       call.name.c_str());
        }
        End(call, false);
      }
      call.slot = sd_bus_slot_unref(call.slot);
    }
    calls.clear();
    if (bus != nullptr) {
      if (bus_fd >= 0) {
        ::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, bus_fd, nullptr);
      }
      bus = sd_bus_close_unref(bus);
      bus_fd = -1;
    }
  }

  bool Start(std::uint64_t request, const std::string& name, bool mounting) {
    const std::string path = UdisksBlockObjectPath(name);
    sd_bus_message* message = nullptr;
    int r = sd_bus_message_new_method_call(
        bus, &message, kService, path.c_str(),
        mounting ? kFilesystemInterface : "org.freedesktop.DBus.Properties",
        mounting ? "Mount" : "GetAll");
    if (r >= 0) {
      // No password prompt for a mount nobody asked for in person: polkit's answer stands.
      r = mounting ? sd_bus_message_append(message, "a{sv}", 1, "auth.no_user_interaction", "b", 1)
                   : sd_bus_message_append(message, "s", kBlockInterface);
    }
    Call& call = calls.emplace_back(Call{this, request, name, mounting});
    if (r >= 0) {
      r = sd_bus_call_async(bus, &call.slot, message, &Impl::OnReply, &call,
                            mounting ? kMountTimeoutUsec : kHintsTimeoutUsec);
    }
    sd_bus_message_unref(message);
    if (r < 0) {
      calls.pop_back();
      return false;
    }
    ++requests[request].open_calls;
    return true;
  }

  static int OnReply(sd_bus_message* reply, void* userdata, sd_bus_error* /*unused*/) {
    Call& call = *static_cast<Call*>(userdata);
    call.owner->Answered(call, reply);
    return 1;
  }

  void Answered(Call& call, sd_bus_message* reply) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    if (error != nullptr) {
      if (IsUnavailable(error)) {
        WarnUnavailable(error->message != nullptr ? error->message : error->name);
      } else if (call.mounting &&
                 sd_bus_error_has_name(error, "org.freedesktop.UDisks2.Error.AlreadyMounted")) {
        End(call, true);  // someone else was quicker
        return;
      } else if (call.mounting) {
        std::fprintf(stderr, "salvatrix: UDisks2 did not mount /dev/%s: %s\n", call.name.c_str(),
                     error->message != nullptr ? error->message : error->name);
      }
      End(call, false);
      return;
    }
    if (!call.mounting && MayMountOnArrival(ReadHints(reply))) {
      Start(call.request, call.name, true);
    }
    End(call, call.mounting);
  }

  void End(Call& call, bool mounted) {
    call.done = true;
    const auto found = requests.find(call.request);
    if (found == requests.end()) {
      return;
    }
    found->second.mounted = found->second.mounted || mounted;
    if (--found->second.open_calls <= 0) {
      finished.push_back({call.request, found->second.mounted});
      requests.erase(found);
    }
  }

  // The bus says when it wants to write, and until when its calls may wait.
  void Rearm() {
    itimerspec when{};
    if (bus != nullptr) {
      const int events = sd_bus_get_events(bus);
      epoll_event event{};
      event.events = EPOLLIN | ((events > 0 && (events & POLLOUT) != 0) ? EPOLLOUT : 0u);
      event.data.fd = bus_fd;
      ::epoll_ctl(epoll_fd, EPOLL_CTL_MOD, bus_fd, &event);
      std::uint64_t usec = 0;
      if (sd_bus_get_timeout(bus, &usec) > 0 && usec != UINT64_MAX) {
        usec = std::max<std::uint64_t>(usec, 1);  // 0 would disarm the timer
        when.it_value.tv_sec = static_cast<time_t>(usec / 1'000'000);
        when.it_value.tv_nsec = static_cast<long>((usec % 1'000'000) * 1000);
      }
    }
    ::timerfd_settime(timer_fd, TFD_TIMER_ABSTIME, &when, nullptr);
  }

  std::vector<Finished> Process() {
    std::uint64_t expirations = 0;
    while (::read(timer_fd, &expirations, sizeof expirations) > 0) {
    }
    if (bus != nullptr) {
      int r = 1;
      for (int i = 0; i < kMaxMessagesPerWakeup && r > 0; ++i) {
        r = sd_bus_process(bus, nullptr);
      }
      if (r < 0 || sd_bus_is_open(bus) <= 0) {
        DropBus(true);
      }
    }
    calls.remove_if([](Call& call) {
      if (call.done) {
        sd_bus_slot_unref(call.slot);
      }
      return call.done;
    });
    Rearm();
    return std::exchange(finished, {});
  }
};

UdisksMounter::UdisksMounter() : impl_(std::make_unique<Impl>()) {}

UdisksMounter::~UdisksMounter() = default;

bool UdisksMounter::Mount(std::uint64_t request, const std::vector<std::string>& kernel_names) {
  if (kernel_names.empty() || !impl_->EnsureBus()) {
    return false;
  }
  bool asked = false;
  for (const std::string& name : kernel_names) {
    asked = impl_->Start(request, name, false) || asked;
  }
  impl_->Rearm();
  return asked;
}

int UdisksMounter::Fd() const {
  return impl_->epoll_fd;
}

std::vector<UdisksMounter::Finished> UdisksMounter::Process() {
  return impl_->Process();
}

}  // namespace salvatrix::posix
