#include "platform/qt/linux_program.h"

#include "app/dispatch.h"

namespace salvatrix::qt {

LinuxProgram::LinuxProgram(AppInfo& app, MessageBoxes& boxes, const std::string& mountinfo)
    : drives_(mountinfo),
      primitives_(drives_),
      files_(primitives_),
      watch_(drives_, procedures_, mountinfo),
      boxes_(boxes),
      form_(FormServices{drives_, boxes, app, files_, watch_, procedures_}),
      window_(form_, boxes),
      notes_(form_.Notes()),
      notifiers_([this] { return watch_.Fds(); },
                 [this](int fd) { window_.Dispatch([this, fd] { watch_.OnReady(fd); }); }) {
  watch_.on_fds_changed = [this] { notifiers_.Resync(); };
  form_.Copy().KeepWindowAnswered(&upkeep_);
}

bool LinuxProgram::Start() {
  // The window mirrors the models from its construction on, so it opens already showing what
  // Form_Load put into them.
  if (!DispatchHandler(boxes_, [this] { form_.Form_Load(); })) {
    return false;
  }
  window_.show();
  return true;
}

}  // namespace salvatrix::qt
