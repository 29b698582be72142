#include "platform/win32ui/caption_font.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <utility>
#include <vector>

namespace salvatrix::win32ui {
namespace {

constexpr int kPointsPerInch = 72;

HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

HFONT ToHfont(std::uintptr_t font) {
  return reinterpret_cast<HFONT>(font);
}

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  const int length = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(length, 0)));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[32] = {};
  ::GetClassNameW(window, name, 32);
  return name;
}

int PixelsForPoints(double points, int dpi) {
  return static_cast<int>(std::lround(points * dpi / kPointsPerInch));
}

/// A screen-compatible DC with a font selected for measuring; restores and releases it.
class MeasuringDc final {
 public:
  explicit MeasuringDc(HFONT font) : dc_(::GetDC(nullptr)) {
    if (dc_ != nullptr && font != nullptr) {
      previous_ = ::SelectObject(dc_, font);
    }
  }
  ~MeasuringDc() {
    if (dc_ != nullptr) {
      if (previous_ != nullptr) {
        ::SelectObject(dc_, previous_);
      }
      ::ReleaseDC(nullptr, dc_);
    }
  }
  MeasuringDc(const MeasuringDc&) = delete;
  MeasuringDc& operator=(const MeasuringDc&) = delete;

  HDC get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ previous_ = nullptr;
};

/// Pixels a check box takes before its text: the box, drawn 12 pixels at 96 dpi plus its
/// border, and half a digit's width of gap, plus the pixel left for the focus rectangle.
int CheckBoxIndent(HDC dc, int dpi) {
  const int screen_dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
  if (dpi <= 0) {
    dpi = screen_dpi;
  }
  // The system's metric is for the screen's DPI; a window on another monitor scales it.
  const int box = std::max(::MulDiv(::GetSystemMetrics(SM_CXMENUCHECK), dpi, screen_dpi),
                           ::MulDiv(12, dpi, 96) + 1);
  INT digit = 0;
  ::GetCharWidth32W(dc, L'0', L'0', &digit);
  return box + digit / 2 + 1;
}

HFONT MakeFont(const std::wstring& face, int pixels) {
  LOGFONTW description{};
  description.lfHeight = -pixels;
  description.lfWeight = FW_NORMAL;
  description.lfCharSet = DEFAULT_CHARSET;
  description.lfQuality = DEFAULT_QUALITY;
  description.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  face.copy(description.lfFaceName, LF_FACESIZE - 1);
  return ::CreateFontIndirectW(&description);
}

}  // namespace

std::vector<CaptionRoom> CaptionRooms(WindowHandle parent) {
  // Room for a push button's frame on each side, and for its focus rectangle.
  const int frame_x = ::GetSystemMetrics(SM_CXEDGE) + 1;
  const int frame_y = ::GetSystemMetrics(SM_CYEDGE);
  std::vector<CaptionRoom> rooms;
  for (HWND child = ::GetWindow(ToHwnd(parent), GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    std::wstring text = TextOf(child);
    if (text.empty()) {
      continue;
    }
    const std::wstring window_class = ClassOf(child);
    const auto style = static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE));
    RECT client{};
    ::GetClientRect(child, &client);
    CaptionRoom room{std::move(text), client.right - client.left, client.bottom - client.top};
    if (_wcsicmp(window_class.c_str(), L"Button") == 0) {
      const DWORD type = style & BS_TYPEMASK;
      if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
        room.width -= 2 * frame_x;
        room.height -= 2 * frame_y;
      } else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX) {
        room.kind = CaptionRoom::Kind::kCheck;
      } else {
        continue;
      }
    } else if (_wcsicmp(window_class.c_str(), L"Static") == 0) {
      const DWORD type = style & SS_TYPEMASK;
      if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT) {
        continue;  // pictures and frames: their text is no caption
      }
      room.kind = CaptionRoom::Kind::kWrapped;
    } else {
      continue;
    }
    rooms.push_back(std::move(room));
  }
  return rooms;
}

