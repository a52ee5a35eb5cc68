#include "shell/fontfit.h"

#include <QFontMetrics>
#include <QRect>

#include <climits>

namespace shell {

namespace {

QFont MakeFont(const FontChoice& choice, const FontNeed& need, int pixels) {
  QFont font(QString::fromLatin1(choice.family));
  font.setStyleHint(need.hint);
  font.setPixelSize(pixels);
  font.setStretch(choice.stretch);
  font.setBold(need.bold);
  if (need.hint == QFont::TypeWriter) {
    font.setFixedPitch(true);
  }
  return font;
}

}  // namespace

bool TextFits(const QFont& font, const QString& text, QSize box, bool wrap) {
  const QFontMetrics metrics(font);
  if (!wrap) {
    return metrics.horizontalAdvance(text) <= box.width() && metrics.height() <= box.height();
  }
  const QRect needed =
      metrics.boundingRect(QRect(0, 0, box.width(), INT_MAX), Qt::TextWordWrap, text);
  return needed.width() <= box.width() && needed.height() <= box.height();
}

QFont FitFont(const FontNeed& need, std::span<const QString> texts, QSize box, bool wrap) {
  for (int pixels = need.largestPixels; pixels >= need.smallestPixels; --pixels) {
    for (const FontChoice& choice : need.choices) {
      const QFont font = MakeFont(choice, need, pixels);
      bool all = true;
      for (const QString& text : texts) {
        all = all && TextFits(font, text, box, wrap);
      }
      if (all) {
        return font;
      }
    }
  }
  return MakeFont(need.choices.front(), need, need.smallestPixels);
}

}  // namespace shell
