#include "app/form1.h"

#include <string>

#include "platform/app_info.h"
#include "platform/message_boxes.h"
#include "platform/window_hooks.h"

namespace salvatrix {

Form1::Form1(FormServices services)
    : services_(services),
      list_drives_(*this, services.drives),
      copy_job_(*this, services.files, services.app, services.boxes),
      comparison_(*this, services.boxes, copy_job_),
      source_lists_(services.files, services.app, services.boxes),
      module1_(Text1, services.boxes, services.notifications, services.hooks) {
  Timer1.tick.Connect([this] { Timer1_Timer(); });
  cmdOverride.click.Connect([this] { cmdOverride_Click(); });
  cmdFileCopy.click.Connect([this] { cmdFileCopy_Click(); });
  Command1.click.Connect([this] { Command1_Click(); });
  List2.click.Connect([this] { List2_Click(); });
  Check2.click.Connect([this] { Check2_Click(); });
  Check3.click.Connect([this] { Check3_Click(); });
  copy_job_.copying_changed.Connect([this](bool copying) { module1_.HoldArrivals(copying); });
}

void Form1::Form_Load() {
  list_drives_.ListRuntimeDrives();
  Text1.SetText("");
  Text2.SetText("");
  Text4.SetText("Source = " + services_.app.SourceFolder());
  source_lists_.PopulateFilesList(List4, services_.app.SourceFolder());
  source_lists_.PopulateSubFoldersList(services_.app.SourceFolder(), List6);
  module1_.RegisterForDeviceNotifications(services_.hooks.MainWindow(),
                                          module1_.NotificationHandle());
  module1_.InstallMessageHook(services_.hooks.MainWindow());
}

void Form1::Form_Unload(int& cancel) {
  static_cast<void>(cancel);
  notes_.Close();
  module1_.ReleaseDeviceNotifications();
  module1_.RemoveMessageHook(services_.hooks.MainWindow());
}

void Form1::Timer1_Timer() {
  if (Text1.Text().empty()) {
    return;
  }
  // A comparison started by an earlier tick may still be waiting in one of its boxes. Its
  // no-change box must not stop the poll: the tick that put it up is the poll's last, and a
  // stick mounted a moment later would never be copied. Any other box (a failure, the copy
  // job's) would only be joined by a second comparison or copy.
  if (comparison_.Comparing() && !comparison_.OnlyNoChangeBoxesOpen()) {
    return;
  }
  list_drives_.ListRescannedDrives();
  comparison_.CompareDriveLetters();
  Timer1.SetEnabled(false);
}

void Form1::cmdOverride_Click() {
  Timer1.SetEnabled(false);
  list_drives_.ListRescannedDrives();
  comparison_.CompareDriveLetters();
  cmdFileCopy.SetEnabled(true);
  Check1.SetValue(0);
  Check1.SetEnabled(false);
  source_lists_.PopulateFilesList(List4, services_.app.SourceFolder());
  labelViewer.SetCaption("");
}

void Form1::cmdFileCopy_Click() {
  copy_job_.StartCopying(List4, List2, List6);
}

void Form1::Command1_Click() {
  notes_.Show();
}

void Form1::List2_Click() {
  if (List2.Text() != List3.List(0)) {
    services_.boxes.Show(kDestinationWarning, kDestinationWarningCaption, kMbIconError);
  }
}

void Form1::Check2_Click() {
  SetAllSelected(List6, Check2.Value() != 0);
}

void Form1::Check3_Click() {
  SetAllSelected(List4, Check3.Value() != 0);
}

}  // namespace salvatrix
