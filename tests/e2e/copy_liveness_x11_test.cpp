// A copy that takes its time, in the real Qt window on an X server (CTest runs it under
// xvfb-run): a second connection plays the desktop, pinging the window with _NET_WM_PING as a
// window manager does and clicking with the XTest extension as the user's mouse does. The copy
// blocks until the desktop has done its part.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/dispatch.h"
#include "platform/qt/fd_notifiers.h"
#include "platform/qt/main_window.h"
#include "platform/qt/window_upkeep_qt.h"
#include "support/program_fixture.h"

namespace salvatrix::qt {
namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

/// The desktop: a window manager's pings and the user's mouse, on a connection of its own.
class Desktop final {
 public:
  Desktop() : connection_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    protocols_ = Atom(connection_, "WM_PROTOCOLS");
    ping_ = Atom(connection_, "_NET_WM_PING");
    // A client answers a ping by sending it back to the root window for the window manager;
    // Qt sends it to those who take the root's structure events.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
  }
  ~Desktop() { xcb_disconnect(connection_); }
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  /// Pings window; the milliseconds until its answer, or -1 when none came within limit_ms.
  double Ping(xcb_window_t window, std::uint32_t stamp, int limit_ms) {
    xcb_client_message_event_t ping{};
    ping.response_type = XCB_CLIENT_MESSAGE;
    ping.format = 32;
    ping.window = window;
    ping.type = protocols_;
    ping.data.data32[0] = ping_;
    ping.data.data32[1] = stamp;
    ping.data.data32[2] = window;
    const Clock::time_point sent = Clock::now();
    xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&ping));
    xcb_flush(connection_);
    for (;;) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const auto* answer = reinterpret_cast<const xcb_client_message_event_t*>(event);
        const bool answered = (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                              answer->type == protocols_ && answer->data.data32[0] == ping_ &&
                              answer->data.data32[1] == stamp;
        std::free(event);
        if (answered) {
          return std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        }
      }
      const auto left =
          limit_ms -
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
      if (left <= 0) {
        return -1;
      }
      pollfd ready{xcb_get_file_descriptor(connection_), POLLIN, 0};
      ::poll(&ready, 1, static_cast<int>(left));
    }
  }

  /// A left click at a point of the screen, as the mouse makes it.
  void Click(QPoint at) {
    xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_,
                        static_cast<std::int16_t>(at.x()), static_cast<std::int16_t>(at.y()), 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    // A round trip: the server has taken the input once it answers.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }

 private:
  xcb_connection_t* connection_;
  xcb_window_t root_ = 0;
  xcb_atom_t protocols_ = 0;
  xcb_atom_t ping_ = 0;
};

bool SpinUntil(const std::function<bool()>& done, int limit_ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < limit_ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

/// Counts the paints a widget gets while a copy job copies.
class PaintCounter final : public QObject {
 public:
  explicit PaintCounter(const CopyJob& job) : job_(job) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && job_.Copying()) {
      ++paints;
    }
    return QObject::eventFilter(watched, event);
  }
  std::atomic<int> paints{0};

 private:
  const CopyJob& job_;
};

