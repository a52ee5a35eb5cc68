#include "shell/statuslabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>

namespace shell {

namespace {

// One line: the line breaks of a host's answer read as blanks.
QString OneLine(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String(" "));
  text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  return text;
}

}  // namespace

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
}

void StatusLabel::SetStatusText(const QString& text) {
  if (text == this->text()) {
    return;
  }
  setText(text);
  UpdateWholeTextHints();
}

void StatusLabel::SetDescription(const QString& description) {
  description_ = description;
  UpdateWholeTextHints();
}

QString StatusLabel::ShownText() const {
  return fontMetrics().elidedText(OneLine(text()), Qt::ElideRight, contentsRect().width());
}

void StatusLabel::UpdateWholeTextHints() {
  const bool cut = fontMetrics().horizontalAdvance(OneLine(text())) > contentsRect().width();
  setToolTip(cut ? text() : QString());
  setAccessibleDescription(cut ? text() : description_);
}

void StatusLabel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  drawFrame(&painter);
  style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                        isEnabled(), ShownText(), foregroundRole());
}

void StatusLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  UpdateWholeTextHints();
}

void StatusLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    UpdateWholeTextHints();
  }
}

}  // namespace shell
