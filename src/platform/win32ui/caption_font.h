#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_hooks.h"

namespace salvatrix::win32ui {

/// The face and size the main window's layout was made for.
inline constexpr std::wstring_view kFormFontFace = L"MS Sans Serif";
inline constexpr double kFormFontPoints = 8.25;
/// Below this the captions would no longer be legible; a caption that does not fit even here
/// is left cut rather than shrunk further.
inline constexpr double kSmallestFontPoints = 6.0;

/// A caption and the room its control gives it, in pixels.
struct CaptionRoom {
  enum class Kind {
    kLine,     ///< one line: a push button's inside, a list entry
    kCheck,    ///< one line beside a check box's box
    kWrapped,  ///< static text, broken between words
  };
  std::wstring text;
  int width = 0;
  int height = 0;
  Kind kind = Kind::kLine;
};

/// The captions of parent's child push buttons, check boxes and static texts, each with the
/// room the control draws its text in. Controls without text are left out.
std::vector<CaptionRoom> CaptionRooms(WindowHandle parent);

/// The entries of a list box, each with the width of the list's client area.
std::vector<CaptionRoom> ListEntryRooms(WindowHandle list);

/// Whether caption, drawn in font (an HFONT), stays inside its room: one line no wider and no
/// taller than it, or text broken between words whose lines fill neither more than its width
/// nor more than its height. A check box's box and the gap beside it, drawn at dpi_x (the
/// screen's when 0), come off its width first.
bool CaptionFits(std::uintptr_t font, const CaptionRoom& caption, int dpi_x = 0);

/// The font a window's controls draw their captions in: face at points, shrunk one pixel at a
/// time while some caption does not fit, but never below kSmallestFontPoints. Owns the GDI font,
/// which must outlive the controls that show it.
class CaptionFont final {
 public:
  /// dpi is the window's vertical pixels per inch, dpi_x its horizontal ones (0: the
  /// screen's). When no font can be made at all, Handle() is 0 and the controls keep the
  /// system's font.
  CaptionFont(std::wstring face, double points, int dpi, const std::vector<CaptionRoom>& captions,
              int dpi_x = 0);
  ~CaptionFont();
  CaptionFont(const CaptionFont&) = delete;
  CaptionFont& operator=(const CaptionFont&) = delete;

  /// The HFONT, for WM_SETFONT.
  std::uintptr_t Handle() const { return font_; }
  const std::wstring& Face() const { return face_; }
  /// The character height in pixels (a LOGFONT's negative lfHeight, as a positive number).
  int PixelHeight() const { return pixels_; }

 private:
  std::uintptr_t font_ = 0;
  std::wstring face_;
  int pixels_ = 0;
};

/// Whether GDI really draws face, rather than another face it stands in for it.
bool FaceInstalled(std::wstring_view face);

/// The face of the system's message font; "MS Shell Dlg" when it cannot be read.
std::wstring MessageFontFace();

/// The main window's face: kFormFontFace where it is installed, else the message font's.
std::wstring FormFace();

}  // namespace salvatrix::win32ui
