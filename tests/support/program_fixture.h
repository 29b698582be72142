#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "app/form1.h"
#include "support/fakes.h"

namespace salvatrix::testing {

/// The program wired to a fresh fake of every interface, for a test that wants one per case.
/// Drives is the drive strings' fake; a view test may want one that describes drives.
template <typename Drives = FakeDriveStrings>
struct FakeProgram {
  Drives drives;
  ScriptedMessageBoxes boxes;
  FakeAppInfo app;
  FakeFileSystem files;
  FakeWindowSystem system;
  Form1 form{FormServices{drives, boxes, app, files, system, system}};
};

/// A test of the program against the fakes; the members are the test's own.
template <typename Drives = FakeDriveStrings>
class ProgramFixtureWith : public ::testing::Test {
 protected:
  FakeProgram<Drives> program_;
  Drives& drives_ = program_.drives;
  ScriptedMessageBoxes& boxes_ = program_.boxes;
  FakeAppInfo& app_ = program_.app;
  FakeFileSystem& files_ = program_.files;
  FakeWindowSystem& system_ = program_.system;
  Form1& form_ = program_.form;
};

using ProgramFixture = ProgramFixtureWith<>;

/// The main window's controls that show a caption now, in creation order.
inline std::vector<const CaptionedControl*> CaptionedControls(const Form1Controls& controls) {
  std::vector<const CaptionedControl*> captioned;
  for (const Control* control : controls.Controls()) {
    const auto* with_caption = dynamic_cast<const CaptionedControl*>(control);
    if (with_caption != nullptr && !with_caption->Caption().empty()) {
      captioned.push_back(with_caption);
    }
  }
  return captioned;
}

}  // namespace salvatrix::testing
