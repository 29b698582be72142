// copy_bench SRC_DIR DST_DIR: runs the program's own copy job, as "Copy Files to Drive" does it,
// with every file and sub-folder of SRC_DIR selected and DST_DIR standing in for the new drive;
// the confirmation is answered with OK. Prints the elapsed seconds.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "app/form1.h"
#include "platform/message_boxes.h"
#include "platform/posix/app_info_posix.h"
#include "platform/posix/device_watch.h"
#include "platform/posix/drive_table.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/window_procedures.h"

namespace fs = std::filesystem;

namespace {

// OK to every box; a box other than the confirmation is worth seeing.
class OkBoxes final : public salvatrix::MessageBoxes {
 public:
  int Show(std::string_view text, std::string_view caption, int) override {
    if (caption != "Confirm Copy") {
      std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                   static_cast<int>(text.size()), text.data());
    }
    return salvatrix::kIdOk;
  }
};

// A mount table with "/" and the destination folder as a drive of its own.
std::string EscapeMountField(const std::string& path) {
  std::string escaped;
  for (char c : path) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
      char octal[5];
      std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
      escaped += octal;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SRC_DIR DST_DIR\n", argv[0]);
    return 2;
  }
  const std::string source = fs::absolute(argv[1]).lexically_normal().string();
  const std::string destination = fs::absolute(argv[2]).lexically_normal().string();
  const fs::path table_path = fs::path(destination).parent_path() / ".copy_bench_mountinfo";
  std::ofstream(table_path) << "1 0 254:0 / / rw - ext4 /dev/root rw\n"
                            << "2 1 259:77 / " << EscapeMountField(destination)
                            << " rw - ext4 /dev/benchstick rw\n";

  salvatrix::posix::DriveTable drives(table_path.string(), "/nonexistent");
  salvatrix::posix::PosixFileSystem files(drives);
  // The source folder is the one given, not the folder of this program.
  salvatrix::posix::PlacedAppInfo app(source, "copy_bench");
  OkBoxes boxes;
  salvatrix::posix::WindowProcedures windows;
  salvatrix::posix::DeviceWatch watch(drives, windows, table_path.string(), false);
  salvatrix::Form1 form{salvatrix::FormServices{drives, boxes, app, files, watch, windows}};

  const auto start = std::chrono::steady_clock::now();
  form.Form_Load();
  SetAllSelected(form.List4, true);
  SetAllSelected(form.List6, true);
  form.Drives().ListRescannedDrives();
  form.List3.AddItem("D:\\");       // as the comparison leaves it: D:\ is the new drive
  form.List2.SetSelected(1, true);  // D:\, the destination folder
  form.cmdFileCopy.SetEnabled(true);
  form.cmdFileCopy.Press();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

  fs::remove(table_path);
  if (form.labelViewer.Caption() != "FINISHED COPYING") {
    std::fprintf(stderr, "the copy did not finish: %s\n", form.labelViewer.Caption().c_str());
    return 1;
  }
  std::printf("%.3f\n", elapsed.count());
  return 0;
}
