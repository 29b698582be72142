#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>
#include <vector>

class QListWidget;
class QWidget;

namespace salvatrix::qt {

/// The point size the main window's layout was made for.
inline constexpr double kFormFontPoints = 8.25;
/// Below this the captions would no longer be legible; a caption that does not fit even here
/// is left cut rather than shrunk further.
inline constexpr double kSmallestFontPoints = 6.0;

/// Faces with the widths of the one the main window's layout was made for, best first.
QStringList FormFaces();
/// The faces for the notes list: its own face first, then the main window's.
QStringList NotesFaces();

/// A caption and the client area its widget draws it in, in device-independent pixels.
struct CaptionPlace {
  QString text;
  QRect area;
  /// Labels break their lines between words; buttons and check boxes draw one line.
  bool wraps = false;
};

/// The captions of the labels, buttons and check boxes below window, each with the client
/// area its widget's style gives the text: a button's inside its frame, a check box's beside
/// its indicator. Widgets without a caption are left out.
std::vector<CaptionPlace> CaptionPlaces(const QWidget& window);

/// The entries of a list, each with the width its view gives an entry's text when a vertical
/// scroll bar takes its share. Entries have the height of their font, so only the width counts.
std::vector<CaptionPlace> ListEntryPlaces(const QListWidget& list);

/// Whether caption, drawn in font, stays inside its area: one line no wider and no taller than
/// it, or for a wrapping caption, lines broken between words that fill neither more than its
/// width nor more than its height.
bool CaptionFits(const QFont& font, const CaptionPlace& caption);

/// The family actually drawn for the first wanted face that is really installed; a face that
/// fontconfig only stands another one in for does not count, unless that one is wanted too. The
/// desktop's general face when none is.
QString InstalledFace(const QStringList& wanted);

/// face at points, or when some caption does not fit, the largest size in quarter points below
/// it at which all fit, but never smaller than kSmallestFontPoints.
QFont FittingFont(const QString& face, double points, const std::vector<CaptionPlace>& captions);

}  // namespace salvatrix::qt
