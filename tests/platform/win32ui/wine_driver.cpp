// Plays the user and the pen drive for the end-to-end run of salvatrix.exe under wine (see
// wine_e2e.sh). Two commands, each against the running program's main window:
//
//   wine_driver arrive M Z:\path\to\stick   ticks "Enable Autocopy", makes M: a drive, tells
//                                            the window that it arrived, has wine's
//                                            plug-and-play service announce a stick's device
//                                            interface, checks that the detection log names
//                                            it in full, and waits until the copy has finished
//   wine_driver close                        closes the main window and waits until it is gone
//
// The script gives the drive's files a home (a dosdevices link); DefineDosDeviceA here makes
// the letter show up in the drive list of the running wineserver, which reads dosdevices only
// when it starts. Exit code 0 when every step did what it should, 1 otherwise.
#include <windows.h>
// After windows.h, whose types it uses.
#include <dbt.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef SALVATRIX_WINE_PLUGPLAY
// The client of wine's plug-and-play service, made by widl from wine's own plugplay.idl.
#include "plugplay.h"

extern "C" void* __RPC_USER MIDL_user_allocate(SIZE_T size) {
  return ::HeapAlloc(::GetProcessHeap(), 0, size);
}

extern "C" void __RPC_USER MIDL_user_free(void* block) {
  ::HeapFree(::GetProcessHeap(), 0, block);
}
#endif

namespace {

constexpr const wchar_t* kMainCaption = L"AUTO-COPIER FOR EXTERNAL STORAGE (eg Flash Drive)";
constexpr auto kPoll = std::chrono::milliseconds(200);

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) {
    narrow += (c >= 32 && c < 127) || c == L'\r' || c == L'\n' ? static_cast<char>(c) : '?';
  }
  return narrow;
}

