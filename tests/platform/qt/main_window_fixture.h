#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>

#include "app/dispatch.h"
#include "platform/qt/main_window.h"
#include "support/program_fixture.h"

namespace salvatrix::testing {

/// The program against the fakes, with the Qt main window mirroring it.
template <typename Drives = FakeDriveStrings>
class MainWindowFixture : public ProgramFixtureWith<Drives> {
 protected:
  /// What main does: Form_Load with the window already mirroring the models, then show.
  void Load() {
    ASSERT_TRUE(DispatchHandler(this->boxes_, [this] { this->form_.Form_Load(); }));
    window_.show();
    QApplication::processEvents();
  }

  template <typename W>
  W* Find(const char* name) {
    W* widget = window_.findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  qt::MainWindow window_{this->form_, this->boxes_};
};

}  // namespace salvatrix::testing
