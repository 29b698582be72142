#pragma once

#include <gtest/gtest.h>

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

}  // namespace salvatrix::testing