TEST(CopyLivenessTest, TheWindowAnswersPingsAndRepaintsButTakesNoClickWhileItCopies) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
    GTEST_SKIP() << "needs an X server (CTest runs this under xvfb-run)";
  }
  testing::FakeProgram<> program;
  Form1& form = program.form;
  program.files.folders[program.app.folder] = {{"big.bin"}, {}};
  MainWindow window(form, program.boxes);

  // A device watcher's descriptor, and a clock that would tick at once.
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  std::vector<bool> device_ready_copying;
  FdNotifiers notifiers(
      [&] {
        return std::vector<FdNotifiers::Fd>{{pipe_fds[0], false}};
      },
      [&](int fd) {
        char byte = 0;
        static_cast<void>(::read(fd, &byte, 1));
        device_ready_copying.push_back(form.Copy().Copying());
      });
  notifiers.Resync();
  std::vector<bool> ticks_copying;
  form.Timer1.tick.Connect([&] { ticks_copying.push_back(form.Copy().Copying()); });
  QtWindowUpkeep upkeep(&notifiers);
  form.Copy().KeepWindowAnswered(&upkeep);

  ASSERT_TRUE(DispatchHandler(program.boxes, [&form] { form.Form_Load(); }));
  const auto copies = [&program] {
    return std::count_if(program.files.calls.begin(), program.files.calls.end(),
                         [](const auto& call) { return call.op == "CopyFile"; });
  };
  window.show();
  ASSERT_TRUE(SpinUntil([&] { return window.windowHandle()->isExposed(); }, 5000));
  window.findChild<QTimer*>(QStringLiteral("Timer1"))->setInterval(5);
  form.List3.AddItem("E:\\");
  form.List2.AddItem("E:\\");
  form.List2.SetSelected(0, true);
  form.cmdFileCopy.SetEnabled(true);
  auto* button = window.findChild<QPushButton*>(QStringLiteral("cmdFileCopy"));
  auto* status = window.findChild<QLabel*>(QStringLiteral("labelViewer"));
  PaintCounter counter(form.Copy());
  status->installEventFilter(&counter);
  SpinUntil([] { return false; }, 200);
  const QPoint on_button = button->mapToGlobal(button->rect().center());
  const auto window_id = static_cast<xcb_window_t>(window.winId());

  std::promise<void> copying;
  std::promise<void> released;
  std::shared_future<void> release = released.get_future().share();
  bool first = true;
  program.files.during_copy = [&](const testing::FakeFileSystem::Call& call) {
    if (call.op == "CopyFile" && std::exchange(first, false)) {
      copying.set_value();
      release.wait();
    }
  };
  std::vector<double> answers;
  int paints_asked = 0;
  std::thread desktop_thread([&] {
    Desktop desktop;
    copying.get_future().wait();
    for (std::uint32_t stamp = 1; stamp <= 10; ++stamp) {
      answers.push_back(desktop.Ping(window_id, stamp, 1500));
      if (stamp == 3) {
        desktop.Click(on_button);
      } else if (stamp == 5) {
        static_cast<void>(::write(pipe_fds[1], "d", 1));
      } else if (stamp == 7) {
        QMetaObject::invokeMethod(
            status, [status] { status->update(); }, Qt::QueuedConnection);
        ++paints_asked;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the desktop's pace
    }
    released.set_value();
  });
  button->click();  // the job runs to its end in here
  desktop_thread.join();
  SpinUntil([] { return false; }, 300);

  ASSERT_EQ(answers.size(), 10u);
  double slowest = 0;
  for (std::size_t i = 0; i < answers.size(); ++i) {
    SCOPED_TRACE("ping " + std::to_string(i + 1));
    EXPECT_GE(answers[i], 0) << "no answer";
    EXPECT_LT(answers[i], 500);
    slowest = std::max(slowest, answers[i]);
  }
  std::printf("pings answered during the copy within %.1f ms at most\n", slowest);
  EXPECT_EQ(paints_asked, 1);
  EXPECT_GE(counter.paints.load(), 1);
  // The click met a busy window: gone, not kept for later. Ticks and the device message
  // waited for the job's end.
  EXPECT_EQ(program.boxes.shown.size(), 1u);
  EXPECT_EQ(copies(), 1);
  EXPECT_EQ(form.labelViewer.Caption(), "FINISHED COPYING");
  EXPECT_EQ(device_ready_copying, std::vector<bool>{false});
  EXPECT_FALSE(ticks_copying.empty());
  EXPECT_EQ(std::count(ticks_copying.begin(), ticks_copying.end(), true), 0);

  // The same click on an idle window starts the next copy.
  Desktop desktop;
  desktop.Click(on_button);
  EXPECT_TRUE(SpinUntil([&] { return copies() == 2; }, 3000));
  EXPECT_EQ(program.boxes.shown.size(), 2u);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
}

}  // namespace
}  // namespace salvatrix::qt

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));  // the test then skips
  }
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
