#include "platform/posix/devices/window_procedures.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace salvatrix::posix {
namespace {

TEST(WindowProcedures, SlotSwapsLikeWindowsAndUnknownValuesCallNothing) {
  WindowProcedures windows(7);
  const ProcedureValue original = windows.GetWindowProcedure(7);
  ASSERT_NE(original, 0);
  EXPECT_EQ(windows.CallWindowProcedure(original, 7, kWmDeviceChange, kDbtDeviceArrival, 9), 0);
  const ProcedureValue add_one = windows.MakeProcedure(
      [](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t lparam) { return lparam + 1; });
  EXPECT_NE(add_one, original);
  EXPECT_EQ(windows.SetWindowProcedure(7, add_one), original);
  EXPECT_EQ(windows.GetWindowProcedure(7), add_one);
  EXPECT_EQ(windows.CallWindowProcedure(add_one, 7, 5, 0, 41), 42);
  for (const ProcedureValue unknown : {ProcedureValue{0}, ProcedureValue{7}, add_one + 1}) {
    SCOPED_TRACE(unknown);
    EXPECT_EQ(windows.CallWindowProcedure(unknown, 7, 5, 0, 41), 0);
  }
  EXPECT_EQ(windows.GetWindowProcedure(8), 0);
  EXPECT_EQ(windows.SetWindowProcedure(8, original), 0);
  EXPECT_EQ(windows.Deliver(8, 5, 0, {1}), 0);
  EXPECT_EQ(windows.GetWindowProcedure(7), add_one);
}

TEST(WindowProcedures, DeliveryLendsTheRecordToTheCurrentProcedureWhileItRuns) {
  WindowProcedures windows;
  const std::vector<std::uint8_t> outer = {1, 2, 3, 4, 5}, inner = {9, 8};
  std::intptr_t outer_lparam = 0;
  std::vector<std::size_t> extents;  // outer; inner and outer while nested; outer again
  windows.SetWindowProcedure(
      1, windows.MakeProcedure([&](WindowHandle window, std::uint32_t message,
                                   std::uintptr_t wparam, std::intptr_t lparam) -> std::intptr_t {
        if (message == 2) {
          extents.insert(extents.end(),
                         {windows.RecordExtent(lparam), windows.RecordExtent(outer_lparam)});
          return 0;
        }
        outer_lparam = lparam;
        EXPECT_EQ(*reinterpret_cast<const std::uint8_t*>(lparam + 4), 5);
        extents.push_back(windows.RecordExtent(lparam));
        windows.Deliver(window, 2, 0, inner);
        extents.push_back(windows.RecordExtent(lparam));
        if (wparam == 0) {
          throw std::runtime_error("procedure failed");
        }
        return static_cast<std::intptr_t>(wparam) * 2;
      }));
  EXPECT_EQ(windows.Deliver(1, 1, 21, outer), 42);
  EXPECT_EQ(extents, (std::vector<std::size_t>{5, 2, 5, 5}));
  EXPECT_THROW(windows.Deliver(1, 1, 0, outer), std::runtime_error);
  EXPECT_EQ(windows.RecordExtent(outer_lparam), 0u);
  EXPECT_EQ(windows.RecordExtent(reinterpret_cast<std::intptr_t>(inner.data())), 0u);
}

}  // namespace
}  // namespace salvatrix::posix
