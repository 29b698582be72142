#include "copy/start_copying.h"

#include <cstdint>
#include <memory>
#include <string>

#include "controls/form1_controls.h"
#include "controls/list_selection.h"
#include "platform/app_info.h"
#include "platform/file_system.h"
#include "platform/message_boxes.h"
#include "platform/scope_exit.h"

namespace salvatrix {
namespace {

constexpr std::string_view kNothingSelectedText =
    "No files or folders have been selected as source data.";
constexpr std::string_view kNoDestinationText = "No destination drive has been selected.";
constexpr std::string_view kConflictCaption = "AUTOCOPY CONFLICT POSSIBLE";
constexpr std::string_view kConfirmCaption = "Confirm Copy";

std::string ConflictText(const std::string& destination) {
  std::string text =
      "There is more than one possible drive for autodetect to process. Confirm that you want "
      "to copy into Drive ";
  text += destination;
  text += ".";
  text += "\r\n";
  text += "Autocopy can only be fully automatic when it only has one destination choice.";
  return text;
}

std::string ConfirmText(const std::string& destination) {
  return "Confirm that you want to copy the selected files and folders into the root of Drive " +
         destination;
}

bool AnySelected(const ListBox& list) {
  bool any = false;
  const std::int16_t count = list.ListCount();
  for (std::int16_t i = 0; i < count; ++i) {
    if (list.Selected(i)) {
      any = true;
    }
  }
  return any;
}

}  // namespace

// The copying part of one job: input is shut out and the window answered from its start to
// its End (or to its end by a failure the job does not handle).
class CopyJob::CopyingScope final {
 public:
  explicit CopyingScope(CopyJob& job) : job_(job) {
    if (job_.upkeep_ != nullptr) {
      job_.calls_.emplace(*job_.upkeep_, &CopyJob::WhileCopying);
    }
    job_.copying_ = true;
    try {
      job_.copying_changed.Emit(true);
    } catch (...) {
      job_.calls_.reset();
      job_.copying_ = false;
      throw;
    }
  }
  ~CopyingScope() {
    if (job_.copying_) {
      try {
        End();
      } catch (...) {
        // Already leaving by a failure; the window's own failure would only hide it.
      }
    }
  }
  CopyingScope(const CopyingScope&) = delete;
  CopyingScope& operator=(const CopyingScope&) = delete;

  void End() {
    if (!job_.copying_) {
      return;
    }
    job_.calls_.reset();
    job_.copying_ = false;
    job_.copying_changed.Emit(false);
  }

 private:
  CopyJob& job_;
};

Admission CopyJob::WhileCopying(WindowTraffic traffic) {
  switch (traffic) {
    case WindowTraffic::kInput:
      return Admission::kDiscard;
    case WindowTraffic::kTimer:
    case WindowTraffic::kDeviceMessage:
      break;
  }
  return Admission::kLeave;
}

void CopyJob::Blocking(const std::function<void()>& call) {
  if (calls_) {
    calls_->Run(call);
  } else {
    call();
  }
}

CopyJob::CopyJob(Form1Controls& controls, FileSystem& files, AppInfo& app, MessageBoxes& boxes)
    : controls_(controls), files_(files), app_(app), boxes_(boxes) {}

void CopyJob::StartCopying(ListBox& files, ListBox& destination, ListBox& folders) {
  // A job waiting in one of its boxes must not be joined by a second one started from the
  // nested message loop (a timer tick or a click).
  if (running_) {
    return;
  }
  running_ = true;
  const ScopeExit done([this] { running_ = false; });
  std::unique_ptr<FileSystemObject> fso;
  std::string root;
  std::optional<CopyingScope> copying;
  try {
    if (CountSelected(folders) + CountSelected(files) == 0) {
      boxes_.Show(kNothingSelectedText, kApplicationTitle, kMbOk);
      return;
    }
    if (!AnySelected(destination)) {
      boxes_.Show(kNoDestinationText, kApplicationTitle, kMbOk);
      return;
    }
    controls_.labelViewer.SetCaption("PREPARING TO COPY");
    if (controls_.Check1.Value() != 0) {
      if (controls_.List3.ListCount() > 1) {
        if (boxes_.Show(ConflictText(destination.Text()), kConflictCaption,
                        kMbOkCancel + kMbIconInformation) == kIdCancel) {
          return;
        }
      }
    } else if (boxes_.Show(ConfirmText(destination.Text()), kConfirmCaption, kMbOkCancel) ==
               kIdCancel) {
      controls_.labelViewer.SetCaption("");
      return;
    }
    copying.emplace(*this);
    fso = files_.CreateObject();
    const std::string source_folder = app_.SourceFolder();
    root = destination.Text();
    const auto copy_phase = [&](ListBox& list, bool folder_phase) {
      const std::int16_t count = list.ListCount();
      for (std::int16_t i = 0; i < count; ++i) {
        if (!list.Selected(i)) {
          continue;
        }
        const std::string name = list.List(i);
        const std::string source = app_.JoinPath(source_folder, name);
        const std::string target = root + name;
        controls_.labelViewer.SetCaption("Copying " + name);
        Blocking([&] {
          if (folder_phase) {
            fso->CopyFolder(source, target, true);
          } else {
            fso->CopyFile(source, target, true);
          }
        });
      }
    };
    copy_phase(files, false);
    copy_phase(folders, true);
    Blocking([&] { fso->Flush(root); });
    controls_.labelViewer.SetCaption("FINISHED COPYING");
    copying->End();
  } catch (...) {
    // What was copied before the failure stays, so it must reach the device too; the copy has
    // failed either way, so a failing flush adds nothing to report.
    if (fso != nullptr && !root.empty()) {
      try {
        Blocking([&] { fso->Flush(root); });
      } catch (...) {
      }
    }
    // Device messages held back meanwhile come in now, as they would have in the box's loop.
    if (copying) {
      copying->End();
    }
    boxes_.Show(kCopyFailureText, kApplicationTitle, kMbOk);
    controls_.labelViewer.SetCaption("COPYING FAILURE");
  }
}

}  // namespace salvatrix