std::wstring TextOf(HWND window) {
  // WM_GETTEXT rather than GetWindowTextW: the latter does not ask windows of other processes.
  const auto length = static_cast<std::size_t>(::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  const LRESULT copied = ::SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                        reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  ::EnumChildWindows(
      parent,
      [](HWND child, LPARAM found_list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(found_list)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

/// The first child of the class (compared without case) whose text is text, or whose style has
/// all of style_bits when text is null.
HWND FindChild(HWND parent, const wchar_t* window_class, const wchar_t* text, LONG style_bits) {
  for (HWND child : Children(parent)) {
    if (_wcsicmp(ClassOf(child).c_str(), window_class) != 0) {
      continue;
    }
    if (text != nullptr ? TextOf(child) == text
                        : (::GetWindowLongW(child, GWL_STYLE) & style_bits) == style_bits) {
      return child;
    }
  }
  return nullptr;
}

template <typename Condition>
bool WaitFor(std::chrono::seconds limit, Condition condition) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

HWND WaitForMainWindow() {
  HWND window = nullptr;
  WaitFor(std::chrono::seconds(60), [&window] {
    window = ::FindWindowW(nullptr, kMainCaption);
    return window != nullptr && ::IsWindowVisible(window) != FALSE;
  });
  return window;
}

/// A message box of the program's process, when one is open.
HWND OpenBox(HWND main_window) {
  struct Search {
    DWORD process;
    HWND box;
  } search{0, nullptr};
  ::GetWindowThreadProcessId(main_window, &search.process);
  ::EnumWindows(
      [](HWND window, LPARAM search_address) -> BOOL {
        auto* wanted = reinterpret_cast<Search*>(search_address);
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == wanted->process && ClassOf(window) == L"#32770" &&
            ::IsWindowVisible(window) != FALSE) {
          wanted->box = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.box;
}

bool Fail(const char* what) {
  std::printf("FAIL: %s\n", what);
  return false;
}

// A USB stick's disk interface as Windows names it, with letters beyond ASCII in its product
// name, so that the log shows whether the name came through whole and in the right encoding.
constexpr const wchar_t* kStickInterface =
    L"\\\\?\\USBSTOR#Disk&Ven_Salvatrix&Prod_\u00C9t\u00E9_Stick_\u4E2D&Rev_1.00#E2E0001&0#"
    L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

/// Has wine's plug-and-play service announce a device interface's arrival, as its kernel does
/// for a new device: the service hands it to every window registered for device notifications
/// (and wine broadcasts it as well), the path a real arrival takes.
bool AnnounceInterface(const wchar_t* name) {
#ifdef SALVATRIX_WINE_PLUGPLAY
  // A call to a service that is not there raises an exception; the pipe tells beforehand.
  if (::WaitNamedPipeW(L"\\\\.\\pipe\\wine_plugplay", 20000) == FALSE) {
    std::printf("no plug-and-play service: error %lu\n", ::GetLastError());
    return false;
  }
  RPC_WSTR binding_text = nullptr;
  wchar_t protocol[] = L"ncacn_np";
  wchar_t endpoint[] = L"\\pipe\\wine_plugplay";
  if (::RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(protocol), nullptr,
                                 reinterpret_cast<RPC_WSTR>(endpoint), nullptr,
                                 &binding_text) != RPC_S_OK ||
      ::RpcBindingFromStringBindingW(binding_text, &plugplay_binding_handle) != RPC_S_OK) {
    return false;
  }
  ::RpcStringFreeW(&binding_text);
  const std::size_t length = std::wcslen(name);
  std::vector<BYTE> record(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                           (length + 1) * sizeof(wchar_t));
  auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
  header->dbcc_size = static_cast<DWORD>(record.size());
  header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(header->dbcc_name, name, (length + 1) * sizeof(wchar_t));
  plugplay_send_event(DBT_DEVICEARRIVAL, record.data(), static_cast<unsigned int>(record.size()));
  ::RpcBindingFree(&plugplay_binding_handle);
  return true;
#else
  static_cast<void>(name);
  std::printf("built without wine's plug-and-play interface (plugplay.idl)\n");
  return false;
#endif
}

bool Arrive(char letter, const char* target) {
  HWND main_window = WaitForMainWindow();
  if (main_window == nullptr) {
    return Fail("the main window did not appear");
  }
  std::printf("main window found\n");

  HWND autocopy = FindChild(main_window, L"Button", L"Enable Autocopy", 0);
  if (autocopy == nullptr) {
    return Fail("no \"Enable Autocopy\" check box");
  }
  // A click is a press and a release with the mouse captured. Right after start-up the window's
  // activation can still arrive in between and take the capture away, and the click is lost, as
  // a real one would be: let the window settle, and click again while the box stays unticked.
  WaitFor(std::chrono::seconds(5),
          [main_window] { return ::GetForegroundWindow() == main_window; });
  for (int tries = 0; tries < 10 && ::SendMessageW(autocopy, BM_GETCHECK, 0, 0) != BST_CHECKED;
       ++tries) {
    ::SendMessageW(autocopy, BM_CLICK, 0, 0);
    std::this_thread::sleep_for(kPoll);
  }
  if (::SendMessageW(autocopy, BM_GETCHECK, 0, 0) != BST_CHECKED) {
    return Fail("clicks did not tick \"Enable Autocopy\"");
  }
  std::printf("autocopy ticked\n");

  const char device[3] = {letter, ':', '\0'};
  if (::DefineDosDeviceA(0, device, target) == FALSE) {
    std::printf("DefineDosDeviceA(%s, %s): error %lu\n", device, target, ::GetLastError());
    return Fail("the drive letter could not be made");
  }
  std::printf("drive %s defined for %s\n", device, target);

  // What Windows sends every top-level window when a volume arrives. Wine copies the record of
  // an arrival (wParam with bit 15) into the receiving process, as it does for broadcasts.
  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1UL << (letter - 'A');
  DWORD_PTR answer = 0;
  if (::SendMessageTimeoutW(main_window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                            reinterpret_cast<LPARAM>(&volume), SMTO_ABORTIFHUNG, 10000,
                            &answer) == 0) {
    return Fail("the arrival could not be sent");
  }

  HWND log = FindChild(main_window, L"Edit", nullptr, ES_MULTILINE);
  if (log == nullptr) {
    return Fail("no detection log");
  }
  if (!AnnounceInterface(kStickInterface)) {
    return Fail("wine's plug-and-play service did not take the stick's arrival");
  }
  // The service delivers from threads of its own: the line comes when it comes.
  const std::wstring name_line = std::wstring(L"Device Name: ") + kStickInterface + L" 12 ";
  const bool named = WaitFor(std::chrono::seconds(20), [log, &name_line] {
    return TextOf(log).find(name_line) != std::wstring::npos;
  });
  const std::string logged = Narrow(TextOf(log));
  std::printf("detection log:%s\n", logged.c_str());
  if (logged.find("DBT_DEVICEARRIVAL") == std::string::npos ||
      logged.find("DBT_DEVTYP_VOLUME") == std::string::npos) {
    return Fail("the arrival is not in the detection log");
  }
  if (!named) {
    return Fail("the stick's full device name is not in the detection log");
  }
  std::printf("the stick's device name is logged in full\n");

  // The clock ticks every 10 seconds: the next tick finds the new drive and copies.
  std::string status;
  HWND box = nullptr;
  const bool finished = WaitFor(std::chrono::seconds(40), [&] {
    box = OpenBox(main_window);
    if (box != nullptr) {
      return true;
    }
    status.clear();
    for (const wchar_t* wanted : {L"FINISHED COPYING", L"COPYING FAILURE"}) {
      if (FindChild(main_window, L"Static", wanted, 0) != nullptr) {
        status = Narrow(wanted);
      }
    }
    return !status.empty();
  });
  if (box != nullptr) {
    HWND text = ::GetDlgItem(box, 0xFFFF);
    std::printf("box \"%s\": %s\n", Narrow(TextOf(box)).c_str(),
                text != nullptr ? Narrow(TextOf(text)).c_str() : "");
    ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    return Fail("the program asked instead of copying");
  }
  if (!finished) {
    return Fail("the copy did not finish within 40 seconds");
  }
  std::printf("status: %s\n", status.c_str());
  return status == "FINISHED COPYING";
}

bool Close() {
  HWND main_window = ::FindWindowW(nullptr, kMainCaption);
  if (main_window == nullptr) {
    return Fail("the main window is gone already");
  }
  ::PostMessageW(main_window, WM_CLOSE, 0, 0);
  if (!WaitFor(std::chrono::seconds(15), [main_window] { return ::IsWindow(main_window) == 0; })) {
    return Fail("the main window did not close");
  }
  std::printf("main window closed\n");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = false;
  if (argc == 4 && std::strcmp(argv[1], "arrive") == 0 && std::strlen(argv[2]) == 1 &&
      argv[2][0] >= 'D' && argv[2][0] <= 'Y') {
    ok = Arrive(argv[2][0], argv[3]);
  } else if (argc == 2 && std::strcmp(argv[1], "close") == 0) {
    ok = Close();
  } else {
    std::printf("usage: wine_driver arrive LETTER TARGET | wine_driver close\n");
  }
  std::fflush(stdout);
  return ok ? 0 : 1;
}
