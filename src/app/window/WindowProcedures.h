#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

namespace veltrane {

// Bold Arial at `points`, the face both windows draw their fields and buttons in.
QFont BoldArial(qreal points);

// The desktop's button-face colour, the background the load steps give windows and plain
// controls.
QColor ButtonFaceColor();

// Gives `window` and its option buttons, check boxes, frames and labels the button-face colour;
// text fields, lists, push buttons and progress bars keep theirs.
void ResetBackColors(QWidget* window);

// When the skin file x/o.cjs exists below `programFolder`: the button-face colours of
// ResetBackColors, then the file's Qt style sheet on `connectionWindow` alone. A skin file that
// cannot be read throws, after the colours are set.
void ApplySkin(QWidget* connectionWindow, const QString& programFolder);

} // namespace veltrane