std::vector<CaptionRoom> ListEntryRooms(WindowHandle list) {
  HWND window = ToHwnd(list);
  RECT client{};
  ::GetClientRect(window, &client);
  // A list box draws an entry's text a pixel or so in from either side.
  const int width = client.right - client.left - 4;
  const auto count = ::SendMessageW(window, LB_GETCOUNT, 0, 0);
  std::vector<CaptionRoom> rooms;
  for (LRESULT i = 0; i < count; ++i) {
    const auto index = static_cast<WPARAM>(i);
    const auto length = ::SendMessageW(window, LB_GETTEXTLEN, index, 0);
    if (length <= 0) {
      continue;
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::SendMessageW(window, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    rooms.push_back({std::move(text), width, client.bottom - client.top, CaptionRoom::Kind::kLine});
  }
  return rooms;
}

bool CaptionFits(std::uintptr_t font, const CaptionRoom& caption, int dpi_x) {
  const MeasuringDc dc(ToHfont(font));
  if (dc.get() == nullptr) {
    return false;
  }
  int width = caption.width;
  if (caption.kind == CaptionRoom::Kind::kCheck) {
    width -= CheckBoxIndent(dc.get(), dpi_x);
  }
  if (width <= 0) {
    return false;
  }
  const int length = static_cast<int>(caption.text.size());
  if (caption.kind == CaptionRoom::Kind::kWrapped) {
    // DT_CALCRECT widens the rectangle for a word that cannot be broken.
    RECT used{0, 0, width, 0};
    ::DrawTextW(dc.get(), caption.text.c_str(), length, &used,
                DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    return used.right - used.left <= width && used.bottom - used.top <= caption.height;
  }
  SIZE used{};
  ::GetTextExtentPoint32W(dc.get(), caption.text.c_str(), length, &used);
  return used.cx <= width && used.cy <= caption.height;
}

CaptionFont::CaptionFont(std::wstring face, double points, int dpi,
                         const std::vector<CaptionRoom>& captions, int dpi_x)
    : face_(std::move(face)) {
  const int smallest =
      std::min(PixelsForPoints(kSmallestFontPoints, dpi), PixelsForPoints(points, dpi));
  // Character heights are whole pixels: one pixel is the finest step there is.
  for (int pixels = PixelsForPoints(points, dpi); pixels >= smallest; --pixels) {
    HFONT font = MakeFont(face_, pixels);
    if (font == nullptr) {
      continue;
    }
    const auto handle = reinterpret_cast<std::uintptr_t>(font);
    const bool fits =
        std::all_of(captions.begin(), captions.end(), [handle, dpi_x](const CaptionRoom& caption) {
          return CaptionFits(handle, caption, dpi_x);
        });
    if (font_ != 0) {
      ::DeleteObject(ToHfont(font_));
    }
    font_ = handle;
    pixels_ = pixels;
    if (fits) {
      break;
    }
  }
}

CaptionFont::~CaptionFont() {
  if (font_ != 0) {
    ::DeleteObject(ToHfont(font_));
  }
}

bool FaceInstalled(std::wstring_view face) {
  if (face.empty() || face.size() >= LF_FACESIZE) {
    return false;
  }
  HFONT font = MakeFont(std::wstring(face), 12);
  if (font == nullptr) {
    return false;
  }
  bool installed = false;
  {
    const MeasuringDc dc(font);
    const std::wstring wanted(face);
    // GDI answers a missing face with another one, and may even report it under the name asked
    // for; an outline font's own name table tells which family it really is.
    const UINT size = dc.get() != nullptr ? ::GetOutlineTextMetricsW(dc.get(), 0, nullptr) : 0;
    if (size > 0) {
      std::vector<unsigned char> buffer(size);
      auto* metrics = reinterpret_cast<OUTLINETEXTMETRICW*>(buffer.data());
      if (::GetOutlineTextMetricsW(dc.get(), size, metrics) != 0) {
        const auto offset = reinterpret_cast<std::uintptr_t>(metrics->otmpFamilyName);
        if (offset > 0 && offset < size) {
          const auto* family = reinterpret_cast<const wchar_t*>(buffer.data() + offset);
          installed = _wcsicmp(family, wanted.c_str()) == 0;
        }
      }
    } else if (dc.get() != nullptr) {
      // A raster font (MS Sans Serif is one) has no name table; its face name is all there is.
      wchar_t drawn[LF_FACESIZE] = {};
      ::GetTextFaceW(dc.get(), LF_FACESIZE, drawn);
      installed = _wcsicmp(drawn, wanted.c_str()) == 0;
    }
  }
  ::DeleteObject(font);
  return installed;
}

std::wstring MessageFontFace() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) != FALSE &&
      metrics.lfMessageFont.lfFaceName[0] != L'\0') {
    return metrics.lfMessageFont.lfFaceName;
  }
  return L"MS Shell Dlg";
}

std::wstring FormFace() {
  return FaceInstalled(kFormFontFace) ? std::wstring(kFormFontFace) : MessageFontFace();
}

}  // namespace salvatrix::win32ui
