#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <string>
#include <string_view>

#include "app/twips.h"
#include "controls/controls.h"

namespace salvatrix::qt {

/// The colour a model colour stands for, from the application palette for system colours.
/// Invalid for kDefault and for system indices this view does not know: the widget keeps its
/// ordinary colour then.
QColor ToQColor(const Colour& colour);

/// The program icon as a 32 x 32 ARGB image.
QImage ProgramIconImage();

/// Texts of multi-line boxes: the model keeps CR LF line breaks, Qt editors use LF.
QString ModelTextToEditor(std::string_view text);
std::string EditorTextToModel(const QString& text);

}  // namespace salvatrix::qt
