// Fonts that fit the window's fixed geometry. The layout was drawn for the
// small bitmap faces of one platform; elsewhere the same point size is wider
// and taller, and texts lose their ends. So each control's font is chosen,
// family by family and pixel size by pixel size, as the largest that shows
// every text the control must hold within its rectangle.
#pragma once

#include <QFont>
#include <QSize>
#include <QString>

#include <span>

namespace shell {

struct FontChoice {
  const char* family;
  QFont::Stretch stretch = QFont::Unstretched;
};

struct FontNeed {
  std::span<const FontChoice> choices;  // in order of preference
  QFont::StyleHint hint = QFont::SansSerif;
  bool bold = false;
  int largestPixels = 0;
  int smallestPixels = 0;
};

// Whether text fits box in font: on one line, or wrapped at word breaks.
bool TextFits(const QFont& font, const QString& text, QSize box, bool wrap);

// The largest font of need in which every text fits box (the smallest
// pixel size of the first choice when none does).
QFont FitFont(const FontNeed& need, std::span<const QString> texts, QSize box, bool wrap);

}  // namespace shell
